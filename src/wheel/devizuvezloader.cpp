// Finds and loads the DevizuvEZ library, resolves its entry points and forwards the QVR* calls.
#include "devizuvezloader.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace {

// The library's entry points, with the signatures of devizuvez.h.
struct EntryPoints
{
#define DEVIZUVEZ_ENTRY(name) decltype(&::name) name = nullptr;
#define DEVIZUVEZ_ENTRIES(X)                                                                                 \
    X(QVRGetZWCount)                                                                                         \
    X(QVRGetZWProperties)                                                                                    \
    X(QVROpenZW)                                                                                             \
    X(QVRCloseZW)                                                                                            \
    X(QVRResetZW)                                                                                            \
    X(QVRZWSelfTest)                                                                                         \
    X(QVRSaveSystemConfig)                                                                                   \
    X(QVRBacktoBootload)                                                                                     \
    X(QVRGetZWState)                                                                                         \
    X(QVRGetCurrentPosition)                                                                                 \
    X(QVRGotoPosition)                                                                                       \
    X(QVRGetOneWay)                                                                                          \
    X(QVRSetOneWay)                                                                                          \
    X(QVRGetZWFirmwareVer)                                                                                   \
    X(QVRGetSelfTestState)                                                                                   \
    X(QVRGetSensorValues)                                                                                    \
    X(QVRGetErrorCode)                                                                                       \
    X(QVRGetMotorState)                                                                                      \
    X(QVRGetMotorSpeed)                                                                                      \
    X(QVRSetMotorSpeed)                                                                                      \
    X(QVRGetMotorPower)                                                                                      \
    X(QVRSetMotorPower)                                                                                      \
    X(QVRGetZWErrorString)
    DEVIZUVEZ_ENTRIES(DEVIZUVEZ_ENTRY)
#undef DEVIZUVEZ_ENTRY
};

struct Library
{
    DevizuvezLoadReport report;
    EntryPoints entries;
    bool loaded = false;
};

#if defined(_WIN32)
using Handle = HMODULE;
const char* const LibraryFileName = "DevizuvEZ.dll";
const char* const Separator = "\\"; // LoadLibraryEx wants backslashes in a path

std::wstring wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(size_t(n > 0 ? n : 1), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], n);
    text.resize(wcslen(text.c_str()));
    return text;
}

std::string utf8(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string bytes(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], n, nullptr, nullptr);
    bytes.resize(size_t(n - 1));
    return bytes;
}

std::string variable()
{
    const DWORD size = GetEnvironmentVariableW(L"FLASHWICK_DEVIZUVEZ", nullptr, 0);
    if (size == 0)
        return std::string();
    std::wstring value(size, L'\0');
    if (GetEnvironmentVariableW(L"FLASHWICK_DEVIZUVEZ", &value[0], size) != size - 1)
        return std::string();
    return utf8(value.c_str());
}

std::string executableDir()
{
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
    if (n == 0 || n >= path.size())
        return std::string();
    path.resize(n);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : utf8(path.substr(0, slash).c_str());
}

std::string absolute(const std::string& path)
{
    std::wstring full(32768, L'\0');
    const DWORD n = GetFullPathNameW(wide(path).c_str(), DWORD(full.size()), &full[0], nullptr);
    if (n == 0 || n >= full.size())
        return path;
    full.resize(n);
    return utf8(full.c_str());
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string systemMessage(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? utf8(buffer) : "error " + std::to_string(code);
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

// A full path is loaded with its own folder searched for its dependencies; a bare name goes through
// the system's search. No error box pops up for a missing dependency.
Handle openFile(const std::string& file, bool searched, std::string& error, bool& notFound)
{
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    const HMODULE module = searched
                               ? LoadLibraryW(wide(file).c_str())
                               : LoadLibraryExW(wide(file).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = module ? 0 : GetLastError();
    SetThreadErrorMode(oldMode, nullptr);
    if (!module) {
        error = systemMessage(code);
        notFound = searched && code == ERROR_MOD_NOT_FOUND;
    }
    return module;
}

void* resolve(Handle handle, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(handle, name));
}

void closeHandle(Handle handle)
{
    FreeLibrary(handle);
}
#else
using Handle = void*;
#if defined(__APPLE__)
const char* const LibraryFileName = "libDevizuvEZ.dylib";
#else
const char* const LibraryFileName = "libDevizuvEZ.so";
#endif
const char* const Separator = "/";

std::string variable()
{
    const char* value = getenv(DevizuvezPathVariable);
    return value ? std::string(value) : std::string();
}

std::string executableDir()
{
    char path[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0)
        return std::string();
    const std::string exe(path, size_t(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

// dlopen() searches for a name without a slash; a file named by the user is taken as a path.
std::string absolute(const std::string& path)
{
    if (path[0] == '/')
        return path;
    char cwd[PATH_MAX + 1];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : "./" + path;
}

bool fileExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Resolved at once (RTLD_NOW), so a missing dependency fails here and not in the middle of a call;
// RTLD_LOCAL keeps the library's symbols out of the global scope.
Handle openFile(const std::string& file, bool searched, std::string& error, bool& notFound)
{
    Handle handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        error = text ? text : "dlopen failed";
        // glibc names the file it could not find; a missing dependency is named instead of ours.
        notFound = searched && error.rfind(file + ": cannot open shared object file", 0) == 0;
    }
    return handle;
}

void* resolve(Handle handle, const char* name)
{
    return dlsym(handle, name);
}

void closeHandle(Handle handle)
{
    dlclose(handle);
}
#endif

// Loads `file` and resolves every entry point. False when the search is to go on (not there).
bool tryFile(Library& library, const std::string& file, bool searched)
{
    library.report.lookedFor.push_back(file);
    if (!searched && !fileExists(file))
        return false;
    std::string error;
    bool notFound = false;
    const Handle handle = openFile(file, searched, error, notFound);
    if (!handle) {
        if (notFound)
            return false;
        library.report.outcome = DevizuvezLoadReport::LoadFailed;
        library.report.file = file;
        library.report.systemError = error;
        return true;
    }
    library.report.file = file;
    EntryPoints entries;
    std::vector<std::string> missing;
#define DEVIZUVEZ_RESOLVE(name)                                                                              \
    entries.name = reinterpret_cast<decltype(entries.name)>(resolve(handle, #name));                         \
    if (!entries.name)                                                                                       \
        missing.push_back(#name);
    DEVIZUVEZ_ENTRIES(DEVIZUVEZ_RESOLVE)
#undef DEVIZUVEZ_RESOLVE
    if (!missing.empty()) {
        closeHandle(handle);
        library.report.outcome = DevizuvezLoadReport::EntryPointsMissing;
        library.report.missingEntryPoints = missing;
        return true;
    }
    library.entries = entries;
    library.loaded = true;
    library.report.outcome = DevizuvezLoadReport::Loaded;
    return true;
}

Library loadLibrary()
{
    Library library;
    const std::string named = variable();
    if (!named.empty()) {
        tryFile(library, absolute(named), false);
        return library;
    }
    const std::string dir = executableDir();
    if (!dir.empty() && tryFile(library, dir + Separator + LibraryFileName, false))
        return library;
    tryFile(library, LibraryFileName, true);
    return library;
}

// Loaded on first use; the initialisation of a function-local static is thread-safe.
const Library& library()
{
    static const Library instance = loadLibrary();
    return instance;
}

DevizuvezCallTrace callTrace;

// An argument as a trace shows it after the call: numbers as they are, out values behind "&".
template <typename T> std::string traced(T value)
{
    if constexpr (std::is_pointer_v<T>) {
        using Pointee = std::remove_cv_t<std::remove_pointer_t<T>>;
        if constexpr (std::is_arithmetic_v<Pointee> && !std::is_same_v<Pointee, char>)
            return value ? "&" + std::to_string(+*value) : "null";
        else
            return value ? "&" : "null";
    } else {
        return std::to_string(+value);
    }
}

template <typename Function, typename... Args>
int forward(const char* name, Function EntryPoints::*entry, Args... args)
{
    const Library& l = library();
    const int status = l.loaded ? (l.entries.*entry)(args...) : DevizuvezNotLoaded;
    if (callTrace) {
        std::string list;
        ((list += (list.empty() ? "" : ", ") + traced(args)), ...);
        callTrace(name, list, status);
    }
    return status;
}

} // namespace

void devizuvezSetCallTrace(DevizuvezCallTrace trace)
{
    callTrace = std::move(trace);
}

bool devizuvezLoad()
{
    return library().loaded;
}

bool devizuvezAvailable()
{
    return devizuvezLoad();
}

const DevizuvezLoadReport& devizuvezLoadReport()
{
    return library().report;
}

extern "C" {

int QVRGetZWCount(void)
{
    const Library& l = library();
    const int count = l.loaded ? l.entries.QVRGetZWCount() : 0;
    if (callTrace)
        callTrace("QVRGetZWCount", std::string(), count);
    return count;
}

int QVRGetZWProperties(int index, WheelInfo* info)
{
    return forward("QVRGetZWProperties", &EntryPoints::QVRGetZWProperties, index, info);
}

int QVROpenZW(int id)
{
    return forward("QVROpenZW", &EntryPoints::QVROpenZW, id);
}

int QVRCloseZW(int id)
{
    return forward("QVRCloseZW", &EntryPoints::QVRCloseZW, id);
}

int QVRResetZW(int id)
{
    return forward("QVRResetZW", &EntryPoints::QVRResetZW, id);
}

int QVRZWSelfTest(int id)
{
    return forward("QVRZWSelfTest", &EntryPoints::QVRZWSelfTest, id);
}

int QVRSaveSystemConfig(int id)
{
    return forward("QVRSaveSystemConfig", &EntryPoints::QVRSaveSystemConfig, id);
}

int QVRBacktoBootload(int id)
{
    return forward("QVRBacktoBootload", &EntryPoints::QVRBacktoBootload, id);
}

int QVRGetZWState(int id, int* state)
{
    return forward("QVRGetZWState", &EntryPoints::QVRGetZWState, id, state);
}

int QVRGetCurrentPosition(int id, int* position)
{
    return forward("QVRGetCurrentPosition", &EntryPoints::QVRGetCurrentPosition, id, position);
}

int QVRGotoPosition(int id, int position)
{
    return forward("QVRGotoPosition", &EntryPoints::QVRGotoPosition, id, position);
}

int QVRGetOneWay(int id, int* oneWay)
{
    return forward("QVRGetOneWay", &EntryPoints::QVRGetOneWay, id, oneWay);
}

int QVRSetOneWay(int id, int oneWay)
{
    return forward("QVRSetOneWay", &EntryPoints::QVRSetOneWay, id, oneWay);
}

int QVRGetZWFirmwareVer(int id, char* buffer, int size)
{
    return forward("QVRGetZWFirmwareVer", &EntryPoints::QVRGetZWFirmwareVer, id, buffer, size);
}

int QVRGetSelfTestState(int id, int* state, int* errorCode)
{
    return forward("QVRGetSelfTestState", &EntryPoints::QVRGetSelfTestState, id, state, errorCode);
}

int QVRGetSensorValues(int id, unsigned char* sensor, unsigned char* moving, int* value, int* reserved1,
                       int* reserved2)
{
    return forward("QVRGetSensorValues", &EntryPoints::QVRGetSensorValues, id, sensor, moving, value,
                   reserved1, reserved2);
}

int QVRGetErrorCode(int id, int* errorCode)
{
    return forward("QVRGetErrorCode", &EntryPoints::QVRGetErrorCode, id, errorCode);
}

int QVRGetMotorState(int id, unsigned char* motorState, unsigned char* commState)
{
    return forward("QVRGetMotorState", &EntryPoints::QVRGetMotorState, id, motorState, commState);
}

int QVRGetMotorSpeed(int id, unsigned short* startSpeed, unsigned short* runningSpeed)
{
    return forward("QVRGetMotorSpeed", &EntryPoints::QVRGetMotorSpeed, id, startSpeed, runningSpeed);
}

int QVRSetMotorSpeed(int id, unsigned short startSpeed, unsigned short runningSpeed)
{
    return forward("QVRSetMotorSpeed", &EntryPoints::QVRSetMotorSpeed, id, startSpeed, runningSpeed);
}

int QVRGetMotorPower(int id, unsigned short* runningPower, unsigned short* stopPower)
{
    return forward("QVRGetMotorPower", &EntryPoints::QVRGetMotorPower, id, runningPower, stopPower);
}

int QVRSetMotorPower(int id, unsigned short runningPower, unsigned short stopPower)
{
    return forward("QVRSetMotorPower", &EntryPoints::QVRSetMotorPower, id, runningPower, stopPower);
}

const char* QVRGetZWErrorString(int errorCode)
{
    const Library& l = library();
    return l.loaded ? l.entries.QVRGetZWErrorString(errorCode) : "Filter wheel library not loaded";
}

} // extern "C"
