// Writing the firmware image and the FPGA bitstream into the camera's flash.
#include "flashlayout.h"
#include "qvrusb.h"

#include <QFile>
#include <QMutexLocker>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

using namespace FlashLayout;

namespace {

// Reads the whole file behind `front` reserved bytes. Returns WriteOk, WriteTooLarge when
// front + size exceeds limit (checked before reading), or WriteFileError when the file cannot be
// opened, is empty, its size cannot be learned or it reads short.
int readImage(const char* fileName, uint32_t front, uint32_t limit, std::vector<uint8_t>& out)
{
    out.clear();
    if (!fileName || !*fileName)
        return QVRUsb::WriteFileError;
    QFile file(QFile::decodeName(fileName));
    if (!file.open(QIODevice::ReadOnly)) // raw bytes, no text translation
        return QVRUsb::WriteFileError;
    const qint64 size = file.size();
    if (size <= 0)
        return QVRUsb::WriteFileError;
    if (uint64_t(size) + front > limit)
        return QVRUsb::WriteTooLarge;
    out.assign(size_t(size) + front, 0);
    qint64 got = 0;
    while (got < size) {
        qint64 n = file.read(reinterpret_cast<char*>(out.data()) + front + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got != size) {
        out.clear();
        return QVRUsb::WriteFileError;
    }
    return QVRUsb::WriteOk;
}

// Pauses at least `pause`. A plain sleep overshoots by the scheduler's latency (up to a millisecond
// on a loaded machine), which adds up over hundreds of chunks: sleep all but the last millisecond,
// then yield until the deadline.
void pauseFor(std::chrono::milliseconds pause)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + pause;
    const Clock::time_point coarse = deadline - std::chrono::milliseconds(1);
    if (Clock::now() < coarse)
        std::this_thread::sleep_until(coarse);
    while (Clock::now() < deadline)
        std::this_thread::yield();
}

// Gives the camera back when a write that took it ends.
struct ClaimScope
{
    QVRUsb& camera;
    bool taken;
    ~ClaimScope()
    {
        if (taken)
            camera.releaseExclusive();
    }
};

} // namespace

// Takes the camera for a write unless it is held already. WriteOk, WriteInUse, or WriteEraseFailed
// when it cannot be taken at all (not open, or gone): what a write to such a camera gives at its
// first request.
int QVRUsb::takeForWrite(bool& taken)
{
    taken = false;
    if (isClaimed())
        return WriteOk;
    switch (claimExclusive()) {
    case ClaimOk:
        taken = true;
        return WriteOk;
    case ClaimInUse:
        return WriteInUse;
    case ClaimFailed:
        break;
    }
    return WriteEraseFailed;
}

void QVRUsb::setProgressObserver(std::function<void(uint8_t)> observer)
{
    progressObserver = std::move(observer);
}

void QVRUsb::setStatusBounds(unsigned eraseMs, unsigned programMs)
{
    eraseBoundMs = eraseMs;
    programBoundMs = programMs;
}

void QVRUsb::setProgress(std::atomic<uint8_t>* progress, uint8_t value)
{
    if (progress)
        progress->store(value);
    if (progressObserver)
        progressObserver(value);
}

// Reads the flash status until it says ready. False when a read fails or the camera is still busy
// after boundMs. A reply without its byte counts as busy.
bool QVRUsb::waitReady(unsigned boundMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        uint8_t status = 0xFF;
        int moved = 0;
        if (!transfer(ReqStatus, 0, 0, 1, &status, 1, &moved))
            return false;
        if (moved == 1 && status == 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

bool QVRUsb::programChunk(uint16_t page, uint8_t* data, int length)
{
    if (!transfer(ReqWritePage, 0, page, 0, data, length, nullptr))
        return false;
    pauseFor(std::chrono::milliseconds(ChunkPauseMs));
    return waitReady(programBoundMs);
}

// Reads a chunk back and compares it: WriteOk, WriteReadBackFailed (request failed or came back
// short) or WriteVerifyFailed.
int QVRUsb::readBackChunk(uint16_t page, const uint8_t* data, int length, uint8_t* scratch)
{
    int moved = 0;
    if (!transfer(ReqReadPage, 0, page, 1, scratch, length, &moved) || moved != length)
        return WriteReadBackFailed;
    return std::memcmp(scratch, data, size_t(length)) == 0 ? WriteOk : WriteVerifyFailed;
}

int QVRUsb::writeArea(uint32_t start, uint8_t* data, uint32_t length, std::atomic<uint8_t>* progress,
                      std::atomic<uint32_t>* programmed)
{
    if (start % BlockSize)
        return WriteBadStart;

    const uint32_t blocks = blockCount(length);
    for (uint32_t k = 0; k < blocks; ++k) {
        if (!transfer(ReqErase, 0, uint16_t(start / BlockSize + k), 0, nullptr, 0, nullptr))
            return WriteEraseFailed;
        if (!waitReady(eraseBoundMs))
            return WriteEraseFailed;
        setProgress(progress, eraseProgress(k, blocks));
    }
    setProgress(progress, 50);

    const uint32_t chunks = chunkCount(length);
    std::vector<uint8_t> readBack(ChunkSize);
    for (uint32_t j = 1; j <= chunks; ++j) {
        const uint32_t offset = (j - 1) * ChunkSize;
        const int size = int(std::min(ChunkSize, length - offset));
        const uint16_t page = uint16_t(start / PageSize + (j - 1) * (ChunkSize / PageSize));
        if (!programChunk(page, data + offset, size))
            return WriteProgramFailed;
        int result = readBackChunk(page, data + offset, size, readBack.data());
        if (result != WriteOk)
            return result;
        if (programmed)
            programmed->fetch_add(uint32_t(size));
        setProgress(progress, chunkProgress(j, chunks));
    }
    setProgress(progress, 100);
    return WriteOk;
}

int QVRUsb::writeFirmware(const char* fileName, std::atomic<uint8_t>* progress)
{
    setProgress(progress, 0);
    std::vector<uint8_t> image;
    int result = readImage(fileName, 0, FirmwareLimit, image);
    if (result != WriteOk)
        return result;
    bool taken = false;
    if ((result = takeForWrite(taken)) != WriteOk)
        return result;
    const ClaimScope claim{*this, taken};
    return writeArea(FirmwareStart, image.data(), uint32_t(image.size()), progress, nullptr);
}

int QVRUsb::writeFirmwareImage(const QByteArray& image, std::atomic<uint8_t>* progress,
                               std::atomic<uint32_t>* programmed)
{
    setProgress(progress, 0);
    if (image.isEmpty())
        return WriteFileError;
    if (uint64_t(image.size()) > FirmwareLimit)
        return WriteTooLarge;
    bool taken = false;
    if (const int result = takeForWrite(taken))
        return result;
    const ClaimScope claim{*this, taken};
    std::vector<uint8_t> data(image.begin(), image.end());
    return writeArea(FirmwareStart, data.data(), uint32_t(data.size()), progress, programmed);
}

int QVRUsb::writeFpga(const char* fileName, std::atomic<uint8_t>* progress)
{
    setProgress(progress, 0);
    std::vector<uint8_t> image;
    int result = readImage(fileName, FpgaFront, FpgaLimit, image);
    if (result != WriteOk)
        return result;
    bool taken = false;
    if ((result = takeForWrite(taken)) != WriteOk)
        return result;
    const ClaimScope claim{*this, taken};
    return writeFpgaArea(image, progress, nullptr);
}

int QVRUsb::writeFpgaImage(const QByteArray& bitstream, std::atomic<uint8_t>* progress,
                           std::atomic<uint32_t>* programmed)
{
    setProgress(progress, 0);
    if (bitstream.isEmpty())
        return WriteFileError;
    if (uint64_t(bitstream.size()) + FpgaFront > FpgaLimit)
        return WriteTooLarge;
    bool taken = false;
    if (const int result = takeForWrite(taken))
        return result;
    const ClaimScope claim{*this, taken};
    std::vector<uint8_t> framed(size_t(FpgaFront) + size_t(bitstream.size()));
    std::memcpy(framed.data() + FpgaFront, bitstream.constData(), size_t(bitstream.size()));
    return writeFpgaArea(framed, progress, programmed);
}

// `framed` holds FpgaFront reserved bytes and then the bitstream; it is freed before the header.
int QVRUsb::writeFpgaArea(std::vector<uint8_t>& framed, std::atomic<uint8_t>* progress,
                          std::atomic<uint32_t>* programmed)
{
    std::memset(framed.data(), 0xFF, FpgaFront);
    const uint32_t length = uint32_t(framed.size());
    int result = writeArea(FpgaStart, framed.data(), length, progress, programmed);
    framed = std::vector<uint8_t>();
    if (result != WriteOk)
        return result;

    if (!transfer(ReqErase, 1, uint16_t(HeaderStart / SectorSize), 0, nullptr, 0, nullptr) ||
        !waitReady(eraseBoundMs))
        return WriteEraseFailed;
    HeaderRecord record = fpgaHeaderRecord(length);
    const uint16_t page = uint16_t(HeaderStart / PageSize);
    if (!programChunk(page, record.data(), int(record.size())))
        return WriteProgramFailed;
    uint8_t readBack[HeaderSize];
    return readBackChunk(page, record.data(), int(record.size()), readBack);
}

bool QVRUsb::readFlash(uint32_t address, uint32_t length, uint8_t* out)
{
    if (address % PageSize || uint64_t(address) + length > FlashEnd || (length && !out))
        return false;
    for (uint32_t offset = 0; offset < length; offset += ChunkSize) {
        const int size = int(std::min(ChunkSize, length - offset));
        int moved = 0;
        if (!transfer(ReqReadPage, 0, uint16_t((address + offset) / PageSize), 1, out + offset, size,
                      &moved) ||
            moved != size)
            return false;
    }
    return true;
}
