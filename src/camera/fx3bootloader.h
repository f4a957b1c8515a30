// The FX3 chip's own USB boot loader (04B4:00F3), which the chip starts when its flash holds no usable
// image. It answers the standard requests and vendor request 0xA0 only: write RAM, read RAM back, and
// start the firmware at an entry point. Reached through the camera transport (the same driver class);
// nothing else is ever sent to it.
#ifndef FX3BOOTLOADER_H
#define FX3BOOTLOADER_H

#include "qvrusb.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class UsbDriverDevice;

class Fx3BootLoader
{
public:
    static constexpr uint8_t ReqRam = 0xA0;
    static constexpr int ChunkSize = 4096;
    static constexpr unsigned RequestTimeoutMs = 2000;

    enum LoadResult
    {
        LoadOk,
        LoadNotOpen,        // no boot loader open
        LoadInvalidImage,   // the image fails the boot-image check: nothing was sent
        LoadWriteFailed,    // a RAM write request failed
        LoadReadBackFailed, // reading a chunk back failed or came back short
        LoadVerifyFailed,   // a chunk read back differs from the image
        LoadChecksumFailed, // the sum of the words read back differs from the image's checksum
        LoadCancelled,      // the caller asked to stop between two chunks
        LoadInUse,          // another program holds the boot loader: nothing was sent
    };

    Fx3BootLoader();
    ~Fx3BootLoader();
    Fx3BootLoader(const Fx3BootLoader&) = delete;
    Fx3BootLoader& operator=(const Fx3BootLoader&) = delete;

    // Opens the device with that driver index, but keeps it only when it is an FX3 boot loader
    // (04B4:00F3) at `path`: the device list may have changed since it was read.
    bool open(int driverIndex, const QByteArray& path);
    void close();
    bool isOpen() const;

    bool writeRam(uint32_t address, const uint8_t* data, int length);
    // False when the request fails or fewer than `length` bytes come back.
    bool readRam(uint32_t address, uint8_t* data, int length);
    // The start request (no data). The chip may leave the bus before answering, so a false result
    // is no sign that the firmware did not start.
    bool start(uint32_t entryPoint);

    // Sends every section of a checked boot image in chunks of ChunkSize, reads each chunk back and
    // compares it, then compares the sum of all words read back with the image's checksum. Does not
    // start the firmware. Takes the device for itself first (UsbDriverDevice::claimExclusive), until
    // close. `progress` goes from 0 to 100, `loaded` counts the bytes read back so far;
    // `cancel`, when given, is asked before every chunk.
    int load(const QByteArray& image, std::atomic<uint8_t>* progress, std::atomic<uint32_t>* loaded,
             const std::function<bool()>& cancel = {});

    // The chunk at which the last load stopped, and the checksums of its last comparison.
    uint32_t failedAddress() const { return chunkAddress; }
    int failedLength() const { return chunkLength; }
    uint32_t ramChecksum() const { return readBackSum; }
    uint32_t imageChecksum() const { return expectedSum; }

    int lastError() const { return error; }
    QString lastErrorText() const;

    // Process-wide trace of every request sent to a boot loader, after it ended, in the form of the
    // camera's request trace (for a bug report); the same rules as QVRUsb::setRequestTrace.
    static void setRequestTrace(std::function<void(const QVRUsb::RequestTrace&)> trace);

private:
    bool transfer(bool toHost, uint32_t address, uint8_t* data, int length, int* moved);

    std::unique_ptr<UsbDriverDevice> device;
    bool opened = false;
    int error = 0;
    uint32_t chunkAddress = 0;
    int chunkLength = 0;
    uint32_t readBackSum = 0;
    uint32_t expectedSum = 0;
};

#endif
