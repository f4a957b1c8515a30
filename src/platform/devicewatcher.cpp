#include "devicewatcher.h"

#include <QFile>
#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <libudev.h>
#endif

DeviceWatcher::DeviceWatcher(QObject* parent) : QObject(parent)
{
#ifdef Q_OS_LINUX
    udevContext = udev_new();
    if (!udevContext)
        return;
    monitor = udev_monitor_new_from_netlink(udevContext, "udev");
    if (!monitor)
        return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr);
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(monitor) < 0)
        return;
    notifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &DeviceWatcher::readEvents);
#endif
}

DeviceWatcher::~DeviceWatcher()
{
#ifdef Q_OS_LINUX
    delete notifier;
    if (monitor)
        udev_monitor_unref(monitor);
    if (udevContext)
        udev_unref(udevContext);
#endif
}

void DeviceWatcher::readEvents()
{
#ifdef Q_OS_LINUX
    // Drain the socket: one signal per uevent received.
    while (struct udev_device* device = udev_monitor_receive_device(monitor)) {
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        const QString removed =
            action && node && qstrcmp(action, "remove") == 0 ? QFile::decodeName(node) : QString();
        udev_device_unref(device);
        if (!removed.isEmpty())
            emit deviceRemoved(removed);
        emit deviceChanged();
    }
#endif
}
