// Behaviour of one emulated USB device on endpoint 0: descriptors, the camera's vendor requests and
// its NOR flash. Knows nothing of umockdev; the caller serialises access.
#ifndef FLASHWICK_USBMODEL_H
#define FLASHWICK_USBMODEL_H

#include "emulator.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace flashwick::emu {

struct SetupPacket
{
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

struct ControlReply
{
    int status = 0;                // 0 or a negative errno (-EPIPE: stall)
    std::vector<uint8_t> data;     // IN data, at most setup.length bytes
    bool noAnswer = false;         // leave the transfer pending
    bool leaveBus = false;         // the device drops off the bus once this transfer is reaped
    bool returnAfterLeave = false; // ... and comes back after the reset time (a boot loader: as its
                                   // camera, running the firmware it started)
};

struct DeviceIdentity
{
    bool camera = true;
    bool bootLoader = false; // the FX3 chip's USB boot loader (not a camera)
    uint16_t vendorId = QuenvorVendorId;
    uint16_t productId = CameraProductId;
    std::string manufacturer;
    std::string product;
    std::string serial;
    UsbSpeed speed = UsbSpeed::High;
    bool fullSpeed = false; // foreign devices: 12 Mbit/s
};

// The identity of an emulated camera as its configuration gives it.
DeviceIdentity cameraIdentity(const CameraConfig& config);

class UsbDeviceModel
{
public:
    using Clock = std::chrono::steady_clock;

    UsbDeviceModel(const DeviceIdentity& identity, const CameraConfig& config);

    const DeviceIdentity& identity() const { return id; }
    CameraConfig& config() { return cfg; }
    const CameraConfig& config() const { return cfg; }

    uint16_t bcdUsb() const;
    const char* speedAttribute() const; // "5000", "480" or "12"
    std::vector<uint8_t> deviceDescriptor() const;
    std::vector<uint8_t> configurationDescriptor() const;
    std::vector<uint8_t> descriptorsAttribute() const
    {
        return concat(deviceDescriptor(), configurationDescriptor());
    }

    // Answers one control transfer. Counts it for the unplug-after fault.
    ControlReply handle(const SetupPacket& setup, const uint8_t* outData, size_t outLength,
                        Clock::time_point now);

    bool busy(Clock::time_point now) const;
    std::vector<uint8_t>& flash() { return flashMemory; }
    const std::vector<uint8_t>& flash() const { return flashMemory; }
    int resets() const { return resetCount; }

    // A 0xA3 reply: the serial number in 20 bytes, NUL-padded.
    std::vector<uint8_t> serialReply() const;

    // Camera: the chip's ROM looks at the firmware area. True when it holds a valid boot image; the
    // camera then runs it (its version tag, if any, becomes the firmware version).
    bool bootFromFlash();
    // Boot loader: a fresh start with cleared RAM.
    void resetRam();
    std::vector<uint8_t> ram(uint32_t address, uint32_t length) const;
    // The firmware version the last start request left running (-1: no tag; the camera keeps its
    // own) and how many start requests were answered.
    int startedVersion() const { return startVersion; }
    int starts() const { return startCount; }

private:
    static std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b);
    ControlReply standardRequest(const SetupPacket& setup);
    ControlReply vendorRequest(const SetupPacket& setup, const uint8_t* outData, size_t outLength,
                               Clock::time_point now);
    ControlReply bootLoaderRequest(const SetupPacket& setup, const uint8_t* outData, size_t outLength);
    uint8_t* ramAt(uint32_t address, uint32_t length);
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;
    std::vector<uint8_t> bosDescriptor() const;

    DeviceIdentity id;
    CameraConfig cfg;
    std::vector<uint8_t> flashMemory;
    Clock::time_point busyUntil;
    int resetCount = 0;
    std::vector<uint8_t> itcm;
    std::vector<uint8_t> sysmem;
    std::vector<std::pair<uint32_t, uint32_t>> written; // RAM ranges written since the last start
    int startVersion = -1;
    int startCount = 0;
};

// The emulated ROM's reading of a boot image in `memory` from `start`, at most `limit` bytes: valid
// when signature, control byte, type, sections inside RAM, terminator, entry point and checksum are
// right. `version` is the byte after a version tag in the section data, or -1.
bool readBootImage(const std::vector<uint8_t>& memory, size_t start, size_t limit, int& version);

} // namespace flashwick::emu

#endif
