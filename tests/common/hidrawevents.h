// Reading hidraw uevents in tests.
#ifndef HIDRAWEVENTS_H
#define HIDRAWEVENTS_H

#include <QByteArray>
#include <libudev.h>
#include <poll.h>

// The next event of the monitor as "action devnode", or empty after timeoutMs.
inline QByteArray nextEvent(udev_monitor* monitor, int timeoutMs = 3000)
{
    pollfd fd{udev_monitor_get_fd(monitor), POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) != 1)
        return QByteArray();
    udev_device* device = udev_monitor_receive_device(monitor);
    if (!device)
        return QByteArray();
    const QByteArray event =
        QByteArray(udev_device_get_action(device)) + ' ' + QByteArray(udev_device_get_devnode(device));
    udev_device_unref(device);
    return event;
}

#endif
