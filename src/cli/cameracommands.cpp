// Camera subcommands: info, reset, write, backup and verify.
#include "cameraselect.h"
#include "cli.h"
#include "flashlayout.h"
#include "fx3bootimage.h"
#include "imagefile.h"
#include "interrupt.h"
#include "output.h"
#include "qvrusb.h"
#include "refusals.h"
#include "writeoutcome.h"

#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <future>

using namespace FlashLayout;

namespace {

constexpr uint32_t ReadStep = 64 * 1024; // the progress is updated between reads of this size
constexpr qint64 FirmwareFileLimit = FirmwareLimit;
constexpr qint64 FpgaFileLimit = FpgaLimit - FpgaFront;

QString hex(qint64 value)
{
    return QStringLiteral("0x%1").arg(value, 0, 16);
}

// Reads flash in steps, moving the progress on from `base` of `total` bytes. ExitOk, ExitInterrupted,
// or ExitFailed with the reason in `problem`.
int readArea(Output& out, QVRUsb& camera, uint32_t address, uint32_t length, QByteArray& data, qint64 base,
             qint64 total, QString& problem)
{
    data.resize(int(length));
    for (uint32_t done = 0; done < length;) {
        if (Interrupt::requested())
            return ExitInterrupted;
        const uint32_t step = std::min(ReadStep, length - done);
        if (!camera.readFlash(address + done, step, reinterpret_cast<uint8_t*>(data.data()) + done)) {
            problem = QStringLiteral("reading the flash at %1 failed%2")
                          .arg(hex(address + done), transportNote(camera));
            return ExitFailed;
        }
        done += step;
        out.updateProgress(int((base + done) * 100 / total), base + done);
    }
    return ExitOk;
}

int readHeader(QVRUsb& camera, HeaderRecord& record, QString& problem)
{
    if (Interrupt::requested())
        return ExitInterrupted;
    if (!camera.readFlash(HeaderStart, HeaderSize, record.data())) {
        problem = QStringLiteral("reading the FPGA header record at %1 failed%2")
                      .arg(hex(HeaderStart), transportNote(camera));
        return ExitFailed;
    }
    return ExitOk;
}

bool allErased(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) == 0xFF; });
}

// Whether the firmware area holds an image the chip can start, judged from `read` (the area's start)
// and, when that does not settle it, from the whole area read again. Adds "flashImageValid" and
// "flashImageProblem" to `facts`; returns the sentence for the user.
QString flashImageNote(QVRUsb& camera, const QByteArray& read, QJsonObject& facts)
{
    Fx3BootImage held = Fx3BootImage::checkFlash(read);
    if (!held.isValid() && read.size() < int(FirmwareLimit)) {
        QByteArray whole(int(FirmwareLimit), '\0');
        if (camera.readFlash(FirmwareStart, FirmwareLimit, reinterpret_cast<uint8_t*>(whole.data())))
            held = Fx3BootImage::checkFlash(whole);
    }
    facts.insert(QStringLiteral("flashImageValid"), held.isValid());
    if (held.isValid())
        return QStringLiteral("The firmware area holds a valid FX3 boot image (%1 bytes).")
            .arg(held.imageBytes);
    facts.insert(QStringLiteral("flashImageProblem"), held.problemText());
    return QStringLiteral(
               "The firmware area holds no valid FX3 boot image (%1): after a reset or re-plug the "
               "camera would come up in its USB boot loader; \"camera recover\" brings it back.")
        .arg(held.problemText());
}

// Reads the areas asked for and saves them: the firmware area whole; from the FPGA area the
// bitstream that the header record locates (the 0xFF front removed), or the whole area when the
// record or the front is not as a write leaves them. Nothing is saved unless every read succeeded.
// ExitOk with `summary`, ExitInterrupted, or ExitFailed with the reason in `problem`.
int backupAreas(Output& out, QVRUsb& camera, const QString& fwFile, const QString& fpgaFile,
                QJsonObject& facts, QString& summary, QString& problem)
{
    HeaderRecord record{};
    uint32_t fpgaLength = 0;
    if (!fpgaFile.isEmpty()) {
        const int r = readHeader(camera, record, problem);
        if (r != ExitOk)
            return r;
        fpgaLength = fpgaHeaderLength(record);
        if (!fpgaLength)
            out.warning(
                QStringLiteral(
                    "The FPGA header record at %1 is not valid (text, area start, checksum or length): "
                    "saving the whole FPGA area instead of a bitstream.")
                    .arg(hex(HeaderStart)));
    }
    const uint32_t fpgaRead = fpgaFile.isEmpty() ? 0 : fpgaLength ? fpgaLength : FpgaLimit;
    const qint64 total = (fwFile.isEmpty() ? 0 : qint64(FirmwareLimit)) + fpgaRead;

    QByteArray firmware, fpga;
    out.beginProgress(QStringLiteral("backup"), total, QStringLiteral("read"));
    int r = ExitOk;
    if (!fwFile.isEmpty())
        r = readArea(out, camera, FirmwareStart, FirmwareLimit, firmware, 0, total, problem);
    if (r == ExitOk && fpgaRead)
        r = readArea(out, camera, FpgaStart, fpgaRead, fpga, firmware.size(), total, problem);
    if (r == ExitOk && fpgaLength && !allErased(fpga.left(int(FpgaFront)))) {
        out.warning(
            QStringLiteral("The %1 bytes in front of the bitstream are not all 0xFF: saving the whole FPGA "
                           "area instead of a bitstream.")
                .arg(FpgaFront));
        // The rest of the area, from the page where the read stopped.
        const uint32_t kept = fpgaLength / PageSize * PageSize;
        fpga.truncate(int(kept));
        QByteArray rest;
        out.endProgress();
        out.beginProgress(QStringLiteral("backup"), FpgaLimit - kept, QStringLiteral("read"));
        r = readArea(out, camera, FpgaStart + kept, FpgaLimit - kept, rest, 0, FpgaLimit - kept, problem);
        fpga += rest;
        fpgaLength = 0;
    }
    out.endProgress();
    if (r != ExitOk)
        return r;

    QStringList saved;
    if (!fwFile.isEmpty()) {
        problem = saveFile(fwFile, firmware);
        if (!problem.isEmpty())
            return ExitFailed;
        saved << QStringLiteral("firmware area to %1 (%2 bytes)").arg(fwFile).arg(firmware.size());
        facts.insert(QStringLiteral("firmwareFile"), fwFile);
        facts.insert(QStringLiteral("firmwareBytes"), firmware.size());
        const QString note = flashImageNote(camera, firmware, facts);
        if (facts.value(QStringLiteral("flashImageValid")).toBool())
            out.log(note);
        else
            out.warning(note);
    }
    if (!fpgaFile.isEmpty()) {
        const QByteArray bitstream = fpgaLength ? fpga.mid(int(FpgaFront)) : fpga;
        problem = saveFile(fpgaFile, bitstream);
        if (!problem.isEmpty())
            return ExitFailed;
        saved << (fpgaLength ? QStringLiteral("FPGA bitstream to %1 (%2 bytes)")
                             : QStringLiteral("whole FPGA area to %1 (%2 bytes)"))
                     .arg(fpgaFile)
                     .arg(bitstream.size());
        facts.insert(QStringLiteral("fpgaFile"), fpgaFile);
        facts.insert(QStringLiteral("fpgaBytes"), bitstream.size());
        facts.insert(QStringLiteral("fpgaLocated"), fpgaLength != 0);
        facts.insert(QStringLiteral("fpgaWritable"), bitstream.size() <= FpgaFileLimit);
    }
    summary = QStringLiteral("Saved ") + saved.join(QStringLiteral(" and ")) + QLatin1Char('.');
    if (!fpgaFile.isEmpty() && !fpgaLength)
        summary += QStringLiteral(" write-fpga cannot write %1 back as it is: it holds the whole FPGA area "
                                  "(%2 bytes), and a bitstream takes at most %3 bytes, since the write puts "
                                  "%4 bytes of 0xFF in front of it.")
                       .arg(fpgaFile)
                       .arg(FpgaLimit)
                       .arg(FpgaFileLimit)
                       .arg(FpgaFront);
    return ExitOk;
}

QString confirmationRefusal(Interrupt::Answer answer)
{
    switch (answer) {
    case Interrupt::Answer::NoTerminal:
        return QStringLiteral("no terminal to confirm the write on: pass --yes to write without asking");
    case Interrupt::Answer::Interrupted:
        return QStringLiteral("interrupted: nothing was written");
    default:
        return QStringLiteral("not confirmed: nothing was written");
    }
}

} // namespace

int cameraInfo(Output& out, const CommonOptions& o)
{
    QVRUsb camera;
    CameraFacts f;
    const int r = selectCamera(out, o.camera, camera, f, false);
    if (r != ExitOk)
        return r;
    out.data(
        QStringLiteral("camera"), f.toJson(),
        QStringLiteral(
            "Camera %1: %2\n  path      %3\n  serial    %4\n  firmware  %5\n  FPGA      %6\n  link      %7")
            .arg(f.index)
            .arg(f.name, f.path, f.serial, f.firmware, f.fpga, f.link));
    if (!f.answered)
        return out.result(
            ExitFailed,
            QStringLiteral("the camera did not answer every request%1").arg(transportNote(camera)));
    return out.result(ExitOk, QString());
}

int cameraReset(Output& out, const CommonOptions& o)
{
    QVRUsb camera;
    CameraFacts f;
    // A camera that no longer answers its requests may still take the reset.
    const int r = selectCamera(out, o.camera, camera, f, false);
    if (r != ExitOk)
        return r;
    if (!camera.resetFX3())
        return out.result(ExitFailed, QStringLiteral("Reset FX3 failed!%1").arg(transportNote(camera)));
    out.log(QStringLiteral("The camera's USB controller restarts; the camera comes back in a few seconds."));
    return out.result(ExitOk, QStringLiteral("Reset FX3 OK"));
}

int cameraBackup(Output& out, const CommonOptions& o, const QString& fwFile, const QString& fpgaFile)
{
    QVRUsb camera;
    CameraFacts f;
    int r = selectCamera(out, o.camera, camera, f, true);
    if (r != ExitOk)
        return r;
    out.log(QStringLiteral("Camera %1").arg(f.summary()));
    QJsonObject facts;
    QString summary, problem;
    r = backupAreas(out, camera, fwFile, fpgaFile, facts, summary, problem);
    if (r == ExitInterrupted)
        return out.result(r, QStringLiteral("interrupted: no backup was saved"));
    if (r != ExitOk)
        return out.result(r, QStringLiteral("backup failed: ") + problem);
    return out.result(ExitOk, summary, facts);
}

int cameraVerify(Output& out, const CommonOptions& o, bool fpga, const QString& file)
{
    const ImageFile image = loadImage(file, fpga ? FpgaFileLimit : FirmwareFileLimit);
    if (!image.problem.isEmpty())
        return out.result(ExitFileRefused, image.problem, QJsonObject{{"file", file}});
    QVRUsb camera;
    CameraFacts f;
    int r = selectCamera(out, o.camera, camera, f, true);
    if (r != ExitOk)
        return r;
    out.log(QStringLiteral("Camera %1").arg(f.summary()));

    QString problem;
    QJsonObject facts;
    bool headerMatches = true;
    QByteArray expected = image.data;
    uint32_t address = FirmwareStart;
    if (fpga) {
        HeaderRecord record{};
        r = readHeader(camera, record, problem);
        if (r == ExitFailed)
            return out.result(r, problem);
        if (r == ExitOk) {
            headerMatches = record == fpgaHeaderRecord(uint32_t(image.data.size()) + FpgaFront);
            if (!headerMatches) {
                const uint32_t named = fpgaHeaderLength(record);
                out.log(
                    named
                        ? QStringLiteral(
                              "The FPGA header record at %1 names a bitstream of %2 bytes, not %3.")
                              .arg(hex(HeaderStart))
                              .arg(named - FpgaFront)
                              .arg(image.data.size())
                        : QStringLiteral("The FPGA header record at %1 is not valid.").arg(hex(HeaderStart)));
            }
        }
        expected = QByteArray(int(FpgaFront), char(0xFF)) + image.data;
        address = FpgaStart;
    }
    QByteArray flash;
    if (r == ExitOk) {
        out.beginProgress(fpga ? QStringLiteral("verify-fpga") : QStringLiteral("verify-fw"), expected.size(),
                          QStringLiteral("read"));
        r = readArea(out, camera, address, uint32_t(expected.size()), flash, 0, expected.size(), problem);
        out.endProgress();
    }
    if (r == ExitInterrupted)
        return out.result(r, QStringLiteral("interrupted"));
    if (r != ExitOk)
        return out.result(r, QStringLiteral("verify failed: ") + problem);

    const ByteDifference d = compareBytes(expected, flash);
    const qint64 front = fpga ? FpgaFront : 0;
    facts.insert(QStringLiteral("file"), file);
    facts.insert(QStringLiteral("fileBytes"), image.data.size());
    facts.insert(QStringLiteral("identical"), d.count == 0 && headerMatches);
    facts.insert(QStringLiteral("differingBytes"), double(d.count));
    facts.insert(QStringLiteral("firstDifference"), d.count ? double(d.first - front) : -1.0);
    if (fpga)
        facts.insert(QStringLiteral("headerMatches"), headerMatches);
    const QString area = fpga ? QStringLiteral("FPGA area") : QStringLiteral("firmware area");
    const QString note = fpga ? QString() : flashImageNote(camera, flash, facts);
    if (d.count == 0 && headerMatches)
        return out.result(ExitOk,
                          QStringLiteral("Identical: the camera's %1 holds %2 (%3 bytes).%4")
                              .arg(area, file)
                              .arg(image.data.size())
                              .arg(note.isEmpty() ? QString() : QLatin1Char(' ') + note),
                          facts);
    if (d.count == 0)
        return out.result(
            ExitDiffers,
            QStringLiteral("the camera's %1 holds the bytes of %2, but its header record does not match "
                           "them")
                .arg(area, file),
            facts);
    const QString where =
        d.first < front
            ? QStringLiteral("in the %1 bytes of 0xFF in front of the bitstream (flash %2)")
                  .arg(front)
                  .arg(hex(address + d.first))
            : QStringLiteral("at offset %1 (%2) of the file").arg(d.first - front).arg(hex(d.first - front));
    return out.result(ExitDiffers,
                      QStringLiteral("the camera's %1 differs from %2: %3 byte(s) differ, the first %4%5%6")
                          .arg(area, file)
                          .arg(d.count)
                          .arg(where,
                               headerMatches ? QString() : QStringLiteral("; the header record differs too"),
                               note.isEmpty() ? QString() : QStringLiteral(". ") + note),
                      facts);
}

namespace {

QString cameraOption(const CommonOptions& o)
{
    return o.camera.isEmpty() ? QString() : QStringLiteral(" --camera %1").arg(o.camera);
}

} // namespace

int cameraWrite(Output& out, const CommonOptions& o, bool fpga, const QString& file)
{
    const QString area = fpga ? QStringLiteral("fpga") : QStringLiteral("firmware");
    const QString areaName = fpga ? QStringLiteral("FPGA area") : QStringLiteral("firmware area");
    QJsonObject facts{
        {"file", file}, {"area", area}, {"areaState", "unchanged"}, {"dryRun", false}, {"writtenBytes", 0}};

    const ImageFile image = loadImage(file, fpga ? FpgaFileLimit : FirmwareFileLimit);
    QString warning;
    const QString problem = cameraImageProblem(file, image, fpga, o.force, warning);
    if (!problem.isEmpty())
        return out.result(ExitFileRefused, problem, facts);
    facts.insert(QStringLiteral("fileBytes"), image.data.size());
    if (!warning.isEmpty())
        out.warning(warning);

    QVRUsb camera;
    CameraFacts f;
    int r = selectCamera(out, o.camera, camera, f, true);
    if (r != ExitOk)
        return r;
    const QString item = fpga ? QStringLiteral("FPGA") : QStringLiteral("FW");
    out.log(QStringLiteral("Camera %1").arg(f.summary()));
    out.log(QStringLiteral("%1: %2 bytes for the %3").arg(file).arg(image.data.size()).arg(areaName));

    if (o.dryRun) {
        facts.insert(QStringLiteral("dryRun"), true);
        if (!o.backup.isEmpty())
            facts.insert(QStringLiteral("backupFile"), o.backup);
        return out.result(
            ExitOk,
            QStringLiteral("Dry run: %1 (%2 bytes) would be written into the %3 of camera %4 (serial %5)%6. "
                           "Nothing was written.")
                .arg(file)
                .arg(image.data.size())
                .arg(areaName)
                .arg(f.index)
                .arg(f.serial, o.backup.isEmpty()
                                   ? QString()
                                   : QStringLiteral(", after a backup of the area to %1").arg(o.backup)),
            facts);
    }

    Interrupt::Answer answer = Interrupt::Answer::Yes;
    if (fpga) {
        const QString caution = QStringLiteral("Strongly recommended NOT to upgrade the FPGA,\nunless you "
                                               "understand the purpose of doing so.\nContinue?");
        for (const QString& line : caution.split(QLatin1Char('\n')))
            out.log(line);
        if (o.yes)
            out.log(QStringLiteral("--yes: writing the FPGA."));
        else
            answer = Interrupt::ask((out.quiet() ? caution + QLatin1Char('\n') : QString()) +
                                        QStringLiteral("Type yes to write the FPGA:"),
                                    true);
    } else if (!o.yes) {
        answer = Interrupt::ask(
            QStringLiteral("Write %1 into the firmware area of camera %2? [y/N]").arg(file).arg(f.index),
            false);
    }
    if (answer == Interrupt::Answer::NoTerminal)
        return out.result(ExitUsage, confirmationRefusal(answer), facts);
    if (answer != Interrupt::Answer::Yes)
        return out.result(ExitInterrupted, confirmationRefusal(answer), facts);

    bool backupWritable = false; // a backup that the same command can write back
    if (!o.backup.isEmpty()) {
        QJsonObject saved;
        QString summary, failure;
        r = backupAreas(out, camera, fpga ? QString() : o.backup, fpga ? o.backup : QString(), saved, summary,
                        failure);
        if (r == ExitInterrupted)
            return out.result(r, QStringLiteral("interrupted during the backup: nothing was written"), facts);
        if (r != ExitOk)
            return out.result(r, QStringLiteral("backup failed, so nothing was written: ") + failure, facts);
        backupWritable = saved.value(QStringLiteral("fpgaWritable")).toBool(true);
        if (backupWritable)
            out.log(summary);
        else
            out.warning(summary);
        facts.insert(QStringLiteral("backupFile"), o.backup);
    }
    if (Interrupt::requested())
        return out.result(ExitInterrupted, QStringLiteral("interrupted: nothing was written"), facts);

    // From here on the write runs to its end: an interrupt is announced, not obeyed.
    std::atomic<uint8_t> progress{0};
    std::atomic<uint32_t> programmed{0};
    const qint64 total = image.data.size() + (fpga ? FpgaFront : 0);
    out.log(QStringLiteral("Writing %1...").arg(item));
    out.beginProgress(fpga ? QStringLiteral("write-fpga") : QStringLiteral("write-fw"), total,
                      QStringLiteral("erase"));
    std::future<int> write = std::async(std::launch::async, [&] {
        return fpga ? camera.writeFpgaImage(image.data, &progress, &programmed)
                    : camera.writeFirmwareImage(image.data, &progress, &programmed);
    });
    auto show = [&] {
        // The erase takes the progress to 50; the chunks, each written and read back, to 100.
        const uint8_t p = progress.load();
        out.setPhase(p < 50 ? QStringLiteral("erase") : QStringLiteral("write + verify"));
        out.updateProgress(p, programmed.load());
    };
    bool announced = false;
    while (write.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        show();
        if (Interrupt::requested() && !announced) {
            out.log(QStringLiteral(
                "Interrupt received: the write is not abandoned. It finishes, then its result is "
                "reported."));
            announced = true;
        }
    }
    const int result = write.get();
    show();
    out.endProgress();

    if (result == QVRUsb::WriteInUse) {
        // Refused before the erase: the area is as it was.
        const QStringList users = camera.cameraUsers();
        facts.insert(QStringLiteral("writeResult"), result);
        return out.result(ExitFailed, cameraInUseText(users), facts);
    }
    const AreaOutcome outcome =
        areaOutcome(fpga, result, progress.load(), programmed.load(), image.data.size());
    facts.insert(QStringLiteral("writeResult"), result);
    facts.insert(QStringLiteral("areaState"), outcome.state);
    facts.insert(QStringLiteral("writtenBytes"), double(outcome.writtenBytes));
    const QString command = fpga ? QStringLiteral("write-fpga") : QStringLiteral("write-fw");
    if (result != QVRUsb::WriteOk) {
        // The USB controller runs its firmware from memory: while the camera stays connected it takes
        // another write, whatever its flash now holds.
        QString next =
            camera.isGone()
                ? QStringLiteral("The camera left the bus during the write: plug it in again and "
                                 "write again%1")
                      .arg(fpga ? QString()
                                : QStringLiteral(" (with its firmware area not whole it may not come "
                                                 "back as a camera)"))
                : QStringLiteral("Keep the camera connected and write again");
        if (backupWritable)
            next += QStringLiteral(", or write back the backup %1").arg(o.backup);
        else if (!o.backup.isEmpty())
            next += QStringLiteral(" (the backup %1 holds the whole FPGA area and cannot be written back as "
                                   "it is)")
                        .arg(o.backup);
        out.log(QStringLiteral("To write the file again: flashwick-cli camera %1 %2%3")
                    .arg(command, file, cameraOption(o)));
        if (backupWritable)
            out.log(QStringLiteral("To write back what the area held: flashwick-cli camera %1 %2%3")
                        .arg(command, o.backup, cameraOption(o)));
        return out.result(ExitFailed,
                          QStringLiteral("ERROR: Writing %1 Failed! %2 (result %3)%4. %5 %6.")
                              .arg(item, writeFailureReason(result))
                              .arg(result)
                              .arg(transportNote(camera), outcome.text, next),
                          facts);
    }
    return out.result(
        ExitOk,
        QStringLiteral("Writing %1 Successful! Unplug the camera and plug it in again to "
                       "start %2.")
            .arg(item, fpga ? QStringLiteral("the new FPGA bitstream") : QStringLiteral("the new firmware")),
        facts);
}
