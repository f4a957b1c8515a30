#include "wheelmodel.h"

#include "zwprotocol.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using Lock = std::lock_guard<std::mutex>;

WheelModel::WheelModel(UMockdevTestbed* testbed, const Options& optionsIn, std::mutex* testbedMutex)
    : testbed(testbed), testbedMutex(testbedMutex), options(optionsIn)
{
    if (options.serial.isEmpty())
        options.serial = serialFor(options.hidrawIndex);
    currentPosition = options.slotCount > 0 ? qBound(0, options.position, options.slotCount - 1) : 0;
    current = saved = options.motor;

    // Bus 4 of a controller of its own; the port follows the node number.
    identity.hidrawIndex = options.hidrawIndex;
    identity.vendorId = VendorId;
    identity.productId = options.productId;
    identity.name = options.name;
    identity.serial = options.serial;
    identity.reportDescriptor = hidraw::vendorReportDescriptor(ZW_REPORT_SIZE, ZW_REPORT_SIZE);
    identity.controller = QStringLiteral("0000:00:1b.0");
    identity.bus = 4;
    identity.port = options.hidrawIndex + 1;
    identity.devnum = options.hidrawIndex + 2;
    identity.hidSequence = options.hidrawIndex + 1;
    if (options.emulatedMark)
        identity.hidrawProperties << QByteArrayLiteral(ZW_EMULATED_PROPERTY "=1");

    WheelBootloaderModel::Options bl = options.bootloader;
    bl.hidrawIndex =
        options.bootloaderHidrawIndex >= 0 ? options.bootloaderHidrawIndex : options.hidrawIndex + 1;
    bootloaderModel = std::make_unique<WheelBootloaderModel>(testbed, bl, testbedMutex);

    handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(handler, "handle-write", G_CALLBACK(onWrite), this);
    {
        hidraw::OptionalLock lock(testbedMutex);
        char* root = umockdev_testbed_get_root_dir(testbed);
        fifoPath = QString::fromLocal8Bit(root) + identity.devicePath();
        g_free(root);
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed, identity.devicePath().toLocal8Bit().constData(), handler,
                                           &error)) {
            qWarning("WheelModel: cannot attach to %s: %s", qPrintable(identity.devicePath()),
                     error->message);
            g_clear_error(&error);
        }
    }
    usbNode = std::make_unique<hidraw::UsbNodeWatch>(testbed, identity.usbNodePath(), testbedMutex);
    worker = std::thread([this] { runTasks(); });
}

WheelModel::~WheelModel()
{
    {
        Lock lock(taskMutex);
        stopping = true;
    }
    taskWake.notify_all();
    worker.join();
    unplug();
    bootloaderModel.reset();
    {
        hidraw::OptionalLock lock(testbedMutex);
        umockdev_testbed_detach_ioctl(testbed, identity.devicePath().toLocal8Bit().constData(), nullptr);
    }
    usbNode.reset();
    g_signal_handlers_disconnect_by_data(handler, this);
    g_object_unref(handler);
}

int WheelModel::usbNodeAccesses() const
{
    return usbNode->accesses();
}

QByteArray WheelModel::serialFor(int number)
{
    return "5A17C0DE" + QByteArray::number(qulonglong(number), 16).toUpper().rightJustified(16, '0');
}

bool WheelModel::plug()
{
    Lock ops(opsMutex);
    if (removalPending.exchange(false))
        removeFromTestbed(true);
    {
        Lock lock(mutex);
        if (present)
            return false;
        fifoFd = hidraw::openPacketFifo(fifoPath);
        if (fifoFd < 0)
            return false;
        present = true;
        // A power-up: no motion, no self test, the stored motor settings.
        moving = false;
        selfTesting = false;
        selfTest = 0;
        current = saved;
        commandNumber = 0;
    }
    GError* error = nullptr;
    bool added = false;
    {
        hidraw::OptionalLock lock(testbedMutex);
        added = umockdev_testbed_add_from_string(testbed, identity.record().constData(), &error);
    }
    if (!added) {
        qWarning("WheelModel: cannot add the device: %s", error ? error->message : "");
        g_clear_error(&error);
        Lock lock(mutex);
        present = false;
        hidraw::closePacketFifo(fifoPath, fifoFd);
        return false;
    }
    return true;
}

void WheelModel::unplug()
{
    Lock ops(opsMutex);
    bool wasPresent = false;
    {
        Lock lock(mutex);
        wasPresent = present;
        present = false;
        hidraw::closePacketFifo(fifoPath, fifoFd);
    }
    if (removalPending.exchange(false) || wasPresent)
        removeFromTestbed(true);
}

// "remove" first, then the devices, children first; the caller holds `opsMutex`, and the testbed
// mutex too when lockTestbed is false.
void WheelModel::removeFromTestbed(bool lockTestbed)
{
    hidraw::OptionalLock lock(lockTestbed ? testbedMutex : nullptr);
    hidraw::removeFromTestbed(testbed, identity);
}

void WheelModel::finishPendingRemoval()
{
    Lock ops(opsMutex);
    if (removalPending.exchange(false))
        removeFromTestbed(true);
}

// Inside the handler, with `mutex` held: the node goes now; the testbed entries too when both locks
// are free at once, else the model's thread takes them out, so the handler never waits.
void WheelModel::leaveBusFromHandler()
{
    present = false;
    hidraw::closePacketFifo(fifoPath, fifoFd);
    removalPending = true;
    std::unique_lock<std::mutex> ops(opsMutex, std::try_to_lock);
    if (ops.owns_lock() && (!testbedMutex || testbedMutex->try_lock())) {
        if (removalPending.exchange(false))
            removeFromTestbed(false);
        if (testbedMutex)
            testbedMutex->unlock();
        return;
    }
    schedule(Task::FinishRemoval, 0);
}

void WheelModel::schedule(Task task, int delayMs)
{
    {
        Lock lock(taskMutex);
        tasks.push_back({Clock::now() + std::chrono::milliseconds(std::max(0, delayMs)), task});
    }
    taskWake.notify_all();
}

void WheelModel::runTasks()
{
    std::unique_lock<std::mutex> lock(taskMutex);
    for (;;) {
        if (stopping)
            return; // a removal still pending is finished by unplug() in the destructor
        if (tasks.empty()) {
            taskWake.wait(lock);
            continue;
        }
        auto next = std::min_element(tasks.begin(), tasks.end(),
                                     [](const Pending& a, const Pending& b) { return a.due < b.due; });
        if (next->due > Clock::now()) {
            taskWake.wait_until(lock, next->due);
            continue;
        }
        const Task task = next->task;
        tasks.erase(next);
        lock.unlock();
        switch (task) {
        case Task::FinishRemoval:
            finishPendingRemoval();
            break;
        case Task::PlugBootloader:
            bootloaderModel->plug();
            schedule(Task::WatchBootloader, 20);
            break;
        case Task::WatchBootloader:
            if (bootloaderModel->runningNewFirmware() && !bootloaderModel->isPresent()) {
                int delay = 0;
                {
                    Lock state(mutex);
                    delay = options.returnMs;
                }
                if (delay >= 0)
                    schedule(Task::ReturnWheel, delay);
            } else if (inBootloader()) {
                schedule(Task::WatchBootloader, 20);
            }
            break;
        case Task::ReturnWheel:
            returnWithNewFirmware();
            break;
        }
        lock.lock();
    }
}

void WheelModel::returnWithNewFirmware()
{
    {
        Lock lock(mutex);
        bootloaderPhase = false;
        if (!options.newFirmwareVersion.isEmpty())
            options.firmwareVersion = options.newFirmwareVersion;
        ++returns;
    }
    plug();
}

bool WheelModel::isPresent() const
{
    Lock lock(mutex);
    return present;
}

QString WheelModel::devicePath() const
{
    return identity.devicePath();
}

QString WheelModel::sysfsPath() const
{
    return identity.sysfsPath();
}

QByteArray WheelModel::serial() const
{
    return identity.serial;
}

// Completes a motion or a self test whose time is over.
void WheelModel::updateLocked(Clock::time_point now) const
{
    if (moving && now >= moveEnd) {
        moving = false;
        currentPosition = moveTarget;
    }
    if (selfTesting && now >= selfTestStart + std::chrono::milliseconds(options.selfTestMs)) {
        selfTesting = false;
        selfTest = options.selfTestError ? 16 : 1;
        currentPosition = 0;
    }
    if (selfTesting) {
        // 17 .. 31 as the test proceeds
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - selfTestStart).count();
        selfTest = 17 + int(std::min<long long>(14, elapsed * 15 / std::max(1, options.selfTestMs)));
    }
}

void WheelModel::startMoveLocked(int target, int slotsToTravel)
{
    moveTarget = target;
    if (slotsToTravel <= 0 || options.slotMs <= 0) {
        moving = false;
        currentPosition = target;
        return;
    }
    moving = true;
    moveEnd = Clock::now() + std::chrono::milliseconds(qint64(slotsToTravel) * options.slotMs);
}

void WheelModel::startSelfTestLocked()
{
    ++selfTests;
    moving = false;
    selfTesting = true;
    selfTest = 17;
    selfTestStart = Clock::now();
    updateLocked(selfTestStart);
}

int WheelModel::position() const
{
    Lock lock(mutex);
    updateLocked(Clock::now());
    return currentPosition;
}

bool WheelModel::isMoving() const
{
    Lock lock(mutex);
    updateLocked(Clock::now());
    return moving;
}

bool WheelModel::oneWay() const
{
    Lock lock(mutex);
    return options.oneWay;
}

int WheelModel::selfTestState() const
{
    Lock lock(mutex);
    updateLocked(Clock::now());
    return selfTest;
}

QByteArray WheelModel::firmwareVersion() const
{
    Lock lock(mutex);
    return options.firmwareVersion;
}

WheelModel::MotorSettings WheelModel::motorSettings() const
{
    Lock lock(mutex);
    return current;
}

WheelModel::MotorSettings WheelModel::savedSettings() const
{
    Lock lock(mutex);
    return saved;
}

int WheelModel::saveCount() const
{
    Lock lock(mutex);
    return saves;
}

int WheelModel::selfTestCount() const
{
    Lock lock(mutex);
    return selfTests;
}

int WheelModel::resetCount() const
{
    Lock lock(mutex);
    return resets;
}

QVector<int> WheelModel::gotoCommands() const
{
    Lock lock(mutex);
    return gotos;
}

QVector<WheelModel::Call> WheelModel::calls() const
{
    Lock lock(mutex);
    return log;
}

void WheelModel::clearCalls()
{
    Lock lock(mutex);
    log.clear();
    gotos.clear();
}

bool WheelModel::inBootloader() const
{
    Lock lock(mutex);
    return bootloaderPhase;
}

WheelBootloaderModel& WheelModel::bootloader()
{
    return *bootloaderModel;
}

int WheelModel::returnCount() const
{
    Lock lock(mutex);
    return returns;
}

void WheelModel::setPosition(int slot)
{
    Lock lock(mutex);
    moving = false;
    currentPosition = slot;
}

void WheelModel::setOneWay(bool on)
{
    Lock lock(mutex);
    options.oneWay = on;
}

void WheelModel::setSlotMs(int ms)
{
    Lock lock(mutex);
    options.slotMs = ms;
}

void WheelModel::setSelfTestMs(int ms)
{
    Lock lock(mutex);
    options.selfTestMs = ms;
}

void WheelModel::setErrorCode(int code)
{
    Lock lock(mutex);
    options.errorCode = code;
}

void WheelModel::setSelfTestError(int code)
{
    Lock lock(mutex);
    options.selfTestError = code;
}

void WheelModel::setMotorState(uint8_t motor, uint8_t communication)
{
    Lock lock(mutex);
    options.motorState = motor;
    options.commState = communication;
}

void WheelModel::startSelfTest()
{
    Lock lock(mutex);
    startSelfTestLocked();
}

void WheelModel::setFaults(const Faults& faults)
{
    Lock lock(mutex);
    options.faults = faults;
    commandNumber = 0;
}

WheelModel::Faults WheelModel::faults() const
{
    Lock lock(mutex);
    return options.faults;
}

void WheelModel::setRefused(uint8_t code, bool on)
{
    Lock lock(mutex);
    if (on)
        options.faults.refuse.insert(code);
    else
        options.faults.refuse.erase(code);
}

void WheelModel::setNoReply(uint8_t code, bool on)
{
    Lock lock(mutex);
    if (on)
        options.faults.noReply.insert(code);
    else
        options.faults.noReply.erase(code);
}

void WheelModel::setUnplugAfter(int commands)
{
    Lock lock(mutex);
    options.faults.unplugAfter = commands;
    commandNumber = 0;
}

void WheelModel::setReturnMs(int ms)
{
    Lock lock(mutex);
    options.returnMs = ms;
}

void WheelModel::setBootloaderMs(int ms)
{
    Lock lock(mutex);
    options.bootloaderMs = ms;
}

int WheelModel::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    return static_cast<WheelModel*>(self)->handleIoctl(client);
}

int WheelModel::onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    return static_cast<WheelModel*>(self)->handleWrite(client);
}

bool WheelModel::handleIoctl(UMockdevIoctlClient* client)
{
    {
        Lock lock(mutex);
        if (!present) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
        if (options.faults.unopenable) {
            umockdev_ioctl_client_complete(client, -1, EIO);
            return true;
        }
    }
    hidraw::answerIoctl(client, identity);
    return true;
}

bool WheelModel::handleWrite(UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    Lock lock(mutex);
    if (!present) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    takeCommand(static_cast<const uint8_t*>(arg->data), int(arg->data_len));
    umockdev_ioctl_client_complete(client, long(arg->data_len), 0);
    return true;
}

namespace {

void put16(QByteArray& data, uint16_t value)
{
    data += char(value & 0xFF);
    data += char(value >> 8);
}

uint16_t get16(const QByteArray& bytes, int at)
{
    return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

} // namespace

// Runs one output report; the caller holds `mutex`.
void WheelModel::takeCommand(const uint8_t* b, int length)
{
    Call call;
    // b[0] is the report number (0), then code, sequence, argument length, arguments.
    const bool wellFormed =
        length >= 1 + ZW_COMMAND_HEADER && b[0] == 0 && 1 + ZW_COMMAND_HEADER + b[3] <= length;
    call.code = length > 1 ? b[1] : 0;
    const uint8_t sequence = length > 2 ? b[2] : 0;
    if (wellFormed)
        call.args = QByteArray(reinterpret_cast<const char*>(b + 1 + ZW_COMMAND_HEADER), b[3]);
    const int number = ++commandNumber;
    const Faults& f = options.faults;

    if (f.unplugAfter > 0 && number >= f.unplugAfter) {
        options.faults.unplugAfter = -1;
        log.append(call);
        leaveBusFromHandler();
        return;
    }
    if (call.code == ZW_CMD_GOTO && call.args.size() >= 1)
        gotos.append(uint8_t(call.args[0]));
    if (f.noReply.count(call.code)) {
        log.append(call);
        return;
    }

    const Clock::time_point now = Clock::now();
    updateLocked(now);
    const QByteArray& a = call.args;
    QByteArray data;
    uint8_t status = ZW_DEV_OK;
    bool leave = false;
    auto needArgs = [&](int n) {
        if (a.size() >= n)
            return true;
        status = ZW_DEV_BAD_ARGUMENT;
        return false;
    };
    auto text = [&](const QByteArray& t) { data = t.left(ZW_REPORT_SIZE - ZW_REPLY_HEADER - 1) + '\0'; };
    const bool busy = moving || selfTesting;

    if (!wellFormed) {
        status = ZW_DEV_UNKNOWN_COMMAND;
    } else if (f.refuse.count(call.code)) {
        status = ZW_DEV_FAILED;
    } else {
        switch (call.code) {
        case ZW_CMD_OPEN:
            data += char(ZW_PROTOCOL_VERSION);
            break;
        case ZW_CMD_GET_NAME:
            text(options.name);
            break;
        case ZW_CMD_GET_SERIAL:
            text(options.serial);
            break;
        case ZW_CMD_GET_SLOTS:
            data += char(uint8_t(options.slotCount));
            break;
        case ZW_CMD_GET_FW_VERSION:
            text(options.firmwareVersion);
            break;
        case ZW_CMD_GET_STATE:
            data += char(moving ? 2 : 1);
            break;
        case ZW_CMD_GET_POSITION:
            data += char(int8_t(currentPosition));
            break;
        case ZW_CMD_GOTO:
            if (!needArgs(1))
                break;
            if (busy) {
                status = ZW_DEV_BUSY;
            } else if (uint8_t(a[0]) >= options.slotCount) {
                status = ZW_DEV_BAD_ARGUMENT;
            } else {
                const int n = options.slotCount;
                const int target = uint8_t(a[0]);
                const int forward = (target - currentPosition + n) % n;
                const int backward = (currentPosition - target + n) % n;
                startMoveLocked(target, options.oneWay ? forward : std::min(forward, backward));
            }
            break;
        case ZW_CMD_GET_ONEWAY:
            data += char(options.oneWay ? 1 : 0);
            break;
        case ZW_CMD_SET_ONEWAY:
            if (!needArgs(1))
                break;
            if (uint8_t(a[0]) > 1)
                status = ZW_DEV_BAD_ARGUMENT;
            else
                options.oneWay = a[0] != 0;
            break;
        case ZW_CMD_RESET:
            if (busy) {
                status = ZW_DEV_BUSY;
                break;
            }
            ++resets;
            startMoveLocked(0, options.slotCount); // one turn to find the home mark
            break;
        case ZW_CMD_SELFTEST:
            if (busy)
                status = ZW_DEV_BUSY;
            else
                startSelfTestLocked();
            break;
        case ZW_CMD_GET_SELFTEST:
            data += char(uint8_t(selfTest));
            data += char(selfTest == 16 ? uint8_t(options.selfTestError) : 0);
            break;
        case ZW_CMD_GET_SENSORS: {
            const int32_t value = moving ? 0 : 512; // slot mark under the sensor when standing
            data += char(moving ? 0 : 1);
            data += char(moving ? 1 : 0);
            for (int i = 0; i < 4; ++i)
                data += char((uint32_t(value) >> (8 * i)) & 0xFF);
            break;
        }
        case ZW_CMD_GET_ERROR:
            data += char(uint8_t(options.errorCode));
            break;
        case ZW_CMD_GET_MOTOR_STATE:
            data += char(moving ? 3 : options.motorState);
            data += char(options.commState);
            break;
        case ZW_CMD_GET_MOTOR_SPEED:
            put16(data, current.startSpeed);
            put16(data, current.runningSpeed);
            break;
        case ZW_CMD_SET_MOTOR_SPEED:
            if (needArgs(4)) {
                current.startSpeed = get16(a, 0);
                current.runningSpeed = get16(a, 2);
            }
            break;
        case ZW_CMD_GET_MOTOR_POWER:
            put16(data, current.runningPower);
            put16(data, current.stopPower);
            break;
        case ZW_CMD_SET_MOTOR_POWER:
            if (needArgs(4)) {
                current.runningPower = get16(a, 0);
                current.stopPower = get16(a, 2);
            }
            break;
        case ZW_CMD_SAVE_CONFIG:
            saved = current;
            ++saves;
            break;
        case ZW_CMD_BOOTLOADER:
            leave = true;
            break;
        default:
            status = ZW_DEV_UNKNOWN_COMMAND;
            break;
        }
    }

    uint8_t reply[ZW_REPORT_SIZE] = {};
    reply[0] = call.code;
    reply[1] = sequence;
    reply[2] = status;
    reply[3] = uint8_t(data.size());
    memcpy(reply + ZW_REPLY_HEADER, data.constData(), size_t(data.size()));
    call.status = status;
    call.replied = true;
    log.append(call);
    if (::write(fifoFd, reply, sizeof reply) != ssize_t(sizeof reply))
        qWarning("WheelModel: reply lost: %s", strerror(errno));
    if (leave) {
        bootloaderPhase = true;
        leaveBusFromHandler();
        schedule(Task::PlugBootloader, options.bootloaderMs);
    }
}
