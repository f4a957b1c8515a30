#include "camerarecovery.h"

#include "fx3bootimage.h"
#include "fx3bootloader.h"

#include <chrono>
#include <thread>

namespace {
QString hex8(uint32_t value)
{
    return QLatin1String("0x") + QString::number(value, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString withReason(const QString& text)
{
    return text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text);
}
} // namespace

CameraRecovery::CameraRecovery(const QByteArray& image, int driverIndex, const QByteArray& path)
    : image(image), bootLoaderIndex(driverIndex), bootLoaderPath(path)
{
    const Fx3BootImage checked = Fx3BootImage::check(image);
    entryPoint = checked.entryPoint;
    sectionCount = int(checked.sections.size());
    loadBytes = checked.dataBytes;
}

void CameraRecovery::begin(Step step)
{
    failed = step;
    if (stepStarted)
        stepStarted(step);
}

bool CameraRecovery::run(QVRUsb& camera, std::atomic<uint8_t>* progress, std::atomic<uint32_t>* bytes)
{
    failed = Finished;
    wasCancelled = false;
    flashResult = -1;
    transportText.clear();
    if (bytes)
        bytes->store(0);

    // The cameras present before the start: the recovered one is the camera that is new afterwards.
    CameraList before;
    QVRUsb::findDevices(before, nullptr);

    Fx3BootLoader loader;
    begin(OpenBootLoader);
    if (!loader.open(bootLoaderIndex, bootLoaderPath)) {
        transportText = loader.lastErrorText();
        return false;
    }
    begin(LoadRam);
    loadResult = loader.load(image, progress, bytes, cancelRequested);
    chunkAddress = loader.failedAddress();
    chunkLength = loader.failedLength();
    ramSum = loader.ramChecksum();
    imageSum = loader.imageChecksum();
    transportText = loader.lastErrorText();
    if (loadResult == Fx3BootLoader::LoadCancelled) {
        wasCancelled = true;
        return false;
    }
    if (loadResult == Fx3BootLoader::LoadChecksumFailed)
        failed = CheckRam;
    if (loadResult != Fx3BootLoader::LoadOk)
        return false;
    begin(CheckRam);
    if (cancelRequested && cancelRequested()) {
        wasCancelled = true;
        return false;
    }

    begin(Start);
    // The chip may leave the bus before it answers: the answer says nothing either way.
    loader.start(entryPoint);
    loader.close();

    begin(WaitForCamera);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(cameraWaitMs);
    CameraList now;
    int found = -1;
    for (;;) {
        QVRUsb::findDevices(now, nullptr);
        newCameras = 0;
        for (int i = 0; i < now.paths.size(); ++i) {
            if (!before.paths.contains(now.paths.at(i))) {
                ++newCameras;
                found = i;
            }
        }
        if (newCameras > 0 || Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(CameraPollMs));
    }
    if (newCameras != 1)
        return false;
    upPath = now.paths.at(found);
    upName = now.names.at(found);

    begin(OpenCamera);
    camera.close();
    if (!camera.open(now.indices.at(found))) {
        transportText = camera.lastError() ? camera.lastErrorText() : QString();
        return false;
    }
    if (!camera.readFirmwareVersion(upVersion)) {
        transportText = camera.lastErrorText();
        return false;
    }

    // The flash write's progress starts from nothing, before its step is announced: the load left
    // 100 in it, which a watcher would otherwise show as the write's first value.
    if (progress)
        progress->store(0);
    if (bytes)
        bytes->store(0);
    begin(WriteFlash);
    flashResult = camera.writeFirmwareImage(image, progress, bytes);
    if (flashResult != QVRUsb::WriteOk)
        return false;
    failed = Finished;
    return true;
}

QString CameraRecovery::stepText(Step step) const
{
    switch (step) {
    case OpenBootLoader:
        return tr("Opening the FX3 boot loader at %1...").arg(QString::fromLocal8Bit(bootLoaderPath));
    case LoadRam:
        return tr("Loading the image into the camera's RAM (%1 bytes in %2 section(s))...")
            .arg(loadBytes)
            .arg(sectionCount);
    case CheckRam:
        return tr("Every chunk read back and compared; the RAM checksum %1 matches the image.")
            .arg(hex8(ramSum));
    case Start:
        return tr("Starting the firmware in RAM at %1...").arg(hex8(entryPoint));
    case WaitForCamera:
        return tr("Waiting for the camera to come up (at most %1 s)...").arg((cameraWaitMs + 999) / 1000);
    case OpenCamera:
        return tr("The camera came up: %1 (%2).")
            .arg(QString::fromLocal8Bit(upName), QString::fromLocal8Bit(upPath));
    case WriteFlash:
        return tr("The camera runs the image from RAM (firmware %1); writing it into the flash.")
            .arg(firmwareVersionText(upVersion));
    case Finished:
        break;
    }
    return QString();
}

QString CameraRecovery::failureText() const
{
    if (wasCancelled)
        return tr("ERROR: Recovery stopped before the start: the camera is still in its boot loader.");
    switch (failed) {
    case OpenBootLoader:
        return tr("ERROR: Recovery failed at \"open the boot loader\": the boot loader at %1 cannot be "
                  "opened%2.")
            .arg(QString::fromLocal8Bit(bootLoaderPath), withReason(transportText));
    case LoadRam:
        switch (loadResult) {
        case Fx3BootLoader::LoadInvalidImage:
            return tr("ERROR: Recovery failed at \"load into RAM\": the file is not a valid firmware image.");
        case Fx3BootLoader::LoadWriteFailed:
            return tr("ERROR: Recovery failed at \"load into RAM\": writing %1 bytes at %2 failed%3.")
                .arg(chunkLength)
                .arg(hex8(chunkAddress), withReason(transportText));
        case Fx3BootLoader::LoadReadBackFailed:
            return tr("ERROR: Recovery failed at \"load into RAM\": reading %1 bytes back at %2 failed%3.")
                .arg(chunkLength)
                .arg(hex8(chunkAddress), withReason(transportText));
        case Fx3BootLoader::LoadVerifyFailed:
            return tr("ERROR: Recovery failed at \"load into RAM\": the %1 bytes read back at %2 differ from "
                      "the image.")
                .arg(chunkLength)
                .arg(hex8(chunkAddress));
        case Fx3BootLoader::LoadInUse:
            return tr("ERROR: Recovery failed at \"load into RAM\": another program holds the boot loader%1.")
                .arg(withReason(transportText));
        default:
            return tr("ERROR: Recovery failed at \"load into RAM\": the boot loader cannot be taken for the "
                      "load%1.")
                .arg(withReason(transportText));
        }
    case CheckRam:
        return tr("ERROR: Recovery failed at \"check the RAM\": checksum %1, the image says %2.")
            .arg(hex8(ramSum), hex8(imageSum));
    case Start:
    case WaitForCamera:
        if (newCameras > 1)
            return tr("ERROR: Recovery failed at \"wait for the camera\": %1 cameras came up at once, so the "
                      "recovered one is not known.")
                .arg(newCameras);
        return tr("ERROR: Recovery failed at \"wait for the camera\": no camera came up within %1 s of the "
                  "start.")
            .arg((cameraWaitMs + 999) / 1000);
    case OpenCamera:
        return tr("ERROR: Recovery failed at \"open the camera\": the camera at %1 cannot be opened or does "
                  "not answer%2.")
            .arg(QString::fromLocal8Bit(upPath), withReason(transportText));
    case WriteFlash:
    case Finished:
        break;
    }
    return QString();
}
