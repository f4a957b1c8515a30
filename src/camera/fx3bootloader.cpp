#include "fx3bootloader.h"

#include "fx3bootimage.h"
#include "usbdriverdevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {
std::function<void(const QVRUsb::RequestTrace&)>& requestTrace()
{
    static std::function<void(const QVRUsb::RequestTrace&)> trace;
    return trace;
}
} // namespace

Fx3BootLoader::Fx3BootLoader() : device(new UsbDriverDevice(CameraInterfaceGuid)) {}

Fx3BootLoader::~Fx3BootLoader()
{
    close();
}

bool Fx3BootLoader::open(int driverIndex, const QByteArray& path)
{
    close();
    if (!device->open(driverIndex)) {
        error = device->lastError();
        return false;
    }
    if (!Fx3::isBootLoader(device->vendorId(), device->productId()) ||
        QByteArray::fromStdString(device->devicePath()) != path) {
        device->close();
        error = 0;
        return false;
    }
    opened = true;
    error = 0;
    return true;
}

void Fx3BootLoader::close()
{
    if (opened)
        device->close();
    opened = false;
}

bool Fx3BootLoader::isOpen() const
{
    return opened;
}

bool Fx3BootLoader::transfer(bool toHost, uint32_t address, uint8_t* data, int length, int* moved)
{
    if (moved)
        *moved = 0;
    CCyControlEndPoint* ep = opened ? device->controlEndPoint() : nullptr;
    if (!ep)
        return false;
    ep->target = CCyControlEndPoint::TargetDevice;
    ep->requestType = CCyControlEndPoint::RequestVendor;
    ep->direction = toHost ? CCyControlEndPoint::DirectionFromDevice : CCyControlEndPoint::DirectionToDevice;
    ep->requestCode = ReqRam;
    ep->value = uint16_t(address & 0xFFFF);
    ep->index = uint16_t(address >> 16);
    ep->timeoutMs = RequestTimeoutMs;
    int count = length;
    const auto begun = std::chrono::steady_clock::now();
    const bool ok = ep->transferData(data, count);
    if (requestTrace()) {
        const int64_t ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - begun)
                .count();
        requestTrace()({ReqRam, ep->value, ep->index, toHost, length, ok ? count : 0, ok,
                        ok ? 0 : ep->lastError, data, ns});
    }
    if (!ok)
        error = ep->lastError;
    if (moved)
        *moved = count;
    return ok;
}

bool Fx3BootLoader::writeRam(uint32_t address, const uint8_t* data, int length)
{
    if (address % 4 || length <= 0 || length > ChunkSize)
        return false;
    std::vector<uint8_t> copy(data, data + length); // the transport takes a writable buffer
    return transfer(false, address, copy.data(), length, nullptr);
}

bool Fx3BootLoader::readRam(uint32_t address, uint8_t* data, int length)
{
    if (address % 4 || length <= 0 || length > ChunkSize)
        return false;
    int moved = 0;
    return transfer(true, address, data, length, &moved) && moved == length;
}

bool Fx3BootLoader::start(uint32_t entryPoint)
{
    return transfer(false, entryPoint, nullptr, 0, nullptr);
}

int Fx3BootLoader::load(const QByteArray& image, std::atomic<uint8_t>* progress,
                        std::atomic<uint32_t>* loaded, const std::function<bool()>& cancel)
{
    chunkAddress = 0;
    chunkLength = 0;
    readBackSum = 0;
    expectedSum = 0;
    if (progress)
        progress->store(0);
    if (!opened)
        return LoadNotOpen;
    const Fx3BootImage checked = Fx3BootImage::check(image);
    if (!checked.isValid())
        return LoadInvalidImage;
    expectedSum = checked.storedChecksum;
    switch (device->claimExclusive()) {
    case UsbDriverDevice::ClaimResult::Claimed:
        break;
    case UsbDriverDevice::ClaimResult::Busy:
        error = device->lastError();
        return LoadInUse;
    case UsbDriverDevice::ClaimResult::Failed:
        error = device->lastError();
        return LoadNotOpen;
    }

    const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
    std::vector<uint8_t> readBack(ChunkSize);
    uint32_t sum = 0;
    int done = 0;
    for (const Fx3Section& section : checked.sections) {
        for (int offset = 0; offset < section.length; offset += ChunkSize) {
            if (cancel && cancel())
                return LoadCancelled;
            chunkAddress = section.address + uint32_t(offset);
            chunkLength = std::min(ChunkSize, section.length - offset);
            const uint8_t* data = bytes + section.offset + offset;
            if (!writeRam(chunkAddress, data, chunkLength))
                return LoadWriteFailed;
            if (!readRam(chunkAddress, readBack.data(), chunkLength))
                return LoadReadBackFailed;
            if (std::memcmp(readBack.data(), data, size_t(chunkLength)) != 0)
                return LoadVerifyFailed;
            sum = Fx3BootImage::wordSum(readBack.data(), size_t(chunkLength), sum);
            done += chunkLength;
            if (loaded)
                loaded->store(uint32_t(done));
            if (progress)
                progress->store(uint8_t(qint64(done) * 100 / checked.dataBytes));
        }
    }
    readBackSum = sum;
    return readBackSum == expectedSum ? LoadOk : LoadChecksumFailed;
}

void Fx3BootLoader::setRequestTrace(std::function<void(const QVRUsb::RequestTrace&)> trace)
{
    requestTrace() = std::move(trace);
}

QString Fx3BootLoader::lastErrorText() const
{
    return error ? QString::fromStdString(UsbDriverDevice::errorText(error)) : QString();
}
