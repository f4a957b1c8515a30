// The USB descriptor decoding on arbitrary replies: device, string, language list, configuration
// (with and without SuperSpeed companions), BOS, and the camera-class rule on a device descriptor
// followed by its configuration (as sysfs caches them). Besides crashes, leaks and hangs it checks what
// every decoded result must hold.
#include "usbdescriptors.h"

#include <cstdio>
#include <cstdlib>

using namespace UsbDescriptors;

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "descriptor invariant broken: %s\n", what);
        std::abort();
    }
}

// Code points of well-formed UTF-8, or -1.
int utf8CodePoints(const std::string& s)
{
    int count = 0;
    for (size_t i = 0; i < s.size(); ++count) {
        const uint8_t b = uint8_t(s[i]);
        const size_t extra = b < 0x80             ? 0
                             : (b & 0xE0) == 0xC0 ? 1
                             : (b & 0xF0) == 0xE0 ? 2
                             : (b & 0xF8) == 0xF0 ? 3
                                                  : 9;
        if (extra == 9 || i + extra >= s.size())
            return -1;
        for (size_t k = 1; k <= extra; ++k) {
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80)
                return -1;
        }
        i += extra + 1;
    }
    return count;
}

void configuration(const uint8_t* data, size_t size, bool withCompanions)
{
    UsbConfigInfo config;
    if (!parseConfiguration(data, size, withCompanions, nullptr, config)) {
        check(size < 9 || data[0] < 9 || data[1] != ConfigurationType, "a configuration header is accepted");
        return;
    }
    check(size >= 9 && data[1] == ConfigurationType, "only a configuration header is accepted");
    check(config.configurationValue == data[5], "configuration value");
    check(config.interfaces.size() <= size / 9, "each interface comes from a 9-byte descriptor");
    size_t endpoints = 0;
    for (const UsbInterfaceInfo& i : config.interfaces) {
        for (const auto& e : i.endpoints) {
            check(e != nullptr, "endpoint object");
            check((e->attributes & 3) != 0, "no control endpoint besides endpoint 0");
            check(e->directionIn == ((e->address & 0x80) != 0), "direction from the address");
            check(e->deviceHandle == nullptr, "endpoint on the device handle");
            if (!withCompanions)
                check(e->ssMaxBurst == 0 && e->ssAttributes == 0 && e->ssBytesPerInterval == 0,
                      "companions only when asked for");
            ++endpoints;
        }
    }
    check(endpoints <= size / 7, "each endpoint comes from a 7-byte descriptor");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    UsbDeviceDescriptor device;
    device.idVendor = 0x1234;
    if (decodeDevice(data, size, device)) {
        check(size >= 18 && data[1] == DeviceType, "device descriptor header");
        check(device.idVendor == le16(data, 8) && device.bNumConfigurations == data[17], "device fields");
    } else {
        check(device.idVendor == 0x1234, "a refused device descriptor leaves the output untouched");
    }

    const uint16_t language = chooseLanguage(data, size);
    if (language != 0) {
        bool listed = false;
        const size_t end = size < data[0] ? size : data[0];
        for (size_t i = 2; i + 1 < end; i += 2)
            listed = listed || le16(data, i) == language;
        check(listed, "the chosen language is listed");
    }

    std::string text = "untouched";
    if (decodeString(data, size, text)) {
        const int characters = utf8CodePoints(text);
        check(characters >= 0, "string decodes to well-formed UTF-8");
        check(characters <= 255, "string keeps at most 255 characters");
        check(size_t(characters) <= (size - 2) / 2, "at most one character per UTF-16 unit");
    } else {
        check(text == "untouched", "a refused string leaves the output untouched");
    }

    configuration(data, size, false);
    configuration(data, size, true);

    if (isCameraClassDescriptors(data, size)) {
        UsbDeviceDescriptor d;
        UsbConfigInfo config;
        check(decodeDevice(data, size, d) && data[0] <= size &&
                  parseConfiguration(data + data[0], size - data[0], false, nullptr, config),
              "a camera has a device descriptor and a configuration after it");
        bool vendorSpecific = false;
        for (const UsbInterfaceInfo& i : config.interfaces)
            vendorSpecific = vendorSpecific || i.interfaceClass == 0xFF;
        check(vendorSpecific, "a camera has a vendor-specific interface");
    }

    BosCapabilities bos;
    if (parseBos(data, size, bos)) {
        const std::vector<uint8_t>* kept[] = {&bos.usb20Extension, &bos.superSpeed, &bos.containerId};
        for (int type = 2; type <= 4; ++type) {
            const std::vector<uint8_t>& raw = *kept[type - 2];
            check(raw.empty() || (raw.size() >= 3 && raw[0] == raw.size() && raw[1] == DeviceCapabilityType &&
                                  raw[2] == type),
                  "a kept capability is whole and of its type");
        }
    }
    return 0;
}
