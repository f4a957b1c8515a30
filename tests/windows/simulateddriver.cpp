#include "simulateddriver.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

using namespace flashwick::emu;

namespace {

constexpr ULONG_PTR StatusPending = 0x103;

// The completion status the system keeps in OVERLAPPED::Internal for the errors the simulation
// gives, and back. Other errors travel as customer-defined status values.
struct StatusMapping
{
    ULONG_PTR status;
    DWORD error;
};
constexpr StatusMapping StatusMappings[] = {
    {0xC0000120, ERROR_OPERATION_ABORTED},    // STATUS_CANCELLED
    {0xC0000001, ERROR_GEN_FAILURE},          // STATUS_UNSUCCESSFUL
    {0xC000009D, ERROR_DEVICE_NOT_CONNECTED}, // STATUS_DEVICE_NOT_CONNECTED
    {0xC00000B5, ERROR_SEM_TIMEOUT},          // STATUS_IO_TIMEOUT
    {0xC0000023, ERROR_INSUFFICIENT_BUFFER},  // STATUS_BUFFER_TOO_SMALL
    {0xC000000D, ERROR_INVALID_PARAMETER},    // STATUS_INVALID_PARAMETER
};

ULONG_PTR statusOf(DWORD error)
{
    if (!error)
        return 0;
    for (const StatusMapping& m : StatusMappings)
        if (m.error == error)
            return m.status;
    return 0xE0000000u | error;
}

DWORD errorOf(ULONG_PTR status)
{
    if (!status)
        return 0;
    for (const StatusMapping& m : StatusMappings)
        if (m.status == status)
            return m.error;
    return DWORD(status & 0xFFFF);
}

bool sameGuid(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

GUID cameraGuid()
{
    GUID g;
    g.Data1 = CameraInterfaceGuid.data1;
    g.Data2 = CameraInterfaceGuid.data2;
    g.Data3 = CameraInterfaceGuid.data3;
    std::memcpy(g.Data4, CameraInterfaceGuid.data4, sizeof g.Data4);
    return g;
}

bool equalNoCase(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void putText(uint8_t* out, DWORD size, const std::string& text)
{
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min<size_t>(text.size(), size ? size - 1 : 0));
}

void put32(uint8_t* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(v >> (8 * i));
}

} // namespace

struct SimulatedDriver::Device
{
    std::unique_ptr<UsbDeviceModel> model;
    std::string path;
    uint8_t address = 0;
    DWORD openError = 0;
    bool onBus = true;
    Fault fault;
    int recordsSinceFault = 0;
};

struct SimulatedDriver::Handle
{
    int device;
    DWORD access;
    DWORD share;
};

// The outcome of a request: its error (0: success) and the byte count it returns.
struct SimulatedDriver::Answer
{
    DWORD error = 0;
    DWORD returned = 0;
};

struct SimulatedDriver::Pending
{
    size_t call;
    int device;
    HANDLE handle;
    OVERLAPPED* overlapped;
    DWORD code;
    std::vector<uint8_t> input; // copied at the call, as a buffered request's input is
    uint8_t* out;
    DWORD outSize;
    std::chrono::steady_clock::time_point due; // max(): only an abort, a cancel or a close ends it
    Fault fault;                               // kind None when the request has none
};

struct SimulatedDriver::InfoSet
{
    GUID guid;
    std::vector<int> members; // devices on the bus when the set was made
};

SimulatedDriver* SimulatedDriver::active = nullptr;

SimulatedDriver::SimulatedDriver()
{
    table.getClassDevs = &SimulatedDriver::getClassDevs;
    table.enumDeviceInterfaces = &SimulatedDriver::enumDeviceInterfaces;
    table.getDeviceInterfaceDetail = &SimulatedDriver::getDeviceInterfaceDetail;
    table.destroyDeviceInfoList = &SimulatedDriver::destroyDeviceInfoList;
    table.createFile = &SimulatedDriver::createFile;
    table.deviceIoControl = &SimulatedDriver::deviceIoControl;
    table.cancelIoEx = &SimulatedDriver::cancelIoEx;
    table.getOverlappedResult = &SimulatedDriver::getOverlappedResult;
    table.closeHandle = &SimulatedDriver::closeHandle;
    active = this;
    previous = setUsbDriverApi(&table);
    worker = std::thread([this] { run(); });
}

SimulatedDriver::~SimulatedDriver()
{
    {
        std::lock_guard<std::mutex> g(lock);
        stopping = true;
        while (!pending.empty())
            complete(*pending.front(), ERROR_OPERATION_ABORTED, 0);
    }
    wake.notify_all();
    worker.join();
    setUsbDriverApi(previous);
    if (active == this)
        active = nullptr;
    for (auto& h : handles)
        ::CloseHandle(h.first);
    for (InfoSet* s : sets)
        delete s;
}

int SimulatedDriver::addCamera(const CameraConfig& config)
{
    DeviceIdentity id = cameraIdentity(config);
    std::lock_guard<std::mutex> g(lock);
    if (id.serial.empty()) {
        char serial[24];
        std::snprintf(serial, sizeof serial, "QVC%017d", 1000 + int(devices.size()));
        id.serial = serial;
    }
    auto d = std::make_unique<Device>();
    d->model = std::make_unique<UsbDeviceModel>(id, config);
    char path[128];
    std::snprintf(path, sizeof path,
                  "\\\\?\\usb#vid_%04x&pid_%04x#sim%d#{5888d653-2297-f1dd-d39c-356271cec3b9}", id.vendorId,
                  id.productId, int(devices.size()));
    d->path = path;
    d->address = uint8_t(2 + devices.size());
    devices.push_back(std::move(d));
    return int(devices.size()) - 1;
}

int SimulatedDriver::addDevice(const DeviceIdentity& identity, const CameraConfig& config)
{
    std::lock_guard<std::mutex> g(lock);
    auto d = std::make_unique<Device>();
    d->model = std::make_unique<UsbDeviceModel>(identity, config);
    char path[128];
    std::snprintf(path, sizeof path,
                  "\\\\?\\usb#vid_%04x&pid_%04x#sim%d#{5888d653-2297-f1dd-d39c-356271cec3b9}",
                  identity.vendorId, identity.productId, int(devices.size()));
    d->path = path;
    d->address = uint8_t(2 + devices.size());
    devices.push_back(std::move(d));
    return int(devices.size()) - 1;
}

std::string SimulatedDriver::devicePath(int device) const
{
    std::lock_guard<std::mutex> g(lock);
    return devices.at(size_t(device))->path;
}

void SimulatedDriver::setOpenError(int device, DWORD error)
{
    std::lock_guard<std::mutex> g(lock);
    devices.at(size_t(device))->openError = error;
}

void SimulatedDriver::withModel(int device, const std::function<void(UsbDeviceModel&)>& f)
{
    std::lock_guard<std::mutex> g(lock);
    f(*devices.at(size_t(device))->model);
}

std::vector<uint8_t> SimulatedDriver::flash(int device, uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> g(lock);
    const std::vector<uint8_t>& f = devices.at(size_t(device))->model->flash();
    if (address > f.size() || length > f.size() - address)
        return {};
    return std::vector<uint8_t>(f.begin() + address, f.begin() + address + length);
}

void SimulatedDriver::setFault(int device, const Fault& fault)
{
    std::lock_guard<std::mutex> g(lock);
    Device& d = *devices.at(size_t(device));
    d.fault = fault;
    d.recordsSinceFault = 0;
}

void SimulatedDriver::setPendingDelay(int delayMs)
{
    std::lock_guard<std::mutex> g(lock);
    pendingDelayMs = delayMs;
}

std::vector<SimulatedDriver::Call> SimulatedDriver::calls() const
{
    std::lock_guard<std::mutex> g(lock);
    return log;
}

void SimulatedDriver::clearCalls()
{
    std::lock_guard<std::mutex> g(lock);
    log.clear();
    for (auto& p : pending)
        p->call = size_t(-1);
}

int SimulatedDriver::openHandles(int device) const
{
    std::lock_guard<std::mutex> g(lock);
    return int(std::count_if(handles.begin(), handles.end(),
                             [device](const auto& h) { return h.second.device == device; }));
}

int SimulatedDriver::unsharedHandles(int device) const
{
    std::lock_guard<std::mutex> g(lock);
    return int(std::count_if(handles.begin(), handles.end(), [device](const auto& h) {
        return h.second.device == device && h.second.share == 0;
    }));
}

int SimulatedDriver::pendingRequests() const
{
    std::lock_guard<std::mutex> g(lock);
    return int(pending.size());
}

int SimulatedDriver::deviceSets() const
{
    std::lock_guard<std::mutex> g(lock);
    return int(sets.size());
}

// Device information sets.

HDEVINFO WINAPI SimulatedDriver::getClassDevs(const GUID* classGuid, PCSTR, HWND, DWORD flags)
{
    SimulatedDriver* self = active;
    if (!classGuid || !(flags & DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new InfoSet;
    set->guid = *classGuid;
    {
        std::lock_guard<std::mutex> g(self->lock);
        if (sameGuid(*classGuid, cameraGuid()))
            for (size_t i = 0; i < self->devices.size(); ++i)
                if (self->devices[i]->onBus || !(flags & DIGCF_PRESENT))
                    set->members.push_back(int(i));
        self->sets.insert(set);
    }
    return set;
}

BOOL WINAPI SimulatedDriver::enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* classGuid,
                                                  DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    SimulatedDriver* self = active;
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> g(self->lock);
        auto* s = static_cast<InfoSet*>(set);
        if (!self->sets.count(s) || !classGuid || !data)
            error = ERROR_INVALID_PARAMETER;
        else if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
            error = ERROR_INVALID_USER_BUFFER;
        else if (!sameGuid(*classGuid, s->guid) || index >= s->members.size())
            error = ERROR_NO_MORE_ITEMS;
        else {
            data->InterfaceClassGuid = *classGuid;
            data->Flags = SPINT_ACTIVE;
            data->Reserved = ULONG_PTR(s->members[index]) + 1;
        }
    }
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SimulatedDriver::getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                      PDWORD required, PSP_DEVINFO_DATA)
{
    SimulatedDriver* self = active;
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> g(self->lock);
        const size_t member = data ? size_t(data->Reserved) : 0;
        if (!self->sets.count(static_cast<InfoSet*>(set)) || !data || member == 0 ||
            member > self->devices.size()) {
            error = ERROR_INVALID_PARAMETER;
        } else {
            const std::string& path = self->devices[member - 1]->path;
            const DWORD needed =
                DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
            if (required)
                *required = needed;
            if (!detail)
                error = size ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER;
            else if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
                error = ERROR_INVALID_USER_BUFFER;
            else if (size < needed)
                error = ERROR_INSUFFICIENT_BUFFER;
            else
                std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
        }
    }
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SimulatedDriver::destroyDeviceInfoList(HDEVINFO set)
{
    SimulatedDriver* self = active;
    auto* s = static_cast<InfoSet*>(set);
    bool known;
    {
        std::lock_guard<std::mutex> g(self->lock);
        known = self->sets.erase(s) != 0;
    }
    if (!known) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete s;
    return TRUE;
}

// Handles.

HANDLE WINAPI SimulatedDriver::createFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                          DWORD disposition, DWORD, HANDLE)
{
    SimulatedDriver* self = active;
    DWORD error = 0;
    HANDLE h = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> g(self->lock);
        int device = -1;
        for (size_t i = 0; path && i < self->devices.size(); ++i)
            if (equalNoCase(self->devices[i]->path, path))
                device = int(i);
        if (device < 0 || !self->devices[size_t(device)]->onBus) {
            error = ERROR_FILE_NOT_FOUND;
        } else if (disposition != OPEN_EXISTING) {
            error = ERROR_ACCESS_DENIED;
        } else if (self->devices[size_t(device)]->openError) {
            error = self->devices[size_t(device)]->openError;
        } else {
            // Every open handle's sharing must allow the new access, and the new sharing every open
            // handle's access.
            auto conflicts = [](DWORD a, DWORD s) {
                return ((a & GENERIC_READ) && !(s & FILE_SHARE_READ)) ||
                       ((a & GENERIC_WRITE) && !(s & FILE_SHARE_WRITE));
            };
            for (const auto& other : self->handles)
                if (other.second.device == device &&
                    (conflicts(access, other.second.share) || conflicts(other.second.access, share)))
                    error = ERROR_SHARING_VIOLATION;
            if (!error) {
                h = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
                if (!h) {
                    error = GetLastError();
                    h = INVALID_HANDLE_VALUE;
                } else {
                    self->handles[h] = Handle{device, access, share};
                }
            }
        }
    }
    SetLastError(error);
    return h;
}

BOOL WINAPI SimulatedDriver::closeHandle(HANDLE h)
{
    SimulatedDriver* self = active;
    {
        std::lock_guard<std::mutex> g(self->lock);
        if (!self->handles.erase(h))
            return ::CloseHandle(h);
        // The system cancels what is still pending on a handle that is closed.
        for (size_t i = 0; i < self->pending.size();)
            if (self->pending[i]->handle == h)
                self->complete(*self->pending[i], ERROR_OPERATION_ABORTED, 0);
            else
                ++i;
    }
    return ::CloseHandle(h);
}

// Requests.

SimulatedDriver::Answer SimulatedDriver::answer(Device& device, DWORD code, const uint8_t* in, DWORD inSize,
                                                uint8_t* out, DWORD outSize, Call& call, const Fault& fault)
{
    Answer a;
    if (fault.kind == Fault::Fail) {
        a.error = fault.error;
        return a;
    }
    auto fixed = [&](DWORD size) {
        if (!out || outSize < size) {
            a.error = ERROR_INSUFFICIENT_BUFFER;
            return false;
        }
        a.returned = size;
        return true;
    };
    if (!device.onBus) {
        a.error = ERROR_DEVICE_NOT_CONNECTED;
        return a;
    }
    const DeviceIdentity& id = device.model->identity();
    switch (code) {
    case DriverVersionRequest:
        if (fixed(4))
            put32(out, 0x01020304);
        break;
    case StackVersionRequest:
        if (fixed(4))
            put32(out, 0x00030000);
        break;
    case AlternateSettingRequest:
        if (fixed(1))
            out[0] = 0;
        break;
    case UsbAddressRequest:
        if (fixed(1))
            out[0] = device.address;
        break;
    case SpeedRequest:
        if (fixed(4))
            put32(out, id.speed == UsbSpeed::Super ? SpeedCodeSuper : SpeedCodeHigh);
        break;
    case DeviceNameRequest:
    case FriendlyNameRequest:
        if (fixed(outSize))
            putText(out, outSize,
                    code == DeviceNameRequest ? id.product : id.manufacturer + " " + id.product);
        break;
    case AbortPipeRequest:
        if (!in || inSize < 1) {
            a.error = ERROR_INVALID_PARAMETER;
            break;
        }
        call.endpoint = in[0];
        break;
    case EndpointZeroTransferRequest:
        return answerRecord(device, in, inSize, out, outSize, fault);
    default:
        a.error = ERROR_INVALID_FUNCTION;
        break;
    }
    return a;
}

SimulatedDriver::Answer SimulatedDriver::answerRecord(Device& device, const uint8_t* in, DWORD inSize,
                                                      uint8_t* out, DWORD outSize, const Fault& fault)
{
    Answer a;
    if (!in || !out || inSize < TransferRecordHeaderSize || outSize < inSize) {
        a.error = ERROR_INVALID_PARAMETER;
        return a;
    }
    TransferRecord header;
    std::memcpy(&header, in, sizeof header);
    if (header.bufferOffset != TransferRecordHeaderSize ||
        header.wLength > inSize - TransferRecordHeaderSize) {
        a.error = ERROR_INVALID_PARAMETER;
        return a;
    }
    std::memmove(out, in, inSize);
    SetupPacket setup;
    setup.requestType = header.bmRequestType;
    setup.request = header.bRequest;
    setup.value = header.wValue;
    setup.index = header.wIndex;
    setup.length = header.wLength;
    const bool toHost = (header.bmRequestType & 0x80) != 0;
    const ControlReply reply =
        device.model->handle(setup, toHost ? nullptr : in + TransferRecordHeaderSize,
                             toHost ? 0 : header.wLength, std::chrono::steady_clock::now());
    if (reply.leaveBus)
        device.onBus = false;
    TransferRecord result = header;
    if (reply.status) {
        result.usbStatus = StallStatus;
        a.error = ERROR_GEN_FAILURE;
        a.returned = TransferRecordHeaderSize;
    } else {
        const size_t n = toHost ? std::min<size_t>(reply.data.size(), header.wLength) : header.wLength;
        if (toHost)
            std::memcpy(out + TransferRecordHeaderSize, reply.data.data(), n);
        a.returned = DWORD(TransferRecordHeaderSize + n);
        if (fault.kind == Fault::UsbStatus)
            result.usbStatus = fault.status;
        if (fault.kind == Fault::DriverStatus)
            result.driverStatus = fault.status;
        if (fault.kind == Fault::Short)
            a.returned = a.returned > fault.shortBy ? a.returned - fault.shortBy : 0;
    }
    std::memcpy(out, &result, sizeof result);
    return a;
}

void SimulatedDriver::complete(Pending& p, DWORD error, DWORD returned)
{
    if (p.call < log.size()) {
        Call& c = log[p.call];
        c.completed = true;
        c.error = error;
        c.returned = returned;
    }
    p.overlapped->InternalHigh = returned;
    p.overlapped->Internal = statusOf(error);
    SetEvent(p.overlapped->hEvent);
    pending.erase(
        std::find_if(pending.begin(), pending.end(), [&p](const auto& q) { return q.get() == &p; }));
}

void SimulatedDriver::abortPipe(int device)
{
    for (size_t i = 0; i < pending.size();)
        if (pending[i]->device == device && pending[i]->code == EndpointZeroTransferRequest)
            complete(*pending[i], ERROR_OPERATION_ABORTED, 0);
        else
            ++i;
}

BOOL WINAPI SimulatedDriver::deviceIoControl(HANDLE h, DWORD code, LPVOID inBuffer, DWORD inSize,
                                             LPVOID outBuffer, DWORD outSize, LPDWORD returnedOut,
                                             LPOVERLAPPED overlapped)
{
    SimulatedDriver* self = active;
    DWORD error = 0;
    BOOL ok = FALSE;
    {
        std::unique_lock<std::mutex> g(self->lock);
        auto it = self->handles.find(h);
        if (it == self->handles.end()) {
            g.unlock();
            return ::DeviceIoControl(h, code, inBuffer, inSize, outBuffer, outSize, returnedOut, overlapped);
        }
        Device& device = *self->devices[size_t(it->second.device)];
        const auto* in = static_cast<const uint8_t*>(inBuffer);
        auto* out = static_cast<uint8_t*>(outBuffer);
        Call call;
        call.device = it->second.device;
        call.code = code;
        call.unshared = it->second.share == 0;
        if (code == EndpointZeroTransferRequest && in && inSize >= TransferRecordHeaderSize) {
            TransferRecord header;
            std::memcpy(&header, in, sizeof header);
            call.requestType = header.bmRequestType;
            call.request = header.bRequest;
            call.value = header.wValue;
            call.index = header.wIndex;
            call.length = header.wLength;
        }
        self->log.push_back(call);
        const size_t callIndex = self->log.size() - 1;
        if (!overlapped || !overlapped->hEvent) {
            // Every handle is opened for overlapped I/O; the backend always passes an OVERLAPPED.
            error = ERROR_INVALID_PARAMETER;
            self->log[callIndex].completed = true;
            self->log[callIndex].error = error;
        } else {
            Fault fault;
            if (code == EndpointZeroTransferRequest) {
                const Fault& f = device.fault;
                const int n = device.recordsSinceFault++;
                if (f.kind != Fault::None && n >= f.skip && (f.count < 0 || n < f.skip + f.count))
                    fault = f;
            }
            if (code == AbortPipeRequest && in && inSize >= 1 && in[0] == 0)
                self->abortPipe(it->second.device);
            const auto now = std::chrono::steady_clock::now();
            if (fault.kind == Fault::Late || fault.kind == Fault::NoAnswer || self->pendingDelayMs >= 0) {
                auto p = std::make_unique<Pending>();
                p->call = callIndex;
                p->device = it->second.device;
                p->handle = h;
                p->overlapped = overlapped;
                p->code = code;
                if (in)
                    p->input.assign(in, in + inSize);
                p->out = out;
                p->outSize = outSize;
                p->fault = fault;
                p->due = fault.kind == Fault::NoAnswer ? std::chrono::steady_clock::time_point::max()
                         : fault.kind == Fault::Late   ? now + std::chrono::milliseconds(fault.delayMs)
                                                     : now + std::chrono::milliseconds(self->pendingDelayMs);
                overlapped->Internal = StatusPending;
                overlapped->InternalHigh = 0;
                ResetEvent(overlapped->hEvent);
                self->log[callIndex].pended = true;
                self->pending.push_back(std::move(p));
                self->wake.notify_all();
                error = ERROR_IO_PENDING;
            } else {
                const Answer a =
                    self->answer(device, code, in, inSize, out, outSize, self->log[callIndex], fault);
                Call& c = self->log[callIndex];
                c.completed = true;
                c.error = a.error;
                c.returned = a.returned;
                overlapped->InternalHigh = a.returned;
                overlapped->Internal = statusOf(a.error);
                if (returnedOut)
                    *returnedOut = a.returned;
                SetEvent(overlapped->hEvent);
                error = a.error;
                ok = a.error == 0;
            }
        }
    }
    SetLastError(error);
    return ok;
}

BOOL WINAPI SimulatedDriver::cancelIoEx(HANDLE h, LPOVERLAPPED overlapped)
{
    SimulatedDriver* self = active;
    DWORD error = 0;
    {
        std::unique_lock<std::mutex> g(self->lock);
        auto it = self->handles.find(h);
        if (it == self->handles.end()) {
            g.unlock();
            return ::CancelIoEx(h, overlapped);
        }
        Call call;
        call.kind = Call::Cancel;
        call.device = it->second.device;
        call.unshared = it->second.share == 0;
        call.completed = true;
        self->log.push_back(call);
        bool found = false;
        for (size_t i = 0; i < self->pending.size();) {
            Pending& p = *self->pending[i];
            if (p.handle == h && (!overlapped || p.overlapped == overlapped)) {
                self->complete(p, ERROR_OPERATION_ABORTED, 0);
                found = true;
            } else {
                ++i;
            }
        }
        if (!found)
            error = ERROR_NOT_FOUND;
        self->log.back().error = error;
    }
    SetLastError(error);
    return error == 0;
}

BOOL WINAPI SimulatedDriver::getOverlappedResult(HANDLE h, LPOVERLAPPED overlapped, LPDWORD returned,
                                                 BOOL wait)
{
    SimulatedDriver* self = active;
    {
        std::lock_guard<std::mutex> g(self->lock);
        if (!self->handles.count(h))
            return ::GetOverlappedResult(h, overlapped, returned, wait);
    }
    if (wait && overlapped->hEvent)
        WaitForSingleObject(overlapped->hEvent, 10000);
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> g(self->lock);
        if (overlapped->Internal == StatusPending) {
            error = ERROR_IO_INCOMPLETE;
        } else {
            if (returned)
                *returned = DWORD(overlapped->InternalHigh);
            error = errorOf(overlapped->Internal);
        }
    }
    SetLastError(error);
    return error == 0;
}

// The worker: answers pending requests when they are due.
void SimulatedDriver::run()
{
    std::unique_lock<std::mutex> g(lock);
    while (!stopping) {
        const auto now = std::chrono::steady_clock::now();
        auto next = now + std::chrono::milliseconds(100); // bounded even with nothing due
        for (size_t i = 0; i < pending.size();) {
            Pending& p = *pending[i];
            if (p.due > now) {
                next = std::min(next, p.due);
                ++i;
                continue;
            }
            Call scratch;
            Call& call = p.call < log.size() ? log[p.call] : scratch;
            const Answer a =
                answer(*devices[size_t(p.device)], p.code, p.input.empty() ? nullptr : p.input.data(),
                       DWORD(p.input.size()), p.out, p.outSize, call, p.fault);
            complete(p, a.error, a.returned); // erases pending[i]
        }
        wake.wait_until(g, next);
    }
}
