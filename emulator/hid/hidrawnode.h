// Pieces shared by the emulated hidraw devices: the sysfs record that hidapi-hidraw and libudev
// understand, the standard hidraw ioctls, and the device node as a FIFO in packet mode.
#ifndef HIDRAWNODE_H
#define HIDRAWNODE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <mutex>

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
    bool withUsbParent = true; // a usb_device ancestor: hidapi's vendor/product filter needs it
    // The USB device is /sys/devices/pci0000:00/<controller>/usb<bus>/<bus>-<port>.
    QString controller = QStringLiteral("0000:00:1a.0");
    int bus = 3;
    int port = 1;
    int devnum = 2;
    int hidSequence = 1;                // the NNNN of the HID device name VVVV:PPPP.NNNN
    QList<QByteArray> hidrawProperties; // further udev properties of the hidraw device, "KEY=VALUE"

    QString devicePath() const;    // /dev/hidrawN
    QString usbDevicePath() const; // sysfs, with /sys
    QString hidDevicePath() const;
    QString sysfsPath() const; // the hidraw device
    // The devices to add with umockdev_testbed_add_from_string(): when withUsbParent the USB device and
    // interface, then hid and hidraw (parents first).
    QByteArray record() const;
    // Sysfs paths of the devices of record(), children first (the order of removal).
    QStringList paths() const;
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
