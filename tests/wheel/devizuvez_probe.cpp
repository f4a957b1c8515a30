// Prints what the wheel-library loader found and how the forwarding functions answer, one
// "key=value" line each; the loader test runs it with different files and environments.
#include "devizuvezloader.h"

#include <cstdio>

#ifdef QT_CORE_LIB
#include <QString>
#endif

int main()
{
    const bool loaded = devizuvezLoad();
    const DevizuvezLoadReport& report = devizuvezLoadReport();
    printf("loaded=%d\n", loaded ? 1 : 0);
    printf("outcome=%d\n", int(report.outcome));
    printf("file=%s\n", report.file.c_str());
    for (const std::string& place : report.lookedFor)
        printf("looked=%s\n", place.c_str());
    for (const std::string& name : report.missingEntryPoints)
        printf("missing=%s\n", name.c_str());
    printf("count=%d\n", QVRGetZWCount());
    int state = 77;
    const int status = QVRGetZWState(5, &state);
    printf("state=%d status=%d\n", state, status);
    const char* text = QVRGetZWErrorString(3);
    printf("error=%s\n", text ? text : "(null)");
#ifdef QT_CORE_LIB
    printf("problem=%s\n", devizuvezLoadProblem().toUtf8().constData());
#endif
    return 0;
}
