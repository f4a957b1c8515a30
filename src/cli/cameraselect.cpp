#include "cameraselect.h"

#include "cli.h"
#include "output.h"
#include "permissionhint.h"
#include "qvrusb.h"

#include <cstring>

QJsonObject CameraFacts::toJson() const
{
    // Versions as dotted numbers, like the wheels': the "V" of the display forms left out.
    auto known = [this](bool read, const QString& text) {
        return opened && read ? QJsonValue(text.startsWith(QLatin1Char('V')) ? text.mid(1) : text)
                              : QJsonValue();
    };
    return QJsonObject{{"index", index},
                       {"name", name},
                       {"path", path},
                       {"opened", opened},
                       {"answered", answered},
                       {"serial", known(serialRead, serial)},
                       {"firmware", known(firmwareRead, firmware)},
                       {"fpga", known(fpgaRead, fpga)},
                       {"link", known(true, link)},
                       {"problem", opened ? QJsonValue() : QJsonValue(openProblem)}};
}

QString CameraFacts::summary() const
{
    if (!opened)
        return QStringLiteral("%1  %2  %3  (cannot be opened: %4)").arg(index).arg(name, path, openProblem);
    return QStringLiteral("%1  %2  %3  serial %4  firmware %5  FPGA %6  %7%8")
        .arg(index)
        .arg(name, path, serial.isEmpty() ? QStringLiteral("-") : serial, firmware, fpga, link,
             answered ? QString() : QStringLiteral("  (some requests were not answered)"));
}

CameraFacts readCameraFacts(QVRUsb& camera, int index, int driverIndex, const QString& name,
                            const QString& path)
{
    CameraFacts f;
    f.index = index;
    f.driverIndex = driverIndex;
    f.name = name;
    f.path = path;
    if (!camera.open(driverIndex)) {
        f.openProblem = camera.lastError() ? camera.lastErrorText() : QStringLiteral("the camera is gone");
        return f;
    }
    f.opened = true;
    uint8_t fw = 0;
    const bool fwOk = camera.readFirmwareVersion(fw);
    uint8_t a = 0, c = 0;
    int b = 0;
    const bool fpgaOk = camera.readFpgaVersion(a, b, c);
    uint8_t sn[64];
    std::memset(sn, 0, sizeof sn);
    const bool snOk = camera.readSerialNumber(sn);
    f.answered = fwOk && fpgaOk && snOk;
    f.firmwareRead = fwOk;
    f.fpgaRead = fpgaOk;
    f.serialRead = snOk;
    f.firmware = fwOk ? firmwareVersionText(fw) : QStringLiteral("?");
    f.fpga = fpgaOk ? fpgaVersionText(a, b, c) : QStringLiteral("?");
    f.serial = snOk ? serialNumberText(sn) : QString();
    f.link = connectionText(camera.isUsb3());
    return f;
}

QList<CameraFacts> scanCameras()
{
    const int count = QVRUsb::enumerateCameras();
    const CameraList list = QVRUsb::cameraList();
    QList<CameraFacts> cameras;
    for (int i = 0; i < count; ++i) {
        QVRUsb camera;
        cameras.append(readCameraFacts(camera, i, list.indices.at(i),
                                       QString::fromLocal8Bit(list.names.at(i)),
                                       QString::fromLocal8Bit(list.paths.at(i))));
        camera.close();
    }
    return cameras;
}

namespace {
void listChoices(Output& out, const QList<CameraFacts>& cameras)
{
    for (const CameraFacts& f : cameras)
        out.log(QStringLiteral("  ") + f.summary());
}
} // namespace

int selectCamera(Output& out, const QString& choice, QVRUsb& camera, CameraFacts& chosen, bool needAnswers)
{
    const QList<CameraFacts> cameras = scanCameras();
    if (cameras.isEmpty()) {
        const QString hint = cameraScanPermissionHint();
        return out.result(ExitNoDevice, QStringLiteral("no camera found") +
                                            (hint.isEmpty() ? QString() : QStringLiteral(". ") + hint));
    }

    QList<CameraFacts> matches;
    if (choice.isEmpty()) {
        matches = cameras;
        if (matches.size() > 1) {
            out.log(QStringLiteral("%1 cameras are connected:").arg(cameras.size()));
            listChoices(out, cameras);
            return out.result(
                ExitNoDevice,
                QStringLiteral("%1 cameras are connected: choose one with --camera SERIAL|PATH|INDEX")
                    .arg(cameras.size()));
        }
    } else {
        for (const CameraFacts& f : cameras)
            if (f.path == choice)
                matches.append(f);
        if (matches.isEmpty())
            for (const CameraFacts& f : cameras)
                if (f.opened && !f.serial.isEmpty() && f.serial == choice)
                    matches.append(f);
        bool isNumber = false;
        const int index = choice.toInt(&isNumber);
        if (matches.isEmpty() && isNumber && index >= 0 && index < cameras.size())
            matches.append(cameras.at(index));
        if (matches.isEmpty()) {
            out.log(QStringLiteral("Connected cameras:"));
            listChoices(out, cameras);
            return out.result(ExitNoDevice, QStringLiteral("no camera matches \"%1\"").arg(choice));
        }
        if (matches.size() > 1) {
            out.log(QStringLiteral("\"%1\" matches %2 cameras:").arg(choice).arg(matches.size()));
            listChoices(out, matches);
            return out.result(ExitNoDevice,
                              QStringLiteral("\"%1\" matches %2 cameras: choose one by its path")
                                  .arg(choice)
                                  .arg(matches.size()));
        }
    }

    const CameraFacts& match = matches.first();
    if (!match.opened) {
        const QString hint = cameraPermissionHint(match.path);
        return out.result(ExitFailed, QStringLiteral("camera %1 (%2) cannot be opened: %3%4")
                                          .arg(match.index)
                                          .arg(match.path, match.openProblem,
                                               hint.isEmpty() ? QString() : QStringLiteral(". ") + hint));
    }
    chosen = readCameraFacts(camera, match.index, match.driverIndex, match.name, match.path);
    if (!chosen.opened)
        return out.result(ExitFailed, QStringLiteral("camera %1 (%2) cannot be opened: %3")
                                          .arg(match.index)
                                          .arg(match.path, chosen.openProblem));
    if (needAnswers && !chosen.answered) {
        camera.close();
        return out.result(ExitFailed,
                          QStringLiteral("camera %1 (%2) does not answer its identification requests%3")
                              .arg(match.index)
                              .arg(match.path, camera.lastError()
                                                   ? QStringLiteral(": ") + camera.lastErrorText()
                                                   : QString()));
    }
    // The list may have changed between the scan and this open.
    if (chosen.answered && match.answered && chosen.serial != match.serial) {
        camera.close();
        return out.result(
            ExitNoDevice,
            QStringLiteral("the cameras changed while they were listed; run the command again"));
    }
    return ExitOk;
}

int selectBootLoader(Output& out, const QString& choice, BootLoaderList& loaders, int& chosen)
{
    CameraList cameras;
    loaders = BootLoaderList();
    QVRUsb::findDevices(cameras, &loaders);
    const QString paths = QString::fromLocal8Bit(loaders.paths.join(", "));
    if (loaders.size() == 0) {
        const QString hint = cameraScanPermissionHint();
        return out.result(ExitNoDevice,
                          QStringLiteral("no camera in its FX3 USB boot loader (04b4:00f3) is connected") +
                              (hint.isEmpty() ? QString() : QStringLiteral(". ") + hint));
    }
    if (choice.isEmpty()) {
        if (loaders.size() > 1)
            return out.result(ExitNoDevice,
                              QStringLiteral("%1 cameras are in their boot loader (%2): choose one with "
                                             "--camera PATH|INDEX")
                                  .arg(loaders.size())
                                  .arg(paths));
        chosen = 0;
        return ExitOk;
    }
    chosen = loaders.paths.indexOf(choice.toLocal8Bit());
    bool isNumber = false;
    const int index = choice.toInt(&isNumber);
    if (chosen < 0 && isNumber && index >= 0 && index < loaders.size())
        chosen = index;
    if (chosen < 0)
        return out.result(ExitNoDevice,
                          QStringLiteral("no camera in its boot loader matches \"%1\"; in their "
                                         "boot loader: %2")
                              .arg(choice, paths));
    return ExitOk;
}
