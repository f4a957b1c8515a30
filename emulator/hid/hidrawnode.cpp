#include "hidrawnode.h"

#include <umockdev.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hidraw {

QByteArray vendorReportDescriptor(int inputSize, int outputSize)
{
    const uint8_t bytes[] = {
        0x06, 0x00,
        0xFF,       // Usage Page (vendor 0xFF00)
        0x09, 0x01, // Usage (1)
        0xA1, 0x01, // Collection (application)
        0x15, 0x00, //   Logical Minimum (0)
        0x26, 0xFF,
        0x00,                      //   Logical Maximum (255)
        0x75, 0x08,                //   Report Size (8)
        0x95, uint8_t(inputSize),  //   Report Count
        0x09, 0x01,                //   Usage (1)
        0x81, 0x02,                //   Input (data, variable, absolute)
        0x95, uint8_t(outputSize), //   Report Count
        0x09, 0x01,                //   Usage (1)
        0x91, 0x02,                //   Output (data, variable, absolute)
        0xC0,                      // End Collection
    };
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

QString Identity::devicePath() const
{
    return QStringLiteral("/dev/hidraw%1").arg(hidrawIndex);
}

QString Identity::usbDevicePath() const
{
    return QStringLiteral("/sys/devices/pci0000:00/%1/usb%2/%2-%3").arg(controller).arg(bus).arg(port);
}

QString Identity::hidDevicePath() const
{
    const QString id = QStringLiteral("0003:%1:%2.%3")
                           .arg(vendorId, 4, 16, QLatin1Char('0'))
                           .arg(productId, 4, 16, QLatin1Char('0'))
                           .arg(hidSequence, 4, 16, QLatin1Char('0'))
                           .toUpper();
    if (withUsbParent)
        return usbDevicePath() + QStringLiteral("/%1-%2:1.0/").arg(bus).arg(port) + id;
    return QStringLiteral("/sys/devices/virtual/misc/uhid/") + id;
}

QString Identity::sysfsPath() const
{
    return hidDevicePath() + QStringLiteral("/hidraw/hidraw%1").arg(hidrawIndex);
}

QString Identity::usbNodePath() const
{
    return QStringLiteral("/dev/bus/usb/%1/%2")
        .arg(bus, 3, 10, QLatin1Char('0'))
        .arg(devnum, 3, 10, QLatin1Char('0'));
}

QByteArray Identity::usbDescriptors() const
{
    auto le16 = [](QByteArray& b, int value) {
        b += char(value & 0xFF);
        b += char((value >> 8) & 0xFF);
    };
    QByteArray d;
    d += char(18);
    d += char(1);
    le16(d, 0x0200);
    d += QByteArray(3, '\0'); // class given per interface
    d += char(64);            // endpoint-0 packet size
    le16(d, vendorId);
    le16(d, productId);
    le16(d, 0x0100);
    d += char(1);
    d += char(2);
    d += char(serial.isEmpty() ? 0 : 3);
    d += char(1); // configurations

    QByteArray c;
    c += char(9);
    c += char(2);
    le16(c, 0); // total length, set below
    c += char(1);
    c += char(1);
    c += char(0);
    c += char(0x80);
    c += char(50); // 100 mA
    const char interface[] = {9, 4, 0, 0, 2, 3 /*HID*/, 0, 0, 0};
    c += QByteArray(interface, sizeof interface);
    c += char(9);
    c += char(0x21); // HID descriptor
    le16(c, 0x0111);
    c += char(0);
    c += char(1);
    c += char(0x22); // one report descriptor
    le16(c, reportDescriptor.size());
    for (const char address : {char(0x81), char(0x01)}) {
        c += char(7);
        c += char(5);
        c += address;
        c += char(3); // interrupt
        le16(c, 64);
        c += char(1);
    }
    c[2] = char(c.size() & 0xFF);
    c[3] = char(c.size() >> 8);
    return d + c;
}

static QByteArray hex4(uint16_t value)
{
    return QByteArray::number(value, 16).rightJustified(4, '0');
}

// Parents first: umockdev adds the blocks in order and sends each "add" as it goes, so a client that
// enumerates on the hidraw device's event finds its ancestors complete.
QByteArray Identity::record() const
{
    QByteArray descriptor;
    for (char b : reportDescriptor)
        descriptor += QByteArray::number(uint8_t(b), 16).rightJustified(2, '0') + ' ';

    QByteArray r;
    if (withUsbParent) {
        const QByteArray usb = usbDevicePath().mid(4).toLatin1();
        const QByteArray port = QByteArray::number(bus) + '-' + QByteArray::number(this->port);
        const QByteArray node = usbNodePath().toLatin1();
        const int minor = (bus - 1) * 128 + devnum - 1;
        r += "P: " + usb + "\n";
        r += "N: " + node.mid(5) + "\n";
        r += "E: DEVNAME=" + node + "\n";
        r += "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n";
        r += "E: BUSNUM=" + node.mid(13, 3) + "\nE: DEVNUM=" + node.mid(17, 3) + "\n";
        r += "E: MAJOR=189\nE: MINOR=" + QByteArray::number(minor) + "\n";
        r += "E: PRODUCT=" + QByteArray::number(vendorId, 16) + '/' + QByteArray::number(productId, 16) +
             "/100\n";
        r += "A: dev=189:" + QByteArray::number(minor) + "\n";
        r += "A: idVendor=" + hex4(vendorId) + "\nA: idProduct=" + hex4(productId) + "\nA: bcdDevice=0100\n";
        r += "A: manufacturer=" + manufacturer + "\n";
        r += "A: product=" + name + "\n";
        r += "A: serial=" + serial + "\n";
        r += "A: busnum=" + QByteArray::number(bus) + "\nA: devnum=" + QByteArray::number(devnum) + "\n";
        r += "A: bConfigurationValue=1\nA: bNumConfigurations=1\nA: bNumInterfaces= 1\n";
        r += "A: bDeviceClass=00\nA: bMaxPacketSize0=64\nA: version= 2.00\n";
        r += "A: speed=12\n";
        r += "H: descriptors=" + usbDescriptors().toHex().toUpper() + "\n\n";

        r += "P: " + usb + "/" + port + ":1.0\n";
        r += "E: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\n";
        r += "A: bInterfaceNumber=00\nA: bInterfaceClass=03\nA: bInterfaceSubClass=00\n"
             "A: bInterfaceProtocol=00\nA: bNumEndpoints=02\n\n";
    }

    r += "P: " + hidDevicePath().mid(4).toLatin1() + "\n";
    r += "E: DRIVER=hid-generic\n";
    r += "E: HID_ID=0003:0000" + hex4(vendorId).toUpper() + ":0000" + hex4(productId).toUpper() + "\n";
    r += "E: HID_NAME=" + name + "\n";
    r += "E: HID_UNIQ=" + serial + "\n";
    r += "E: SUBSYSTEM=hid\n";
    r += "H: report_descriptor=" + descriptor.trimmed() + "\n\n";

    r += "P: " + sysfsPath().mid(4).toLatin1() + "\n";
    r += "E: DEVNAME=" + devicePath().toLatin1() + "\n";
    r += "E: SUBSYSTEM=hidraw\n";
    for (const QByteArray& property : hidrawProperties)
        r += "E: " + property + "\n";
    r += "E: MAJOR=241\nE: MINOR=" + QByteArray::number(hidrawIndex) + "\n";
    r += "A: dev=241:" + QByteArray::number(hidrawIndex) + "\n";
    r += "L: device=../..\n\n"; // hidapi reads the parent's uevent through this link when filtering
    return r;
}

QStringList Identity::paths() const
{
    QStringList list{sysfsPath(), hidDevicePath()};
    if (withUsbParent)
        list << usbDevicePath() + QStringLiteral("/%1-%2:1.0").arg(bus).arg(port) << usbDevicePath();
    return list;
}

void removeFromTestbed(UMockdevTestbed* testbed, const Identity& identity)
{
    // The events device watchers act on: the hidraw node's and the USB device's (libusb drops it).
    const QStringList paths = identity.paths();
    umockdev_testbed_uevent(testbed, identity.sysfsPath().toLatin1().constData(), "remove");
    if (identity.withUsbParent)
        umockdev_testbed_uevent(testbed, identity.usbDevicePath().toLatin1().constData(), "remove");
    for (const QString& path : paths)
        umockdev_testbed_remove_device(testbed, path.toLatin1().constData());
}

namespace {
void onUsbNodeConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer count)
{
    ++*static_cast<std::atomic<int>*>(count);
}

gboolean onUsbNodeIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer count)
{
    ++*static_cast<std::atomic<int>*>(count);
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}
} // namespace

UsbNodeWatch::UsbNodeWatch(UMockdevTestbed* testbed, const QString& node, std::mutex* testbedMutex)
    : testbed(testbed), node(node), testbedMutex(testbedMutex)
{
    handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "client-connected", G_CALLBACK(onUsbNodeConnected), &count);
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onUsbNodeIoctl), &count);
    OptionalLock lock(testbedMutex);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node.toLocal8Bit().constData(), handler, &error)) {
        qWarning("hidraw: cannot watch %s: %s", qPrintable(node), error ? error->message : "");
        g_clear_error(&error);
    }
}

UsbNodeWatch::~UsbNodeWatch()
{
    {
        OptionalLock lock(testbedMutex);
        umockdev_testbed_detach_ioctl(testbed, node.toLocal8Bit().constData(), nullptr);
    }
    g_signal_handlers_disconnect_by_data(handler, &count);
    g_object_unref(handler);
}

// Copies bytes into the client's buffer behind the ioctl argument.
static bool putIoctlData(UMockdevIoctlClient* client, const void* bytes, size_t length)
{
    GError* error = nullptr;
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, length, &error);
    if (!data) {
        g_clear_error(&error);
        return false;
    }
    memcpy(data->data, bytes, length);
    g_object_unref(data);
    return true;
}

void answerIoctl(UMockdevIoctlClient* client, const Identity& identity)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const QByteArray& rd = identity.reportDescriptor;
    bool done = false;
    long result = 0;
    if (request == HIDIOCGRDESCSIZE) {
        const int size = rd.size();
        done = putIoctlData(client, &size, sizeof size);
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor{};
        descriptor.size = uint32_t(qMin(rd.size(), HID_MAX_DESCRIPTOR_SIZE));
        memcpy(descriptor.value, rd.constData(), descriptor.size);
        done = putIoctlData(client, &descriptor, sizeof descriptor);
    } else if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = BUS_USB;
        info.vendor = int16_t(identity.vendorId);
        info.product = int16_t(identity.productId);
        done = putIoctlData(client, &info, sizeof info);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0))) {
        const size_t room = _IOC_SIZE(request);
        QByteArray name = identity.name.left(int(room > 0 ? room - 1 : 0));
        name.append('\0');
        done = room > 0 && putIoctlData(client, name.constData(), size_t(name.size()));
        result = name.size();
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
    if (done)
        umockdev_ioctl_client_complete(client, result, 0);
    else
        umockdev_ioctl_client_complete(client, -1, EFAULT);
}

int openPacketFifo(const QString& path)
{
    const QByteArray fifo = QFile::encodeName(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    ::unlink(fifo.constData());
    if (::mkfifo(fifo.constData(), 0666) != 0) {
        qWarning("hidraw: mkfifo %s: %s", fifo.constData(), strerror(errno));
        return -1;
    }
    // Opened read-write so that it never blocks and never sees a broken pipe; O_DIRECT makes each
    // write one packet, so every reply is read back as exactly one report.
    const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::fcntl(fd, F_SETFL, O_RDWR | O_NONBLOCK | O_DIRECT) != 0) {
        qWarning("hidraw: cannot open %s: %s", fifo.constData(), strerror(errno));
        if (fd >= 0)
            ::close(fd);
        ::unlink(fifo.constData());
        return -1;
    }
    return fd;
}

void closePacketFifo(const QString& path, int& fd)
{
    ::unlink(QFile::encodeName(path).constData());
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace hidraw
