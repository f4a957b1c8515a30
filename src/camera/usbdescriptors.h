// Decoding of the standard USB descriptors that the Windows backend reads through the driver's
// endpoint-0 request (device, string, BOS, configuration). Plain C++ without OS calls, compiled on
// every platform so the Linux tests check it.
#ifndef USBDESCRIPTORS_H
#define USBDESCRIPTORS_H

#include "usbdriverdevice.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace UsbDescriptors {

enum Type : uint8_t
{
    DeviceType = 1,
    ConfigurationType = 2,
    StringType = 3,
    InterfaceType = 4,
    EndpointType = 5,
    BosType = 0x0F,
    DeviceCapabilityType = 0x10,
    SuperSpeedCompanionType = 0x30,
};

constexpr uint16_t EnglishUs = 0x0409;
constexpr uint8_t VendorSpecificClass = 0xFF;

// 18-byte device descriptor. False (and `out` untouched) when too short or of another type.
bool decodeDevice(const uint8_t* bytes, size_t size, UsbDeviceDescriptor& out);

// Language id to ask strings in: 0x0409 when string descriptor 0 lists it, otherwise the first one
// listed; 0 when the list is empty or the reply is not a string descriptor.
uint16_t chooseLanguage(const uint8_t* bytes, size_t size);

// A string descriptor (UTF-16LE) as UTF-8, at most 255 characters. False when bLength is not
// greater than 2 or the type is not 3.
bool decodeString(const uint8_t* bytes, size_t size, std::string& utf8);

// Little-endian u16 at `offset` (wTotalLength of configuration and BOS descriptors).
inline uint16_t le16(const uint8_t* bytes, size_t offset)
{
    return uint16_t(bytes[offset] | (bytes[offset + 1] << 8));
}

// One configuration descriptor with everything that follows it (wTotalLength bytes). Every
// interface descriptor (each alternate setting) gives one entry; bulk, isochronous and interrupt
// endpoints become endpoint objects on `deviceHandle`. SuperSpeed companion descriptors are applied
// to the endpoint before them only when `withCompanions`. A malformed descriptor (bLength below 2
// or past the end) ends the walk. False when the header is not a configuration descriptor.
bool parseConfiguration(const uint8_t* bytes, size_t size, bool withCompanions, void* deviceHandle,
                        UsbConfigInfo& out);

// The camera class where no camera driver decides it (Linux, macOS): a device belongs to it only when
// its configuration has a vendor-specific interface, as an FX3 camera (and an FX3 without camera
// firmware) has. A filter wheel and its bootloader offer HID interfaces only, so they are never
// taken for cameras.
bool isCameraClassConfiguration(const UsbConfigInfo& config);

// The same rule on raw descriptors as the kernel caches them (the sysfs `descriptors` attribute):
// the device descriptor followed by the configuration descriptors; the first configuration counts.
bool isCameraClassDescriptors(const uint8_t* bytes, size_t size);

// Device capabilities kept from a BOS descriptor, each as its raw descriptor bytes (empty when
// absent).
struct BosCapabilities
{
    std::vector<uint8_t> usb20Extension; // capability type 2
    std::vector<uint8_t> superSpeed;     // capability type 3
    std::vector<uint8_t> containerId;    // capability type 4
};
bool parseBos(const uint8_t* bytes, size_t size, BosCapabilities& out);

} // namespace UsbDescriptors

#endif
