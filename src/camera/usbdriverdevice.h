// Device layer under QVRUsb: count the devices of the camera driver's class, open one by index,
// read the facts that identify it and exchange control transfers on endpoint 0.
//
// The header is platform-neutral. Backends, chosen at compile time:
//   usbdriverdevice_win.cpp     the FX3 chip vendor's kernel driver (SetupAPI + DeviceIoControl)
//   usbdriverdevice_libusb.cpp  libusb-1.0 (Linux, macOS)
// Each backend defines UsbDriverDevice's operations, the endpoint transfer operations below, the
// opaque per-transfer record UsbXferContext and its own UsbDriverDevice::Private.
#ifndef USBDRIVERDEVICE_H
#define USBDRIVERDEVICE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Interface class GUID of a device driver (Windows); other backends keep it but do not use it.
struct UsbGuid
{
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// {5888D653-2297-F1DD-D39C-356271CEC3B9}
constexpr UsbGuid CameraInterfaceGuid = {
    0x5888D653, 0x2297, 0xF1DD, {0xD3, 0x9C, 0x35, 0x62, 0x71, 0xCE, 0xC3, 0xB9}};

// Backend-defined state of one transfer in flight (overlapped record and event on Windows).
struct UsbXferContext;

// Endpoint descriptor fields as parsed from a configuration descriptor.
struct UsbEndpointDescriptor
{
    uint8_t bLength = 0;
    uint8_t bDescriptorType = 0;
    uint8_t bEndpointAddress = 0;
    uint8_t bmAttributes = 0;
    uint16_t wMaxPacketSize = 0;
    uint8_t bInterval = 0;
    // SuperSpeed endpoint companion (zero when absent)
    uint8_t ssMaxBurst = 0;
    uint8_t ssAttributes = 0;
    uint16_t ssBytesPerInterval = 0;
};

class CCyUSBEndPoint
{
public:
    // deviceHandle: the backend's open handle (HANDLE on Windows, libusb_device_handle* with libusb).
    CCyUSBEndPoint(void* deviceHandle, const UsbEndpointDescriptor& descriptor)
        : deviceHandle(deviceHandle), dscLength(descriptor.bLength), dscType(descriptor.bDescriptorType),
          address(descriptor.bEndpointAddress), attributes(descriptor.bmAttributes),
          maxPacketSize(
              uint16_t((descriptor.wMaxPacketSize & 0x7FF) * (((descriptor.wMaxPacketSize >> 11) & 3) + 1))),
          interval(descriptor.bInterval), ssMaxBurst(descriptor.ssMaxBurst),
          ssAttributes(descriptor.ssAttributes), ssBytesPerInterval(descriptor.ssBytesPerInterval),
          directionIn((descriptor.bEndpointAddress & 0x80) != 0)
    {
    }
    virtual ~CCyUSBEndPoint() = default;
    CCyUSBEndPoint(const CCyUSBEndPoint&) = delete;
    CCyUSBEndPoint& operator=(const CCyUSBEndPoint&) = delete;

    // Transfer primitives, in this order. beginDirectXfer passes the caller's buffer as is,
    // beginBufferedXfer carries the data inside the request record, beginDataXfer is the starter
    // of each endpoint type, finishDataXfer collects the result, the byte count and the status
    // words, and frees the context. A begin that fails still returns a context (or nullptr) that
    // finishDataXfer turns into false.
    virtual UsbXferContext* beginDirectXfer(uint8_t* buffer, int length);
    virtual UsbXferContext* beginBufferedXfer(uint8_t* buffer, int length);
    virtual UsbXferContext* beginDataXfer(uint8_t* buffer, int length) = 0;
    virtual bool finishDataXfer(uint8_t* buffer, int& length, UsbXferContext* context);

    // Waits for a started transfer for at most timeoutMs; on a time-out aborts the pipe.
    bool waitForXfer(UsbXferContext* context, uint32_t timeoutMs);

    // One whole transfer: begin, wait (timeoutMs), finish.
    // length: in, bytes to send or room to receive; out, bytes moved.
    bool transferData(uint8_t* buffer, int& length);

    // Cancels the outstanding requests of this endpoint. Always true.
    bool abortPipe();

    void* deviceHandle;

    uint8_t dscLength;
    uint8_t dscType;
    uint8_t address;
    uint8_t attributes;
    uint16_t maxPacketSize; // low 11 bits of wMaxPacketSize times transactions per microframe
    uint8_t interval;
    uint8_t ssMaxBurst;
    uint8_t ssAttributes;
    uint16_t ssBytesPerInterval;

    uint32_t timeoutMs = 10000;
    bool directionIn;           // bit 7 of the endpoint address
    bool directTransfer = true; // true: data passed directly; false: data inside the request record
    int32_t lastError = 0;      // error code of the last failure, as UsbDriverDevice::lastError
    uint32_t usbStatus = 0;     // completion status words of the last transfer
    uint32_t driverStatus = 0;
    uint32_t bytesTransferred = 0;
};

class CCyControlEndPoint : public CCyUSBEndPoint
{
public:
    enum Target : uint8_t
    {
        TargetDevice = 0,
        TargetInterface = 1,
        TargetEndpoint = 2,
        TargetOther = 3
    };
    enum RequestType : uint8_t
    {
        RequestStandard = 0,
        RequestClass = 1,
        RequestVendor = 2
    };
    enum Direction : uint8_t
    {
        DirectionToDevice = 0,
        DirectionFromDevice = 1
    };

    // Endpoint 0 of a device whose endpoint-0 packet size is maxPacketSize0.
    CCyControlEndPoint(void* deviceHandle, uint16_t maxPacketSize0)
        : CCyUSBEndPoint(deviceHandle, endpointZero(maxPacketSize0))
    {
        directTransfer = false;
    }

    UsbXferContext* beginDataXfer(uint8_t* buffer, int length) override;

    uint8_t target = TargetDevice;
    uint8_t requestType = RequestVendor;
    uint8_t direction = DirectionToDevice;
    uint8_t requestCode = 0;
    uint16_t value = 0;
    uint16_t index = 0;

    // bmRequestType built from direction, requestType and target (0x40 vendor out, 0xC0 vendor in).
    uint8_t bmRequestType() const
    {
        return uint8_t(((direction & 1) << 7) | ((requestType & 3) << 5) | (target & 0x1F));
    }

private:
    static UsbEndpointDescriptor endpointZero(uint16_t maxPacketSize0)
    {
        UsbEndpointDescriptor e;
        e.bLength = 7;
        e.bDescriptorType = 5;
        e.wMaxPacketSize = maxPacketSize0;
        return e;
    }
};

class CCyBulkEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    UsbXferContext* beginDataXfer(uint8_t* buffer, int length) override;
};

class CCyIsocEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    UsbXferContext* beginDataXfer(uint8_t* buffer, int length) override;
};

class CCyInterruptEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    UsbXferContext* beginDataXfer(uint8_t* buffer, int length) override;
};

// Interfaces and configurations parsed at open. The camera logic only needs them to exist.
struct UsbInterfaceInfo
{
    uint8_t number = 0;
    uint8_t alternateSetting = 0;
    uint8_t interfaceClass = 0;
    uint8_t interfaceSubClass = 0;
    uint8_t interfaceProtocol = 0;
    std::vector<std::unique_ptr<CCyUSBEndPoint>> endpoints;
};

struct UsbConfigInfo
{
    uint8_t configurationValue = 0;
    uint8_t attributes = 0;
    uint8_t maxPower = 0;
    std::vector<UsbInterfaceInfo> interfaces;
};

struct UsbDeviceDescriptor
{
    uint8_t bLength = 0;
    uint8_t bDescriptorType = 0;
    uint16_t bcdUSB = 0;
    uint8_t bDeviceClass = 0;
    uint8_t bDeviceSubClass = 0;
    uint8_t bDeviceProtocol = 0;
    uint8_t bMaxPacketSize0 = 0;
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
    uint8_t iManufacturer = 0;
    uint8_t iProduct = 0;
    uint8_t iSerialNumber = 0;
    uint8_t bNumConfigurations = 0;
};

class UsbDriverDevice
{
public:
    explicit UsbDriverDevice(const UsbGuid& interfaceClass = CameraInterfaceGuid);
    ~UsbDriverDevice(); // closes
    UsbDriverDevice(const UsbDriverDevice&) = delete;
    UsbDriverDevice& operator=(const UsbDriverDevice&) = delete;

    // Number of present devices of the driver's class. Driver indices run from 0 to count - 1.
    uint8_t deviceCount();
    // Opens the device with that driver index; closes a handle that is still open first.
    bool open(int index);
    void close();
    bool isOpen() const;

    // Facts read by the last successful open.
    const std::string& devicePath() const { return path; } // identity while the device stays plugged in
    const std::string& deviceName() const { return name; } // 8-bit display name
    // The device's node where the system has one (/dev/bus/usb/BBB/DDD with libusb on Linux), as
    // remove events name it; empty otherwise.
    const std::string& deviceNode() const { return node; }
    uint16_t vendorId() const { return descriptor.idVendor; }
    uint16_t productId() const { return descriptor.idProduct; }
    bool isHighSpeed() const { return highSpeed; }
    bool isSuperSpeed() const { return superSpeed; }
    uint8_t deviceIndex() const { return index; }
    const UsbDeviceDescriptor& deviceDescriptor() const { return descriptor; }
    const std::vector<UsbConfigInfo>& configurations() const { return configs; }
    // Endpoint 0, or nullptr while closed.
    CCyControlEndPoint* controlEndPoint() const { return control.get(); }

    // Exclusive use of the open device, enforced by the system for every process: with libusb the
    // device's interfaces are claimed (a second claim, from any process, answers busy); with the
    // chip vendor's driver the device is reopened without sharing (refused while another handle is
    // open). Control transfers need no claim, so readers that do not claim are not kept out; every
    // writer claims. Busy: another program holds the device (lastError tells the system's code).
    // The claim ends with releaseExclusive, close or the end of the process.
    enum class ClaimResult
    {
        Claimed,
        Busy,
        Failed
    };
    ClaimResult claimExclusive();
    void releaseExclusive();
    bool isClaimed() const { return claimed; }

    // Error of the last failed system or library call (0 when none yet). Error codes are the
    // backend's (Windows error codes, or libusb_error values); the helpers classify them.
    int lastError() const { return error; }
    static std::string errorText(int code);
    static bool isAccessDeniedError(int code); // the user may not open the device
    static bool isNoDeviceError(int code);     // gone, or never there
#ifdef _WIN32
    // "Failed to close handle to driver." when the system refused the last close (the handle then
    // stays recorded and lastError holds the system's error); empty after a close that succeeded.
    const std::string& closeFailure() const;
#endif

private:
    struct Private; // backend state: driver handle, library context
    std::unique_ptr<Private> d;

    [[maybe_unused]] UsbGuid guid; // the Windows backend enumerates by it; others keep it
    uint8_t index = 0;
    std::string path;
    std::string name;
    std::string node;
    UsbDeviceDescriptor descriptor;
    uint16_t languageId = 0;
    std::string manufacturerString, productString, serialString; // UTF-8
    bool highSpeed = false;
    bool superSpeed = false;
    std::vector<UsbConfigInfo> configs;
    std::unique_ptr<CCyControlEndPoint> control;
    int error = 0;
    bool claimed = false;
};

#endif
