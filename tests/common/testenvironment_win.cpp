// Environment of a test on Windows, set before main(): Wine passes no QT_* variable on from the
// Unix side, so the test sets its own. Test output goes to stderr rather than to the debugger, which
// a test without a console window would otherwise use, and window tests use the offscreen platform
// unless they need real windows.
#include <QByteArray>
#include <QtGlobal>

namespace {

void setUnlessSet(const char* name, const QByteArray& value)
{
    if (!qEnvironmentVariableIsSet(name))
        qputenv(name, value);
}

const bool environmentSet = [] {
    setUnlessSet("QT_FORCE_STDERR_LOGGING", "1");
#ifdef FLASHWICK_TEST_OFFSCREEN
    setUnlessSet("QT_QPA_PLATFORM", "offscreen");
#endif
    return true;
}();

} // namespace
