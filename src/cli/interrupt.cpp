#include "interrupt.h"

#include <QByteArray>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace Interrupt {

namespace {
std::atomic<bool> interrupted{false};
int wakePipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    interrupted.store(true);
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(wakePipe[1], &byte, 1);
    }
    errno = saved;
}
} // namespace

void install()
{
    if (wakePipe[0] < 0 && pipe(wakePipe) == 0) {
        for (int fd : wakePipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN); // a closed terminal or pipe must not end a write
}

bool requested()
{
    return interrupted.load();
}

const std::atomic<bool>& flag()
{
    return interrupted;
}

bool waitFor(int ms)
{
    if (wakePipe[0] < 0) {
        usleep(useconds_t(ms) * 1000);
        return false;
    }
    pollfd p = {wakePipe[0], POLLIN, 0};
    if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN))
        return false;
    char bytes[16];
    while (read(wakePipe[0], bytes, sizeof bytes) > 0) {
    }
    return true;
}

Answer ask(const QString& question, bool typed)
{
    if (!isatty(STDIN_FILENO))
        return Answer::NoTerminal;
    fprintf(stderr, "%s ", question.toLocal8Bit().constData());
    fflush(stderr);
    QByteArray line;
    for (;;) {
        if (interrupted.load()) {
            fputc('\n', stderr);
            return Answer::Interrupted;
        }
        pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (poll(p, wakePipe[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
            return Answer::No;
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line += c;
    }
    const QByteArray word = line.trimmed().toLower();
    if (typed)
        return word == "yes" ? Answer::Yes : Answer::No;
    return word == "y" || word == "yes" ? Answer::Yes : Answer::No;
}

} // namespace Interrupt
