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
    bool returnAfterLeave = false; // ... and comes back after the reset time
};

struct DeviceIdentity
{
    bool camera = true;
    uint16_t vendorId = QuenvorVendorId;
    uint16_t productId = CameraProductId;
    std::string manufacturer;
    std::string product;
    std::string serial;
    UsbSpeed speed = UsbSpeed::High;
    bool fullSpeed = false; // foreign devices: 12 Mbit/s
};

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

private:
    static std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b);
    ControlReply standardRequest(const SetupPacket& setup);
    ControlReply vendorRequest(const SetupPacket& setup, const uint8_t* outData, size_t outLength,
                               Clock::time_point now);
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;
    std::vector<uint8_t> bosDescriptor() const;

    DeviceIdentity id;
    CameraConfig cfg;
    std::vector<uint8_t> flashMemory;
    Clock::time_point busyUntil;
    int resetCount = 0;
};

} // namespace flashwick::emu

#endif
