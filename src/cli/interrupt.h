// Ctrl-C, hang-up and termination requests, and the confirmation question on a terminal.
//
// A request never kills the process: it sets a flag that the commands check. Before a write has
// begun they stop (nothing written); once it has begun they let it finish.
#ifndef INTERRUPT_H
#define INTERRUPT_H

#include <QString>
#include <atomic>

namespace Interrupt {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, and ignores SIGPIPE.
void install();
bool requested();
const std::atomic<bool>& flag();
// Waits up to ms milliseconds; returns early, with true, when a request arrives meanwhile.
bool waitFor(int ms);

enum class Answer
{
    Yes,
    No,
    NoTerminal, // stdin is not a terminal: nobody can answer
    Interrupted
};
// Prints `question` on stderr and reads one line from the terminal. With `typed`, only the word
// "yes" agrees; otherwise "y" or "yes" (any case).
Answer ask(const QString& question, bool typed);

} // namespace Interrupt

#endif
