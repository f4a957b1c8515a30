// Writes a wheel firmware image through the wheel's HID bootloader (vendor 0xA0A0, product 0xF000).
// Every exchange is one output report followed by one 48-byte input report.
#ifndef DEVIZUVEZWRITEFWOBJECT_H
#define DEVIZUVEZWRITEFWOBJECT_H

#include <QByteArray>
#include <QMutex>
#include <atomic>
#include <cstdint>
#include <functional>

struct hid_device_;

class DevizuvEZWriteFWObject
{
public:
    static constexpr uint16_t VendorId = 0xA0A0;
    static constexpr uint16_t ProductId = 0xF000;
    static constexpr int ReportSize = 48;
    static constexpr uint32_t FlashImageSize = 0xB400; // 45 pages of 1024 bytes
    static constexpr uint32_t WriteBlockSize = 32;     // image bytes per write command
    // What SetFirmwareData accepts: at most MaxImageSize bytes (the last block is padded with 0xFF
    // from inside the flash image), starting at an address whose low 16 bits are StartAddressLowHalf.
    static constexpr uint32_t MaxImageSize = FlashImageSize - WriteBlockSize; // 46048
    static constexpr uint32_t StartAddressLowHalf = 0x4000;
    static constexpr int PathTableSize = 8;

    // Enumerates bootloaders into the path table; returns how many paths it holds (at most 8).
    static int GetZWBootloadCount();
    // Entry `index` of that table (empty outside it): a constructor with this index opens that path.
    static QByteArray GetZWBootloadPath(int index);

    explicit DevizuvEZWriteFWObject(int index);
    ~DevizuvEZWriteFWObject();
    DevizuvEZWriteFWObject(const DevizuvEZWriteFWObject&) = delete;
    DevizuvEZWriteFWObject& operator=(const DevizuvEZWriteFWObject&) = delete;

    // Steps: each holds ioMutex for its whole run. Erase and write fail on the first command that is
    // refused or not answered; run fails only when the bootloader answers with result 0xFF.
    bool Open();
    bool Close();
    bool SetFirmwareData(uint32_t start, const uint8_t* data, uint32_t size);
    void GetCommandCounts(int& erase, int& write, int& run) const;
    bool EraseFlash();
    bool WriteFlash();
    bool RunProgram();
    bool GetValuesByCMD(uint8_t* command, int commandLength, uint8_t* reply, int replyLength, int timeoutMs);

    QByteArray GetBootloadName() const { return bootloaderName; }
    QByteArray GetBootloadVersion() const { return bootloaderVersion; }
    QByteArray GetBootloadPath() const { return bootloaderPath; }
    uint32_t GetCommandCount() const { return commandCount.load(); }

    // Sees every exchange of every writer after it ended: the output report, the input report
    // (null without one) and the result (-1 failed, 0 no reply, else the reply's length). For a bug
    // report; set it before a writer is used and clear it after.
    using ExchangeTrace = std::function<void(const uint8_t* command, int commandLength, const uint8_t* reply,
                                             int replyLength, int result)>;
    static void setExchangeTrace(ExchangeTrace trace);

private:
    // One exchange: the reply length (0 when no report came within the time-out), or -1 when the write
    // or the read failed or the reply carries status 1 or 2.
    int exchange(uint8_t* command, int commandLength, uint8_t* reply, int replyLength, int timeoutMs);
    int exchange(int commandLength); // `report` out and in, 48 bytes, 200 ms
    int exchangeOnce(uint8_t* command, int commandLength, uint8_t* reply, int replyLength, int timeoutMs);
    uint32_t imageSum() const;

    QByteArray bootloaderPath;
    QByteArray bootloaderName;
    QByteArray bootloaderVersion;
    QMutex ioMutex;
    bool isOpen = false;
    hid_device_* device = nullptr;
    uint8_t* report = nullptr;
    uint8_t* flashImage = nullptr;
    uint32_t startAddress = 0;
    std::atomic<uint32_t> commandCount{0};
    uint32_t imageSize = 0;

    static QByteArray bootloaderPaths[PathTableSize];
    static ExchangeTrace exchangeTrace;
};

#endif
