#include "usbdriverapi_win.h"

#include <atomic>

namespace {

std::atomic<const UsbDriverApi*>& current()
{
    static std::atomic<const UsbDriverApi*> api{&systemUsbDriverApi()};
    return api;
}

} // namespace

const UsbDriverApi& systemUsbDriverApi()
{
    static const UsbDriverApi api = {&::SetupDiGetClassDevsA,
                                     &::SetupDiEnumDeviceInterfaces,
                                     &::SetupDiGetDeviceInterfaceDetailA,
                                     &::SetupDiDestroyDeviceInfoList,
                                     &::CreateFileA,
                                     &::DeviceIoControl,
                                     &::CancelIoEx,
                                     &::GetOverlappedResult,
                                     &::CloseHandle};
    return api;
}

const UsbDriverApi& usbDriverApi()
{
    return *current().load();
}

const UsbDriverApi* setUsbDriverApi(const UsbDriverApi* api)
{
    return current().exchange(api ? api : &systemUsbDriverApi());
}
