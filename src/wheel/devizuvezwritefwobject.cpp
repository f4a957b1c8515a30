#include "devizuvezwritefwobject.h"

#include <QDebug>
#include <QMutexLocker>
#include <cstring>
#include <hidapi.h>

QByteArray DevizuvEZWriteFWObject::bootloaderPaths[DevizuvEZWriteFWObject::PathTableSize];

namespace {

constexpr int ReplyTimeoutMs = 200;
constexpr int PageSize = 1024;
constexpr int PageCount = 45;
constexpr int BlockSize = int(DevizuvEZWriteFWObject::WriteBlockSize);

constexpr uint8_t CmdVersion = 0x11;
constexpr uint8_t CmdName = 0x12;
constexpr uint8_t CmdErase = 0x20;
constexpr uint8_t CmdWrite = 0x21;
constexpr uint8_t CmdRun = 0x30;

// Lays out an output report in `report` (zeroed first) and returns its length for hid_write.
int buildCommand(uint8_t* report, uint8_t code, uint32_t argument = 0, const uint8_t* data = nullptr)
{
    memset(report, 0, DevizuvEZWriteFWObject::ReportSize);
    report[0] = 0x00; // report number
    report[1] = 0x7E;
    report[2] = 0x5A;
    report[3] = code;
    if (code == CmdName || code == CmdVersion)
        return 4;
    report[4] = code == CmdWrite ? BlockSize : 0x00;
    report[5] = uint8_t(argument);
    report[6] = uint8_t(argument >> 8);
    report[7] = uint8_t(argument >> 16);
    report[8] = uint8_t(argument >> 24);
    if (code != CmdWrite)
        return 9;
    memcpy(report + 9, data, BlockSize);
    return 9 + BlockSize;
}

// Version byte written in decimal with its digits joined by dots: 123 gives "1.2.3".
QByteArray versionText(uint8_t value)
{
    const QByteArray digits = QByteArray::number(value);
    QByteArray text;
    for (int i = 0; i < digits.size(); ++i) {
        if (i > 0)
            text += '.';
        text += digits.at(i);
    }
    return text;
}

const wchar_t* errorText(hid_device* device)
{
    const wchar_t* text = hid_error(device);
    return text ? text : L"";
}

} // namespace

int DevizuvEZWriteFWObject::GetZWBootloadCount()
{
    hid_device_info* devices = hid_enumerate(VendorId, ProductId);
    int count = 0;
    for (hid_device_info* d = devices; d && count < PathTableSize; d = d->next) {
        bootloaderPaths[count++] = QByteArray(d->path);
        qDebug("%s %s", "DevizuvEZWriteFWObject::GetZWBootloadCount",
               qPrintable(QString::asprintf("ZW bootload path: %s \n", d->path)));
    }
    hid_free_enumeration(devices);
    return count;
}

QByteArray DevizuvEZWriteFWObject::GetZWBootloadPath(int index)
{
    return index >= 0 && index < PathTableSize ? bootloaderPaths[index] : QByteArray();
}

DevizuvEZWriteFWObject::DevizuvEZWriteFWObject(int index)
{
    if (index >= 0 && index < PathTableSize)
        bootloaderPath = bootloaderPaths[index];
    report = new uint8_t[ReportSize]();
    flashImage = new uint8_t[FlashImageSize];
    memset(flashImage, 0xFF, FlashImageSize);

    if (!Open())
        return;
    {
        QMutexLocker lock(&ioMutex);
        const int length = buildCommand(report, CmdName);
        if (exchange(length) > 0)
            bootloaderName = QByteArray(reinterpret_cast<const char*>(report),
                                        int(strnlen(reinterpret_cast<const char*>(report), ReportSize)));
    }
    {
        QMutexLocker lock(&ioMutex);
        const int length = buildCommand(report, CmdVersion);
        if (exchange(length) > 0)
            bootloaderVersion = versionText(report[8]);
    }
    Close();
}

DevizuvEZWriteFWObject::~DevizuvEZWriteFWObject()
{
    Close();
    delete[] report;
    delete[] flashImage;
}

bool DevizuvEZWriteFWObject::Open()
{
    QMutexLocker lock(&ioMutex);
    if (isOpen)
        return true;
    device = bootloaderPath.isEmpty() ? nullptr : hid_open_path(bootloaderPath.constData());
    isOpen = device != nullptr;
    return isOpen;
}

bool DevizuvEZWriteFWObject::Close()
{
    QMutexLocker lock(&ioMutex);
    if (isOpen) {
        hid_close(device);
        device = nullptr;
        isOpen = false;
    }
    return true;
}

bool DevizuvEZWriteFWObject::SetFirmwareData(uint32_t start, const uint8_t* data, uint32_t size)
{
    if (size > MaxImageSize || (start & 0xFFFF) != StartAddressLowHalf || (size > 0 && !data))
        return false;
    startAddress = start;
    memset(flashImage, 0xFF, FlashImageSize);
    if (size > 0)
        memcpy(flashImage, data, size);
    imageSize = size;
    return true;
}

void DevizuvEZWriteFWObject::GetCommandCounts(int& erase, int& write, int& run) const
{
    erase = PageCount;
    write = int((imageSize + BlockSize - 1) / BlockSize);
    run = 1;
}

DevizuvEZWriteFWObject::ExchangeTrace DevizuvEZWriteFWObject::exchangeTrace;

void DevizuvEZWriteFWObject::setExchangeTrace(ExchangeTrace trace)
{
    exchangeTrace = std::move(trace);
}

int DevizuvEZWriteFWObject::exchange(uint8_t* command, int commandLength, uint8_t* reply, int replyLength,
                                     int timeoutMs)
{
    if (!isOpen || !device || !command)
        return -1;
    ++commandCount;
    if (!exchangeTrace)
        return exchangeOnce(command, commandLength, reply, replyLength, timeoutMs);
    // The reply may come into the command's buffer.
    const QByteArray sent(reinterpret_cast<const char*>(command), commandLength);
    const int result = exchangeOnce(command, commandLength, reply, replyLength, timeoutMs);
    exchangeTrace(reinterpret_cast<const uint8_t*>(sent.constData()), commandLength, reply,
                  reply ? replyLength : 0, result);
    return result;
}

int DevizuvEZWriteFWObject::exchangeOnce(uint8_t* command, int commandLength, uint8_t* reply, int replyLength,
                                         int timeoutMs)
{
    if (hid_write(device, command, size_t(commandLength)) < 0) {
        qDebug("%s %s", "DevizuvEZWriteFWObject::GetValuesByCMD",
               qPrintable(QString::asprintf("Unable to write CMD, error: %ls \n", errorText(device))));
        return -1;
    }
    if (!reply)
        return 0;
    memset(reply, 0, size_t(replyLength));
    const int read = hid_read_timeout(device, reply, size_t(replyLength), timeoutMs);
    if (read < 0) {
        qDebug("%s %s", "DevizuvEZWriteFWObject::GetValuesByCMD",
               qPrintable(QString::asprintf("Unable to read CMD, error: %ls \n", errorText(device))));
        return -1;
    }
    if (replyLength > 2 && (reply[2] == 1 || reply[2] == 2))
        return -1;
    return read;
}

int DevizuvEZWriteFWObject::exchange(int commandLength)
{
    return exchange(report, commandLength, report, ReportSize, ReplyTimeoutMs);
}

bool DevizuvEZWriteFWObject::GetValuesByCMD(uint8_t* command, int commandLength, uint8_t* reply,
                                            int replyLength, int timeoutMs)
{
    return exchange(command, commandLength, reply, replyLength, timeoutMs) >= 0;
}

bool DevizuvEZWriteFWObject::EraseFlash()
{
    QMutexLocker lock(&ioMutex);
    if (!isOpen || startAddress == 0)
        return false;
    for (int page = 0; page < PageCount; ++page) {
        const int length = buildCommand(report, CmdErase, startAddress + uint32_t(page * PageSize));
        // A bootloader that did not answer has not erased the page.
        if (exchange(length) <= 0 || report[3] != 0)
            return false;
    }
    return true;
}

bool DevizuvEZWriteFWObject::WriteFlash()
{
    QMutexLocker lock(&ioMutex);
    if (!isOpen || startAddress == 0)
        return false;
    const uint32_t blocks = (imageSize + BlockSize - 1) / BlockSize;
    for (uint32_t i = 0; i < blocks; ++i) {
        const int length =
            buildCommand(report, CmdWrite, startAddress + i * BlockSize, flashImage + i * BlockSize);
        if (exchange(length) <= 0 || report[3] != 0)
            return false;
    }
    return true;
}

uint32_t DevizuvEZWriteFWObject::imageSum() const
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < FlashImageSize; i += 4) {
        sum += uint32_t(flashImage[i]) | uint32_t(flashImage[i + 1]) << 8 |
               uint32_t(flashImage[i + 2]) << 16 | uint32_t(flashImage[i + 3]) << 24;
    }
    return sum;
}

bool DevizuvEZWriteFWObject::RunProgram()
{
    QMutexLocker lock(&ioMutex);
    if (!isOpen || startAddress == 0)
        return false;
    const int length = buildCommand(report, CmdRun, imageSum());
    // A bootloader that starts the firmware may leave the bus before or instead of answering, so only
    // an explicit refusal fails the step.
    return !(exchange(length) >= 0 && report[3] == 0xFF);
}
