// Recovery of a camera whose flash holds no usable firmware and whose FX3 chip therefore started its
// USB boot loader: the image is loaded into the chip's RAM (every chunk read back and compared, the
// checksum checked), started, the camera it brings up is awaited, and the same image is then written
// into the flash with the normal firmware write. Every step is bounded in time; until the start
// request the chip stays in its boot loader, so a failure there leaves it ready for another try.
//
// Runs on one worker thread; the callbacks are called on it.
#ifndef CAMERARECOVERY_H
#define CAMERARECOVERY_H

#include "qvrusb.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

class CameraRecovery
{
    Q_DECLARE_TR_FUNCTIONS(CameraRecovery)

public:
    enum Step
    {
        OpenBootLoader,
        LoadRam,       // writes, read-backs and compares
        CheckRam,      // the checksum of what the RAM holds
        Start,         // the start request; its answer does not count
        WaitForCamera, // until the camera the firmware brings up is listed
        OpenCamera,
        WriteFlash, // the normal firmware write
        Finished,
    };

    // Longest wait for the camera after the start request, and the pause between two looks.
    static constexpr unsigned CameraWaitMs = 10000;
    static constexpr unsigned CameraPollMs = 200;

    // image: a boot image that passed Fx3BootImage::check. The boot loader is the one at `path`
    // with the driver index `driverIndex` (from a BootLoaderList).
    CameraRecovery(const QByteArray& image, int driverIndex, const QByteArray& path);

    // Announces each step as it begins (before WriteFlash the camera is open in `camera`).
    std::function<void(Step)> stepStarted;
    // Asked between RAM chunks and before the start request; true stops the recovery with the chip
    // still in its boot loader. Never asked once the firmware was started.
    std::function<bool()> cancelRequested;

    // Runs every step. `camera` must be closed; it holds the recovered camera afterwards (open) when
    // the camera came up. True when the flash write succeeded. `progress` goes 0 to 100 during the
    // RAM load and again during the flash write; `bytes` counts the bytes of the running step.
    bool run(QVRUsb& camera, std::atomic<uint8_t>* progress, std::atomic<uint32_t>* bytes);

    Step failedStep() const { return failed; }
    bool cancelled() const { return wasCancelled; }
    // The result code of the flash write (QVRUsb::WriteResult) once WriteFlash ran.
    int writeResult() const { return flashResult; }
    // One line that names the failed step and what went wrong (not for WriteFlash, whose failure
    // the caller reports as a normal write's); translated with the context "CameraRecovery".
    QString failureText() const;
    // Whether the chip is known to be still in its boot loader after the failure (before the start).
    bool stillInBootLoader() const { return failed < Start || wasCancelled; }

    // The line announcing a step, as both front ends log it ("Loading the image into RAM...").
    QString stepText(Step step) const;

    // Facts of the camera that came up.
    QByteArray cameraPath() const { return upPath; }
    QByteArray cameraName() const { return upName; }
    uint8_t cameraFirmwareVersion() const { return upVersion; }
    int dataBytes() const { return loadBytes; }

    // Test hook: a shorter wait for the camera.
    void setCameraWait(unsigned ms) { cameraWaitMs = ms; }

private:
    void begin(Step step);

    QByteArray image;
    int bootLoaderIndex;
    QByteArray bootLoaderPath;
    unsigned cameraWaitMs = CameraWaitMs;

    Step failed = Finished;
    bool wasCancelled = false;
    int loadResult = 0;
    int flashResult = -1;
    QString transportText;
    uint32_t chunkAddress = 0;
    int chunkLength = 0;
    uint32_t ramSum = 0;
    uint32_t imageSum = 0;
    uint32_t entryPoint = 0;
    int sectionCount = 0;
    int loadBytes = 0;
    int newCameras = 0;
    QByteArray upPath;
    QByteArray upName;
    uint8_t upVersion = 0;
};

#endif
