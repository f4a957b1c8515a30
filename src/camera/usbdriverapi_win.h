// The system calls the Windows backend of UsbDriverDevice makes on the chip vendor's driver and on
// the device interface set, as one table. The table in use is the system's own unless a test has put
// a simulated driver in its place; events, waits and the thread's last error stay the system's, so a
// replacement signals the caller's OVERLAPPED event with SetEvent and reports errors with
// SetLastError.
#ifndef USBDRIVERAPI_WIN_H
#define USBDRIVERAPI_WIN_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <setupapi.h>

struct UsbDriverApi
{
    decltype(&::SetupDiGetClassDevsA) getClassDevs;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
    decltype(&::CreateFileA) createFile;
    decltype(&::DeviceIoControl) deviceIoControl;
    decltype(&::CancelIoEx) cancelIoEx;
    decltype(&::GetOverlappedResult) getOverlappedResult;
    decltype(&::CloseHandle) closeHandle; // device handles only; events are closed directly
};

// The system's functions.
const UsbDriverApi& systemUsbDriverApi();
// The table the backend calls now.
const UsbDriverApi& usbDriverApi();
// Puts `api` in place (nullptr: the system's) and returns the table it replaces. The table must
// outlive its use; a test swaps it while no device is open.
const UsbDriverApi* setUsbDriverApi(const UsbDriverApi* api);

#endif
