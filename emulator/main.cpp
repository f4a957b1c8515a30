// flashwick-emulator: runs a command inside a umockdev testbed with emulated cameras and other USB
// devices, and returns the command's exit status.
#include "emulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace flashwick::emu;

namespace {

const char* const Program = "flashwick-emulator";
const char* const ReexecMarker = "FLASHWICK_EMULATOR_PRELOADED";
constexpr int KillAfterRequests = 3; // the third interrupt request kills COMMAND

std::string extraHelp()
{
    std::string text;
    for (const CommandOption& o : commandOptions())
        text += o.help + (o.help.empty() || o.help.back() == '\n' ? "" : "\n");
    return text;
}

void usage(FILE* out)
{
    fprintf(out,
            "Usage: %s [DEVICE OPTIONS] [-q] -- COMMAND [ARGS...]\n"
            "\n"
            "Runs COMMAND with emulated USB devices (umockdev) and returns its exit status.\n"
            "COMMAND uses the stand-in wheel library: FLASHWICK_DEVIZUVEZ names it unless already set.\n"
            "SIGINT, SIGTERM and SIGHUP are passed on to COMMAND, and the emulator waits for it to end\n"
            "however long that takes (a write it finishes first). The %drd such signal, or Ctrl-C\n"
            "pressed %d times, kills COMMAND. SIGUSR1 unplugs every emulated camera, SIGUSR2 plugs\n"
            "them back.\n"
            "\n"
            "Device options (repeatable, devices are added in the order given):\n"
            "  --camera[=KEY=VALUE,...]   a Quenvor camera (vendor a0a0). Keys:\n"
            "      name=TEXT              product string (default \"Quenvor QV294C\")\n"
            "      serial=TEXT            serial number, 20 characters (default derived)\n"
            "      pid=HEX                product id (default 3001)\n"
            "      fw=N                   firmware version byte (default 123, shown V1.2.3)\n"
            "      fpga=R0.R1.R2.R3.R4    FPGA version bytes (default 12.1.253.8.0), or 10 hex digits\n"
            "      speed=super|high       SuperSpeed (USB 3) or high speed (default super)\n"
            "      timings=realistic|none busy and reset times (default realistic); put it before the\n"
            "                             single times below, which it overwrites\n"
            "      erase-ms=N sector-ms=N program-us=N reset-ms=N\n"
            "                             64 KiB block erase, 4 KiB sector erase, per 256-byte page\n"
            "                             program, time off the bus after a reset (program-ms=0.7 also)\n"
            "      flash=FILE             initial flash contents (at address 0; the rest erased)\n"
            "      dump=FILE              write the 4 MiB flash contents to FILE when COMMAND ends\n"
            "      stall=HH/HH...         these request codes stall\n"
            "      noanswer=HH/HH...      these request codes never complete\n"
            "      corrupt-page=N/N...    read-back of these page addresses (0xD1 wIndex) is corrupted\n"
            "      busy-forever           the status request always answers busy\n"
            "      unplug-after=N         the camera leaves the bus after N control requests\n"
            "      open-fail=nonode|denied   opening the device node fails\n"
            "      boot-loader            the flash starts erased: the chip comes up as its USB boot\n"
            "                             loader (04b4:00f3), as does any camera whose firmware area\n"
            "                             holds no valid boot image after a reset or re-plug\n"
            "      ram-stall=ADDR/...     boot loader: RAM writes to these addresses (hex) stall\n"
            "      ram-read-stall=ADDR/...  boot loader: RAM reads from these addresses stall\n"
            "      ram-corrupt=ADDR/...   boot loader: RAM reads from these addresses come back corrupted\n"
            "      no-camera-after-start  boot loader: the started firmware never comes up\n"
            "      plug-after-ms=N        the camera appears N ms after COMMAND started\n"
            "      unplug-after-ms=N      the camera is unplugged N ms after COMMAND started\n"
            "  --foreign[=VID:PID]        a USB device of another maker (default 046d:c52b)\n"
            "%s"
            "  -q, --quiet                do not list the emulated devices on stderr\n"
            "  -h, --help                 this text\n"
            "\n"
            "Without device options one camera is emulated.\n"
            "Example: %s --camera --camera=\"name=Quenvor QV183M,speed=high\" --foreign -- lsusb -d a0a0:\n",
            Program, KillAfterRequests, KillAfterRequests, extraHelp().c_str(), Program);
}

[[noreturn]] void die(const std::string& message)
{
    fprintf(stderr, "%s: %s\n", Program, message.c_str());
    exit(2);
}

long number(const std::string& key, const std::string& text, long min, long max)
{
    char* end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 0);
    if (text.empty() || *end || errno || v < min || v > max)
        die("bad value for " + key + ": \"" + text + "\"");
    return v;
}

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t pos = s.find(sep, start);
        parts.push_back(s.substr(start, pos - start));
        if (pos == std::string::npos)
            break;
        start = pos + 1;
    }
    return parts;
}

long hexNumber(const std::string& key, const std::string& text, long max)
{
    std::string t = text;
    if (t.rfind("0x", 0) != 0 && t.rfind("0X", 0) != 0)
        t = "0x" + t;
    return number(key, t, 0, max);
}

struct DeviceSpec
{
    bool camera = true;
    CameraConfig config;
    uint16_t vendorId = 0x046D;
    uint16_t productId = 0xC52B;
    long plugAfterMs = -1;
    long unplugAfterMs = -1;
    std::string flashFile;
    std::string dumpFile;
    DeviceId id = -1;
    const CommandOption* extra = nullptr; // a device option of another model
    std::string extraValue;
};

std::vector<uint8_t> readFile(const std::string& name)
{
    FILE* f = fopen(name.c_str(), "rb");
    if (!f)
        die("cannot read " + name + ": " + strerror(errno));
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    fclose(f);
    if (data.size() > FlashSize)
        die(name + " is larger than the 4 MiB flash");
    return data;
}

bool writeFile(const std::string& name, const std::vector<uint8_t>& data)
{
    FILE* f = fopen(name.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

DeviceSpec parseCamera(const std::string& spec)
{
    DeviceSpec d;
    d.config.timings = CameraTimings::realistic();
    if (spec.empty())
        return d;
    for (const std::string& item : split(spec, ',')) {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        CameraConfig& c = d.config;
        if (key == "name")
            c.name = value;
        else if (key == "serial")
            c.serial = value;
        else if (key == "pid")
            c.productId = uint16_t(hexNumber(key, value, 0xFFFF));
        else if (key == "fw")
            c.firmwareVersion = uint8_t(number(key, value, 0, 255));
        else if (key == "fpga") {
            std::vector<std::string> parts = split(value, '.');
            if (parts.size() == 1 && value.size() == 10) {
                for (size_t i = 0; i < 5; ++i)
                    c.fpgaVersion[i] = uint8_t(hexNumber(key, value.substr(2 * i, 2), 0xFF));
            } else if (parts.size() == 5) {
                for (size_t i = 0; i < 5; ++i)
                    c.fpgaVersion[i] = uint8_t(number(key, parts[i], 0, 255));
            } else {
                die("fpga needs five byte values R0.R1.R2.R3.R4 or 10 hex digits");
            }
        } else if (key == "speed") {
            if (value == "super")
                c.speed = UsbSpeed::Super;
            else if (value == "high")
                c.speed = UsbSpeed::High;
            else
                die("speed is super or high");
        } else if (key == "timings") {
            if (value == "realistic")
                c.timings = CameraTimings::realistic();
            else if (value == "none")
                c.timings = CameraTimings();
            else
                die("timings is realistic or none");
        } else if (key == "erase-ms")
            c.timings.eraseBlockMs = unsigned(number(key, value, 0, 600000));
        else if (key == "sector-ms")
            c.timings.eraseSectorMs = unsigned(number(key, value, 0, 600000));
        else if (key == "program-us")
            c.timings.programPageUs = unsigned(number(key, value, 0, 60000000));
        else if (key == "program-ms") {
            char* end = nullptr;
            const double ms = strtod(value.c_str(), &end);
            if (value.empty() || *end || !(ms >= 0 && ms <= 60000))
                die("bad value for program-ms: \"" + value + "\"");
            c.timings.programPageUs = unsigned(ms * 1000 + 0.5);
        } else if (key == "flash")
            d.flashFile = value;
        else if (key == "dump")
            d.dumpFile = value;
        else if (key == "reset-ms")
            c.timings.resetMs = unsigned(number(key, value, 0, 600000));
        else if (key == "stall" || key == "noanswer") {
            for (const std::string& code : split(value, '/'))
                (key == "stall" ? c.faults.stall : c.faults.noAnswer)
                    .insert(uint8_t(hexNumber(key, code, 0xFF)));
        } else if (key == "corrupt-page") {
            for (const std::string& page : split(value, '/'))
                c.faults.corruptPages.insert(uint16_t(number(key, page, 0, 0xFFFF)));
        } else if (key == "busy-forever")
            c.faults.busyForever = true;
        else if (key == "boot-loader")
            c.startInBootLoader = true;
        else if (key == "ram-stall" || key == "ram-read-stall" || key == "ram-corrupt") {
            std::set<uint32_t>& set = key == "ram-stall"        ? c.faults.stallRamWrites
                                      : key == "ram-read-stall" ? c.faults.stallRamReads
                                                                : c.faults.corruptRamReads;
            for (const std::string& address : split(value, '/'))
                set.insert(uint32_t(hexNumber(key, address, 0xFFFFFFFFL)));
        } else if (key == "no-camera-after-start")
            c.faults.noCameraAfterStart = true;
        else if (key == "unplug-after")
            c.faults.unplugAfterRequests = int(number(key, value, 1, 100000000));
        else if (key == "open-fail") {
            if (value == "nonode")
                c.faults.openFailure = OpenFailure::NoNode;
            else if (value == "denied")
                c.faults.openFailure = OpenFailure::Denied;
            else
                die("open-fail is nonode or denied");
        } else if (key == "plug-after-ms")
            d.plugAfterMs = number(key, value, 0, 86400000);
        else if (key == "unplug-after-ms")
            d.unplugAfterMs = number(key, value, 0, 86400000);
        else
            die("unknown camera key \"" + key + "\" (see --help)");
    }
    return d;
}

DeviceSpec parseForeign(const std::string& spec)
{
    DeviceSpec d;
    d.camera = false;
    if (!spec.empty()) {
        std::vector<std::string> ids = split(spec, ':');
        if (ids.size() != 2)
            die("--foreign takes VID:PID in hex");
        d.vendorId = uint16_t(hexNumber("--foreign", ids[0], 0xFFFF));
        d.productId = uint16_t(hexNumber("--foreign", ids[1], 0xFFFF));
    }
    return d;
}

bool underPreload()
{
    const char* preload = getenv("LD_PRELOAD");
    return preload && strstr(preload, "libumockdev-preload");
}

// An ASan-built program refuses to start when another library is preloaded before the ASan runtime.
void allowPreloadBeforeAsan()
{
    std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
    if (asan.find("verify_asan_link_order") == std::string::npos)
        setenv("ASAN_OPTIONS", (asan.empty() ? "" : asan + ":").append("verify_asan_link_order=0").c_str(),
               1);
}

// The testbed can only send uevents from a process that runs under the umockdev preload.
void ensurePreload(char** argv)
{
    if (underPreload())
        return;
    if (getenv(ReexecMarker))
        die("libumockdev-preload.so.0 could not be preloaded; is the umockdev package installed?");
    std::string preload = "libumockdev-preload.so.0";
    if (const char* old = getenv("LD_PRELOAD"); old && *old)
        preload += std::string(":") + old;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    allowPreloadBeforeAsan();
    setenv(ReexecMarker, "1", 1);
    execv("/proc/self/exe", argv);
    die(std::string("cannot re-run itself under the umockdev preload: ") + strerror(errno));
}

double secondsSince(const timespec& t0)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - t0.tv_sec) + double(now.tv_nsec - t0.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<DeviceSpec> specs;
    bool quiet = false;
    int commandStart = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto valueOf = [&](const std::string& option) -> std::optional<std::string> {
            if (a == option) {
                // A following argument that is neither an option nor "--" is the value.
                if (i + 1 < argc && argv[i + 1][0] != '-' && strchr(argv[i + 1], '='))
                    return std::string(argv[++i]);
                return std::string();
            }
            if (a.rfind(option + "=", 0) == 0)
                return a.substr(option.size() + 1);
            return std::nullopt;
        };
        if (a == "--") {
            commandStart = i + 1;
            break;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (auto v = valueOf("--camera")) {
            specs.push_back(parseCamera(*v));
        } else if (auto f = valueOf("--foreign")) {
            if (!f->empty() && f->find(':') == std::string::npos)
                die("--foreign takes VID:PID in hex");
            specs.push_back(parseForeign(*f));
        } else if (const CommandOption* extra = [&]() -> const CommandOption* {
                       for (const CommandOption& o : commandOptions())
                           if (a == o.name || a.rfind(o.name + "=", 0) == 0)
                               return &o;
                       return nullptr;
                   }()) {
            DeviceSpec spec;
            spec.camera = false;
            spec.extra = extra;
            spec.extraValue = a == extra->name ? std::string() : a.substr(extra->name.size() + 1);
            specs.push_back(spec);
        } else {
            fprintf(stderr, "%s: unknown option \"%s\"\n\n", Program, a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (commandStart < 0 || commandStart >= argc) {
        fprintf(stderr, "%s: no command given\n\n", Program);
        usage(stderr);
        return 2;
    }
    if (specs.empty())
        specs.push_back(parseCamera(std::string()));

    ensurePreload(argv);

    // Signals are taken synchronously below; block them before the testbed starts its threads.
    sigset_t handled;
    sigemptyset(&handled);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2})
        sigaddset(&handled, s);
    sigset_t original;
    sigprocmask(SIG_BLOCK, &handled, &original);

    Testbed testbed;
    if (!testbed.isValid())
        die(testbed.errorString());
    if (!testbed.preloadActive())
        die("not running under the umockdev preload (libumockdev-preload.so.0 not found?)");

    for (DeviceSpec& s : specs) {
        if (s.extra) {
            std::string error;
            if (!s.extra->add(testbed, s.extraValue, error))
                die(s.extra->name + ": " + error);
            continue;
        }
        s.id = s.camera ? testbed.addCamera(s.config) : testbed.addForeignDevice(s.vendorId, s.productId);
        if (s.id < 0)
            die("cannot add a device: " + testbed.errorString());
        if (!s.flashFile.empty()) {
            // The chip starts from the given flash: off the bus, new contents, plugged again.
            testbed.unplug(s.id);
            testbed.fillFlash(s.id, 0xFF);
            testbed.setFlash(s.id, 0, readFile(s.flashFile));
            if (s.plugAfterMs < 0)
                testbed.replug(s.id);
        }
        if (s.plugAfterMs >= 0)
            testbed.unplug(s.id);
        if (!quiet) {
            const DeviceId loader = s.camera ? testbed.bootLoaderOf(s.id) : -1;
            if (loader >= 0 && testbed.isPlugged(loader)) {
                fprintf(stderr, "%s: camera without usable firmware: FX3 USB boot loader 04b4:00f3 at %s\n",
                        Program, testbed.devNode(loader).c_str());
            } else if (s.camera) {
                const CameraConfig c = testbed.config(s.id);
                fprintf(stderr, "%s: camera \"%s\" serial %s, %s, at %s (port %d-%d)%s\n", Program,
                        c.name.c_str(), c.serial.c_str(),
                        c.speed == UsbSpeed::Super ? "SuperSpeed" : "high speed",
                        testbed.devNode(s.id).c_str(), testbed.busNumber(s.id), testbed.portNumber(s.id),
                        s.plugAfterMs >= 0 ? ", plugged later" : "");
            } else {
                fprintf(stderr, "%s: device %04x:%04x at %s\n", Program, s.vendorId, s.productId,
                        testbed.devNode(s.id).c_str());
            }
        }
    }

    for (const std::string& e : testbed.environmentForChild()) {
        const size_t eq = e.find('=');
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    unsetenv(ReexecMarker);
    allowPreloadBeforeAsan();
#ifdef FLASHWICK_STANDIN_LIBRARY
    setenv("FLASHWICK_DEVIZUVEZ", FLASHWICK_STANDIN_LIBRARY, 0); // the stand-in, unless one is named
#endif

    if (!quiet)
        fprintf(stderr, "%s: pid %d; kill -USR1 unplugs the cameras, kill -USR2 plugs them back\n", Program,
                int(getpid()));
    const pid_t child = fork();
    if (child < 0)
        die(std::string("fork: ") + strerror(errno));
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &original, nullptr);
        execvp(argv[commandStart], argv + commandStart);
        fprintf(stderr, "%s: cannot run %s: %s\n", Program, argv[commandStart], strerror(errno));
        _exit(127);
    }

    timespec started;
    clock_gettime(CLOCK_MONOTONIC, &started);
    int requests = 0;
    int status = 0;
    while (true) {
        const pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child)
            break;
        const double elapsedMs = secondsSince(started) * 1000;
        for (DeviceSpec& s : specs) {
            if (s.plugAfterMs >= 0 && elapsedMs >= double(s.plugAfterMs)) {
                testbed.replug(s.id);
                s.plugAfterMs = -1;
            }
            if (s.unplugAfterMs >= 0 && elapsedMs >= double(s.unplugAfterMs)) {
                testbed.unplug(s.id);
                s.unplugAfterMs = -1;
            }
        }
        timespec wait{0, 20 * 1000 * 1000};
        siginfo_t info;
        const int sig = sigtimedwait(&handled, &info, &wait);
        if (sig == SIGUSR1 || sig == SIGUSR2) {
            for (const DeviceSpec& s : specs) {
                if (s.camera && s.id >= 0)
                    sig == SIGUSR1 ? testbed.unplug(s.id) : testbed.replug(s.id);
            }
        }
        if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
            // A terminal's Ctrl-C already reached the whole foreground group; pass on only signals sent to
            // us. COMMAND decides what an interrupt means (a write it has begun, it finishes), so it is
            // waited for; only repeated requests end it, for one stuck in an emulated device.
            if (sig != SIGINT || info.si_code <= 0)
                kill(child, sig);
            if (++requests >= KillAfterRequests) {
                fprintf(stderr, "%s: %d interrupt requests: killing %s\n", Program, requests,
                        argv[commandStart]);
                kill(child, SIGKILL);
            }
        }
    }
    for (const DeviceSpec& s : specs) {
        if (!s.dumpFile.empty() && !writeFile(s.dumpFile, testbed.flash(s.id, 0, FlashSize)))
            fprintf(stderr, "%s: cannot write %s: %s\n", Program, s.dumpFile.c_str(), strerror(errno));
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}
