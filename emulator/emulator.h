// Hardware emulator: a umockdev testbed holding emulated Quenvor cameras (FX3 controller with a 4 MiB
// NOR flash, vendor requests on endpoint 0) and foreign USB devices, with plug/unplug, fault
// injection and inspection for tests.
//
// The process that creates a Testbed must run under the umockdev preload (umockdev-wrapper) to send
// uevents. Code under test in the same process, or a child started with LD_PRELOAD and UMOCKDEV_DIR
// (see environmentForChild), then sees the emulated devices through libusb and libudev.
//
// Every member is thread-safe. Device requests are answered on the testbed's own worker thread.
#ifndef FLASHWICK_EMULATOR_H
#define FLASHWICK_EMULATOR_H

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace flashwick::emu {

constexpr uint16_t QuenvorVendorId = 0xA0A0;
constexpr uint16_t CameraProductId = 0x3001;
constexpr uint32_t FlashSize = 4 * 1024 * 1024;
constexpr uint32_t FlashBlockSize = 64 * 1024;
constexpr uint32_t FlashSectorSize = 4 * 1024;
constexpr uint32_t FlashPageSize = 256;
constexpr uint32_t MaxTransferLength = 4096;
constexpr uint32_t FirmwareAreaSize = 0x40000; // where the chip's ROM looks for its boot image

// The FX3 chip's USB boot loader, which the emulated ROM starts when the flash holds no usable image.
constexpr uint16_t BootLoaderVendorId = 0x04B4;
constexpr uint16_t BootLoaderProductId = 0x00F3;
constexpr uint8_t ReqBootLoaderRam = 0xA0;
// Its RAM: ITCM and SYSMEM (end exclusive).
constexpr uint32_t ItcmStart = 0x00000000;
constexpr uint32_t ItcmEnd = 0x00004000;
constexpr uint32_t SysmemStart = 0x40000000;
constexpr uint32_t SysmemEnd = 0x40080000;
// A firmware whose section data hold these four bytes at a 4-aligned place, followed by one byte,
// reports that byte as its firmware version (0xA2) once the camera runs it.
constexpr char FirmwareVersionTag[] = "QVFW";

// An FX3 boot image of one section at 0x40003000 holding the version tag, `version` and
// `fillerBytes` more bytes of a fixed pattern (rounded up to whole words), entry point at the
// section start, with its checksum.
std::vector<uint8_t> bootImage(uint8_t version, size_t fillerBytes = 12);

// Camera vendor requests.
enum CameraRequest : uint8_t
{
    ReqFirmwareVersion = 0xA2,
    ReqSerialNumber = 0xA3,
    ReqFpgaVersion = 0xC2,
    ReqWritePage = 0xD0,
    ReqReadPage = 0xD1,
    ReqErase = 0xD2,
    ReqStatus = 0xD3,
    ReqResetFX3 = 0xE0,
};

using DeviceId = int; // >= 0; -1 means "no device"

enum class UsbSpeed
{
    High,
    Super
};

// How long the camera reports busy (0xD3 non-zero) after each flash operation, and how long it
// stays off the bus after a 0xE0 reset. All zero by default (unit tests).
struct CameraTimings
{
    unsigned eraseBlockMs = 0;  // 64 KiB block erase
    unsigned eraseSectorMs = 0; // 4 KiB sector erase
    unsigned programPageUs = 0; // per started 256-byte page of a 0xD0 request
    unsigned resetMs = 0;       // between the "remove" and the "add" uevent after 0xE0

    // Typical figures of a 32 Mbit serial NOR flash and an FX3 boot from it.
    static CameraTimings realistic();
};

enum class OpenFailure
{
    None,
    NoNode, // the device node is missing: open() fails with ENOENT
    Denied, // open() fails with EACCES (node of mode 000), or for root, who ignores modes, EISDIR
};

struct CameraFaults
{
    std::set<uint8_t> stall;         // requests with these bRequest codes stall (-EPIPE)
    std::set<uint8_t> noAnswer;      // these never complete; the URB waits until the client discards it
    std::set<uint16_t> corruptPages; // 0xD1 with this wIndex returns its last byte inverted
    bool busyForever = false;        // 0xD3 always answers busy
    int unplugAfterRequests = -1;    // after this many more control requests the camera leaves the bus
    // stall, noAnswer, corruptPages and busyForever take effect only after this many more control
    // requests (0: at once), so a fault can be armed at the n-th request of a write.
    int faultsAfterRequests = 0;
    OpenFailure openFailure = OpenFailure::None;

    // Faults of the boot loader (given to a camera, they pass to its boot loader when it appears).
    std::set<uint32_t> stallRamWrites;  // a 0xA0 RAM write to one of these addresses stalls
    std::set<uint32_t> stallRamReads;   // a 0xA0 RAM read from one of these addresses stalls
    std::set<uint32_t> corruptRamReads; // ... returns its last byte inverted
    bool noCameraAfterStart = false;    // the start request leaves the bus and no camera comes up
};

struct CameraConfig
{
    std::string name = "Quenvor QV294C"; // USB product string
    std::string manufacturer = "Quenvor";
    std::string serial;            // 20 characters; empty: derived from the device number
    uint8_t firmwareVersion = 123; // shown as V1.2.3
    std::array<uint8_t, 5> fpgaVersion{{12, 1, 0xFD, 0x08, 0x00}}; // r0..r4: V1.2301.1.2
    UsbSpeed speed = UsbSpeed::Super;
    uint16_t productId = CameraProductId;
    CameraTimings timings;
    CameraFaults faults;
    // The flash starts erased, so the camera comes up as the chip's USB boot loader. Otherwise the
    // firmware area holds bootImage(firmwareVersion).
    bool startInBootLoader = false;
};

// One control transfer seen on endpoint 0, in arrival order.
struct ControlRequest
{
    uint8_t requestType = 0; // bmRequestType
    uint8_t request = 0;     // bRequest
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    int status = 0; // completion: 0, -EPIPE (stall), -ENOENT (discarded while pending), 1 = still pending
    bool in() const { return (requestType & 0x80) != 0; }
    bool vendor() const { return (requestType & 0x60) == 0x40; }
};

class Testbed
{
public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // False when umockdev could not create the testbed; errorString() says why.
    bool isValid() const;
    std::string errorString() const;
    // True when this process runs under the umockdev preload (required for uevents).
    bool preloadActive() const;

    std::string rootDir() const;
    // Environment entries ("NAME=value") a child process needs to see the testbed.
    std::vector<std::string> environmentForChild() const;
    // For additional device models (hidraw) built on the same testbed. Hold rawMutex() around
    // umockdev_testbed_* calls made outside this class (never inside an ioctl handler, and without
    // calling Testbed members meanwhile).
    UMockdevTestbed* raw() const;
    std::mutex& rawMutex() const;

    // Adds a plugged device ("add" uevent). Returns its id, or -1 on failure.
    DeviceId addCamera(const CameraConfig& config = CameraConfig());
    DeviceId addForeignDevice(uint16_t vendorId = 0x046D, uint16_t productId = 0xC52B,
                              const std::string& product = "USB Receiver");

    // Unplug sends "remove"; replug sends "add" for the same port. Clients holding the old node get
    // ENODEV from then on, as after a real disconnect. Both return false when nothing changed.
    // A camera and its boot loader are one unit: either id unplugs whichever of the two is on the
    // bus, and a replug (like the return after a 0xE0 reset) starts the chip's ROM, which brings up
    // the camera when the firmware area holds a valid boot image and the boot loader otherwise.
    bool unplug(DeviceId id);
    bool replug(DeviceId id);
    bool isPlugged(DeviceId id) const;
    // Adds a uevent of any action for a plugged device ("change", ...).
    bool sendUevent(DeviceId id, const std::string& action);

    // The boot loader of a camera (-1 until the camera first started into it), and the camera of a
    // boot loader.
    DeviceId bootLoaderOf(DeviceId camera) const;
    DeviceId cameraOf(DeviceId bootLoader) const;
    // A boot loader's RAM (empty for other ids or addresses outside ITCM and SYSMEM).
    std::vector<uint8_t> ram(DeviceId bootLoader, uint32_t address, uint32_t length) const;
    // Start requests a boot loader answered.
    int startCount(DeviceId bootLoader) const;

    std::string sysfsPath(DeviceId id) const;
    std::string devNode(DeviceId id) const; // /dev/bus/usb/BBB/DDD
    int busNumber(DeviceId id) const;
    int deviceAddress(DeviceId id) const;
    int portNumber(DeviceId id) const;

    // Camera state. Calls with a foreign or unknown id do nothing and return empty/false/0.
    std::vector<uint8_t> flash(DeviceId id, uint32_t address, uint32_t length) const;
    // Stores bytes as they are (no erase needed); for preparing a flash state.
    bool setFlash(DeviceId id, uint32_t address, const std::vector<uint8_t>& data);
    bool fillFlash(DeviceId id, uint8_t value);
    // The last 2^19 to 2^20 requests when more arrived since the last clearRequests().
    std::vector<ControlRequest> requests(DeviceId id) const;
    void clearRequests(DeviceId id);
    int resetCount(DeviceId id) const; // 0xE0 requests answered
    // Interfaces a client (one open of the node, in any process) holds claimed now.
    int claimedInterfaces(DeviceId id) const;
    bool isBusy(DeviceId id) const;

    CameraConfig config(DeviceId id) const;
    void setTimings(DeviceId id, const CameraTimings& timings);
    void setFaults(DeviceId id, const CameraFaults& faults);
    CameraFaults faults(DeviceId id) const;
    // Shorthands that change one fault and keep the others.
    void setStall(DeviceId id, uint8_t request, bool on = true);
    void setNoAnswer(DeviceId id, uint8_t request, bool on = true);
    void setCorruptPage(DeviceId id, uint16_t pageAddress, bool on = true);
    void setBusyForever(DeviceId id, bool on = true);
    void setUnplugAfterRequests(DeviceId id, int requests); // -1: off
    void setOpenFailure(DeviceId id, OpenFailure failure);

    struct Private;

private:
    std::unique_ptr<Private> d;
};

// Device options of the flashwick-emulator command besides --camera and --foreign. Other device
// models register theirs before main() runs, e.g. from a static object in a source file that their
// CMakeLists.txt adds to the command with target_sources(flashwick-emulator PRIVATE ...).
struct CommandOption
{
    std::string name; // "--wheel"; given as NAME or NAME=VALUE, repeatable
    std::string help; // lines for --help, each starting with two spaces
    // Adds the device(s) to the testbed; false with an error text stops the command.
    std::function<bool(Testbed& testbed, const std::string& value, std::string& error)> add;
};
void registerCommandOption(const CommandOption& option);
std::vector<CommandOption>& commandOptions();

} // namespace flashwick::emu

#endif
