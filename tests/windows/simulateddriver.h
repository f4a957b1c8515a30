// A simulated FX3 chip-vendor driver for the Windows transport's tests: while one exists, the
// backend's driver calls (usbdriverapi_win.h) reach it instead of the system. It lists a device
// interface of the camera class for each device added, opens them with the system's sharing rules,
// answers the driver's queries and passes each endpoint-0 record to an emulated device
// (emu::UsbDeviceModel). Faults make the driver answer late, not at all until the request is aborted
// or cancelled, with status words set, with a short byte count or with an error. A device that the
// model takes off the bus (a reset) stays off: it is no longer listed and its requests fail with
// ERROR_DEVICE_NOT_CONNECTED.
//
// Handles are real (unsignalled) event handles, so a handle the simulation does not know is passed on
// to the system's CloseHandle. Requests left pending are completed from a worker thread: the
// OVERLAPPED gets its Internal/InternalHigh as the system fills them and its event is set.
#ifndef SIMULATEDDRIVER_H
#define SIMULATEDDRIVER_H

#include "transferrecord.h"
#include "usbdriverapi_win.h"
#include "usbdriverdevice.h"
#include "usbmodel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class SimulatedDriver
{
public:
    // The record status word of a stalled request (USBD_STATUS_STALL_PID).
    static constexpr uint32_t StallStatus = 0xC0000004;

    // What the driver does to endpoint-0 records of one device, counted from when it is set.
    struct Fault
    {
        enum Kind
        {
            None,
            Late,         // the device answers after delayMs (the request stays pending until then)
            NoAnswer,     // pending until the pipe is aborted, the request cancelled or the handle closed
            UsbStatus,    // answered, with `status` in the record's first status word
            DriverStatus, // answered, with `status` in the second status word
            Short,        // answered, with a byte count `shortBy` below header + data
            Fail,         // fails with `error`; the device does not see the request
        };
        Kind kind = None;
        int skip = 0;  // records left alone first
        int count = 1; // records the fault applies to then (-1: all that follow)
        unsigned delayMs = 0;
        uint32_t status = StallStatus;
        uint32_t shortBy = 1;
        DWORD error = ERROR_GEN_FAILURE;
    };

    // One call on the driver, in arrival order.
    struct Call
    {
        enum Kind
        {
            Ioctl,
            Cancel, // CancelIoEx
        };
        Kind kind = Ioctl;
        int device = -1;
        DWORD code = 0;
        bool unshared = false; // on a handle opened without sharing
        // Endpoint-0 records: the setup fields; abort requests: the endpoint address.
        uint8_t requestType = 0;
        uint8_t request = 0;
        uint16_t value = 0;
        uint16_t index = 0;
        uint16_t length = 0;
        uint8_t endpoint = 0;
        bool pended = false;    // left pending at first
        bool completed = false; // given back (at once or later)
        DWORD error = 0;        // of the completion: 0 or a system error code
        DWORD returned = 0;
        bool vendor() const { return code == EndpointZeroTransferRequest && (requestType & 0x60) == 0x40; }
    };

    SimulatedDriver();
    ~SimulatedDriver();
    SimulatedDriver(const SimulatedDriver&) = delete;
    SimulatedDriver& operator=(const SimulatedDriver&) = delete;

    // A camera as the emulator's testbed makes one (serial "QVC..." when the config has none), or any
    // device. Returns its index in the interface list, which is the order of adding.
    int addCamera(const flashwick::emu::CameraConfig& config = flashwick::emu::CameraConfig());
    int addDevice(const flashwick::emu::DeviceIdentity& identity, const flashwick::emu::CameraConfig& config);
    std::string devicePath(int device) const;
    // CreateFileA of this device fails with `error` (0: opens).
    void setOpenError(int device, DWORD error);

    // Runs `f` on the device's model with the driver's state locked.
    void withModel(int device, const std::function<void(flashwick::emu::UsbDeviceModel&)>& f);
    std::vector<uint8_t> flash(int device, uint32_t address, uint32_t length);

    void setFault(int device, const Fault& fault);
    // Every request (queries too) left pending and answered from the worker after delayMs; negative:
    // answered at once.
    void setPendingDelay(int delayMs);

    std::vector<Call> calls() const;
    void clearCalls();
    int openHandles(int device) const;
    int unsharedHandles(int device) const;
    int pendingRequests() const;
    int deviceSets() const; // device information sets not destroyed yet

private:
    struct Device;
    struct Handle;
    struct Pending;
    struct Answer;
    struct InfoSet;

    static SimulatedDriver* active;
    static HDEVINFO WINAPI getClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
    static BOOL WINAPI enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* classGuid,
                                            DWORD index, PSP_DEVICE_INTERFACE_DATA data);
    static BOOL WINAPI getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                PDWORD required, PSP_DEVINFO_DATA info);
    static BOOL WINAPI destroyDeviceInfoList(HDEVINFO set);
    static HANDLE WINAPI createFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile);
    static BOOL WINAPI deviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped);
    static BOOL WINAPI cancelIoEx(HANDLE h, LPOVERLAPPED overlapped);
    static BOOL WINAPI getOverlappedResult(HANDLE h, LPOVERLAPPED overlapped, LPDWORD returned, BOOL wait);
    static BOOL WINAPI closeHandle(HANDLE h);

    // Answer a request now (lock held), writing its output into `out`.
    Answer answer(Device& device, DWORD code, const uint8_t* in, DWORD inSize, uint8_t* out, DWORD outSize,
                  Call& call, const Fault& fault);
    Answer answerRecord(Device& device, const uint8_t* in, DWORD inSize, uint8_t* out, DWORD outSize,
                        const Fault& fault);
    void complete(Pending& p, DWORD error, DWORD returned); // lock held
    void abortPipe(int device);                             // lock held
    void run();

    mutable std::mutex lock;
    std::condition_variable wake;
    std::vector<std::unique_ptr<Device>> devices;
    std::map<HANDLE, Handle> handles;
    std::vector<std::unique_ptr<Pending>> pending;
    std::set<InfoSet*> sets;
    std::vector<Call> log;
    int pendingDelayMs = -1;
    bool stopping = false;
    UsbDriverApi table;
    const UsbDriverApi* previous = nullptr;
    std::thread worker;
};

#endif
