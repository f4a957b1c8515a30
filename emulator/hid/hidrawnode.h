// Pieces shared by the emulated hidraw devices: the sysfs record that hidapi-hidraw and libudev
// understand, the standard hidraw ioctls, and the device node as a FIFO in packet mode.
#ifndef HIDRAWNODE_H
#define HIDRAWNODE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <mutex>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace hidraw {

// Holds an optional mutex (the shared testbed's) for its scope.
class OptionalLock
{
public:
    explicit OptionalLock(std::mutex* mutex) : mutex(mutex)
    {
        if (mutex)
            mutex->lock();
    }
    ~OptionalLock()
    {
        if (mutex)
            mutex->unlock();
    }
    OptionalLock(const OptionalLock&) = delete;
    OptionalLock& operator=(const OptionalLock&) = delete;

private:
    std::mutex* mutex;
};

// Vendor usage page, one input and one output report of the given sizes, no report numbers.
QByteArray vendorReportDescriptor(int inputSize, int outputSize);

// Where a hidraw device sits and what it tells about itself.
struct Identity
{
    int hidrawIndex = 0; // /dev/hidraw<index>
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    QByteArray name;
    QByteArray serial;
    QByteArray manufacturer = "Quenvor";
    QByteArray reportDescriptor;
    // A USB device (with its node and descriptors, so libusb lists it too) and its HID interface as
    // ancestors, as a real wheel has; hidapi's vendor/product filter needs them.
    bool withUsbParent = true;
    // The USB device is /sys/devices/pci0000:00/<controller>/usb<bus>/<bus>-<port>.
    QString controller = QStringLiteral("0000:00:1a.0");
    int bus = 3;
    int port = 1;
    int devnum = 2;
    int hidSequence = 1;                // the NNNN of the HID device name VVVV:PPPP.NNNN
    QList<QByteArray> hidrawProperties; // further udev properties of the hidraw device, "KEY=VALUE"

    QString devicePath() const;    // /dev/hidrawN
    QString usbDevicePath() const; // sysfs, with /sys
    QString usbNodePath() const;   // /dev/bus/usb/BBB/DDD of the USB device
    // Device descriptor and configuration of the USB device: one HID interface (class 3) with an
    // interrupt IN and OUT endpoint, and no vendor-specific interface.
    QByteArray usbDescriptors() const;
    QString hidDevicePath() const;
    QString sysfsPath() const; // the hidraw device
    // The devices to add with umockdev_testbed_add_from_string(): when withUsbParent the USB device and
    // interface, then hid and hidraw (parents first).
    QByteArray record() const;
    // Sysfs paths of the devices of record(), children first (the order of removal).
    QStringList paths() const;
};

// Sends "remove" for the hidraw device and its USB device, and takes every device of
// identity.record() out of the testbed, children first. The caller holds the testbed's mutex when
// it is shared.
void removeFromTestbed(UMockdevTestbed* testbed, const Identity& identity);

// Watches the USB device node of a HID device. A wheel or its bootloader is reached through hidraw
// only, so nothing should open this node: every open and every ioctl is counted (ioctls are refused
// with ENOTTY).
class UsbNodeWatch
{
public:
    UsbNodeWatch(UMockdevTestbed* testbed, const QString& node, std::mutex* testbedMutex);
    ~UsbNodeWatch();
    UsbNodeWatch(const UsbNodeWatch&) = delete;
    UsbNodeWatch& operator=(const UsbNodeWatch&) = delete;
    int accesses() const { return count.load(); }

private:
    UMockdevTestbed* testbed;
    QString node;
    std::mutex* testbedMutex;
    UMockdevIoctlBase* handler = nullptr;
    std::atomic<int> count{0};
};

// Answers HIDIOCGRDESCSIZE, HIDIOCGRDESC, HIDIOCGRAWINFO and HIDIOCGRAWNAME; other requests get ENOTTY.
// Completes the client in every case.
void answerIoctl(UMockdevIoctlClient* client, const Identity& identity);

// Creates the node as a FIFO and opens it read-write in packet mode, so that each write() is read back
// as one report. Returns the descriptor, or -1 (with a warning).
int openPacketFifo(const QString& path);
// Unlinks the node and closes the descriptor (set to -1).
void closePacketFifo(const QString& path, int& fd);

} // namespace hidraw

#endif
