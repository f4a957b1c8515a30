// wheel write: the firmware update of a filter wheel through its bootloader, with bounded waits and a
// check that the wheel came back running the file's version.
#include "cli.h"
#include "devizuvez.h"
#include "devizuvezwritefwobject.h"
#include "interrupt.h"
#include "output.h"
#include "permissionhint.h"
#include "refusals.h"
#include "wheelselect.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>

namespace {

constexpr int ScanIntervalMs = 250;
constexpr int ReturnPollMs = 250;
constexpr int BlockSize = 32; // image bytes per write command

// Once the wheel has left its firmware the update runs to its end: an interrupt is announced once
// and otherwise ignored.
class Announcer
{
public:
    explicit Announcer(Output& out) : out(out) {}
    void check()
    {
        if (!told && Interrupt::requested()) {
            out.log(QStringLiteral(
                "Interrupt received: the update is not abandoned, since the wheel would stay in its "
                "bootloader. It finishes, then its result is reported."));
            told = true;
        }
    }
    void pause(int ms)
    {
        Interrupt::waitFor(ms);
        check();
    }

private:
    Output& out;
    bool told = false;
};

QSet<QByteArray> bootloaderPaths()
{
    QSet<QByteArray> paths;
    const int count = DevizuvEZWriteFWObject::GetZWBootloadCount();
    for (int i = 0; i < count; ++i)
        paths.insert(DevizuvEZWriteFWObject::GetZWBootloadPath(i));
    return paths;
}

// Waits for a bootloader whose path was not there before and opens it. Null when none could be
// opened within `ms`; `seen` then tells whether one appeared at all.
std::unique_ptr<DevizuvEZWriteFWObject>
waitForBootloader(Announcer& announcer, const QSet<QByteArray>& before, qint64 ms, bool& seen)
{
    QElapsedTimer clock;
    clock.start();
    seen = false;
    for (;;) {
        const int count = DevizuvEZWriteFWObject::GetZWBootloadCount();
        for (int i = 0; i < count; ++i) {
            if (before.contains(DevizuvEZWriteFWObject::GetZWBootloadPath(i)))
                continue;
            seen = true;
            auto writer = std::make_unique<DevizuvEZWriteFWObject>(i);
            if (writer->Open())
                return writer;
        }
        if (clock.elapsed() >= ms)
            return nullptr;
        announcer.pause(ScanIntervalMs);
    }
}

// Waits for the wheel with `serial` to be listed again, opens it and reads its firmware version.
// False when that did not happen within `ms`; `back` then holds what was last seen of the wheel
// (its id stays -1 when it was not listed at all).
bool waitForReturn(Announcer& announcer, const QString& serial, qint64 ms, WheelFacts& back)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        for (const WheelFacts& w : scanWheels()) {
            if (w.serial == serial) {
                back = w;
                if (w.versionRead)
                    return true;
            }
        }
        if (clock.elapsed() >= ms)
            return false;
        announcer.pause(ReturnPollMs);
    }
}

} // namespace

int wheelWrite(Output& out, const CommonOptions& o, const QString& file)
{
    // The file first: a file that no wheel could take is refused without looking for one.
    out.log(QStringLiteral("Reading and parsing the firmware file, please wait...."));
    const WheelFile checked = checkWheelFile(file);
    if (!checked.parserText.isEmpty())
        out.trace(checked.parserText);
    QJsonObject facts{{"file", file}, {"dryRun", false}, {"writtenBytes", 0}};
    if (!checked.version.isEmpty())
        facts.insert(QStringLiteral("fileVersion"), checked.version);
    if (!checked.problem.isEmpty())
        return out.result(ExitFileRefused, checked.problem, facts);
    const HexParseResult& parsed = checked.parsed;
    const QString fileVersion = checked.version;
    facts.insert(QStringLiteral("fileBytes"), QFileInfo(file).size());
    out.log(QStringLiteral("%1: firmware %2, %3 bytes from 0x%4")
                .arg(file, fileVersion)
                .arg(parsed.image.size())
                .arg(parsed.startAddress, 8, 16, QLatin1Char('0')));

    WheelFacts wheel;
    int r = selectWheel(out, o.wheel, wheel);
    if (r != ExitOk)
        return r;
    out.log(QStringLiteral("Filter wheel ") + wheel.summary());
    if (!wheel.versionRead)
        return out.result(ExitFailed,
                          QStringLiteral("the wheel's firmware version cannot be read, so the file's version "
                                         "cannot be checked against it: %1")
                              .arg(wheel.problem),
                          facts);
    facts.insert(QStringLiteral("serial"), wheel.serial);
    facts.insert(QStringLiteral("firmwareBefore"), wheel.firmware);
    int code = ExitOk;
    const QString versionProblem =
        wheelVersionProblem(file, fileVersion, wheel.firmware, o.allowReinstall, o.allowOlder, code);
    if (!versionProblem.isEmpty())
        return out.result(code, versionProblem, facts);
    out.log(QStringLiteral("The wheel runs %1; %2 carries %3.").arg(wheel.firmware, file, fileVersion));

    if (o.dryRun) {
        facts.insert(QStringLiteral("dryRun"), true);
        return out.result(
            ExitOk,
            QStringLiteral("Dry run: %1 (firmware %2, %3 bytes) would be written to filter wheel "
                           "%4 (serial %5, firmware %6). Nothing was written.")
                .arg(file, fileVersion)
                .arg(parsed.image.size())
                .arg(wheel.id)
                .arg(wheel.serial, wheel.firmware),
            facts);
    }
    if (!o.yes) {
        const Interrupt::Answer answer = Interrupt::ask(
            QStringLiteral("Write %1 (firmware %2) to filter wheel %3 (serial %4, firmware %5)? [y/N]")
                .arg(file, fileVersion)
                .arg(wheel.id)
                .arg(wheel.serial, wheel.firmware),
            false);
        if (answer == Interrupt::Answer::NoTerminal)
            return out.result(
                ExitUsage,
                QStringLiteral("no terminal to confirm the update on: pass --yes to update without asking"),
                facts);
        if (answer != Interrupt::Answer::Yes)
            return out.result(ExitInterrupted,
                              answer == Interrupt::Answer::Interrupted
                                  ? QStringLiteral("interrupted: nothing was written")
                                  : QStringLiteral("not confirmed: nothing was written"),
                              facts);
    }
    if (Interrupt::requested())
        return out.result(ExitInterrupted, QStringLiteral("interrupted: nothing was written"), facts);

    // A bootloader that is already there belongs to another wheel: only a new one is ours.
    const QSet<QByteArray> before = bootloaderPaths();
    out.log(QStringLiteral("Start to back to bootloader"));
    const int status = QVRBacktoBootload(wheel.id);
    if (status != 0)
        return out.result(ExitFailed,
                          QStringLiteral("Failed to back to boolloader, Code: ") + wheelErrorText(status),
                          facts);
    out.log(QStringLiteral("Back to boolloader OK!"));

    Announcer announcer(out);
    const qint64 waitMs = qint64(o.waitSeconds) * 1000;
    out.log(QStringLiteral("Please wait, bootloader is being scanned..."));
    bool seen = false;
    const std::unique_ptr<DevizuvEZWriteFWObject> writer = waitForBootloader(announcer, before, waitMs, seen);
    if (!writer) {
        // A bootloader that appeared but could not be opened may be closed to this user.
        for (int i = 0; i < DevizuvEZWriteFWObject::PathTableSize; ++i) {
            const QByteArray path = DevizuvEZWriteFWObject::GetZWBootloadPath(i);
            const QString hint = path.isEmpty() || before.contains(path)
                                     ? QString()
                                     : bootloaderPermissionHint(QString::fromLocal8Bit(path));
            if (!hint.isEmpty()) {
                out.log(hint);
                break;
            }
        }
        const QString what =
            seen ? QStringLiteral("ERROR: Open ZW bootloader failed!")
                 : QStringLiteral("ERROR: Scan ZW bootloader failed! No bootloader appeared within "
                                  "%1 s.")
                       .arg(o.waitSeconds);
        return out.result(ExitFailed,
                          what + QStringLiteral(" The wheel may stay in its bootloader: re-plug it, then "
                                                "run the update again."),
                          facts);
    }
    if (!writer->SetFirmwareData(parsed.startAddress,
                                 reinterpret_cast<const uint8_t*>(parsed.image.constData()),
                                 uint32_t(parsed.image.size())))
        return out.result(ExitFailed,
                          QStringLiteral("ERROR: Set data to ZW bootloader failed! The wheel stays in its "
                                         "bootloader: re-plug it."),
                          facts);
    out.log(QStringLiteral("ZW Bootload Name: ") + QString::fromLocal8Bit(writer->GetBootloadName()));
    out.log(QStringLiteral("ZW Bootload Ver:: ") + QString::fromLocal8Bit(writer->GetBootloadVersion()));
    out.log(QStringLiteral("ZW Bootload Path:: ") + QString::fromLocal8Bit(writer->GetBootloadPath()));
    out.log(QStringLiteral("Scan ZW bootloader OK!"));

    int erase = 0, write = 0, run = 0;
    writer->GetCommandCounts(erase, write, run);
    const qint64 commands = erase + write + run;
    const uint32_t base = writer->GetCommandCount();
    // Each step line goes out with the progress it had when it was said; the lock keeps the main
    // thread's updates from falling between.
    std::mutex progressMutex;
    auto progressNow = [&] {
        const qint64 sent = qint64(writer->GetCommandCount()) - base;
        out.updateProgress(int(qBound<qint64>(0, sent * 100 / commands, 100)),
                           qBound<qint64>(0, (sent - erase) * BlockSize, parsed.image.size()));
    };
    auto say = [&](const char* step, const char* ending) {
        std::lock_guard<std::mutex> lock(progressMutex);
        if (!strcmp(ending, " to Start!"))
            out.setPhase(!strcmp(step, "Erase Flash")   ? QStringLiteral("erase")
                         : !strcmp(step, "Write Flash") ? QStringLiteral("write")
                                                        : QStringLiteral("run"));
        progressNow();
        out.log(QLatin1String(step) + QLatin1String(ending));
    };
    out.log(QStringLiteral("Start to Write FW to wheel"));
    out.beginProgress(QStringLiteral("wheel-write"), parsed.image.size(), QStringLiteral("erase"));
    std::future<QString> steps = std::async(std::launch::async, [&]() -> QString {
        const struct
        {
            const char* name;
            bool (DevizuvEZWriteFWObject::*step)();
        } table[] = {{"Erase Flash", &DevizuvEZWriteFWObject::EraseFlash},
                     {"Write Flash", &DevizuvEZWriteFWObject::WriteFlash},
                     {"Run Program", &DevizuvEZWriteFWObject::RunProgram}};
        for (const auto& s : table) {
            say(s.name, " to Start!");
            if (!((*writer).*s.step)()) {
                say(s.name, " Failed!!");
                return QLatin1String(s.name);
            }
            say(s.name, " OK!");
        }
        return QString();
    });
    auto showProgress = [&] {
        std::lock_guard<std::mutex> lock(progressMutex);
        progressNow();
    };
    while (steps.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        showProgress();
        announcer.check();
    }
    const QString failedStep = steps.get();
    showProgress();
    out.endProgress();
    writer->Close();
    if (!failedStep.isEmpty())
        return out.result(ExitFailed,
                          QStringLiteral("Write FW Failed! %1 failed; the wheel stays in its bootloader: "
                                         "re-plug it, then run the update again.")
                              .arg(failedStep),
                          facts);

    facts.insert(QStringLiteral("writtenBytes"), parsed.image.size());
    out.log(QStringLiteral("Waiting for the wheel to come back (at most %1 s)...").arg(o.waitSeconds));
    WheelFacts back;
    const bool returned = waitForReturn(announcer, wheel.serial, waitMs, back);
    facts.insert(QStringLiteral("firmwareAfter"), returned ? QJsonValue(back.firmware) : QJsonValue());
    if (!returned && back.id >= 0)
        return out.result(
            ExitWheelNotBack,
            QStringLiteral("the firmware was written and the wheel came back (id %1), but its firmware "
                           "version could not be read within %2 s: %3")
                .arg(back.id)
                .arg(o.waitSeconds)
                .arg(back.problem),
            facts);
    if (!returned)
        return out.result(
            ExitWheelNotBack,
            QStringLiteral("the firmware was written, but the wheel did not come back within %1 s: re-plug "
                           "it and check it with \"flashwick-cli wheel info\"")
                .arg(o.waitSeconds),
            facts);
    QVector<qint64> expected, running;
    const bool same = parseVersion(fileVersion, expected) && parseVersion(back.firmware, running)
                          ? compareVersions(expected, running) == 0
                          : back.firmware == fileVersion;
    if (!same)
        return out.result(
            ExitWheelNotBack,
            QStringLiteral("the wheel came back (id %1) running firmware %2, not %3 as the file name says")
                .arg(back.id)
                .arg(back.firmware, fileVersion),
            facts);
    return out.result(ExitOk,
                      QStringLiteral("Write FW Successful! The wheel came back (id %1) running firmware %2.")
                          .arg(back.id)
                          .arg(back.firmware),
                      facts);
}
