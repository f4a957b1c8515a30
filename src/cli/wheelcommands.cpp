// The device list and the wheel subcommands info and goto.
#include "cameraselect.h"
#include "cli.h"
#include "devizuvez.h"
#include "devizuvezloader.h"
#include "devizuvezwritefwobject.h"
#include "interrupt.h"
#include "output.h"
#include "permissionhint.h"
#include "qvrusb.h"
#include "wheelselect.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <cstring>

namespace {

QString fixedText(const char* field, size_t size)
{
    return QString::fromLocal8Bit(field, int(strnlen(field, size)));
}

void listChoices(Output& out, const QList<WheelFacts>& wheels)
{
    for (const WheelFacts& w : wheels)
        out.log(QStringLiteral("  ") + w.summary());
}

} // namespace

QString wheelErrorText(int code)
{
    const char* text = QVRGetZWErrorString(code);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("code %1").arg(code);
}

QJsonObject WheelFacts::toJson() const
{
    return QJsonObject{{"id", id},
                       {"name", name},
                       {"serial", serial},
                       {"slots", slotCount},
                       {"opened", opened},
                       {"firmware", versionRead ? QJsonValue(firmware) : QJsonValue()},
                       {"problem", problem.isEmpty() ? QJsonValue() : QJsonValue(problem)}};
}

QString WheelFacts::summary() const
{
    QString text = QStringLiteral("id %1  %2  serial %3  %4 slots").arg(id).arg(name, serial).arg(slotCount);
    if (versionRead)
        text += QStringLiteral("  firmware %1").arg(firmware);
    if (!problem.isEmpty())
        text += QStringLiteral("  (%1)").arg(problem);
    return text;
}

QList<WheelFacts> scanWheels()
{
    QList<WheelFacts> wheels;
    const int count = QVRGetZWCount();
    for (int i = 0; i < count; ++i) {
        WheelInfo info{};
        if (QVRGetZWProperties(i, &info) != 0)
            continue;
        WheelFacts w;
        w.id = info.ID;
        w.name = fixedText(info.Name, sizeof info.Name);
        w.serial = fixedText(info.SN, sizeof info.SN);
        w.slotCount = info.SlotNum;
        const int open = QVROpenZW(w.id);
        if (open != 0) {
            w.problem = QStringLiteral("cannot be opened: %1").arg(wheelErrorText(open));
        } else {
            w.opened = true;
            char version[32] = {};
            const int status = QVRGetZWFirmwareVer(w.id, version, sizeof version);
            if (status == 0) {
                w.versionRead = true;
                w.firmware = fixedText(version, sizeof version);
            } else {
                w.problem = QStringLiteral("firmware version not read: %1").arg(wheelErrorText(status));
            }
        }
        wheels.append(w);
    }
    return wheels;
}

int selectWheel(Output& out, const QString& choice, WheelFacts& chosen)
{
    if (!devizuvezLoad())
        return out.result(ExitNoDevice, devizuvezLoadProblem());
    const QList<WheelFacts> wheels = scanWheels();
    if (wheels.isEmpty()) {
        const QString hint = wheelPermissionHint();
        return out.result(ExitNoDevice, QStringLiteral("no filter wheel found") +
                                            (hint.isEmpty() ? QString() : QStringLiteral(". ") + hint));
    }
    QList<WheelFacts> matches;
    if (choice.isEmpty()) {
        if (wheels.size() > 1) {
            out.log(QStringLiteral("%1 filter wheels are connected:").arg(wheels.size()));
            listChoices(out, wheels);
            return out.result(ExitNoDevice,
                              QStringLiteral("%1 filter wheels are connected: choose one with --wheel "
                                             "SERIAL|ID")
                                  .arg(wheels.size()));
        }
        matches = wheels;
    } else {
        for (const WheelFacts& w : wheels)
            if (w.serial.compare(choice, Qt::CaseInsensitive) == 0)
                matches.append(w);
        bool isNumber = false;
        const int id = choice.toInt(&isNumber);
        if (matches.isEmpty() && isNumber)
            for (const WheelFacts& w : wheels)
                if (w.id == id)
                    matches.append(w);
        if (matches.isEmpty()) {
            out.log(QStringLiteral("Connected filter wheels:"));
            listChoices(out, wheels);
            return out.result(ExitNoDevice, QStringLiteral("no filter wheel matches \"%1\"").arg(choice));
        }
        if (matches.size() > 1) {
            out.log(QStringLiteral("\"%1\" matches %2 filter wheels:").arg(choice).arg(matches.size()));
            listChoices(out, matches);
            return out.result(ExitNoDevice,
                              QStringLiteral("\"%1\" matches %2 filter wheels: choose one by its id")
                                  .arg(choice)
                                  .arg(matches.size()));
        }
    }
    chosen = matches.first();
    if (!chosen.opened) {
        const QString hint = wheelPermissionHint();
        return out.result(ExitFailed, QStringLiteral("filter wheel %1 (serial %2) %3%4")
                                          .arg(chosen.id)
                                          .arg(chosen.serial, chosen.problem,
                                               hint.isEmpty() ? QString() : QStringLiteral(". ") + hint));
    }
    return ExitOk;
}

int listDevices(Output& out)
{
    const QList<CameraFacts> cameras = scanCameras();
    const QList<WheelFacts> wheels = scanWheels();
    QJsonArray bootloaders;
    QStringList bootloaderLines;
    const int count = DevizuvEZWriteFWObject::GetZWBootloadCount();
    for (int i = 0; i < count; ++i) {
        const DevizuvEZWriteFWObject bootloader(i); // reads name and version, then closes again
        const QString name = QString::fromLocal8Bit(bootloader.GetBootloadName());
        const QString version = QString::fromLocal8Bit(bootloader.GetBootloadVersion());
        const QString path = QString::fromLocal8Bit(bootloader.GetBootloadPath());
        bootloaders.append(QJsonObject{{"name", name}, {"version", version}, {"path", path}});
        bootloaderLines << QStringLiteral("  %1  version %2  %3")
                               .arg(name.isEmpty() ? QStringLiteral("(no name)") : name,
                                    version.isEmpty() ? QStringLiteral("?") : version, path);
    }

    QJsonArray cameraArray, wheelArray;
    QStringList lines{QStringLiteral("Cameras: %1").arg(cameras.size())};
    for (const CameraFacts& c : cameras) {
        cameraArray.append(c.toJson());
        lines << QStringLiteral("  ") + c.summary();
    }
    if (cameras.isEmpty() && !cameraScanPermissionHint().isEmpty())
        lines << QStringLiteral("  ") + cameraScanPermissionHint();
    // Chips in their USB boot loader: cameras without usable firmware, seen by the camera scan.
    const BootLoaderList& loaders = QVRUsb::bootLoaderList();
    QJsonArray loaderArray;
    if (loaders.size() > 0)
        lines << QStringLiteral("Cameras without firmware (FX3 USB boot loader 04b4:00f3): %1")
                     .arg(loaders.size());
    for (const QByteArray& path : loaders.paths) {
        loaderArray.append(QJsonObject{{"path", QString::fromLocal8Bit(path)}});
        lines << QStringLiteral("  %1  (bring it back with: flashwick-cli camera recover FILE.img)")
                     .arg(QString::fromLocal8Bit(path));
    }
    lines << QStringLiteral("Filter wheels: %1").arg(wheels.size());
    if (!devizuvezAvailable())
        lines << QStringLiteral("  ") + devizuvezLoadProblem();
    else if (wheels.isEmpty() && !wheelPermissionHint().isEmpty())
        lines << QStringLiteral("  ") + wheelPermissionHint();
    for (const WheelFacts& w : wheels) {
        wheelArray.append(w.toJson());
        lines << QStringLiteral("  ") + w.summary();
        QVRCloseZW(w.id);
    }
    lines << QStringLiteral("Wheel bootloaders: %1").arg(count);
    lines << bootloaderLines;
    QJsonObject devices{{"cameras", cameraArray},
                        {"cameraBootLoaders", loaderArray},
                        {"wheels", wheelArray},
                        {"bootloaders", bootloaders}};
    if (!devizuvezAvailable())
        devices.insert(QStringLiteral("wheelLibraryProblem"), devizuvezLoadProblem());
    out.data(QStringLiteral("devices"), devices, lines.join(QLatin1Char('\n')));
    return out.result(ExitOk, QString());
}

int wheelInfo(Output& out, const CommonOptions& o)
{
    WheelFacts w;
    const int r = selectWheel(out, o.wheel, w);
    if (r != ExitOk)
        return r;
    int position = -1, state = ZW_STATE_IDLE, oneWay = 0;
    const int positionStatus = QVRGetCurrentPosition(w.id, &position);
    QVRGetZWState(w.id, &state);
    QVRGetOneWay(w.id, &oneWay);
    const bool positionRead = positionStatus == 0 && position >= 0;
    QJsonObject facts = w.toJson();
    facts.insert(QStringLiteral("slot"), positionRead ? QJsonValue(position + 1) : QJsonValue());
    facts.insert(QStringLiteral("moving"), state == ZW_STATE_MOVING);
    facts.insert(QStringLiteral("oneWay"), oneWay != 0);
    out.data(QStringLiteral("wheel"), facts,
             QStringLiteral(
                 "Filter wheel %1: %2\n  serial    %3\n  firmware  %4\n  slots     %5\n  slot      %6%7\n"
                 "  one-way   %8")
                 .arg(w.id)
                 .arg(w.name, w.serial, w.versionRead ? w.firmware : QStringLiteral("?"))
                 .arg(w.slotCount)
                 .arg(positionRead ? QString::number(position + 1) : QStringLiteral("?"),
                      state == ZW_STATE_MOVING ? QStringLiteral(" (moving)") : QString(),
                      oneWay ? QStringLiteral("on") : QStringLiteral("off")));
    if (!w.versionRead || !positionRead)
        return out.result(ExitFailed, QStringLiteral("the wheel did not answer every request: %1")
                                          .arg(!w.versionRead ? w.problem : wheelErrorText(positionStatus)));
    return out.result(ExitOk, QString());
}

int wheelGoto(Output& out, const CommonOptions& o, int slot)
{
    WheelFacts w;
    const int r = selectWheel(out, o.wheel, w);
    if (r != ExitOk)
        return r;
    if (slot > w.slotCount)
        return out.result(ExitUsage,
                          QStringLiteral("slot %1: the wheel has %2 slots").arg(slot).arg(w.slotCount));
    const int status = QVRGotoPosition(w.id, slot - 1);
    if (status != 0)
        return out.result(ExitFailed,
                          QStringLiteral("Goto Position Failed, Code: ") + wheelErrorText(status));
    out.log(QStringLiteral("Going to Position: %1").arg(slot));

    QElapsedTimer clock;
    clock.start();
    for (;;) {
        int state = ZW_STATE_MOVING;
        const int s = QVRGetZWState(w.id, &state);
        if (s != 0)
            return out.result(ExitFailed,
                              QStringLiteral("reading the wheel's state failed: %1").arg(wheelErrorText(s)));
        if (state != ZW_STATE_MOVING)
            break;
        if (clock.elapsed() >= qint64(o.waitSeconds) * 1000)
            return out.result(ExitFailed,
                              QStringLiteral("the wheel still moves after %1 s").arg(o.waitSeconds));
        if (Interrupt::requested() || Interrupt::waitFor(100))
            return out.result(ExitInterrupted,
                              QStringLiteral("interrupted: the wheel finishes its move by itself"));
    }
    int position = -1;
    const int s = QVRGetCurrentPosition(w.id, &position);
    if (s != 0)
        return out.result(ExitFailed,
                          QStringLiteral("reading the wheel's position failed: %1").arg(wheelErrorText(s)));
    if (position != slot - 1)
        return out.result(ExitFailed,
                          QStringLiteral("the wheel stopped at slot %1, not %2").arg(position + 1).arg(slot));
    return out.result(ExitOk, QStringLiteral("The wheel stands at slot %1.").arg(slot),
                      QJsonObject{{"slot", slot}});
}
