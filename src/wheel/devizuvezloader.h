// Run-time loading of the DevizuvEZ wheel-control library.
//
// The QVR* functions of devizuvez.h are defined by the loader: each forwards to the entry point of
// the same name in the library, which is looked for once, at the first call of any of them or of
// devizuvezLoad(), in this order:
//   1. the file named by the environment variable FLASHWICK_DEVIZUVEZ, when it is set (that file
//      only, so a test or demo never picks up another library);
//   2. beside the executable: libDevizuvEZ.so (DevizuvEZ.dll on Windows);
//   3. the system's library search for that name.
// A file that exists but cannot be loaded, or that lacks an entry point, ends the search: it is
// reported rather than passed over. The library stays loaded until the process ends.
//
// Without a complete library the forwarding functions answer as the library does when no wheel is
// there: QVRGetZWCount returns 0, QVRGetZWErrorString a fixed text, every other call
// DevizuvezNotLoaded without writing its out arguments.
//
// Thread-safe. No Qt here except devizuvezLoadProblem(), so the loading itself also builds without Qt.
#ifndef DEVIZUVEZLOADER_H
#define DEVIZUVEZLOADER_H

#include "devizuvez.h"

#include <functional>
#include <string>
#include <vector>

class QString;

// Status of every call but QVRGetZWCount and QVRGetZWErrorString when the library is not loaded.
constexpr int DevizuvezNotLoaded = -1;

// Environment variable naming the library file.
constexpr const char* DevizuvezPathVariable = "FLASHWICK_DEVIZUVEZ";

struct DevizuvezLoadReport
{
    enum Outcome
    {
        Loaded,
        NotFound,           // no library at any place looked
        LoadFailed,         // `file` exists but the system refused to load it (systemError says why)
        EntryPointsMissing, // `file` loaded but lacks missingEntryPoints; it is not used
    };
    Outcome outcome = NotFound;
    std::string file;                   // the library loaded, or the one that failed
    std::vector<std::string> lookedFor; // every place looked, in order; a bare file name stands
                                        // for the system's library search
    std::string systemError;            // from dlerror() / FormatMessage
    std::vector<std::string> missingEntryPoints;
};
// Texts are UTF-8 on Windows and the file system's bytes elsewhere.

// Sees every forwarded call but QVRGetZWErrorString after it returned: its name, its arguments
// ("&" and the value for an out number) and its status (the count for QVRGetZWCount). For a bug report; set
// it before any wheel call and clear it (an empty function) after the last.
using DevizuvezCallTrace = std::function<void(const char* call, const std::string& arguments, int status)>;
void devizuvezSetCallTrace(DevizuvezCallTrace trace);

// Looks for the library on the first call; returns whether it was loaded with every entry point.
bool devizuvezLoad();
// Same answer as devizuvezLoad(), which it calls.
bool devizuvezAvailable();
// What the look-up found; loads first if needed.
const DevizuvezLoadReport& devizuvezLoadReport();
// One translated line (context "MainWindow") for the log: which files were looked for and what is
// missing. Empty when the library is loaded.
QString devizuvezLoadProblem();

#endif
