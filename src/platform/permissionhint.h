// Tells the user when a device could not be opened because its node is closed to them, and names
// the fix: the udev rules shipped with the program (60-flashwick.rules) and a re-plug.
//
// The main window logs the returned line right after its own error line; an empty result means
// the failure was not about permissions and nothing more is logged.
#ifndef PERMISSIONHINT_H
#define PERMISSIONHINT_H

#include <QString>
#include <QStringList>
#include <cstdint>

// The hint line for a device node that this user may not read and write (access() fails with
// EACCES or EPERM); empty when the node is accessible, missing or empty. The text is translated in
// the MainWindow context.
QString permissionHintForNode(const QString& devNode);

// The first non-empty hint of the nodes, in their order.
QString permissionHintForNodes(const QStringList& devNodes);

// The /dev/bus/usb/BBB/DDD node of a camera, from the path the camera list reports
// ("usb:<bus>-<port path>", or "usb:<bus>-addr<address>"); empty when no such device is present.
QString usbDeviceNode(const QString& cameraPath);

// /dev/bus/usb/BBB/DDD nodes of the present USB devices of a vendor, sorted by name.
QStringList usbDeviceNodes(uint16_t vendorId);

// /dev/bus/usb/BBB/DDD nodes of the present USB devices the camera scan takes for cameras: vendor
// 0xA0A0 with a vendor-specific interface (so neither a filter wheel nor its bootloader), decided
// from the descriptors the kernel caches. Sorted by name.
QStringList cameraDeviceNodes();

// /dev/hidrawN nodes of the present HID devices of a vendor (and product, unless productId < 0),
// sorted by name.
QStringList hidrawNodes(uint16_t vendorId, int productId = -1);

// Convenience forms for the three places that open devices.
// Camera: the path from the camera list (QVRUsb::cameraList().paths).
QString cameraPermissionHint(const QString& cameraPath);
// Camera scan: the camera enumeration opens each device to read its name, so a camera the user may
// not open is not listed at all and no open failure ever follows. This names the first camera
// (cameraDeviceNodes), or FX3 chip in its USB boot loader (04B4:00F3), whose node is closed to the
// user.
QString cameraScanPermissionHint();
// Wheel bootloader: the hidraw path hidapi reports (DevizuvEZWriteFWObject::GetBootloadPath()).
QString bootloaderPermissionHint(const QString& hidPath);
// Wheel: the wheel library does not report its node, so every Quenvor (0xA0A0) hidraw node counts.
QString wheelPermissionHint();

#endif
