#include "wheelbootloadermodel.h"

#include <umockdev.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Vendor page, one 48-byte input report and one 48-byte output report, no report numbers.
const uint8_t reportDescriptor[] = {
    0x06, 0x00, 0xFF, // Usage Page (vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (application)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x30,       //   Report Count (48)
    0x09, 0x01,       //   Usage (1)
    0x81, 0x02,       //   Input (data, variable, absolute)
    0x95, 0x30,       //   Report Count (48)
    0x09, 0x01,       //   Usage (1)
    0x91, 0x02,       //   Output (data, variable, absolute)
    0xC0,             // End Collection
};

QByteArray oldFirmware()
{
    QByteArray bytes(WheelBootloaderModel::FlashSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7 + 3) & 0xFF);
    return bytes;
}

} // namespace

// Holds the shared testbed mutex, when there is one, around umockdev_testbed_* calls.
class TestbedLock
{
public:
    explicit TestbedLock(std::mutex* mutex) : mutex(mutex)
    {
        if (mutex)
            mutex->lock();
    }
    ~TestbedLock()
    {
        if (mutex)
            mutex->unlock();
    }
    TestbedLock(const TestbedLock&) = delete;
    TestbedLock& operator=(const TestbedLock&) = delete;

private:
    std::mutex* mutex;
};

WheelBootloaderModel::WheelBootloaderModel(UMockdevTestbed* testbed)
    : WheelBootloaderModel(testbed, Options())
{
}

WheelBootloaderModel::WheelBootloaderModel(UMockdevTestbed* testbed, const Options& options,
                                           std::mutex* testbedMutex)
    : testbed(testbed), options(options), testbedMutex(testbedMutex), flashContents(oldFirmware())
{
    handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(handler, "handle-write", G_CALLBACK(onWrite), this);
    {
        TestbedLock lock(testbedMutex);
        char* root = umockdev_testbed_get_root_dir(testbed);
        fifoPath = QString::fromLocal8Bit(root) + "/dev/hidraw" + QString::number(options.hidrawIndex);
        g_free(root);
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed, devicePath().toLocal8Bit().constData(), handler,
                                           &error)) {
            qWarning("WheelBootloaderModel: cannot attach to %s: %s", qPrintable(devicePath()),
                     error->message);
            g_clear_error(&error);
        }
    }
    worker = std::thread([this] { runTasks(); });
}

WheelBootloaderModel::~WheelBootloaderModel()
{
    {
        std::lock_guard<std::mutex> lock(taskMutex);
        stopping = true;
    }
    taskWake.notify_all();
    worker.join();
    unplug();
    {
        TestbedLock lock(testbedMutex);
        umockdev_testbed_detach_ioctl(testbed, devicePath().toLocal8Bit().constData(), nullptr);
    }
    g_signal_handlers_disconnect_by_data(handler, this);
    g_object_unref(handler);
}

void WheelBootloaderModel::runTasks()
{
    std::unique_lock<std::mutex> lock(taskMutex);
    for (;;) {
        if (tasks.empty()) {
            if (stopping)
                return;
            taskWake.wait(lock);
            continue;
        }
        auto next = std::min_element(tasks.begin(), tasks.end(),
                                     [](const Task& a, const Task& b) { return a.due < b.due; });
        if (stopping) {
            tasks.clear(); // a removal still pending is finished by unplug() in the destructor
            continue;
        }
        if (next->due > std::chrono::steady_clock::now()) {
            taskWake.wait_until(lock, next->due);
            continue;
        }
        const Task task = *next;
        tasks.erase(next);
        lock.unlock();
        if (task.plug)
            plug();
        else
            finishPendingRemoval();
        lock.lock();
    }
}

QString WheelBootloaderModel::devicePath() const
{
    return QStringLiteral("/dev/hidraw%1").arg(options.hidrawIndex);
}

// Bus 3 of a controller of its own, clear of the ports the camera emulation hands out.
static QString usbDevicePath(int index)
{
    return QStringLiteral("/sys/devices/pci0000:00/0000:00:1a.0/usb3/3-%1").arg(index + 1);
}

static QString hidDevicePath(int index, bool withUsb)
{
    const QString id = QStringLiteral("0003:A0A0:F000.%1").arg(index + 1, 4, 16, QLatin1Char('0')).toUpper();
    if (withUsb)
        return usbDevicePath(index) + QStringLiteral("/3-%1:1.0/").arg(index + 1) + id;
    return QStringLiteral("/sys/devices/virtual/misc/uhid/") + id;
}

QString WheelBootloaderModel::sysfsPath() const
{
    return hidDevicePath(options.hidrawIndex, options.withUsbParent) +
           QStringLiteral("/hidraw/hidraw%1").arg(options.hidrawIndex);
}

QByteArray WheelBootloaderModel::deviceRecord() const
{
    const int index = options.hidrawIndex;
    const QByteArray hid = hidDevicePath(index, options.withUsbParent).mid(4).toLatin1(); // without /sys
    QByteArray descriptor;
    for (uint8_t b : reportDescriptor)
        descriptor += QByteArray::number(b, 16).rightJustified(2, '0') + ' ';

    QByteArray record;
    record += "P: " + sysfsPath().mid(4).toLatin1() + "\n";
    record += "E: DEVNAME=" + devicePath().toLatin1() + "\n";
    record += "E: SUBSYSTEM=hidraw\n";
    record += "E: MAJOR=241\nE: MINOR=" + QByteArray::number(index) + "\n";
    record += "A: dev=241:" + QByteArray::number(index) + "\n";
    record += "L: device=../..\n\n"; // hidapi reads the parent's uevent through this link when filtering

    record += "P: " + hid + "\n";
    record += "E: DRIVER=hid-generic\n";
    record += "E: HID_ID=0003:0000A0A0:0000F000\n";
    record += "E: HID_NAME=" + options.name + "\n";
    record += "E: HID_UNIQ=" + options.serial + "\n";
    record += "E: SUBSYSTEM=hid\n";
    record += "H: report_descriptor=" + descriptor.trimmed() + "\n\n";

    if (options.withUsbParent) {
        const QByteArray usb = usbDevicePath(index).mid(4).toLatin1();
        record += "P: " + usb + "/3-" + QByteArray::number(index + 1) + ":1.0\n";
        record += "E: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\n";
        record += "A: bInterfaceNumber=00\nA: bInterfaceClass=03\n\n";

        record += "P: " + usb + "\n";
        record += "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n";
        record += "E: PRODUCT=a0a0/f000/100\n";
        record += "A: idVendor=a0a0\nA: idProduct=f000\nA: bcdDevice=0100\n";
        record += "A: manufacturer=Quenvor\n";
        record += "A: product=" + options.name + "\n";
        record += "A: serial=" + options.serial + "\n";
        record += "A: busnum=3\nA: devnum=" + QByteArray::number(index + 2) + "\n";
        record += "A: speed=12\n\n";
    }
    return record;
}

bool WheelBootloaderModel::plug()
{
    std::lock_guard<std::mutex> ops(opsMutex);
    if (removalPending.exchange(false))
        removeFromTestbed(true);
    const QByteArray fifo = QFile::encodeName(fifoPath);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (present)
            return false;
        QDir().mkpath(QFileInfo(fifoPath).absolutePath());
        ::unlink(fifo.constData());
        if (::mkfifo(fifo.constData(), 0666) != 0) {
            qWarning("WheelBootloaderModel: mkfifo %s: %s", fifo.constData(), strerror(errno));
            return false;
        }
        // Opened read-write so that it never blocks and never sees a broken pipe; O_DIRECT makes each
        // write one packet, so every reply is read back as exactly one report.
        fifoFd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fifoFd < 0 || ::fcntl(fifoFd, F_SETFL, O_RDWR | O_NONBLOCK | O_DIRECT) != 0) {
            qWarning("WheelBootloaderModel: cannot open %s: %s", fifo.constData(), strerror(errno));
            closeNodeLocked();
            return false;
        }
        present = true;
        newFirmware = false;
    }

    GError* error = nullptr;
    bool added = false;
    {
        TestbedLock lock(testbedMutex);
        added = umockdev_testbed_add_from_string(testbed, deviceRecord().constData(), &error);
    }
    if (!added) {
        qWarning("WheelBootloaderModel: cannot add the device: %s", error ? error->message : "");
        g_clear_error(&error);
        std::lock_guard<std::mutex> lock(mutex);
        present = false;
        closeNodeLocked();
        return false;
    }
    return true;
}

void WheelBootloaderModel::plugAfter(int delayMs)
{
    {
        std::lock_guard<std::mutex> lock(taskMutex);
        tasks.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), true});
    }
    taskWake.notify_all();
}

void WheelBootloaderModel::unplug()
{
    std::lock_guard<std::mutex> ops(opsMutex);
    bool wasPresent = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wasPresent = present;
        present = false;
        closeNodeLocked();
    }
    if (removalPending.exchange(false) || wasPresent)
        removeFromTestbed(true);
}

// The node goes at once, so that clients see the departure; the caller holds `mutex`.
void WheelBootloaderModel::closeNodeLocked()
{
    ::unlink(QFile::encodeName(fifoPath).constData());
    if (fifoFd >= 0)
        ::close(fifoFd);
    fifoFd = -1;
}

void WheelBootloaderModel::finishPendingRemoval()
{
    std::lock_guard<std::mutex> ops(opsMutex);
    if (removalPending.exchange(false))
        removeFromTestbed(true);
}

// "remove" first, then the devices, children first; the caller holds `opsMutex`, and the testbed
// mutex too when lockTestbed is false.
void WheelBootloaderModel::removeFromTestbed(bool lockTestbed)
{
    QStringList paths{sysfsPath(), hidDevicePath(options.hidrawIndex, options.withUsbParent)};
    if (options.withUsbParent) {
        paths << usbDevicePath(options.hidrawIndex) + QStringLiteral("/3-%1:1.0").arg(options.hidrawIndex + 1)
              << usbDevicePath(options.hidrawIndex);
    }
    TestbedLock lock(lockTestbed ? testbedMutex : nullptr);
    umockdev_testbed_uevent(testbed, sysfsPath().toLatin1().constData(), "remove");
    for (const QString& path : paths)
        umockdev_testbed_remove_device(testbed, path.toLatin1().constData());
}

bool WheelBootloaderModel::isPresent() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return present;
}

void WheelBootloaderModel::setFault(Fault kind, uint8_t onlyCode, int afterCommands, uint8_t result)
{
    std::lock_guard<std::mutex> lock(mutex);
    fault = kind;
    faultCode = onlyCode;
    faultAfter = afterCommands;
    faultResult = result;
}

void WheelBootloaderModel::setUnplugAfter(int commands)
{
    std::lock_guard<std::mutex> lock(mutex);
    unplugAfter = commands;
}

void WheelBootloaderModel::setReplyBeforeRun(bool reply)
{
    std::lock_guard<std::mutex> lock(mutex);
    replyBeforeRun = reply;
}

QByteArray WheelBootloaderModel::flash() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return flashContents;
}

void WheelBootloaderModel::setFlash(const QByteArray& contents)
{
    std::lock_guard<std::mutex> lock(mutex);
    flashContents.replace(0, qMin(contents.size(), flashContents.size()),
                          contents.left(flashContents.size()));
}

QVector<WheelBootloaderModel::Command> WheelBootloaderModel::commands() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

void WheelBootloaderModel::clearCommands()
{
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
    commandNumber = 0;
}

bool WheelBootloaderModel::runningNewFirmware() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return newFirmware;
}

uint32_t WheelBootloaderModel::imageSum(const QByteArray& bytes)
{
    uint32_t sum = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    for (int i = 0; i + 3 < bytes.size(); i += 4)
        sum += uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 | uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 3]) << 24;
    return sum;
}

int WheelBootloaderModel::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    return static_cast<WheelBootloaderModel*>(self)->handleIoctl(client);
}

int WheelBootloaderModel::onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    return static_cast<WheelBootloaderModel*>(self)->handleWrite(client);
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

bool WheelBootloaderModel::handleIoctl(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!present) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
    }
    bool done = false;
    long result = 0;
    if (request == HIDIOCGRDESCSIZE) {
        const int size = sizeof(reportDescriptor);
        done = putIoctlData(client, &size, sizeof size);
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor{};
        descriptor.size = sizeof(reportDescriptor);
        memcpy(descriptor.value, reportDescriptor, sizeof(reportDescriptor));
        done = putIoctlData(client, &descriptor, sizeof descriptor);
    } else if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = BUS_USB;
        info.vendor = int16_t(VendorId);
        info.product = int16_t(ProductId);
        done = putIoctlData(client, &info, sizeof info);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0))) {
        const size_t room = _IOC_SIZE(request);
        QByteArray name = options.name.left(int(room > 0 ? room - 1 : 0));
        name.append('\0');
        done = room > 0 && putIoctlData(client, name.constData(), size_t(name.size()));
        result = name.size();
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return true;
    }
    if (done)
        umockdev_ioctl_client_complete(client, result, 0);
    else
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    return true;
}

bool WheelBootloaderModel::handleWrite(UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex);
    if (!present) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    takeCommand(static_cast<const uint8_t*>(arg->data), int(arg->data_len));
    umockdev_ioctl_client_complete(client, long(arg->data_len), 0);
    return true;
}

// Inside the handler, with `mutex` held: the node goes now. The testbed entries go now too when both
// locks are free at once; otherwise the model's thread takes them out, so the handler never waits.
void WheelBootloaderModel::leaveBusFromHandler()
{
    present = false;
    closeNodeLocked();
    removalPending = true;
    std::unique_lock<std::mutex> ops(opsMutex, std::try_to_lock);
    if (ops.owns_lock() && (!testbedMutex || testbedMutex->try_lock())) {
        if (removalPending.exchange(false))
            removeFromTestbed(false);
        if (testbedMutex)
            testbedMutex->unlock();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(taskMutex);
        tasks.push_back({std::chrono::steady_clock::now(), false});
    }
    taskWake.notify_all();
}

// Runs one output report; the caller holds the lock.
void WheelBootloaderModel::takeCommand(const uint8_t* b, int length)
{
    Command command;
    command.reportLength = length;
    if (length > 3)
        command.code = b[3];
    if (length > 4)
        command.argument = b[4];
    if (length > 8)
        command.address = uint32_t(b[5]) | uint32_t(b[6]) << 8 | uint32_t(b[7]) << 16 | uint32_t(b[8]) << 24;
    if (length > 9)
        command.data = QByteArray(reinterpret_cast<const char*>(b + 9), qMin(length - 9, BlockSize));
    const int number = ++commandNumber;

    if (unplugAfter > 0 && number >= unplugAfter) {
        log.append(command);
        leaveBusFromHandler();
        return;
    }

    const bool faulty =
        fault != Fault::None && number > faultAfter && (faultCode == 0 || faultCode == command.code);
    if (faulty && fault == Fault::NoReply) {
        log.append(command);
        return;
    }

    uint8_t reply[ReplySize] = {};
    bool leave = false;
    bool answer = true;
    const bool wellFormed = length >= 4 && b[0] == 0x00 && b[1] == 0x7E && b[2] == 0x5A;
    const uint32_t offset = command.address - options.flashBase; // wraps for addresses below the base
    if (!wellFormed) {
        reply[2] = 2;
    } else if (faulty) {
        if (fault == Fault::Status1)
            reply[2] = 1;
        else if (fault == Fault::Status2)
            reply[2] = 2;
        else
            reply[3] = faultResult;
    } else {
        auto* flash = reinterpret_cast<uint8_t*>(flashContents.data());
        switch (command.code) {
        case 0x11:
            reply[8] = options.version;
            break;
        case 0x12:
            memcpy(reply, options.name.constData(), size_t(qMin(options.name.size(), ReplySize - 1)));
            break;
        case 0x20:
            if (length < 9 || offset % PageSize != 0 || offset >= FlashSize)
                reply[2] = 2;
            else
                memset(flash + offset, 0xFF, PageSize);
            break;
        case 0x21:
            if (length < 9 + BlockSize || command.argument != BlockSize || offset % BlockSize != 0 ||
                offset >= FlashSize) {
                reply[2] = 2;
            } else {
                for (int i = 0; i < BlockSize; ++i)
                    flash[offset + uint32_t(i)] &= b[9 + i]; // programming only clears bits
            }
            break;
        case 0x30:
            if (length < 9 || imageSum(flashContents) != command.address) {
                reply[3] = 0xFF;
            } else {
                newFirmware = true;
                leave = true;
                answer = replyBeforeRun;
            }
            break;
        default:
            reply[2] = 2;
            break;
        }
    }
    command.replied = answer;
    log.append(command);
    if (answer && ::write(fifoFd, reply, ReplySize) != ReplySize)
        qWarning("WheelBootloaderModel: reply lost: %s", strerror(errno));
    if (leave)
        leaveBusFromHandler();
}
