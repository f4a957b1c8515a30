// camera recover: a camera whose chip came up in its USB boot loader gets its firmware back, with
// the window's steps: the image into RAM (every chunk read back, the checksum checked), started, the
// camera awaited, then the normal firmware write into its flash.
#include "camerarecovery.h"
#include "cli.h"
#include "flashlayout.h"
#include "imagefile.h"
#include "interrupt.h"
#include "output.h"
#include "qvrusb.h"
#include "refusals.h"

#include <QJsonObject>
#include <chrono>
#include <future>

namespace {

const char* stepName(CameraRecovery::Step step)
{
    switch (step) {
    case CameraRecovery::OpenBootLoader:
        return "open the boot loader";
    case CameraRecovery::LoadRam:
        return "load into RAM";
    case CameraRecovery::CheckRam:
        return "check the RAM";
    case CameraRecovery::Start:
    case CameraRecovery::WaitForCamera:
        return "wait for the camera";
    case CameraRecovery::OpenCamera:
        return "open the camera";
    case CameraRecovery::WriteFlash:
        return "write the flash";
    case CameraRecovery::Finished:
        break;
    }
    return "";
}

QString writeFailure(int result)
{
    switch (result) {
    case QVRUsb::WriteProgramFailed:
        return QStringLiteral("programming a chunk failed");
    case QVRUsb::WriteReadBackFailed:
        return QStringLiteral("reading a chunk back failed");
    case QVRUsb::WriteEraseFailed:
        return QStringLiteral("erasing the flash failed");
    case QVRUsb::WriteVerifyFailed:
        return QStringLiteral("a chunk read back differs from what was written");
    case QVRUsb::WriteInUse:
        return QStringLiteral("the camera is in use by another program");
    default:
        return QStringLiteral("result %1").arg(result);
    }
}

} // namespace

int cameraRecover(Output& out, const CommonOptions& o, const QString& file)
{
    QJsonObject facts{{"file", file}, {"dryRun", false}};
    const ImageFile image = loadImage(file, FlashLayout::FirmwareLimit);
    QString warning;
    // The same check as a write, without --force: a RAM load of an image the chip cannot start
    // cannot be made to work.
    const QString problem = cameraImageProblem(file, image, false, false, warning);
    if (!problem.isEmpty())
        return out.result(ExitFileRefused, problem, facts);
    facts.insert(QStringLiteral("fileBytes"), image.data.size());

    CameraList cameras;
    BootLoaderList loaders;
    QVRUsb::findDevices(cameras, &loaders);
    if (loaders.size() == 0)
        return out.result(ExitNoDevice,
                          QStringLiteral("no camera in its FX3 USB boot loader (04b4:00f3) is connected"),
                          facts);
    int chosen = 0;
    if (!o.camera.isEmpty()) {
        bool isNumber = false;
        const int index = o.camera.toInt(&isNumber);
        chosen = loaders.paths.indexOf(o.camera.toLocal8Bit());
        if (chosen < 0 && isNumber && index >= 0 && index < loaders.size())
            chosen = index;
        if (chosen < 0)
            return out.result(ExitNoDevice,
                              QStringLiteral("no boot loader matches \"%1\"; connected: %2")
                                  .arg(o.camera, QString::fromLocal8Bit(loaders.paths.join(", "))),
                              facts);
    } else if (loaders.size() > 1) {
        return out.result(
            ExitNoDevice,
            QStringLiteral("%1 cameras are in their boot loader (%2): choose one with --camera PATH")
                .arg(loaders.size())
                .arg(QString::fromLocal8Bit(loaders.paths.join(", "))),
            facts);
    }
    const QByteArray path = loaders.paths.at(chosen);
    facts.insert(QStringLiteral("bootLoader"), QString::fromLocal8Bit(path));
    out.log(QStringLiteral("Camera in its FX3 USB boot loader at %1").arg(QString::fromLocal8Bit(path)));

    if (o.dryRun) {
        facts.insert(QStringLiteral("dryRun"), true);
        return out.result(
            ExitOk,
            QStringLiteral("Dry run: %1 (%2 bytes) would be loaded into the RAM of the camera at %3 "
                           "and then written into its flash. Nothing was sent.")
                .arg(file)
                .arg(image.data.size())
                .arg(QString::fromLocal8Bit(path)),
            facts);
    }
    if (!o.yes) {
        const Interrupt::Answer answer = Interrupt::ask(
            QStringLiteral("Recover the camera at %1 with %2? [y/N]").arg(QString::fromLocal8Bit(path), file),
            false);
        if (answer == Interrupt::Answer::NoTerminal)
            return out.result(ExitUsage,
                              QStringLiteral("no terminal to confirm the recovery on: pass --yes to recover "
                                             "without asking"),
                              facts);
        if (answer != Interrupt::Answer::Yes)
            return out.result(ExitInterrupted, QStringLiteral("not confirmed: nothing was sent"), facts);
    }

    CameraRecovery recovery(image.data, loaders.indices.at(chosen), path);
    std::atomic<int> step{CameraRecovery::OpenBootLoader};
    recovery.stepStarted = [&](CameraRecovery::Step s) {
        if (s != CameraRecovery::OpenBootLoader)
            out.log(recovery.stepText(s));
        step = s;
    };
    recovery.cancelRequested = [] { return Interrupt::requested(); };
    std::atomic<uint8_t> progress{0};
    std::atomic<uint32_t> bytes{0};
    QVRUsb camera;
    std::future<bool> run =
        std::async(std::launch::async, [&] { return recovery.run(camera, &progress, &bytes); });

    // The RAM load and the flash write each have their bar.
    int shown = -1;
    bool announced = false;
    auto show = [&] {
        const int now = step.load();
        const bool flash = now == CameraRecovery::WriteFlash;
        if (now == CameraRecovery::LoadRam && shown != now) {
            out.beginProgress(QStringLiteral("recover"), recovery.dataBytes(), QStringLiteral("load"));
            shown = now;
        } else if (flash && shown != now) {
            out.endProgress();
            out.log(QStringLiteral("Writing FW..."));
            out.beginProgress(QStringLiteral("write-fw"), image.data.size(), QStringLiteral("erase"));
            shown = now;
        } else if (!flash && now > CameraRecovery::LoadRam && shown == CameraRecovery::LoadRam) {
            out.updateProgress(100, recovery.dataBytes());
            out.endProgress();
            shown = now;
        }
        if (shown == CameraRecovery::LoadRam || flash) {
            const uint8_t p = progress.load();
            if (flash)
                out.setPhase(p < 50 ? QStringLiteral("erase") : QStringLiteral("write + verify"));
            out.updateProgress(p, bytes.load());
        }
    };
    while (run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        show();
        if (Interrupt::requested() && !announced && step.load() >= CameraRecovery::Start) {
            out.log(QStringLiteral("Interrupt received: the firmware was started, so the recovery is not "
                                   "abandoned. It finishes, then its result is reported."));
            announced = true;
        }
    }
    const bool ok = run.get();
    show();
    out.endProgress();
    camera.close();

    if (recovery.cancelled())
        return out.result(
            ExitInterrupted,
            QStringLiteral("interrupted before the start: the camera is still in its boot loader"), facts);
    if (!recovery.cameraPath().isEmpty()) {
        facts.insert(QStringLiteral("cameraPath"), QString::fromLocal8Bit(recovery.cameraPath()));
        facts.insert(QStringLiteral("firmware"),
                     firmwareVersionText(recovery.cameraFirmwareVersion()).mid(1));
    }
    if (recovery.writeResult() >= 0)
        facts.insert(QStringLiteral("writeResult"), recovery.writeResult());
    if (ok) {
        out.log(QStringLiteral("Please unplug the camera and re-connnect to host!"));
        return out.result(
            ExitOk,
            QStringLiteral("Writing FW Successful! The camera's flash holds %1. Unplug the camera "
                           "and plug it in again to start it from its flash.")
                .arg(file),
            facts);
    }
    facts.insert(QStringLiteral("failedStep"), QLatin1String(stepName(recovery.failedStep())));
    if (recovery.failedStep() == CameraRecovery::WriteFlash)
        return out.result(
            ExitFailed,
            QStringLiteral("ERROR: Writing FW Failed! %1 (result %2)%3. The camera runs the image "
                           "from RAM: keep it connected and write the file again with \"camera "
                           "write-fw\", or unplug it and recover it again.")
                .arg(writeFailure(recovery.writeResult()))
                .arg(recovery.writeResult())
                .arg(camera.lastError() ? QStringLiteral(" [%1]").arg(camera.lastErrorText()) : QString()),
            facts);
    return out.result(
        ExitFailed,
        recovery.failureText() + QLatin1Char(' ') +
            (recovery.stillInBootLoader()
                 ? QStringLiteral("The camera is still in its boot loader: run the command again.")
                 : QStringLiteral("Unplug the camera and plug it in again: without firmware in "
                                  "its flash it comes back in its boot loader.")),
        facts);
}
