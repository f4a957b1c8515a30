// libusb-1.0 backend of UsbDriverDevice.
//
// The driver's class: without the chip vendor's driver there is no interface class to ask for, so
// the class is the set of devices that driver would be bound to, recognised from the descriptors
// libusb caches (no device is opened to find out): Quenvor's cameras (0xA0A0) and the FX3 chip
// vendor's own devices (0x04B4, e.g. an FX3 that has not loaded camera firmware), each only with a
// vendor-specific interface. Quenvor's filter wheels and their bootloader share the vendor id but
// offer HID interfaces only: they are left out. Nothing else is ever opened. QVRUsb keeps only the
// 0xA0A0 devices.
//
// Driver indices follow the devices sorted by bus number and port path, so the same set of devices
// gives the same indices in deviceCount and open. devicePath is "usb:<bus>-<port path>" (for
// example "usb:3-1.2"), which stays the same while the device stays plugged in; deviceName is the
// product string descriptor. Control transfers are synchronous libusb transfers: libusb waits at
// most timeoutMs and cancels the request itself on a time-out.
#include "transferrecord.h"
#include "usbdescriptors.h"
#include "usbdriverdevice.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

constexpr uint16_t DriverClassVendors[] = {0xA0A0, 0x04B4};

// Every wait on a device is bounded: a time-out of 0 (libusb: no limit) gets this one.
constexpr unsigned DefaultTimeoutMs = 10000;
constexpr unsigned DescriptorTimeoutMs = 1000;

libusb_context* usbContext(int* error = nullptr)
{
    // One context for the process; the static initialisation is thread-safe.
    static int initError = 0;
    static libusb_context* context = [] {
        libusb_context* c = nullptr;
        initError = libusb_init(&c);
        return initError == 0 ? c : nullptr;
    }();
    if (error)
        *error = initError;
    return context;
}

struct ClassDevice
{
    libusb_device* device; // referenced
    uint8_t bus;
    std::vector<uint8_t> ports;
    uint8_t address;
};

bool inDriverClass(libusb_device* device)
{
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(device, &desc) != 0)
        return false;
    if (std::find(std::begin(DriverClassVendors), std::end(DriverClassVendors), desc.idVendor) ==
        std::end(DriverClassVendors))
        return false;
    // From the configuration libusb caches: nothing is sent to the device to decide.
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) != 0)
        return false;
    UsbConfigInfo info;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& iface = config->interface[i];
        for (int a = 0; a < iface.num_altsetting; ++a) {
            UsbInterfaceInfo ii;
            ii.number = iface.altsetting[a].bInterfaceNumber;
            ii.alternateSetting = iface.altsetting[a].bAlternateSetting;
            ii.interfaceClass = iface.altsetting[a].bInterfaceClass;
            info.interfaces.push_back(std::move(ii));
        }
    }
    libusb_free_config_descriptor(config);
    return UsbDescriptors::isCameraClassConfiguration(info);
}

// The devices of the driver's class in driver index order, each referenced once.
std::vector<ClassDevice> classDevices(int& error)
{
    std::vector<ClassDevice> found;
    libusb_context* context = usbContext(&error);
    if (!context)
        return found;
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(context, &list);
    if (n < 0) {
        error = int(n);
        return found;
    }
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device* device = list[i];
        if (!inDriverClass(device))
            continue;
        ClassDevice entry{
            libusb_ref_device(device), libusb_get_bus_number(device), {}, libusb_get_device_address(device)};
        uint8_t ports[8];
        int count = libusb_get_port_numbers(device, ports, int(sizeof ports));
        if (count > 0)
            entry.ports.assign(ports, ports + count);
        found.push_back(std::move(entry));
    }
    libusb_free_device_list(list, 1);
    std::sort(found.begin(), found.end(), [](const ClassDevice& a, const ClassDevice& b) {
        return std::tie(a.bus, a.ports, a.address) < std::tie(b.bus, b.ports, b.address);
    });
    return found;
}

void release(std::vector<ClassDevice>& devices)
{
    for (ClassDevice& entry : devices)
        libusb_unref_device(entry.device);
    devices.clear();
}

std::string pathOf(const ClassDevice& entry)
{
    std::string path = "usb:" + std::to_string(entry.bus) + "-";
    if (entry.ports.empty())
        return path + "addr" + std::to_string(entry.address);
    for (size_t i = 0; i < entry.ports.size(); ++i) {
        if (i)
            path += '.';
        path += std::to_string(entry.ports[i]);
    }
    return path;
}

// String descriptor (UTF-16LE) as UTF-8; empty when absent or unreadable.
std::string readString(libusb_device_handle* handle, uint8_t stringIndex, uint16_t languageId)
{
    if (stringIndex == 0)
        return {};
    unsigned char buffer[255];
    const int n = libusb_get_string_descriptor(handle, stringIndex, languageId, buffer, sizeof buffer);
    std::string text;
    if (n < 2 || !UsbDescriptors::decodeString(buffer, size_t(n), text))
        return {};
    return text;
}

} // namespace

// Linux has no request record and no overlapped I/O: a transfer runs to its end inside its starter,
// and the context carries its outcome to finishDataXfer.
struct UsbXferContext
{
    int result = LIBUSB_ERROR_OTHER; // 0 or a libusb_error
    int moved = 0;
};

namespace {

UsbXferContext* runTransfer(CCyUSBEndPoint& ep, uint8_t* buffer, int length,
                            const CCyControlEndPoint* control)
{
    auto* context = new UsbXferContext;
    auto* handle = static_cast<libusb_device_handle*>(ep.deviceHandle);
    unsigned timeout = ep.timeoutMs ? ep.timeoutMs : DefaultTimeoutMs;
    if (!handle) {
        context->result = LIBUSB_ERROR_NO_DEVICE;
        return context;
    }
    if (length < 0 || (length > 0 && !buffer)) {
        context->result = LIBUSB_ERROR_INVALID_PARAM;
        return context;
    }
    int r = LIBUSB_ERROR_NOT_SUPPORTED;
    int moved = 0;
    switch (ep.attributes & 3) {
    case LIBUSB_TRANSFER_TYPE_CONTROL:
        if (!control || length > 0xFFFF) {
            r = LIBUSB_ERROR_INVALID_PARAM;
            break;
        }
        r = libusb_control_transfer(handle, control->bmRequestType(), control->requestCode, control->value,
                                    control->index, buffer, uint16_t(length), timeout);
        if (r >= 0) {
            moved = r;
            r = 0;
        }
        break;
    case LIBUSB_TRANSFER_TYPE_BULK:
        r = libusb_bulk_transfer(handle, ep.address, buffer, length, &moved, timeout);
        break;
    case LIBUSB_TRANSFER_TYPE_INTERRUPT:
        r = libusb_interrupt_transfer(handle, ep.address, buffer, length, &moved, timeout);
        break;
    default: // isochronous transfers are not offered by this backend; the camera logic makes none
        break;
    }
    context->result = r;
    context->moved = moved;
    return context;
}

} // namespace

UsbXferContext* CCyUSBEndPoint::beginDirectXfer(uint8_t* buffer, int length)
{
    return runTransfer(*this, buffer, length, nullptr);
}

UsbXferContext* CCyUSBEndPoint::beginBufferedXfer(uint8_t* buffer, int length)
{
    // libusb has no request record: the data always pass directly.
    return beginDirectXfer(buffer, length);
}

bool CCyUSBEndPoint::finishDataXfer(uint8_t*, int& length, UsbXferContext* context)
{
    if (!context) {
        lastError = LIBUSB_ERROR_OTHER;
        length = 0;
        bytesTransferred = 0;
        return false;
    }
    length = context->moved;
    bytesTransferred = uint32_t(context->moved);
    usbStatus = context->result ? uint32_t(-context->result) : 0;
    driverStatus = usbStatus;
    if (context->result)
        lastError = context->result;
    bool ok = context->result == 0;
    delete context;
    return ok;
}

bool CCyUSBEndPoint::waitForXfer(UsbXferContext*, uint32_t)
{
    // The starter already waited (bounded by timeoutMs) and libusb cancelled a timed-out request.
    return true;
}

bool CCyUSBEndPoint::transferData(uint8_t* buffer, int& length)
{
    UsbXferContext* context = beginDataXfer(buffer, length);
    waitForXfer(context, timeoutMs);
    return finishDataXfer(buffer, length, context);
}

bool CCyUSBEndPoint::abortPipe()
{
    // Synchronous libusb transfers are cancelled by libusb on their time-out; nothing of this
    // endpoint is left outstanding when a caller gets here.
    return true;
}

UsbXferContext* CCyControlEndPoint::beginDataXfer(uint8_t* buffer, int length)
{
    return runTransfer(*this, buffer, length, this);
}

UsbXferContext* CCyBulkEndPoint::beginDataXfer(uint8_t* buffer, int length)
{
    return directTransfer ? beginDirectXfer(buffer, length) : beginBufferedXfer(buffer, length);
}

UsbXferContext* CCyIsocEndPoint::beginDataXfer(uint8_t* buffer, int length)
{
    return directTransfer ? beginDirectXfer(buffer, length) : beginBufferedXfer(buffer, length);
}

UsbXferContext* CCyInterruptEndPoint::beginDataXfer(uint8_t* buffer, int length)
{
    return directTransfer ? beginDirectXfer(buffer, length) : beginBufferedXfer(buffer, length);
}

struct UsbDriverDevice::Private
{
    libusb_device_handle* handle = nullptr;
    std::vector<uint8_t> claimedInterfaces;
};

UsbDriverDevice::UsbDriverDevice(const UsbGuid& interfaceClass) : d(new Private), guid(interfaceClass) {}

UsbDriverDevice::~UsbDriverDevice()
{
    close();
}

uint8_t UsbDriverDevice::deviceCount()
{
    int err = 0;
    std::vector<ClassDevice> devices = classDevices(err);
    if (err)
        error = err;
    size_t count = std::min<size_t>(devices.size(), 255);
    release(devices);
    return uint8_t(count);
}

bool UsbDriverDevice::isOpen() const
{
    return d->handle != nullptr;
}

void UsbDriverDevice::close()
{
    releaseExclusive();
    control.reset();
    configs.clear();
    if (d->handle) {
        libusb_close(d->handle);
        d->handle = nullptr;
    }
    descriptor = UsbDeviceDescriptor();
    path.clear();
    name.clear();
    node.clear();
    languageId = 0;
    manufacturerString.clear();
    productString.clear();
    serialString.clear();
    highSpeed = superSpeed = false;
}

bool UsbDriverDevice::open(int deviceIndex)
{
    close();
    int err = 0;
    std::vector<ClassDevice> devices = classDevices(err);
    if (err) {
        error = err;
        release(devices);
        return false;
    }
    if (devices.empty() || deviceIndex < 0 || size_t(deviceIndex) >= devices.size()) {
        error = LIBUSB_ERROR_NO_DEVICE;
        release(devices);
        return false;
    }
    const ClassDevice& entry = devices[size_t(deviceIndex)];
    libusb_device* device = entry.device;
    int r = libusb_open(device, &d->handle);
    if (r != 0) {
        error = r;
        d->handle = nullptr;
        index = 0;
        release(devices);
        return false;
    }
    index = uint8_t(deviceIndex);
    path = pathOf(entry);
#ifdef __linux__
    char nodeName[32];
    std::snprintf(nodeName, sizeof nodeName, "/dev/bus/usb/%03u/%03u", unsigned(entry.bus),
                  unsigned(entry.address));
    node = nodeName;
#endif

    libusb_device_descriptor desc;
    libusb_get_device_descriptor(device, &desc); // cached by libusb, cannot fail since 1.0.16
    descriptor.bLength = desc.bLength;
    descriptor.bDescriptorType = desc.bDescriptorType;
    descriptor.bcdUSB = desc.bcdUSB;
    descriptor.bDeviceClass = desc.bDeviceClass;
    descriptor.bDeviceSubClass = desc.bDeviceSubClass;
    descriptor.bDeviceProtocol = desc.bDeviceProtocol;
    descriptor.bMaxPacketSize0 = desc.bMaxPacketSize0;
    descriptor.idVendor = desc.idVendor;
    descriptor.idProduct = desc.idProduct;
    descriptor.bcdDevice = desc.bcdDevice;
    descriptor.iManufacturer = desc.iManufacturer;
    descriptor.iProduct = desc.iProduct;
    descriptor.iSerialNumber = desc.iSerialNumber;
    descriptor.bNumConfigurations = desc.bNumConfigurations;

    // Language: 0x0409 when listed, otherwise the first one.
    if (desc.iManufacturer || desc.iProduct || desc.iSerialNumber) {
        unsigned char langs[255];
        int n = libusb_control_transfer(d->handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                        LIBUSB_DT_STRING << 8, 0, langs, sizeof langs, DescriptorTimeoutMs);
        if (n >= 4 && langs[1] == LIBUSB_DT_STRING) {
            int length = std::min<int>(n, langs[0]);
            languageId = uint16_t(langs[2] | (langs[3] << 8));
            for (int i = 2; i + 1 < length; i += 2)
                if ((langs[i] | (langs[i + 1] << 8)) == 0x0409)
                    languageId = 0x0409;
        }
        if (languageId) {
            manufacturerString = readString(d->handle, desc.iManufacturer, languageId);
            productString = readString(d->handle, desc.iProduct, languageId);
            serialString = readString(d->handle, desc.iSerialNumber, languageId);
        }
    }
    if (!productString.empty()) {
        name = productString.substr(0, 255);
    } else {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "USB %04X:%04X", desc.idVendor, desc.idProduct);
        name = fallback;
    }

    int speed = libusb_get_device_speed(device);
    highSpeed = speed == LIBUSB_SPEED_HIGH;
    superSpeed = speed >= LIBUSB_SPEED_SUPER;

    int configError = LIBUSB_ERROR_NOT_FOUND;
    for (uint8_t c = 0; c < desc.bNumConfigurations; ++c) {
        libusb_config_descriptor* config = nullptr;
        r = libusb_get_config_descriptor(device, c, &config);
        if (r != 0) {
            if (c == 0)
                configError = r;
            break;
        }
        UsbConfigInfo info;
        info.configurationValue = config->bConfigurationValue;
        info.attributes = config->bmAttributes;
        info.maxPower = config->MaxPower;
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface& iface = config->interface[i];
            for (int a = 0; a < iface.num_altsetting; ++a) {
                const libusb_interface_descriptor& alt = iface.altsetting[a];
                UsbInterfaceInfo ii;
                ii.number = alt.bInterfaceNumber;
                ii.alternateSetting = alt.bAlternateSetting;
                ii.interfaceClass = alt.bInterfaceClass;
                ii.interfaceSubClass = alt.bInterfaceSubClass;
                ii.interfaceProtocol = alt.bInterfaceProtocol;
                for (int e = 0; e < alt.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& ed = alt.endpoint[e];
                    UsbEndpointDescriptor epd;
                    epd.bLength = ed.bLength;
                    epd.bDescriptorType = ed.bDescriptorType;
                    epd.bEndpointAddress = ed.bEndpointAddress;
                    epd.bmAttributes = ed.bmAttributes;
                    epd.wMaxPacketSize = ed.wMaxPacketSize;
                    epd.bInterval = ed.bInterval;
                    if ((desc.bcdUSB >> 8) != 0x02) {
                        libusb_ss_endpoint_companion_descriptor* companion = nullptr;
                        if (libusb_get_ss_endpoint_companion_descriptor(usbContext(), &ed, &companion) == 0) {
                            epd.ssMaxBurst = companion->bMaxBurst;
                            epd.ssAttributes = companion->bmAttributes;
                            epd.ssBytesPerInterval = companion->wBytesPerInterval;
                            libusb_free_ss_endpoint_companion_descriptor(companion);
                        }
                    }
                    std::unique_ptr<CCyUSBEndPoint> ep;
                    switch (ed.bmAttributes & 3) {
                    case LIBUSB_TRANSFER_TYPE_ISOCHRONOUS:
                        ep.reset(new CCyIsocEndPoint(d->handle, epd));
                        break;
                    case LIBUSB_TRANSFER_TYPE_BULK:
                        ep.reset(new CCyBulkEndPoint(d->handle, epd));
                        break;
                    case LIBUSB_TRANSFER_TYPE_INTERRUPT:
                        ep.reset(new CCyInterruptEndPoint(d->handle, epd));
                        break;
                    default:
                        break;
                    }
                    if (ep)
                        ii.endpoints.push_back(std::move(ep));
                }
                info.interfaces.push_back(std::move(ii));
            }
        }
        libusb_free_config_descriptor(config);
        configs.push_back(std::move(info));
    }

    control.reset(
        new CCyControlEndPoint(d->handle, endpointZeroPacketSize(desc.bcdUSB, desc.bMaxPacketSize0)));
    release(devices);

    if (configs.empty() || configs.front().interfaces.empty()) {
        // Unusable device: do not keep a half-open handle around.
        error = configError;
        close();
        return false;
    }
    return true;
}

UsbDriverDevice::ClaimResult UsbDriverDevice::claimExclusive()
{
    if (claimed)
        return ClaimResult::Claimed;
    if (!d->handle || configs.empty()) {
        error = LIBUSB_ERROR_NO_DEVICE;
        return ClaimResult::Failed;
    }
    // Every interface of the configuration: a program that holds any of them keeps us out.
    std::vector<uint8_t> numbers;
    for (const UsbInterfaceInfo& info : configs.front().interfaces)
        if (std::find(numbers.begin(), numbers.end(), info.number) == numbers.end())
            numbers.push_back(info.number);
    for (uint8_t number : numbers) {
        const int r = libusb_claim_interface(d->handle, number);
        if (r != 0) {
            error = r;
            releaseExclusive();
            return r == LIBUSB_ERROR_BUSY ? ClaimResult::Busy : ClaimResult::Failed;
        }
        d->claimedInterfaces.push_back(number);
    }
    claimed = true;
    return ClaimResult::Claimed;
}

void UsbDriverDevice::releaseExclusive()
{
    // A device that has gone answers "no device"; its claims went with it.
    for (uint8_t number : d->claimedInterfaces)
        libusb_release_interface(d->handle, number);
    d->claimedInterfaces.clear();
    claimed = false;
}

std::string UsbDriverDevice::errorText(int code)
{
    return libusb_strerror(code);
}

bool UsbDriverDevice::isAccessDeniedError(int code)
{
    return code == LIBUSB_ERROR_ACCESS;
}

bool UsbDriverDevice::isNoDeviceError(int code)
{
    return code == LIBUSB_ERROR_NO_DEVICE || code == LIBUSB_ERROR_NOT_FOUND;
}
