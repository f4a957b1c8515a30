// flashwick-cameraprobe: a console check of the Windows camera transport on a real machine.
// Lists the devices of the camera driver's class, opens each, prints what open read and asks a
// camera (vendor id 0xA0A0) for its firmware version (vendor request 0xA2, one byte in). An FX3 chip
// in its USB boot loader (04B4:00F3, a camera without usable firmware, bound to the same driver) is
// named as such and sent nothing.
// Built by scripts/check-windows with mingw-w64; it uses no Qt.
#include "fx3.h"
#include "usbdriverdevice.h"

#include <cstdio>

int main()
{
    UsbDriverDevice device(CameraInterfaceGuid);
    const int count = device.deviceCount();
    std::printf("devices of the driver's class: %d\n", count);
    for (int i = 0; i < count; ++i) {
        if (!device.open(i)) {
            std::printf("[%d] open failed: %s\n", i, UsbDriverDevice::errorText(device.lastError()).c_str());
            continue;
        }
        std::printf("[%d] %s\n    name \"%s\", vendor %04X, product %04X, %s\n", i,
                    device.devicePath().c_str(), device.deviceName().c_str(), device.vendorId(),
                    device.productId(),
                    device.isSuperSpeed()  ? "SuperSpeed"
                    : device.isHighSpeed() ? "high speed"
                                           : "other speed");
        if (Fx3::isBootLoader(device.vendorId(), device.productId()))
            std::printf("    FX3 USB boot loader: a camera without usable firmware; Flashwick's "
                        "\"Recover Camera...\" brings it back\n");
        CCyControlEndPoint* ep = device.controlEndPoint();
        if (ep && device.vendorId() == 0xA0A0) {
            ep->target = CCyControlEndPoint::TargetDevice;
            ep->requestType = CCyControlEndPoint::RequestVendor;
            ep->direction = CCyControlEndPoint::DirectionFromDevice;
            ep->requestCode = 0xA2;
            ep->value = 0;
            ep->index = 0;
            ep->timeoutMs = 500;
            uint8_t version = 0;
            int length = 1;
            if (ep->transferData(&version, length) && length == 1)
                std::printf("    firmware version byte %u\n", unsigned(version));
            else
                std::printf("    firmware version request failed: %s\n",
                            UsbDriverDevice::errorText(ep->lastError).c_str());
        }
        device.close();
        if (!device.closeFailure().empty())
            std::printf("    %s\n", device.closeFailure().c_str());
    }
    return 0;
}
