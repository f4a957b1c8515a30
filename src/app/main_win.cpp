// Windows entry point of the GUI executable (WIN32_EXECUTABLE) built with MSVC. Qt's own qtmain is
// not linked (target property Qt5_NO_LINK_QTMAIN), so the linker's GUI start-up calls this WinMain:
// it takes the wide-character command line, turns each argument into the ANSI code page and calls
// main() with them.
//
// MinGW builds leave this file out: their C runtime always calls main() itself, with the arguments
// already in the ANSI code page, and never this WinMain.
//
// Plain Win32 without Qt. GCC and MSVC both accept the call of main() below (ISO C++ does not, so it
// is not built with -pedantic).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

int main(int argc, char* argv[]);

namespace {

std::string toAnsi(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::vector<char> bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    return std::string(bytes.data());
}

std::string moduleFileName()
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::vector<std::string> arguments;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments.push_back(toAnsi(wide[i]));
        LocalFree(wide);
    }
    if (arguments.empty())
        arguments.push_back(moduleFileName()); // the program name is always there for Qt

    // Kept alive until main returns: QApplication keeps pointers into argv.
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return main(int(arguments.size()), argv.data());
}
