#include "wheelbootloadermodel.h"
#include "hidrawnode.h"

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

QByteArray oldFirmware()
{
    QByteArray bytes(WheelBootloaderModel::FlashSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7 + 3) & 0xFF);
    return bytes;
}

} // namespace

using TestbedLock = hidraw::OptionalLock;

WheelBootloaderModel::WheelBootloaderModel(UMockdevTestbed* testbed)
    : WheelBootloaderModel(testbed, Options())
{
}

WheelBootloaderModel::WheelBootloaderModel(UMockdevTestbed* testbed, const Options& options,
                                           std::mutex* testbedMutex)
    : testbed(testbed), options(options), testbedMutex(testbedMutex), flashContents(oldFirmware())
{
    // Bus 3 of a controller of its own, clear of the ports the camera emulation hands out.
    identity.hidrawIndex = options.hidrawIndex;
    identity.vendorId = VendorId;
    identity.productId = ProductId;
    identity.name = options.name;
    identity.serial = options.serial;
    identity.reportDescriptor = hidraw::vendorReportDescriptor(ReplySize, ReplySize);
    identity.withUsbParent = options.withUsbParent;
    identity.bus = 3;
    identity.port = options.hidrawIndex + 1;
    identity.devnum = options.hidrawIndex + 2;
    identity.hidSequence = options.hidrawIndex + 1;
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
    if (identity.withUsbParent)
        usbNode = std::make_unique<hidraw::UsbNodeWatch>(testbed, identity.usbNodePath(), testbedMutex);
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
    usbNode.reset();
    g_signal_handlers_disconnect_by_data(handler, this);
    g_object_unref(handler);
}

int WheelBootloaderModel::usbNodeAccesses() const
{
    return usbNode ? usbNode->accesses() : 0;
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
    return identity.devicePath();
}

QString WheelBootloaderModel::sysfsPath() const
{
    return identity.sysfsPath();
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
        fifoFd = hidraw::openPacketFifo(fifoPath);
        if (fifoFd < 0)
            return false;
        present = true;
        newFirmware = false;
    }

    GError* error = nullptr;
    bool added = false;
    {
        TestbedLock lock(testbedMutex);
        added = umockdev_testbed_add_from_string(testbed, identity.record().constData(), &error);
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
    hidraw::closePacketFifo(fifoPath, fifoFd);
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
    TestbedLock lock(lockTestbed ? testbedMutex : nullptr);
    hidraw::removeFromTestbed(testbed, identity);
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

bool WheelBootloaderModel::handleIoctl(UMockdevIoctlClient* client)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!present) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
    }
    hidraw::answerIoctl(client, identity);
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
