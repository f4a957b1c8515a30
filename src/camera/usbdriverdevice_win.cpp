// Windows backend of UsbDriverDevice: the FX3 chip vendor's kernel driver.
//
// Devices are the present interfaces of the driver's interface class (SetupAPI). The driver serves
// the chip vendor's own ids too, so an FX3 in its USB boot loader (04B4:00F3) is one of them;
// QVRUsb tells it from a camera by the ids open reads from its device descriptor. An opened device
// is a file handle for overlapped I/O; every operation is a DeviceIoControl request with one of the
// driver's codes (transferrecord.h). Endpoint-0 requests carry a TransferRecord followed by the data
// in one buffer that is both input and output.
//
// Every request is issued with its own OVERLAPPED and event, also the ones the driver answers at
// once (queries, descriptor reads): a handle opened for overlapped I/O must not be given a null
// OVERLAPPED. A request that is still pending after its bounds is cancelled; one that the driver
// does not give back even then is left allocated, since the driver may still write into its record.
//
// The calls on the driver and the device interface set go through usbDriverApi(), the system's own
// functions unless a test has put a simulated driver in their place.
#include "usbdriverdevice.h"

#include "transferrecord.h"
#include "transferwait.h"
#include "usbdescriptors.h"
#include "usbdriverapi_win.h"

#ifndef ERROR_NO_SUCH_DEVICE // missing from older SDK headers
#define ERROR_NO_SUCH_DEVICE 433L
#endif

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Host-side bound of a driver query or descriptor read; the driver answers these at once.
constexpr DWORD QueryBoundMs = 5000;
// Descriptor reads at open: the record's timeout field is 5 seconds.
constexpr uint32_t DescriptorTimeoutMs = 5000;
const char* const CloseFailureText = "Failed to close handle to driver.";

GUID toGuid(const UsbGuid& g)
{
    GUID out;
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    std::memcpy(out.Data4, g.data4, sizeof out.Data4);
    return out;
}

HANDLE toHandle(void* handle)
{
    return handle ? static_cast<HANDLE>(handle) : INVALID_HANDLE_VALUE;
}

} // namespace

// One driver request in flight: the buffer, the OVERLAPPED and the event stay together on the heap
// until the request is no longer pending.
struct UsbXferContext
{
    OVERLAPPED overlapped;
    std::vector<uint8_t> buffer;
    uint32_t capacity = 0; // the caller's length (room to receive)
    bool started = false;  // the driver accepted the request (completed or pending)
    bool completedAtOnce = false;
    bool timedOut = false;
    bool abandoned = false; // still pending after every bound: never freed
    DWORD startError = 0;

    UsbXferContext() { std::memset(&overlapped, 0, sizeof overlapped); }
    ~UsbXferContext()
    {
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
    UsbXferContext(const UsbXferContext&) = delete;
    UsbXferContext& operator=(const UsbXferContext&) = delete;
};

namespace {

// Issues `code` with the context's buffer as input (inSize bytes) and output (outSize bytes).
void issue(HANDLE device, DWORD code, UsbXferContext* c, DWORD inSize, DWORD outSize)
{
    if (device == INVALID_HANDLE_VALUE) {
        c->startError = ERROR_INVALID_HANDLE;
        return;
    }
    c->overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr); // auto-reset, unsignalled
    if (!c->overlapped.hEvent) {
        c->startError = GetLastError();
        return;
    }
    void* data = c->buffer.empty() ? nullptr : c->buffer.data();
    DWORD returned = 0;
    if (usbDriverApi().deviceIoControl(device, code, inSize ? data : nullptr, inSize,
                                       outSize ? data : nullptr, outSize, &returned, &c->overlapped)) {
        c->started = true;
        c->completedAtOnce = true;
        return;
    }
    c->startError = GetLastError();
    c->started = c->startError == ERROR_IO_PENDING;
}

bool pending(const UsbXferContext* c)
{
    return c->started && !HasOverlappedIoCompleted(&c->overlapped);
}

// Makes sure a started request is no longer pending: cancels it and waits a bounded time. False
// when the driver keeps it; the context is then marked abandoned and must not be freed.
bool settle(HANDLE device, UsbXferContext* c)
{
    if (!pending(c))
        return true;
    usbDriverApi().cancelIoEx(device, &c->overlapped);
    WaitForSingleObject(c->overlapped.hEvent, AbortedCompletionBoundMs);
    if (!pending(c))
        return true;
    c->abandoned = true;
    return false;
}

void release(UsbXferContext* c)
{
    if (c && !c->abandoned)
        delete c;
}

// A request the driver answers at once: same buffer in and out, `size` bytes. Succeeds only when the
// system call succeeds and the returned byte count equals the size.
bool query(HANDLE device, DWORD code, void* buffer, DWORD size, DWORD& error)
{
    auto* c = new UsbXferContext;
    c->buffer.assign(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
    issue(device, code, c, size, size);
    if (!c->started) {
        error = c->startError;
        release(c);
        return false;
    }
    if (!c->completedAtOnce && WaitForSingleObject(c->overlapped.hEvent, QueryBoundMs) != WAIT_OBJECT_0 &&
        !settle(device, c)) {
        error = ERROR_TIMEOUT;
        return false; // abandoned
    }
    DWORD returned = 0;
    bool ok = usbDriverApi().getOverlappedResult(device, &c->overlapped, &returned, FALSE) != 0;
    if (!ok)
        error = GetLastError();
    else if (returned != size)
        error = ERROR_INVALID_DATA;
    ok = ok && returned == size;
    if (ok)
        std::memcpy(buffer, c->buffer.data(), size);
    release(c);
    return ok;
}

// Standard GET_DESCRIPTOR on endpoint 0 (bmRequestType 0x80, bRequest 6) for `length` bytes.
bool readDescriptor(HANDLE device, uint16_t value, uint16_t index, uint16_t length, std::vector<uint8_t>& out,
                    DWORD& error)
{
    ControlSetup setup;
    setup.target = CCyControlEndPoint::TargetDevice;
    setup.requestType = CCyControlEndPoint::RequestStandard;
    setup.direction = CCyControlEndPoint::DirectionFromDevice;
    setup.request = 6;
    setup.value = value;
    setup.index = index;
    setup.length = length;
    setup.timeoutMs = DescriptorTimeoutMs;
    std::vector<uint8_t> record = buildTransferRecord(setup, nullptr);
    if (!query(device, EndpointZeroTransferRequest, record.data(), DWORD(record.size()), error))
        return false;
    if (recordUsbStatus(record.data()) || recordDriverStatus(record.data())) {
        error = ERROR_GEN_FAILURE;
        return false;
    }
    out.assign(record.begin() + TransferRecordHeaderSize, record.end());
    return true;
}

// Descriptors whose length is in their first bytes: read `headSize` bytes, then the whole.
bool readWholeDescriptor(HANDLE device, uint16_t value, uint16_t index, uint16_t headSize, bool lengthIsTotal,
                         std::vector<uint8_t>& out, DWORD& error)
{
    std::vector<uint8_t> head;
    if (!readDescriptor(device, value, index, headSize, head, error))
        return false;
    const uint16_t whole = lengthIsTotal ? UsbDescriptors::le16(head.data(), 2) : head[0];
    if (whole < headSize) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    return readDescriptor(device, value, index, whole, out, error);
}

// A driver's text reply: up to its first NUL, at most `size` characters.
std::string textUpToNul(const char* buffer, size_t size)
{
    return std::string(buffer, std::find(buffer, buffer + size, '\0'));
}

} // namespace

// Endpoints.

UsbXferContext* CCyUSBEndPoint::beginDirectXfer(uint8_t*, int)
{
    // Only endpoint-0 requests are offered by this backend; the camera logic makes no other.
    auto* c = new UsbXferContext;
    c->startError = ERROR_NOT_SUPPORTED;
    return c;
}

UsbXferContext* CCyUSBEndPoint::beginBufferedXfer(uint8_t* buffer, int length)
{
    return beginDirectXfer(buffer, length);
}

UsbXferContext* CCyControlEndPoint::beginDataXfer(uint8_t* buffer, int length)
{
    auto* c = new UsbXferContext;
    if (length < 0 || length > 0xFFFF || (length > 0 && !buffer)) {
        c->startError = ERROR_INVALID_PARAMETER;
        return c;
    }
    directionIn = direction == DirectionFromDevice;
    ControlSetup setup;
    setup.target = target;
    setup.requestType = requestType;
    setup.direction = direction;
    setup.request = requestCode;
    setup.value = value;
    setup.index = index;
    setup.length = uint32_t(length);
    setup.timeoutMs = timeoutMs;
    c->buffer = buildTransferRecord(setup, buffer);
    c->capacity = uint32_t(length);
    const DWORD size = DWORD(c->buffer.size());
    issue(toHandle(deviceHandle), EndpointZeroTransferRequest, c, size, size);
    if (!c->started)
        lastError = int32_t(c->startError);
    return c;
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

bool CCyUSBEndPoint::waitForXfer(UsbXferContext* c, uint32_t waitMs)
{
    if (!c || !c->started) {
        if (c)
            lastError = int32_t(c->startError);
        return false;
    }
    if (c->completedAtOnce)
        return true;
    const HANDLE event = c->overlapped.hEvent;
    DWORD waitError = 0;
    auto wait = [&](uint32_t ms) {
        const DWORD r = WaitForSingleObject(event, ms);
        if (r == WAIT_OBJECT_0)
            return WaitOutcome::Signalled;
        if (r == WAIT_TIMEOUT)
            return WaitOutcome::TimedOut;
        waitError = GetLastError();
        return WaitOutcome::Failed;
    };
    auto abortRequest = [&] {
        c->timedOut = true;
        abortPipe();
    };
    // A request still outstanding after the last bound is cancelled by finishDataXfer.
    const bool ok = waitWithAbort(wait, abortRequest, waitMs);
    if (!ok && waitError && !c->timedOut)
        lastError = int32_t(waitError);
    return ok;
}

bool CCyUSBEndPoint::finishDataXfer(uint8_t* buffer, int& length, UsbXferContext* c)
{
    length = 0;
    bytesTransferred = 0;
    if (!c) {
        lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!c->started) {
        lastError = int32_t(c->startError);
        release(c);
        return false;
    }
    const HANDLE device = toHandle(deviceHandle);
    if (!settle(device, c)) {
        lastError = ERROR_TIMEOUT;
        return false; // the driver still holds the record: it stays allocated
    }
    DWORD returned = 0;
    bool ok = usbDriverApi().getOverlappedResult(device, &c->overlapped, &returned, FALSE) != 0;
    if (!ok)
        lastError = int32_t(c->timedOut ? ERROR_TIMEOUT : GetLastError());
    const TransferReply reply = readTransferReply(c->buffer.data(), c->buffer.size(), returned, c->capacity);
    const uint32_t moved = reply.moved;
    usbStatus = reply.usbStatus;
    driverStatus = reply.driverStatus;
    if (directionIn && !directTransfer && moved > 0 && buffer)
        std::memcpy(buffer, c->buffer.data() + TransferRecordHeaderSize, moved);
    length = int(moved);
    bytesTransferred = moved;
    if (ok && (usbStatus || driverStatus)) {
        lastError = ERROR_GEN_FAILURE;
        ok = false;
    }
    release(c);
    return ok;
}

bool CCyUSBEndPoint::transferData(uint8_t* buffer, int& length)
{
    UsbXferContext* c = beginDataXfer(buffer, length);
    const bool waited = waitForXfer(c, timeoutMs);
    const bool finished = finishDataXfer(buffer, length, c);
    return waited && finished;
}

bool CCyUSBEndPoint::abortPipe()
{
    const HANDLE device = toHandle(deviceHandle);
    auto* c = new UsbXferContext;
    c->buffer.assign(1, address);
    issue(device, AbortPipeRequest, c, 1, 0);
    if (c->started && !c->completedAtOnce &&
        WaitForSingleObject(c->overlapped.hEvent, QueryBoundMs) != WAIT_OBJECT_0)
        settle(device, c);
    release(c);
    return true;
}

// The device.

struct UsbDriverDevice::Private
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string friendlyName;
    uint8_t usbAddress = 0;
    uint32_t driverVersion = 0;
    uint32_t stackVersion = 0;
    UsbDescriptors::BosCapabilities bos;
    uint8_t alternateSetting = 0xFF;
    const UsbInterfaceInfo* activeInterface = nullptr; // in configs.front()
    std::string closeFailure;
    std::string fullPath; // the whole interface path, for reopening it (devicePath keeps 255 characters)
};

UsbDriverDevice::UsbDriverDevice(const UsbGuid& interfaceClass) : d(new Private), guid(interfaceClass) {}

UsbDriverDevice::~UsbDriverDevice()
{
    close();
}

uint8_t UsbDriverDevice::deviceCount()
{
    const GUID classGuid = toGuid(guid);
    HDEVINFO set =
        usbDriverApi().getClassDevs(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        error = int(GetLastError());
        return 0;
    }
    unsigned count = 0;
    // A member that fails with another error is skipped; the index is bounded all the same.
    for (DWORD i = 0; i < 1024 && count < 255; ++i) {
        SP_DEVICE_INTERFACE_DATA member;
        std::memset(&member, 0, sizeof member);
        member.cbSize = sizeof member;
        if (usbDriverApi().enumDeviceInterfaces(set, nullptr, &classGuid, i, &member)) {
            ++count;
        } else if (GetLastError() == ERROR_NO_MORE_ITEMS) {
            break;
        }
    }
    usbDriverApi().destroyDeviceInfoList(set);
    return uint8_t(count);
}

bool UsbDriverDevice::isOpen() const
{
    return d->handle != INVALID_HANDLE_VALUE;
}

const std::string& UsbDriverDevice::closeFailure() const
{
    return d->closeFailure;
}

void UsbDriverDevice::close()
{
    if (d->handle != INVALID_HANDLE_VALUE) {
        if (!usbDriverApi().closeHandle(d->handle)) {
            error = int(GetLastError());
            d->closeFailure = CloseFailureText;
            return;
        }
        d->handle = INVALID_HANDLE_VALUE;
    }
    claimed = false;
    d->fullPath.clear();
    d->closeFailure.clear();
    control.reset();
    d->activeInterface = nullptr;
    configs.clear();
    d->bos = UsbDescriptors::BosCapabilities();
    descriptor = UsbDeviceDescriptor();
    path.clear();
    name.clear();
    d->friendlyName.clear();
    languageId = 0;
    manufacturerString.clear();
    productString.clear();
    serialString.clear();
    highSpeed = superSpeed = false;
    d->usbAddress = 0;
    d->driverVersion = d->stackVersion = 0;
    d->alternateSetting = 0xFF;
}

bool UsbDriverDevice::open(int deviceIndex)
{
    if (isOpen()) {
        close();
        if (isOpen()) {
            // The system refused to close the old handle; it is of no further use.
            d->handle = INVALID_HANDLE_VALUE;
            close();
        }
    }
    const uint8_t count = deviceCount();
    if (count == 0 || deviceIndex < 0 || deviceIndex > count - 1) {
        error = ERROR_DEV_NOT_EXIST;
        return false;
    }

    const GUID classGuid = toGuid(guid);
    HDEVINFO set =
        usbDriverApi().getClassDevs(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        error = int(GetLastError());
        return false;
    }
    SP_DEVICE_INTERFACE_DATA member;
    std::memset(&member, 0, sizeof member);
    member.cbSize = sizeof member;
    std::string fullPath;
    if (usbDriverApi().enumDeviceInterfaces(set, nullptr, &classGuid, DWORD(deviceIndex), &member)) {
        DWORD needed = 0;
        usbDriverApi().getDeviceInterfaceDetail(set, &member, nullptr, 0, &needed, nullptr);
        if (needed >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            std::vector<uint64_t> storage((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (usbDriverApi().getDeviceInterfaceDetail(set, &member, detail, needed, nullptr, nullptr))
                fullPath = detail->DevicePath;
        }
    }
    if (fullPath.empty())
        error = int(GetLastError());
    usbDriverApi().destroyDeviceInfoList(set);
    if (fullPath.empty())
        return false;

    HANDLE h = usbDriverApi().createFile(fullPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = int(GetLastError());
        index = 0;
        return false;
    }
    d->handle = h;
    index = uint8_t(deviceIndex);
    path = fullPath.substr(0, 255);
    d->fullPath = fullPath;

    DWORD err = 0;
    int failure = 0; // why the device cannot be used, when it cannot
    std::vector<uint8_t> bytes;
    if (!readDescriptor(h, 0x0100, 0, 18, bytes, err))
        failure = int(err);
    else if (!UsbDescriptors::decodeDevice(bytes.data(), bytes.size(), descriptor))
        failure = ERROR_INVALID_DATA;

    // Language: 0x0409 when listed, otherwise the first one; then the three strings in it.
    if (readWholeDescriptor(h, 0x0300, 0, 2, false, bytes, err))
        languageId = UsbDescriptors::chooseLanguage(bytes.data(), bytes.size());
    const std::pair<uint8_t, std::string*> strings[] = {{descriptor.iManufacturer, &manufacturerString},
                                                        {descriptor.iProduct, &productString},
                                                        {descriptor.iSerialNumber, &serialString}};
    for (const auto& s : strings) {
        if (s.first && readWholeDescriptor(h, uint16_t(0x0300 | s.first), languageId, 2, false, bytes, err))
            UsbDescriptors::decodeString(bytes.data(), bytes.size(), *s.second);
    }

    if ((descriptor.bcdUSB >> 8) == 0x03 && readWholeDescriptor(h, 0x0F00, 0, 5, true, bytes, err))
        UsbDescriptors::parseBos(bytes.data(), bytes.size(), d->bos);

    // Facts the driver keeps about the device.
    uint8_t address = 0;
    if (query(h, UsbAddressRequest, &address, 1, err))
        d->usbAddress = address;
    char text[256] = {};
    if (query(h, DeviceNameRequest, text, sizeof text, err))
        name = textUpToNul(text, sizeof text - 1);
    std::memset(text, 0, sizeof text);
    if (query(h, FriendlyNameRequest, text, sizeof text, err))
        d->friendlyName = textUpToNul(text, sizeof text - 1);
    uint32_t version = 0;
    if (query(h, DriverVersionRequest, &version, 4, err))
        d->driverVersion = version;
    version = 0;
    if (query(h, StackVersionRequest, &version, 4, err))
        d->stackVersion = version;
    uint32_t speed = 0;
    if (query(h, SpeedRequest, &speed, 4, err)) {
        highSpeed = speed == SpeedCodeHigh;
        superSpeed = speed == SpeedCodeSuper;
    }

    // Configurations; a USB 2 device has no SuperSpeed companion descriptors.
    const bool withCompanions = (descriptor.bcdUSB >> 8) != 0x02;
    bool firstConfigRead = false;
    for (uint8_t c = 0; c < descriptor.bNumConfigurations; ++c) {
        UsbConfigInfo config;
        if (!readWholeDescriptor(h, uint16_t(0x0200 | c), 0, 9, true, bytes, err) ||
            !UsbDescriptors::parseConfiguration(bytes.data(), bytes.size(), withCompanions, h, config)) {
            if (c == 0 && !failure)
                failure = int(err ? err : ERROR_INVALID_DATA);
            continue;
        }
        if (c == 0)
            firstConfigRead = true;
        configs.push_back(std::move(config));
    }

    control.reset(
        new CCyControlEndPoint(h, endpointZeroPacketSize(descriptor.bcdUSB, descriptor.bMaxPacketSize0)));

    if (!firstConfigRead || configs.front().interfaces.empty()) {
        // A device without a usable first configuration is not kept open.
        close();
        if (isOpen()) {
            d->handle = INVALID_HANDLE_VALUE;
            close();
        }
        error = failure ? failure : ERROR_INVALID_DATA;
        return false;
    }

    // The active interface: interface 0 in its current alternate setting (not changed here).
    uint8_t alternate = 0xFF;
    if (!query(h, AlternateSettingRequest, &alternate, 1, err))
        alternate = 0xFF;
    d->alternateSetting = alternate;
    for (const UsbInterfaceInfo& info : configs.front().interfaces) {
        if (info.number == 0 && info.alternateSetting == alternate) {
            d->activeInterface = &info;
            break;
        }
    }
    return true;
}

// Exclusive use.

namespace {

// Opens a device interface path for overlapped I/O without sharing it. The system refuses this
// while any other handle to the device is open (ERROR_SHARING_VIOLATION), and a driver that allows
// one handle at a time refuses it with ERROR_ACCESS_DENIED; both mean that another program has the
// device.
HANDLE openUnshared(const std::string& path, DWORD& error)
{
    const HANDLE h = usbDriverApi().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return h;
}

HANDLE openShared(const std::string& path)
{
    return usbDriverApi().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED, nullptr);
}

bool isInUseError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Points the endpoints at a new handle of the same device (nullptr when there is none).
void useHandle(HANDLE h, CCyControlEndPoint* control, const std::vector<UsbConfigInfo>& configs)
{
    void* handle = h == INVALID_HANDLE_VALUE ? nullptr : h;
    if (control)
        control->deviceHandle = handle;
    for (const UsbConfigInfo& config : configs)
        for (const UsbInterfaceInfo& info : config.interfaces)
            for (const auto& ep : info.endpoints)
                ep->deviceHandle = handle;
}

} // namespace

UsbDriverDevice::ClaimResult UsbDriverDevice::claimExclusive()
{
    if (claimed)
        return ClaimResult::Claimed;
    if (!isOpen() || d->fullPath.empty()) {
        error = ERROR_INVALID_HANDLE;
        return ClaimResult::Failed;
    }
    // Our own shared handle would make the unshared open fail: it goes first, and a shared one comes
    // back when the device cannot be had alone.
    if (!usbDriverApi().closeHandle(d->handle)) {
        error = int(GetLastError());
        return ClaimResult::Failed;
    }
    DWORD err = 0;
    HANDLE h = openUnshared(d->fullPath, err);
    ClaimResult result = ClaimResult::Claimed;
    if (h == INVALID_HANDLE_VALUE) {
        error = int(err);
        result = isInUseError(err) ? ClaimResult::Busy : ClaimResult::Failed;
        h = openShared(d->fullPath);
    }
    d->handle = h;
    useHandle(h, control.get(), configs);
    claimed = result == ClaimResult::Claimed;
    return result;
}

void UsbDriverDevice::releaseExclusive()
{
    if (!claimed)
        return;
    if (!usbDriverApi().closeHandle(d->handle)) {
        error = int(GetLastError());
        return; // the unshared handle stays in use until close
    }
    claimed = false;
    d->handle = openShared(d->fullPath);
    useHandle(d->handle, control.get(), configs);
}

std::string UsbDriverDevice::errorText(int code)
{
    char* message = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(code), 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string text = n && message ? std::string(message, n) : "Windows error " + std::to_string(code);
    if (message)
        LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool UsbDriverDevice::isAccessDeniedError(int code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

bool UsbDriverDevice::isNoDeviceError(int code)
{
    return code == ERROR_DEV_NOT_EXIST || code == ERROR_FILE_NOT_FOUND ||
           code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_NO_SUCH_DEVICE || code == ERROR_NO_MORE_ITEMS;
}
