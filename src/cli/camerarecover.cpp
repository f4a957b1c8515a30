// camera recover: a camera whose chip came up in its USB boot loader gets its firmware back, with
// the window's steps: the image into RAM (every chunk read back, the checksum checked), started, the
// camera awaited, then the normal firmware write into its flash.
#include "camerarecovery.h"
#include "cameraselect.h"
#include "cli.h"
#include "flashlayout.h"
#include "imagefile.h"
#include "interrupt.h"
#include "output.h"
#include "qvrusb.h"
#include "refusals.h"
#include "writeoutcome.h"

#include <QJsonObject>
#include <chrono>
#include <future>
#include <mutex>

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

} // namespace

int cameraRecover(Output& out, const CommonOptions& o, const QString& file)
{
    QJsonObject facts{{"file", file},
                      {"area", "firmware"},
                      {"areaState", "unchanged"},
                      {"dryRun", false},
                      {"writtenBytes", 0}};
    const ImageFile image = loadImage(file, FlashLayout::FirmwareLimit);
    QString warning;
    // The same check as a write, without --force: a RAM load of an image the chip cannot start
    // cannot be made to work.
    const QString problem = cameraImageProblem(file, image, false, false, warning);
    if (!problem.isEmpty())
        return out.result(ExitFileRefused, problem, facts);
    facts.insert(QStringLiteral("fileBytes"), image.data.size());

    BootLoaderList loaders;
    int chosen = 0;
    const int selected = selectBootLoader(out, o.camera, loaders, chosen);
    if (selected != ExitOk)
        return selected;
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
    std::atomic<uint8_t> progress{0};
    std::atomic<uint32_t> bytes{0};
    // The RAM load and the flash write each have their bar. The load's runs from the start, so its
    // time counts even when it ends before the first look; each bar ends and begins as its step
    // does, so the progress stays in order with the steps' lines.
    enum Bar
    {
        LoadBar,
        LoadDone,
        FlashBar
    };
    std::mutex barLock;
    Bar bar = LoadBar;
    std::atomic<int> step{CameraRecovery::OpenBootLoader};
    recovery.stepStarted = [&](CameraRecovery::Step s) {
        std::lock_guard<std::mutex> hold(barLock);
        if (s > CameraRecovery::LoadRam && bar == LoadBar) {
            // Past the load, which therefore ended whole (a failed load ends the recovery).
            out.updateProgress(100, recovery.dataBytes());
            out.endProgress();
            bar = LoadDone;
        }
        if (s != CameraRecovery::OpenBootLoader)
            out.log(recovery.stepText(s));
        if (s == CameraRecovery::WriteFlash) {
            out.log(QStringLiteral("Writing FW..."));
            out.beginProgress(QStringLiteral("write-fw"), image.data.size(), QStringLiteral("erase"));
            bar = FlashBar;
        }
        step = s;
    };
    recovery.cancelRequested = [] { return Interrupt::requested(); };
    auto show = [&] {
        std::lock_guard<std::mutex> hold(barLock);
        if (bar == LoadBar && step.load() == CameraRecovery::LoadRam) {
            out.updateProgress(progress.load(), bytes.load());
        } else if (bar == FlashBar) {
            // The erase takes the progress to 50; the chunks, each written and read back, to 100.
            const uint8_t p = progress.load();
            out.setPhase(p < 50 ? QStringLiteral("erase") : QStringLiteral("write + verify"));
            out.updateProgress(p, bytes.load());
        }
    };
    QVRUsb camera;
    out.beginProgress(QStringLiteral("recover"), recovery.dataBytes(), QStringLiteral("load"));
    std::future<bool> run =
        std::async(std::launch::async, [&] { return recovery.run(camera, &progress, &bytes); });
    bool announced = false;
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
    const bool gone = camera.isGone();
    const QString note = transportNote(camera);
    const QStringList users =
        recovery.writeResult() == QVRUsb::WriteInUse ? camera.cameraUsers() : QStringList();
    camera.close();

    if (recovery.cancelled())
        return out.result(
            ExitInterrupted,
            QStringLiteral("interrupted before the start: the camera is still in its boot loader"), facts);
    if (!recovery.cameraPath().isEmpty()) {
        facts.insert(QStringLiteral("cameraPath"), QString::fromLocal8Bit(recovery.cameraPath()));
        if (recovery.failedStep() > CameraRecovery::OpenCamera)
            facts.insert(QStringLiteral("firmware"),
                         firmwareVersionText(recovery.cameraFirmwareVersion()).mid(1));
    }
    const int result = recovery.writeResult();
    if (result >= 0) {
        const AreaOutcome outcome =
            areaOutcome(false, result, progress.load(), bytes.load(), image.data.size());
        facts.insert(QStringLiteral("writeResult"), result);
        facts.insert(QStringLiteral("areaState"), outcome.state);
        facts.insert(QStringLiteral("writtenBytes"), double(outcome.writtenBytes));
        if (ok) {
            out.log(QStringLiteral("Please unplug the camera and re-connnect to host!"));
            return out.result(
                ExitOk,
                QStringLiteral("Writing FW Successful! The camera's flash holds %1. Unplug the camera "
                               "and plug it in again to start it from its flash.")
                    .arg(file),
                facts);
        }
        facts.insert(QStringLiteral("failedStep"), QLatin1String(stepName(CameraRecovery::WriteFlash)));
        if (result == QVRUsb::WriteInUse)
            return out.result(ExitFailed, cameraInUseText(users), facts);
        // The camera runs the image from RAM: while it stays connected it takes a normal write.
        const QString cameraPath = QString::fromLocal8Bit(recovery.cameraPath());
        if (!gone)
            out.log(QStringLiteral("To write the file again: flashwick-cli camera write-fw %1 --camera %2")
                        .arg(file, cameraPath));
        return out.result(
            ExitFailed,
            QStringLiteral("ERROR: Writing FW Failed! %1 (result %2)%3. %4 %5")
                .arg(writeFailureReason(result))
                .arg(result)
                .arg(note, outcome.text,
                     gone ? QStringLiteral("The camera left the bus during the write: plug it in again; "
                                           "without whole firmware in its flash it comes back in its boot "
                                           "loader, to be recovered again.")
                          : QStringLiteral("The camera runs the image from RAM: keep it connected and write "
                                           "again, or unplug it and recover it again.")),
            facts);
    }
    facts.insert(QStringLiteral("failedStep"), QLatin1String(stepName(recovery.failedStep())));
    return out.result(
        ExitFailed,
        recovery.failureText() + QLatin1Char(' ') +
            (recovery.stillInBootLoader()
                 ? QStringLiteral("The camera is still in its boot loader: run the command again.")
                 : QStringLiteral("Unplug the camera and plug it in again: without firmware in "
                                  "its flash it comes back in its boot loader.")),
        facts);
}
