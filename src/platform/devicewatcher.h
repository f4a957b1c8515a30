// Reports every change in the set of attached USB and HID devices (Linux: a udev monitor).
#ifndef DEVICEWATCHER_H
#define DEVICEWATCHER_H

#include <QObject>

struct udev;
struct udev_monitor;
class QSocketNotifier;

class DeviceWatcher : public QObject
{
    Q_OBJECT
public:
    explicit DeviceWatcher(QObject* parent = nullptr);
    ~DeviceWatcher() override;
    bool isActive() const { return notifier != nullptr; }

signals:
    // Once per uevent, unfiltered.
    void deviceChanged();
    // For a "remove" uevent that names a device node, just before its deviceChanged.
    void deviceRemoved(const QString& node);

private:
    void readEvents();

    struct udev* udevContext = nullptr;
    struct udev_monitor* monitor = nullptr;
    QSocketNotifier* notifier = nullptr;
};

#endif
