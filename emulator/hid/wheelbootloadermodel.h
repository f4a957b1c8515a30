// Emulated wheel bootloader: a hidraw device (vendor 0xA0A0, product 0xF000) in a umockdev testbed.
//
// Output reports are taken in the node's write handler; each reply is written into the node, which is a
// FIFO in packet mode, as one 48-byte input report, so reads, polls and time-outs behave like a real
// hidraw node. The flash is NOR-like: erase sets a 1024-byte page to 0xFF, programming can only clear
// bits. A correct run command makes the bootloader leave the bus (the wheel then runs the new firmware).
//
// A departure decided inside the ioctl handler closes the node at once; the handler takes the device out
// of the testbed only when it gets the locks without waiting, else the model's own thread does. When the
// testbed is shared, pass its mutex; it is held around every umockdev_testbed_* call of the model.
#ifndef WHEELBOOTLOADERMODEL_H
#define WHEELBOOTLOADERMODEL_H

#include "hidrawnode.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

class WheelBootloaderModel
{
public:
    static constexpr uint16_t VendorId = 0xA0A0;
    static constexpr uint16_t ProductId = 0xF000;
    static constexpr int ReplySize = 48;
    static constexpr int PageSize = 1024;
    static constexpr int BlockSize = 32;
    static constexpr uint32_t FlashSize = 45 * 1024;
    static constexpr uint32_t DefaultFlashBase = 0x08004000;

    enum class Fault
    {
        None,
        NoReply,      // the command is taken, no input report follows
        Status1,      // reply byte 2 = 1
        Status2,      // reply byte 2 = 2
        ResultNonZero // reply byte 3 = faultResult (0x01 unless set)
    };

    // One output report as the device received it.
    struct Command
    {
        int reportLength = 0; // bytes handed to write(), report number included
        uint8_t code = 0;
        uint8_t argument = 0;
        uint32_t address = 0; // 32-bit argument, little-endian on the wire
        QByteArray data;      // bytes 9.. of the report (up to 32)
        bool replied = false;
    };

    struct Options
    {
        int hidrawIndex = 0; // the node is /dev/hidraw<index>
        QByteArray name = "ZW Bootloader";
        uint8_t version = 12;
        QByteArray serial = "ZWBL0001";
        uint32_t flashBase = DefaultFlashBase;
        bool withUsbParent = true; // a usb_device ancestor with manufacturer and product strings
    };

    explicit WheelBootloaderModel(UMockdevTestbed* testbed);
    WheelBootloaderModel(UMockdevTestbed* testbed, const Options& options,
                         std::mutex* testbedMutex = nullptr);
    ~WheelBootloaderModel();
    WheelBootloaderModel(const WheelBootloaderModel&) = delete;
    WheelBootloaderModel& operator=(const WheelBootloaderModel&) = delete;

    // Adds the device to the testbed (with an "add" uevent). False when it is already present or on error.
    bool plug();
    // Adds the device after delayMs on the model's thread (the wheel returning to its bootloader later).
    void plugAfter(int delayMs);
    // Sends "remove" and takes the device out of the testbed. Open handles get ENODEV on write and
    // ioctl, and their reads time out.
    void unplug();
    bool isPresent() const;
    QString devicePath() const; // "/dev/hidrawN"
    QString sysfsPath() const;  // the hidraw device in the testbed
    // Opens of and ioctls on the node of its USB device (with a USB parent); a bootloader is reached
    // through hidraw only, so this stays 0.
    int usbNodeAccesses() const;

    // Faults apply to commands whose 1-based sequence number is greater than afterCommands and, when
    // onlyCode is not 0, whose code equals onlyCode.
    void setFault(Fault fault, uint8_t onlyCode = 0, int afterCommands = 0, uint8_t result = 0x01);
    // Leaves the bus right after the n-th command (counting from 1), before that command is answered.
    void setUnplugAfter(int commands);
    // When false, a correct run command is not answered before the bootloader leaves the bus.
    void setReplyBeforeRun(bool reply);

    QByteArray flash() const;
    void setFlash(const QByteArray& contents); // contents at the flash base, the rest unchanged
    QVector<Command> commands() const;
    void clearCommands();
    // True once a run command with the correct image sum was taken: the wheel runs the new firmware.
    bool runningNewFirmware() const;

    // Sum, modulo 2^32, of the little-endian 32-bit words of a buffer (what the run command carries).
    static uint32_t imageSum(const QByteArray& bytes);

private:
    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static int onWrite(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool handleIoctl(UMockdevIoctlClient* client);
    bool handleWrite(UMockdevIoctlClient* client);
    void takeCommand(const uint8_t* bytes, int length);
    void closeNodeLocked();
    void leaveBusFromHandler();
    void removeFromTestbed(bool lockTestbed);
    void finishPendingRemoval();
    void runTasks();

    UMockdevTestbed* testbed;
    Options options;
    hidraw::Identity identity;
    std::mutex* testbedMutex;
    UMockdevIoctlBase* handler = nullptr;
    std::unique_ptr<hidraw::UsbNodeWatch> usbNode;
    QString fifoPath;

    // Serialises this model's own changes to the testbed (plug, removal).
    std::mutex opsMutex;
    std::atomic<bool> removalPending{false};

    // Device state, shared with the ioctl handler.
    mutable std::mutex mutex;
    int fifoFd = -1;
    bool present = false;
    QByteArray flashContents;
    QVector<Command> log;
    int commandNumber = 0;
    Fault fault = Fault::None;
    uint8_t faultCode = 0;
    int faultAfter = 0;
    uint8_t faultResult = 1;
    int unplugAfter = -1;
    bool replyBeforeRun = true;
    bool newFirmware = false;

    // The model's thread: delayed plugs and removals decided inside the handler.
    struct Task
    {
        std::chrono::steady_clock::time_point due;
        bool plug; // else: finish a pending removal
    };
    std::mutex taskMutex;
    std::condition_variable taskWake;
    std::vector<Task> tasks;
    bool stopping = false;
    std::thread worker;
};

#endif
