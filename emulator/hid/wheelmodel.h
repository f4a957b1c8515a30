// Emulated filter wheel: a hidraw device (vendor 0xA0A0, product 0xF001 by default) in a umockdev
// testbed, speaking the report protocol of the DevizuvEZ stand-in library (zwprotocol.h).
//
// Commands are taken in the node's write handler and each reply is written into the node (a FIFO in
// packet mode) as one input report. Motion and self test take time (slotMs per slot, selfTestMs) and
// are evaluated against the clock when the wheel is asked, so no thread runs for them.
//
// The bootloader command makes the wheel leave the bus; bootloaderMs later its bootloader (a
// WheelBootloaderModel) appears. When that bootloader takes a correct run command and leaves, the
// wheel comes back returnMs later with the same serial number, the new firmware version text and
// the saved motor settings.
//
// When the testbed is shared, pass its mutex; it is held around every umockdev_testbed_* call.
#ifndef WHEELMODEL_H
#define WHEELMODEL_H

#include "hidrawnode.h"
#include "wheelbootloadermodel.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

class WheelModel
{
public:
    static constexpr uint16_t VendorId = 0xA0A0;
    static constexpr uint16_t DefaultProductId = 0xF001;

    struct MotorSettings
    {
        uint16_t startSpeed = 400;
        uint16_t runningSpeed = 6000;
        uint16_t runningPower = 25;
        uint16_t stopPower = 4;
        bool operator==(const MotorSettings& o) const
        {
            return startSpeed == o.startSpeed && runningSpeed == o.runningSpeed &&
                   runningPower == o.runningPower && stopPower == o.stopPower;
        }
    };

    struct Faults
    {
        std::set<uint8_t> refuse;  // these command codes are answered with "failed"
        std::set<uint8_t> noReply; // these command codes are taken but never answered
        int unplugAfter = -1;      // the wheel leaves the bus on the n-th command (counting from 1), once
        bool unopenable = false;   // HIDIOCGRDESCSIZE fails, so hid_open_path() fails
    };

    struct Options
    {
        int hidrawIndex = 16;           // the node is /dev/hidraw<index>; the USB port follows it
        int bootloaderHidrawIndex = -1; // -1: hidrawIndex + 1
        uint16_t productId = DefaultProductId;
        QByteArray name = "Quenvor ZW 7x36";
        QByteArray serial; // 24 hex digits; empty: derived from hidrawIndex
        int slotCount = 7; // at most 127: positions travel as signed bytes
        QByteArray firmwareVersion = "3.1.2";
        QByteArray newFirmwareVersion; // after an update; empty: unchanged
        int position = 0;
        bool oneWay = false;
        int slotMs = 0;          // motion time per slot
        int selfTestMs = 0;      // self-test duration
        int errorCode = 0;       // wheel error code 0..6 (any byte is sent as it is)
        int selfTestError = 0;   // non-zero: the self test fails (state 16) with this code
        uint8_t motorState = 0;  // motor state when not moving (3 Running while moving)
        uint8_t commState = 0;   // communication state
        int bootloaderMs = 1000; // from leaving the bus to the bootloader's arrival
        int returnMs = 1000;     // from the bootloader's departure to the wheel's return; -1: never
        MotorSettings motor;     // current and saved settings at start
        Faults faults;
        WheelBootloaderModel::Options bootloader; // its hidrawIndex is replaced
        bool emulatedMark = true;                 // false: no ZW_EMULATED_PROPERTY, as on a real wheel
    };

    // One command as the wheel received it.
    struct Call
    {
        uint8_t code = 0;
        QByteArray args;
        uint8_t status = 0; // device status of the reply
        bool replied = false;
    };

    WheelModel(UMockdevTestbed* testbed, const Options& options, std::mutex* testbedMutex = nullptr);
    ~WheelModel();
    WheelModel(const WheelModel&) = delete;
    WheelModel& operator=(const WheelModel&) = delete;

    // Adds the wheel to the testbed ("add" uevent); false when present already or on error.
    bool plug();
    // "remove", then the devices go; open handles get ENODEV and their reads time out.
    void unplug();
    bool isPresent() const;
    QString devicePath() const;
    QString sysfsPath() const;
    QByteArray serial() const;
    // Opens of and ioctls on the node of its USB device; a wheel is reached through hidraw only, so
    // this stays 0.
    int usbNodeAccesses() const;
    // 24 hex digits derived from a number (the default serial of the index).
    static QByteArray serialFor(int number);

    // State, evaluated at the time of the call.
    int position() const;
    bool isMoving() const;
    bool oneWay() const;
    int selfTestState() const; // 0 never run, 17..31 running, 16 failed, 1 passed
    QByteArray firmwareVersion() const;
    MotorSettings motorSettings() const; // what was set last
    MotorSettings savedSettings() const; // what the last save stored
    int saveCount() const;
    int selfTestCount() const; // self tests started
    int resetCount() const;
    QVector<int> gotoCommands() const; // slot argument of every goto received, refused ones included
    QVector<Call> calls() const;
    void clearCalls();

    // Firmware update path.
    bool inBootloader() const;          // left for the bootloader and not back yet
    WheelBootloaderModel& bootloader(); // the bootloader this wheel restarts into
    int returnCount() const;            // times the wheel came back with new firmware

    // Changes at any time.
    void setPosition(int slot); // stops a motion
    void setOneWay(bool on);
    void setSlotMs(int ms);
    void setSelfTestMs(int ms);
    void setErrorCode(int code);
    void setSelfTestError(int code);
    void setMotorState(uint8_t motor, uint8_t communication);
    void startSelfTest(); // as if the wheel had been told to
    void setFaults(const Faults& faults);
    Faults faults() const;
    void setRefused(uint8_t code, bool on = true);
    void setNoReply(uint8_t code, bool on = true);
    void setUnplugAfter(int commands); // -1: off; counting restarts now
    void setReturnMs(int ms);
    void setBootloaderMs(int ms);

private:
    using Clock = std::chrono::steady_clock;
    enum class Task
    {
        FinishRemoval,
        PlugBootloader,
        WatchBootloader,
        ReturnWheel
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static int onWrite(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool handleIoctl(UMockdevIoctlClient* client);
    bool handleWrite(UMockdevIoctlClient* client);
    void takeCommand(const uint8_t* report, int length);
    void updateLocked(Clock::time_point now) const;
    void startMoveLocked(int target, int slotsToTravel);
    void startSelfTestLocked();
    void leaveBusFromHandler();
    void removeFromTestbed(bool lockTestbed);
    void finishPendingRemoval();
    void schedule(Task task, int delayMs);
    void runTasks();
    void returnWithNewFirmware();

    UMockdevTestbed* testbed;
    std::mutex* testbedMutex;
    hidraw::Identity identity;
    UMockdevIoctlBase* handler = nullptr;
    std::unique_ptr<hidraw::UsbNodeWatch> usbNode;
    QString fifoPath;
    std::unique_ptr<WheelBootloaderModel> bootloaderModel;

    std::mutex opsMutex; // plug and removal
    std::atomic<bool> removalPending{false};

    // Device state, shared with the handler. Motion and self test complete lazily, hence mutable.
    mutable std::mutex mutex;
    Options options;
    int fifoFd = -1;
    bool present = false;
    bool bootloaderPhase = false;
    int commandNumber = 0;
    mutable int currentPosition = 0;
    mutable bool moving = false;
    mutable Clock::time_point moveEnd;
    int moveTarget = 0;
    mutable int selfTest = 0;
    mutable bool selfTesting = false;
    Clock::time_point selfTestStart;
    MotorSettings current;
    MotorSettings saved;
    int saves = 0;
    int selfTests = 0;
    int resets = 0;
    int returns = 0;
    QVector<int> gotos;
    QVector<Call> log;

    struct Pending
    {
        Clock::time_point due;
        Task task;
    };
    std::mutex taskMutex;
    std::condition_variable taskWake;
    std::vector<Pending> tasks;
    bool stopping = false;
    std::thread worker;
};

#endif
