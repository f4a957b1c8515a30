#include "permissionhint.h"

#include "usbdescriptors.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <libudev.h>
#endif

QString permissionHintForNode(const QString& devNode)
{
    if (devNode.isEmpty())
        return QString();
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(devNode);
    if (::access(native.constData(), R_OK | W_OK) == 0)
        return QString();
    if (errno != EACCES && errno != EPERM)
        return QString();
    return QCoreApplication::translate(
               "MainWindow",
               "Permission denied on %1: install 60-flashwick.rules (see README) and re-plug the device.")
        .arg(devNode);
#else
    return QString();
#endif
}

QString permissionHintForNodes(const QStringList& devNodes)
{
    for (const QString& node : devNodes) {
        const QString hint = permissionHintForNode(node);
        if (!hint.isEmpty())
            return hint;
    }
    return QString();
}

#ifdef Q_OS_LINUX
namespace {

struct Udev
{
    struct udev* context = udev_new();
    ~Udev()
    {
        if (context)
            udev_unref(context);
    }
};

QString nodeOf(struct udev_device* device)
{
    const char* node = udev_device_get_devnode(device);
    if (node && *node)
        return QFile::decodeName(node);
    // No DEVNAME: the node follows from the bus and device numbers.
    const char* bus = udev_device_get_sysattr_value(device, "busnum");
    const char* address = udev_device_get_sysattr_value(device, "devnum");
    if (!bus || !address)
        return QString();
    return QStringLiteral("/dev/bus/usb/%1/%2")
        .arg(QByteArray(bus).trimmed().toInt(), 3, 10, QLatin1Char('0'))
        .arg(QByteArray(address).trimmed().toInt(), 3, 10, QLatin1Char('0'));
}

int sysattrNumber(struct udev_device* device, const char* name)
{
    const char* value = udev_device_get_sysattr_value(device, name);
    bool ok = false;
    const int number = value ? QByteArray(value).trimmed().toInt(&ok) : 0;
    return ok ? number : -1;
}

// HID_ID is "BBBB:VVVVVVVV:PPPPPPPP" (bus, vendor, product in hex).
bool parseHidId(const char* hidId, uint16_t& vendor, uint16_t& product)
{
    if (!hidId)
        return false;
    const QList<QByteArray> parts = QByteArray(hidId).split(':');
    if (parts.size() != 3)
        return false;
    bool okVendor = false, okProduct = false;
    const uint vendorValue = parts[1].toUInt(&okVendor, 16);
    const uint productValue = parts[2].toUInt(&okProduct, 16);
    if (!okVendor || !okProduct || vendorValue > 0xFFFF || productValue > 0xFFFF)
        return false;
    vendor = uint16_t(vendorValue);
    product = uint16_t(productValue);
    return true;
}

// Calls visit(device) for every USB device (not interface) until it returns true.
template <typename Visit> void forEachUsbDevice(struct udev* context, Visit visit)
{
    struct udev_enumerate* enumerate = udev_enumerate_new(context);
    if (!enumerate)
        return;
    udev_enumerate_add_match_subsystem(enumerate, "usb");
    udev_enumerate_add_match_property(enumerate, "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(enumerate);
    struct udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        struct udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!device)
            continue;
        const bool stop = visit(device);
        udev_device_unref(device);
        if (stop)
            break;
    }
    udev_enumerate_unref(enumerate);
}

// Nodes of the present USB devices of a vendor that `accept` takes, sorted by name.
template <typename Accept> QStringList usbNodesOf(uint16_t vendorId, Accept accept)
{
    QStringList nodes;
    Udev udev;
    if (!udev.context)
        return nodes;
    forEachUsbDevice(udev.context, [&](struct udev_device* device) {
        const char* vendor = udev_device_get_sysattr_value(device, "idVendor");
        bool ok = false;
        if (vendor && QByteArray(vendor).trimmed().toUInt(&ok, 16) == vendorId && ok && accept(device)) {
            const QString node = nodeOf(device);
            if (!node.isEmpty())
                nodes.append(node);
        }
        return false;
    });
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

} // namespace

QString usbDeviceNode(const QString& cameraPath)
{
    if (!cameraPath.startsWith(QLatin1String("usb:")))
        return QString();
    const QString name = cameraPath.mid(4); // "<bus>-<port path>" or "<bus>-addr<n>"
    const int dash = name.indexOf(QLatin1Char('-'));
    if (dash <= 0)
        return QString();
    bool ok = false;
    const int bus = name.left(dash).toInt(&ok);
    if (!ok)
        return QString();
    const QString rest = name.mid(dash + 1);
    int address = -1;
    if (rest.startsWith(QLatin1String("addr"))) {
        address = rest.mid(4).toInt(&ok);
        if (!ok)
            return QString();
    }

    Udev udev;
    if (!udev.context)
        return QString();
    QString node;
    if (address < 0) {
        // The port path is the device's sysfs name.
        struct udev_device* device =
            udev_device_new_from_subsystem_sysname(udev.context, "usb", name.toLatin1().constData());
        if (device) {
            if (qstrcmp(udev_device_get_devtype(device), "usb_device") == 0)
                node = nodeOf(device);
            udev_device_unref(device);
        }
        return node;
    }

    forEachUsbDevice(udev.context, [&](struct udev_device* device) {
        if (sysattrNumber(device, "busnum") == bus && sysattrNumber(device, "devnum") == address)
            node = nodeOf(device);
        return !node.isEmpty();
    });
    return node;
}

QStringList usbDeviceNodes(uint16_t vendorId)
{
    return usbNodesOf(vendorId, [](struct udev_device*) { return true; });
}

QStringList cameraDeviceNodes()
{
    return usbNodesOf(0xA0A0, [](struct udev_device* device) {
        // The descriptors the kernel caches, read as a file: the attribute is binary.
        QFile file(QFile::decodeName(udev_device_get_syspath(device)) + QLatin1String("/descriptors"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = file.read(65536);
        return UsbDescriptors::isCameraClassDescriptors(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                        size_t(bytes.size()));
    });
}

QStringList hidrawNodes(uint16_t vendorId, int productId)
{
    QStringList nodes;
    Udev udev;
    if (!udev.context)
        return nodes;
    struct udev_enumerate* enumerate = udev_enumerate_new(udev.context);
    if (!enumerate)
        return nodes;
    udev_enumerate_add_match_subsystem(enumerate, "hidraw");
    udev_enumerate_scan_devices(enumerate);
    struct udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        struct udev_device* device =
            udev_device_new_from_syspath(udev.context, udev_list_entry_get_name(entry));
        if (!device)
            continue;
        // The parent is not referenced separately: it lives as long as the child.
        struct udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
        uint16_t vendor = 0, product = 0;
        if (hid && parseHidId(udev_device_get_property_value(hid, "HID_ID"), vendor, product) &&
            vendor == vendorId && (productId < 0 || product == productId)) {
            const char* node = udev_device_get_devnode(device);
            if (node && *node)
                nodes.append(QFile::decodeName(node));
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

namespace {

// FX3 chips in their USB boot loader (cameras without firmware).
QStringList bootLoaderDeviceNodes()
{
    return usbNodesOf(0x04B4, [](struct udev_device* device) {
        const char* product = udev_device_get_sysattr_value(device, "idProduct");
        bool ok = false;
        return product && QByteArray(product).trimmed().toUInt(&ok, 16) == 0x00F3 && ok;
    });
}

} // namespace

#else

QString usbDeviceNode(const QString&)
{
    return QString();
}

namespace {

QStringList bootLoaderDeviceNodes()
{
    return QStringList();
}

} // namespace

QStringList usbDeviceNodes(uint16_t)
{
    return QStringList();
}

QStringList cameraDeviceNodes()
{
    return QStringList();
}

QStringList hidrawNodes(uint16_t, int)
{
    return QStringList();
}

#endif

QString cameraPermissionHint(const QString& cameraPath)
{
    return permissionHintForNode(usbDeviceNode(cameraPath));
}

QString cameraScanPermissionHint()
{
    // The scan also looks for FX3 chips in their USB boot loader.
    return permissionHintForNodes(cameraDeviceNodes() + bootLoaderDeviceNodes());
}

QString bootloaderPermissionHint(const QString& hidPath)
{
    return permissionHintForNode(hidPath);
}

QString wheelPermissionHint()
{
    return permissionHintForNodes(hidrawNodes(0xA0A0));
}
