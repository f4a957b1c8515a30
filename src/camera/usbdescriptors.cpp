#include "usbdescriptors.h"

#include <algorithm>

namespace UsbDescriptors {

namespace {

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::unique_ptr<CCyUSBEndPoint> makeEndpoint(void* handle, const UsbEndpointDescriptor& d)
{
    switch (d.bmAttributes & 3) {
    case 1:
        return std::unique_ptr<CCyUSBEndPoint>(new CCyIsocEndPoint(handle, d));
    case 2:
        return std::unique_ptr<CCyUSBEndPoint>(new CCyBulkEndPoint(handle, d));
    case 3:
        return std::unique_ptr<CCyUSBEndPoint>(new CCyInterruptEndPoint(handle, d));
    default: // a control endpoint in a configuration: endpoint 0 is built by open
        return nullptr;
    }
}

} // namespace

bool decodeDevice(const uint8_t* bytes, size_t size, UsbDeviceDescriptor& out)
{
    if (!bytes || size < 18 || bytes[0] < 18 || bytes[1] != DeviceType)
        return false;
    out.bLength = bytes[0];
    out.bDescriptorType = bytes[1];
    out.bcdUSB = le16(bytes, 2);
    out.bDeviceClass = bytes[4];
    out.bDeviceSubClass = bytes[5];
    out.bDeviceProtocol = bytes[6];
    out.bMaxPacketSize0 = bytes[7];
    out.idVendor = le16(bytes, 8);
    out.idProduct = le16(bytes, 10);
    out.bcdDevice = le16(bytes, 12);
    out.iManufacturer = bytes[14];
    out.iProduct = bytes[15];
    out.iSerialNumber = bytes[16];
    out.bNumConfigurations = bytes[17];
    return true;
}

uint16_t chooseLanguage(const uint8_t* bytes, size_t size)
{
    if (!bytes || size < 4 || bytes[1] != StringType)
        return 0;
    const size_t end = std::min<size_t>(size, bytes[0]);
    uint16_t first = 0;
    for (size_t i = 2; i + 1 < end; i += 2) {
        const uint16_t id = le16(bytes, i);
        if (id == EnglishUs)
            return id;
        if (i == 2)
            first = id;
    }
    return first;
}

bool decodeString(const uint8_t* bytes, size_t size, std::string& utf8)
{
    if (!bytes || size < 2 || bytes[0] <= 2 || bytes[1] != StringType)
        return false;
    const size_t end = std::min<size_t>(size, bytes[0]);
    std::string text;
    int characters = 0;
    for (size_t i = 2; i + 1 < end && characters < 255; i += 2, ++characters) {
        uint32_t unit = le16(bytes, i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < end) {
            const uint32_t low = le16(bytes, i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(text, unit);
    }
    utf8 = std::move(text);
    return true;
}

bool parseConfiguration(const uint8_t* bytes, size_t size, bool withCompanions, void* deviceHandle,
                        UsbConfigInfo& out)
{
    if (!bytes || size < 9 || bytes[0] < 9 || bytes[1] != ConfigurationType)
        return false;
    out = UsbConfigInfo();
    out.configurationValue = bytes[5];
    out.attributes = bytes[7];
    out.maxPower = bytes[8];
    const size_t end = std::min<size_t>(size, le16(bytes, 2));

    UsbInterfaceInfo* current = nullptr;
    CCyUSBEndPoint* lastEndpoint = nullptr;
    for (size_t at = bytes[0]; at + 2 <= end;) {
        const uint8_t length = bytes[at];
        const uint8_t type = bytes[at + 1];
        if (length < 2 || at + length > end)
            break;
        const uint8_t* d = bytes + at;
        if (type == InterfaceType && length >= 9) {
            UsbInterfaceInfo info;
            info.number = d[2];
            info.alternateSetting = d[3];
            info.interfaceClass = d[5];
            info.interfaceSubClass = d[6];
            info.interfaceProtocol = d[7];
            out.interfaces.push_back(std::move(info));
            current = &out.interfaces.back();
            lastEndpoint = nullptr;
        } else if (type == EndpointType && length >= 7 && current) {
            UsbEndpointDescriptor e;
            e.bLength = d[0];
            e.bDescriptorType = d[1];
            e.bEndpointAddress = d[2];
            e.bmAttributes = d[3];
            e.wMaxPacketSize = le16(d, 4);
            e.bInterval = d[6];
            std::unique_ptr<CCyUSBEndPoint> ep = makeEndpoint(deviceHandle, e);
            lastEndpoint = ep.get();
            if (ep)
                current->endpoints.push_back(std::move(ep));
        } else if (type == SuperSpeedCompanionType && length >= 6 && withCompanions && lastEndpoint) {
            lastEndpoint->ssMaxBurst = d[2];
            lastEndpoint->ssAttributes = d[3];
            lastEndpoint->ssBytesPerInterval = le16(d, 4);
            lastEndpoint = nullptr;
        }
        at += length;
    }
    return true;
}

bool isCameraClassConfiguration(const UsbConfigInfo& config)
{
    return std::any_of(config.interfaces.begin(), config.interfaces.end(),
                       [](const UsbInterfaceInfo& i) { return i.interfaceClass == VendorSpecificClass; });
}

bool isCameraClassDescriptors(const uint8_t* bytes, size_t size)
{
    UsbDeviceDescriptor device;
    if (!decodeDevice(bytes, size, device) || bytes[0] > size)
        return false;
    UsbConfigInfo config;
    return parseConfiguration(bytes + bytes[0], size - bytes[0], false, nullptr, config) &&
           isCameraClassConfiguration(config);
}

bool parseBos(const uint8_t* bytes, size_t size, BosCapabilities& out)
{
    if (!bytes || size < 5 || bytes[0] < 5 || bytes[1] != BosType)
        return false;
    out = BosCapabilities();
    const size_t end = std::min<size_t>(size, le16(bytes, 2));
    for (size_t at = bytes[0]; at + 3 <= end;) {
        const uint8_t length = bytes[at];
        if (length < 3 || at + length > end)
            break;
        if (bytes[at + 1] == DeviceCapabilityType) {
            std::vector<uint8_t> raw(bytes + at, bytes + at + length);
            switch (bytes[at + 2]) {
            case 2:
                out.usb20Extension = std::move(raw);
                break;
            case 3:
                out.superSpeed = std::move(raw);
                break;
            case 4:
                out.containerId = std::move(raw);
                break;
            default:
                break;
            }
        }
        at += length;
    }
    return true;
}

} // namespace UsbDescriptors
