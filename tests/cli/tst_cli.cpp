// flashwick-cli run as a process under flashwick-emulator: subcommands, exit codes, what reaches the
// flash, the saved files, JSON events, progress lines, confirmation on a terminal and Ctrl-C.
#include "flashlayout.h"
#include "hexrecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

using namespace FlashLayout;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QByteArray flash; // the camera's flash when the command ended, when asked for
};

QByteArray pseudoRandom(int size, uint32_t seed)
{
    QByteArray bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

// Intel HEX with one extended-linear-address record, 16-byte data records and the end record.
QByteArray hexFile(uint32_t start, const QByteArray& image)
{
    QByteArray upper;
    upper.append(char(start >> 24)).append(char(start >> 16));
    QByteArray text = hexRecord(4, 0, upper) + '\n';
    for (int at = 0; at < image.size(); at += 16)
        text += hexRecord(0, uint16_t(start + uint32_t(at)), image.mid(at, 16)) + '\n';
    return text + hexRecord(1, 0, QByteArray()) + '\n';
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    static constexpr size_t ParallelRuns = 4;
    QTemporaryDir dir;
    QString binDir;
    int dumps = 0;
    QHash<QString, Run> results; // of the commands table, by row
    QByteArray firmware = QByteArray("CY\x1c\xb0", 4) + pseudoRandom(9000, 1);
    QByteArray bitstream = pseudoRandom(10001, 2);
    QByteArray oldFirmware = QByteArray("CY\x1c\xb0", 4) + pseudoRandom(70000, 3);
    QByteArray wheelImage = pseudoRandom(3000, 4);

    QString path(const QString& name) const { return dir.filePath(name); }
    void save(const QString& name, const QByteArray& data)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(data), qint64(data.size()));
    }
    // "@name" stands for a file in the test's folder.
    QStringList expand(QStringList list) const
    {
        for (QString& s : list)
            s.replace(QLatin1Char('@'), dir.path() + QLatin1Char('/'));
        return list;
    }
    // A flash holding `firmware` at 0 and, behind a header record, `fpga` in the FPGA area.
    QByteArray flashImage(const QByteArray& fw, const QByteArray& fpga,
                          const HeaderRecord* header = nullptr) const
    {
        QByteArray flash(int(FpgaStart + FpgaFront) + fpga.size(), char(0xFF));
        flash.replace(0, fw.size(), fw);
        const HeaderRecord record = header ? *header : fpgaHeaderRecord(uint32_t(fpga.size()) + FpgaFront);
        flash.replace(int(HeaderStart), int(HeaderSize),
                      QByteArray(reinterpret_cast<const char*>(record.data()), 64));
        flash.replace(int(FpgaStart + FpgaFront), fpga.size(), fpga);
        return flash;
    }
    QStringList emulatorArguments(QStringList devices, const QStringList& command, QString* dump)
    {
        devices = expand(devices);
        if (dump) {
            *dump = path(QStringLiteral("dump%1.bin").arg(++dumps));
            for (QString& d : devices) {
                if (d.startsWith(QLatin1String("--camera"))) {
                    d += (d == QLatin1String("--camera") ? QStringLiteral("=dump=")
                                                         : QStringLiteral(",dump=")) +
                         *dump;
                    break;
                }
            }
        }
        return QStringList{QStringLiteral("-q")} + devices + QStringList{QStringLiteral("--")} + command;
    }
    QStringList cliCommand(const QStringList& args) const
    {
        return QStringList{binDir + QStringLiteral("/flashwick-cli")} + expand(args);
    }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FLASHWICK_DEVIZUVEZ"), QStringLiteral(DEVIZUVEZ_LIBRARY));
        return env;
    }
    QByteArray readDump(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    struct Started
    {
        std::unique_ptr<QProcess> process;
        QString dump; // the flash is written here when the command ends
        QElapsedTimer clock;
    };
    Started start(const QStringList& devices, const QStringList& args, bool dumpFlash)
    {
        Started s;
        QStringList command = cliCommand(args);
        if (args.value(0) == QLatin1String("sh") || args.value(0) == QLatin1String("env")) {
            command = expand(args);
            command.replaceInStrings(QRegularExpression(QStringLiteral("^flashwick-cli$")),
                                     binDir + QStringLiteral("/flashwick-cli"));
        }
        s.process = std::make_unique<QProcess>();
        s.process->setProcessEnvironment(environment());
        if (devices.isEmpty()) // no device needed
            s.process->start(command.first(), command.mid(1));
        else
            s.process->start(binDir + QStringLiteral("/flashwick-emulator"),
                             emulatorArguments(devices, command, dumpFlash ? &s.dump : nullptr));
        s.clock.start();
        return s;
    }
    Run finish(Started& s)
    {
        Run r;
        if (s.process->state() != QProcess::NotRunning &&
            !s.process->waitForFinished(int(qMax<qint64>(1, 60000 - s.clock.elapsed())))) {
            s.process->kill();
            s.process->waitForFinished();
            return r;
        }
        r.exitCode = s.process->exitStatus() == QProcess::NormalExit ? s.process->exitCode() : -1;
        r.out = s.process->readAllStandardOutput();
        r.err = s.process->readAllStandardError();
        if (!s.dump.isEmpty())
            r.flash = readDump(s.dump);
        return r;
    }
    // Runs `args` (the command's arguments, or a command line of its own when they start with "sh" or
    // "env") with the devices; without devices, outside the emulator. `during` runs while the
    // command does.
    Run run(const QStringList& devices, const QStringList& args, bool dumpFlash = false,
            const std::function<void(QProcess&)>& during = nullptr)
    {
        Started s = start(devices, args, dumpFlash);
        if (!s.process->waitForStarted(10000))
            return Run();
        if (during)
            during(*s.process);
        return finish(s);
    }
    static QByteArray describe(const Run& r)
    {
        return "exit " + QByteArray::number(r.exitCode) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
    }

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void help_data();
    void help();
    void backupRestoresWhatWasWritten();
    void backupSurvivesFailedWrite();
    void secondWriterRefused();
    void jsonEvents();
    void progressLinesWithoutTerminal();
    void interruptDuringWrite_data();
    void interruptDuringWrite();
    void terminal_data();
    void terminal();
};

void TestCli::initTestCase()
{
    QVERIFY(dir.isValid());
    binDir = QCoreApplication::applicationDirPath();
    QVERIFY(QFile::exists(binDir + QStringLiteral("/flashwick-cli")));
    save(QStringLiteral("fw.img"), firmware);
    save(QStringLiteral("nocy.img"), firmware.mid(2));
    save(QStringLiteral("empty.img"), QByteArray());
    save(QStringLiteral("large.img"), QByteArray("CY") + QByteArray(int(FirmwareLimit) - 1, 'x'));
    save(QStringLiteral("largest.img"), QByteArray("CY") + pseudoRandom(int(FirmwareLimit) - 2, 6));
    save(QStringLiteral("fpga.bit"), bitstream);
    QByteArray changed = bitstream;
    changed[4660] = char(~changed[4660]);
    save(QStringLiteral("fpga-changed.bit"), changed);
    QByteArray fwChanged = firmware;
    fwChanged[1234] = char(~fwChanged[1234]);
    save(QStringLiteral("fw-changed.img"), fwChanged);
    save(QStringLiteral("flash.bin"), flashImage(firmware, bitstream));
    HeaderRecord broken = fpgaHeaderRecord(uint32_t(bitstream.size()) + FpgaFront);
    broken[20] ^= 1; // checksum
    save(QStringLiteral("flash-badheader.bin"), flashImage(firmware, bitstream, &broken));
    QByteArray badFront = flashImage(firmware, bitstream);
    badFront[int(FpgaStart) + 17] = 0x00;
    save(QStringLiteral("flash-badfront.bin"), badFront);
    const HeaderRecord shorter = fpgaHeaderRecord(uint32_t(bitstream.size()) - 1 + FpgaFront);
    save(QStringLiteral("flash-shortheader.bin"), flashImage(firmware, bitstream, &shorter));
    save(QStringLiteral("flash-old.bin"), oldFirmware);
    save(QStringLiteral("ZW_firmware_v3.2.0.hex"), hexFile(0x08004000, wheelImage));
    save(QStringLiteral("ZW_firmware_v2.0.0.hex"), hexFile(0x08004000, wheelImage));
    QByteArray badHex = hexFile(0x08004000, wheelImage);
    badHex[badHex.indexOf('\n', 20) - 1] = badHex[badHex.indexOf('\n', 20) - 1] == '0' ? '1' : '0'; // line 2
    save(QStringLiteral("ZW_bad_v3.2.0.hex"), badHex);
    save(QStringLiteral("ZW_big_v3.2.0.hex"), hexFile(0x08004000, pseudoRandom(46049, 5)));
    save(QStringLiteral("exists.img"), "x");
    save(QStringLiteral("boot.bit"), QByteArray("CY\x1c\xb1", 4) + pseudoRandom(500, 7));
    save(QStringLiteral("hex.bit"), hexFile(0x08004000, wheelImage).replace("\n", "\r\n"));
    save(QStringLiteral("colon.bit"), ':' + pseudoRandom(500, 8)); // binary, by chance starting with ':'
    QByteArray gap = hexFile(0x08004000, wheelImage);
    gap.replace(hexRecord(0, 0x4010, wheelImage.mid(16, 16)), hexRecord(0, 0x5010, wheelImage.mid(16, 16)));
    save(QStringLiteral("ZW_gap_v3.2.0.hex"), gap);
}

// One command line against a set of emulated devices: exit code, what stdout and stderr say, and
// for some what the camera's flash holds afterwards ("untouched": as before; a file: starts with it).
void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("flash");

    const QString cam = QStringLiteral("--camera=timings=none");
    const QString camFlash = QStringLiteral("--camera=timings=none,flash=@flash.bin");
    const QString wheel =
        QStringLiteral("--wheel=fw=3.1.2,new-fw=3.2.0,bootloader-ms=50,return-ms=50,slot-ms=10");
    struct Job
    {
        QString name;
        QStringList devices, args;
        bool dump;
    };
    std::vector<Job> jobs;
    auto row = [&](const char* name, const QStringList& devices, const QStringList& args, int code,
                   const char* out, const char* err, const char* flash = "") {
        QTest::newRow(name) << devices << args << code << QString::fromUtf8(out) << QString::fromUtf8(err)
                            << QString::fromUtf8(flash);
        jobs.push_back({QString::fromUtf8(name), devices, args, *flash != 0});
    };

    row("usage: unknown command", {}, {"frob"}, 2, "", "unknown command \"frob\"");
    row("usage: camera without action", {}, {"camera"}, 2, "", "Commands:");
    row("usage: option of another command", {}, {"camera", "info", "--wheel", "1"}, 2, "", "Unknown option");
    row("usage: two files", {cam}, {"camera", "write-fw", "--yes", "@fw.img", "@fw.img"}, 2, "",
        "unexpected argument", "untouched");
    row("usage: backup of nothing", {}, {"camera", "backup"}, 2, "", "--fw OUT, --fpga OUT");
    row("usage: backup onto a file", {}, {"camera", "backup", "--fw", "@exists.img"}, 2, "",
        "exists already");
    row("usage: slot 0", {}, {"wheel", "goto", "0"}, 2, "", "slot number from 1");
    row("usage: slot past the last", {wheel}, {"wheel", "goto", "8"}, 2, "", "the wheel has 7 slots");
    row("usage: write without a terminal", {cam}, {"camera", "write-fw", "@fw.img"}, 2, "", "pass --yes",
        "untouched");
    row("version", {}, {"--version"}, 0, "^flashwick-cli 1\\.2\\.0\\n$", "^$");

    row("list", {cam, "--camera=serial=QVC00000000000000042,fw=45", wheel}, {"list"}, 0,
        "Cameras: 2\\n.*\\n.*QVC00000000000000042.*V4\\.5.*\\nFilter wheels: 1\\n.*7 slots.*firmware "
        "3\\.1\\.2"
        "(.|\\n)*Wheel bootloaders: 0",
        "^$");
    row("list: bootloader", {"--wheel-bootloader=version=45"}, {"list"}, 0,
        "Wheel bootloaders: 1\\n.*version 4\\.5", "");
    row("info: no camera", {wheel}, {"camera", "info"}, 3, "", "no camera found");
    row("info: two cameras, none chosen", {cam, "--camera=serial=QVC00000000000000042"}, {"camera", "info"},
        3, "", "QVC00000000000000042(.|\\n)*2 cameras are connected: choose one");
    row("info: by serial", {cam, "--camera=serial=QVC00000000000000042,fw=45"},
        {"camera", "info", "--camera", "QVC00000000000000042"}, 0,
        "Camera 1:.*\\n.*\\n.*QVC00000000000000042\\n.*V4\\.5", "^$");
    row("info: by index", {cam, "--camera=serial=QVC00000000000000042,fw=45"},
        {"camera", "info", "--camera", "0"}, 0, "Camera 0:(.|\\n)*firmware  V1\\.2\\.3\\n(.|\\n)*USB3\\.0",
        "");
    row("info: ambiguous serial",
        {cam + ",serial=QVC00000000000000007", cam + ",serial=QVC00000000000000007"},
        {"camera", "info", "--camera", "QVC00000000000000007"}, 3, "", "matches 2 cameras");
    row("info: no such camera", {cam}, {"camera", "info", "--camera", "QVC99"}, 3, "",
        "no camera matches \"QVC99\"");
    row("info: a request unanswered", {cam + ",stall=a2"}, {"camera", "info"}, 1, "firmware  \\?",
        "did not answer every request");
    row("reset", {cam}, {"camera", "reset"}, 0, "Reset FX3 OK", "");
    row("reset refused", {cam + ",stall=e0"}, {"camera", "reset"}, 1, "", "Reset FX3 failed!");

    row("write-fw", {cam}, {"camera", "write-fw", "--yes", "@fw.img"}, 0, "Writing FW Successful!",
        "re-connnect to host", "@fw.img");
    row("write-fw: without signature", {cam}, {"camera", "write-fw", "--yes", "@nocy.img"}, 4, "",
        "does not start with the FX3 boot-image signature \"CY\"", "untouched");
    row("write-fw: without signature, forced", {cam}, {"camera", "write-fw", "--yes", "--force", "@nocy.img"},
        0, "Writing FW Successful!", "writing it anyway", "@nocy.img");
    row("write-fw: missing file", {cam}, {"camera", "write-fw", "--yes", "@missing.img"}, 4, "",
        "no such file", "untouched");
    row("write-fw: empty file", {cam}, {"camera", "write-fw", "--yes", "@empty.img"}, 4, "", "is empty",
        "untouched");
    row("write-fw: one byte too large", {cam}, {"camera", "write-fw", "--yes", "@large.img"}, 4, "",
        "holds 262145 bytes", "untouched");
    row("write-fw: programming refused", {cam + ",stall=d0"}, {"camera", "write-fw", "--yes", "@fw.img"}, 1,
        "", "ERROR: Writing FW Failed! programming a chunk failed.*result 3");
    row("write-fw: read-back corrupted", {cam + ",corrupt-page=16"},
        {"camera", "write-fw", "--yes", "@fw.img"}, 1, "", "differs from what was written \\(result 6\\)");
    // The camera leaves after the requests of listing and opening it, during the first chunks.
    row("write-fw: camera gone", {cam + ",unplug-after=24"}, {"camera", "write-fw", "--yes", "@fw.img"}, 1,
        "", "ERROR: Writing FW Failed! programming a chunk failed.*No such device");
    row("write-fw: camera does not identify itself", {cam + ",stall=a3"},
        {"camera", "write-fw", "--yes", "@fw.img"}, 1, "", "does not answer its identification requests",
        "untouched");
    row("write-fpga: FX3 boot image", {cam}, {"camera", "write-fpga", "--yes", "@boot.bit"}, 4, "",
        "boot\\.bit is an FX3 boot image \\(\"CY\", image type 0xb1\\), not an FPGA bitstream \\(--force",
        "untouched");
    row("write-fpga: Intel HEX text", {cam}, {"camera", "write-fpga", "--yes", "@hex.bit"}, 4, "",
        "hex\\.bit is Intel HEX text, not an FPGA bitstream", "untouched");
    row("write-fpga: FX3 boot image, forced", {cam},
        {"camera", "write-fpga", "--yes", "--force", "@boot.bit"}, 0, "Writing FPGA Successful!",
        "writing it anyway \\(--force\\)");
    row("write-fpga: binary starting with a colon", {cam}, {"camera", "write-fpga", "--yes", "@colon.bit"}, 0,
        "Writing FPGA Successful!", "");
    row("write-fpga: needs --yes or a typed yes", {cam}, {"camera", "write-fpga", "@fpga.bit"}, 2, "",
        "Strongly recommended NOT to upgrade the FPGA,\\nunless you understand the purpose of doing "
        "so\\.\\nContinue\\?",
        "untouched");

    row("verify-fw: identical", {camFlash}, {"camera", "verify-fw", "@fw.img"}, 0, "Identical", "",
        "untouched");
    row("verify-fw: one byte differs", {camFlash}, {"camera", "verify-fw", "@fw-changed.img"}, 1, "",
        "1 byte\\(s\\) differ, the first at offset 1234 \\(0x4d2\\)", "untouched");
    row("verify-fw: missing file", {camFlash}, {"camera", "verify-fw", "@missing.img"}, 4, "",
        "no such file");
    row("verify-fpga: identical", {camFlash}, {"camera", "verify-fpga", "@fpga.bit"}, 0, "Identical", "",
        "untouched");
    row("verify-fpga: one byte differs", {camFlash}, {"camera", "verify-fpga", "@fpga-changed.bit"}, 1, "",
        "1 byte\\(s\\) differ, the first at offset 4660 \\(0x1234\\) of the file\\n");
    row("verify-fpga: header names another length", {"--camera=timings=none,flash=@flash-shortheader.bin"},
        {"camera", "verify-fpga", "@fpga.bit"}, 1, "", "names a bitstream of 10000 bytes, not 10001");
    row("verify-fpga: read-back fails", {camFlash + ",stall=d1"}, {"camera", "verify-fpga", "@fpga.bit"}, 1,
        "", "reading the FPGA header record at 0x41000 failed");

    row("wheel info", {wheel}, {"wheel", "info"}, 0, "firmware  3\\.1\\.2\\n  slots     7\\n  slot      1\\n",
        "^$");
    row("wheel info: no wheel library", {cam},
        {"env", "FLASHWICK_DEVIZUVEZ=@none.so", "flashwick-cli", "wheel", "info"}, 3, "",
        "Filter wheel library DevizuvEZ not found");
    row("list: no wheel library", {cam}, {"env", "FLASHWICK_DEVIZUVEZ=@none.so", "flashwick-cli", "list"}, 0,
        "Cameras: 1\\n.*\\nFilter wheels: 0\\n  Filter wheel library DevizuvEZ not found", "^$");
    row("wheel info: two wheels, none chosen", {wheel, wheel}, {"wheel", "info"}, 3, "",
        "2 filter wheels are connected");
    row("wheel goto", {wheel}, {"wheel", "goto", "3"}, 0, "stands at slot 3", "Going to Position: 3");
    row("wheel goto refused", {wheel + ",fail=goto"}, {"wheel", "goto", "3"}, 1, "",
        "Goto Position Failed, Code: ");
    row("wheel write", {wheel}, {"wheel", "write", "--yes", "@ZW_firmware_v3.2.0.hex"}, 0,
        "Write FW Successful! The wheel came back \\(id \\d+\\) running firmware 3\\.2\\.0",
        "Erase Flash OK!\\n(.|\\n)*Write Flash OK!\\n(.|\\n)*Run Program OK!");
    row("wheel write: comes back with another version",
        {"--wheel=fw=3.1.2,new-fw=3.1.9,bootloader-ms=50,return-ms=50"},
        {"wheel", "write", "--yes", "@ZW_firmware_v3.2.0.hex"}, 5, "",
        "running firmware 3\\.1\\.9, not 3\\.2\\.0");
    row("wheel write: does not come back", {"--wheel=fw=3.1.2,bootloader-ms=50,return-ms=never"},
        {"wheel", "write", "--yes", "--wait", "1", "@ZW_firmware_v3.2.0.hex"}, 5, "",
        "did not come back within 1 s");
    row("wheel write: no bootloader appears", {"--wheel=fw=3.1.2,bootloader-ms=60000"},
        {"wheel", "write", "--yes", "--wait", "1", "@ZW_firmware_v3.2.0.hex"}, 1, "",
        "No bootloader appeared within 1 s");
    row("wheel write: version rule", {wheel}, {"wheel", "write", "--yes", "@ZW_firmware_v2.0.0.hex"}, 4, "",
        "NOT compatibilty!.*v3\\.x");
    row("wheel write: HEX error", {wheel}, {"wheel", "write", "--yes", "@ZW_bad_v3.2.0.hex"}, 4, "",
        "PARSE_CHECKSUM_ERROR!!! Code: 2");
    row("wheel write: image too large", {wheel}, {"wheel", "write", "--yes", "@ZW_big_v3.2.0.hex"}, 4, "",
        "the firmware image has 46049 bytes, the wheel takes at most 46048 bytes");
    row("wheel write: records leave a gap", {wheel}, {"wheel", "write", "--yes", "@ZW_gap_v3.2.0.hex"}, 4, "",
        "line 3 of the firmware file\\(\\*\\.hex\\) holds data for address 0x08005010, expected 0x08004010");
    row("wheel write: missing file", {wheel}, {"wheel", "write", "--yes", "@ZW_none_v3.2.0.hex"}, 4, "",
        "is not exist");
    row("wheel write: bootloader refused", {wheel + ",fail=bootloader"},
        {"wheel", "write", "--yes", "@ZW_firmware_v3.2.0.hex"}, 1, "",
        "Failed to back to boolloader, Code: ");
    row("wheel write: no terminal", {wheel}, {"wheel", "write", "@ZW_firmware_v3.2.0.hex"}, 2, "",
        "pass --yes");

    // The rows are independent: run them a few at a time now, each row then checks its run.
    results.clear();
    std::vector<std::pair<QString, Started>> running;
    for (size_t next = 0; next < jobs.size() || !running.empty();) {
        while (running.size() < ParallelRuns && next < jobs.size()) {
            running.emplace_back(jobs[next].name,
                                 start(jobs[next].devices, jobs[next].args, jobs[next].dump));
            ++next;
        }
        for (auto it = running.begin(); it != running.end();) {
            if (it->second.process->waitForFinished(10) ||
                it->second.process->state() == QProcess::NotRunning || it->second.clock.elapsed() > 60000) {
                results[it->first] = finish(it->second);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void TestCli::commands()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, flash);

    const Run r = results.value(QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY2(r.exitCode == exitCode, describe(r));
    QVERIFY2(QRegularExpression(out).match(QString::fromLocal8Bit(r.out)).hasMatch(), describe(r));
    QVERIFY2(QRegularExpression(err).match(QString::fromLocal8Bit(r.err)).hasMatch(), describe(r));
    if (flash == QLatin1String("untouched")) {
        QByteArray before(int(FlashEnd), char(0xFF));
        for (const QString& d : expand(devices)) {
            const int at = d.indexOf(QLatin1String("flash="));
            if (at >= 0) {
                QFile f(d.mid(at + 6).section(QLatin1Char(','), 0, 0));
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QByteArray content = f.readAll();
                before.replace(0, content.size(), content);
            }
        }
        QVERIFY2(r.flash == before, "the flash changed");
    } else if (!flash.isEmpty()) {
        QFile f(expand({flash}).first());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray written = f.readAll();
        QCOMPARE(r.flash.left(written.size()), written);
    }
}

// Every subcommand answers --help with its usage and the exit codes.
void TestCli::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("usage");
    for (const char* c :
         {"list", "camera info", "camera write-fw", "camera write-fpga", "camera backup", "camera verify-fw",
          "camera verify-fpga", "camera reset", "wheel info", "wheel goto", "wheel write"})
        QTest::newRow(c) << (QString::fromLatin1(c).split(QLatin1Char(' ')) << QStringLiteral("--help"))
                         << QStringLiteral("Usage: flashwick-cli %1 [options]").arg(QLatin1String(c));
    QTest::newRow("top") << QStringList{QStringLiteral("--help")}
                         << QStringLiteral("Usage: flashwick-cli COMMAND");
}

void TestCli::help()
{
    QFETCH(QStringList, args);
    QFETCH(QString, usage);
    QProcess p;
    p.start(binDir + QStringLiteral("/flashwick-cli"), args);
    QVERIFY(p.waitForFinished(10000));
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(text.startsWith(usage), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("130  interrupted")), qPrintable(text));
}

// write-fpga then backup in one session: the saved bitstream is the written file, byte for byte;
// verify agrees; the firmware backup is the whole area.
void TestCli::backupRestoresWhatWasWritten()
{
    const QString cli = binDir + QStringLiteral("/flashwick-cli");
    const Run r =
        run({QStringLiteral("--camera=timings=none,flash=@flash-old.bin")},
            {QStringLiteral("sh"), QStringLiteral("-c"),
             QStringLiteral("%1 camera write-fpga --yes @fpga.bit && %1 camera backup --fpga @back.bit "
                            "--fw @back.img && %1 camera verify-fpga @fpga.bit")
                 .arg(cli)},
            true);
    QVERIFY2(r.exitCode == 0, describe(r));
    QFile bit(path(QStringLiteral("back.bit"))), img(path(QStringLiteral("back.img")));
    QVERIFY(bit.open(QIODevice::ReadOnly) && img.open(QIODevice::ReadOnly));
    QCOMPARE(bit.readAll(), bitstream);
    const QByteArray area = img.readAll();
    QCOMPARE(area.size(), int(FirmwareLimit));
    QCOMPARE(area, r.flash.left(int(FirmwareLimit)));
    QVERIFY(area.startsWith(oldFirmware));

    // A header record that is not valid, or a front that is not erased: said, and the whole area saved.
    for (const char* flash : {"flash-badheader.bin", "flash-badfront.bin"}) {
        const QString out = QStringLiteral("whole-%1").arg(QLatin1String(flash));
        const Run bad = run({QStringLiteral("--camera=timings=none,flash=@%1").arg(QLatin1String(flash))},
                            {QStringLiteral("camera"), QStringLiteral("backup"), QStringLiteral("--fpga"),
                             QLatin1Char('@') + out});
        QVERIFY2(bad.exitCode == 0 && bad.err.contains("saving the whole FPGA area"), describe(bad));
        QFile whole(path(out)), image(path(QLatin1String(flash)));
        QVERIFY(whole.open(QIODevice::ReadOnly) && image.open(QIODevice::ReadOnly));
        QByteArray area = image.readAll().mid(int(FpgaStart));
        area += QByteArray(int(FpgaLimit) - area.size(), char(0xFF));
        QCOMPARE(whole.readAll(), area);
    }
}

// --backup saves the area before the write; a write that then fails after erasing leaves the
// backup as the only copy, and it holds the old firmware. A failed backup writes nothing.
void TestCli::backupSurvivesFailedWrite()
{
    const Run r = run({QStringLiteral("--camera=timings=none,flash=@flash-old.bin,stall=d0")},
                      {QStringLiteral("camera"), QStringLiteral("write-fw"), QStringLiteral("--yes"),
                       QStringLiteral("--backup"), QStringLiteral("@saved.img"), QStringLiteral("@fw.img")},
                      true);
    QVERIFY2(r.exitCode == 1 && r.err.contains("Writing FW Failed!"), describe(r));
    QVERIFY2(r.flash.left(oldFirmware.size()) != oldFirmware, "the write did not erase the area");
    QFile saved(path(QStringLiteral("saved.img")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray backup = saved.readAll();
    QCOMPARE(backup.size(), int(FirmwareLimit));
    QCOMPARE(backup.left(oldFirmware.size()), oldFirmware);
    QCOMPARE(backup.mid(oldFirmware.size()), QByteArray(int(FirmwareLimit) - oldFirmware.size(), char(0xFF)));

    const Run refused =
        run({QStringLiteral("--camera=timings=none,flash=@flash-old.bin,stall=d1")},
            {QStringLiteral("camera"), QStringLiteral("write-fw"), QStringLiteral("--yes"),
             QStringLiteral("--backup"), QStringLiteral("@saved2.img"), QStringLiteral("@fw.img")},
            true);
    QVERIFY2(refused.exitCode == 1 && refused.err.contains("backup failed, so nothing was written"),
             describe(refused));
    QCOMPARE(refused.flash.left(oldFirmware.size()), oldFirmware);
    QVERIFY(!QFile::exists(path(QStringLiteral("saved2.img"))));
}

// Two writes of the same camera at once: the one that comes second is refused before it erases
// anything and names the first; the first writes its whole file.
void TestCli::secondWriterRefused()
{
    const QString cli = binDir + QStringLiteral("/flashwick-cli");
    const Run r =
        run({QStringLiteral("--camera=timings=realistic")},
            {QStringLiteral("sh"), QStringLiteral("-c"),
             QStringLiteral(
                 "%1 camera write-fw --yes @largest.img >@first.out 2>@first.err & first=$!; "
                 "for i in $(seq 1000); do grep -q 'Writing FW' @first.err && break; sleep 0.02; done; "
                 "%1 camera write-fw --yes @fw.img; echo \"second $?\"; wait $first; "
                 "echo \"first $? pid $first\"")
                 .arg(cli)},
            true);
    QVERIFY2(r.exitCode == 0, describe(r));
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("second 1\\nfirst 0 pid (\\d+)\\n$"))
                                          .match(QString::fromLocal8Bit(r.out));
    QVERIFY2(m.hasMatch(), describe(r));
    const QString refusal =
        QStringLiteral("flashwick-cli: the camera is in use by another program: close it and try again "
                       "(open in: flashwick-cli, pid %1)\n")
            .arg(m.captured(1));
    QVERIFY2(r.err.endsWith(refusal.toLocal8Bit()), describe(r));
    QVERIFY2(!r.err.contains("re-connnect"), describe(r)); // nothing was written: no re-plug asked for
    QFile largest(path(QStringLiteral("largest.img")));
    QVERIFY(largest.open(QIODevice::ReadOnly));
    QCOMPARE(r.flash.left(int(FirmwareLimit)), largest.readAll());
}

// --json: every stdout line is one JSON object; progress rises to 100; the result comes last.
void TestCli::jsonEvents()
{
    const Run r = run({QStringLiteral("--camera=timings=none")},
                      {QStringLiteral("camera"), QStringLiteral("write-fw"), QStringLiteral("--yes"),
                       QStringLiteral("--json"), QStringLiteral("@fw.img")});
    QVERIFY2(r.exitCode == 0, describe(r));
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    int lastPercent = -1;
    QStringList kinds;
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), line.constData());
        const QJsonObject e = doc.object();
        kinds << e.value(QStringLiteral("event")).toString();
        if (kinds.last() == QLatin1String("progress")) {
            const int percent = e.value(QStringLiteral("percent")).toInt();
            QVERIFY2(percent >= lastPercent, line.constData());
            lastPercent = percent;
        }
    }
    QCOMPARE(lastPercent, 100);
    QCOMPARE(kinds.last(), QStringLiteral("result"));
    const QJsonObject result = QJsonDocument::fromJson(lines.last()).object();
    QCOMPARE(result.value(QStringLiteral("exit")).toInt(), 0);
    QCOMPARE(result.value(QStringLiteral("bytes")).toInt(), firmware.size());
    QVERIFY(kinds.contains(QStringLiteral("log")));

    const Run list =
        run({QStringLiteral("--camera=timings=none,serial=QVC00000000000000042"), QStringLiteral("--wheel")},
            {QStringLiteral("list"), QStringLiteral("--json")});
    QVERIFY2(list.exitCode == 0, describe(list));
    const QJsonObject devices = QJsonDocument::fromJson(list.out.split('\n').first()).object();
    QCOMPARE(devices.value(QStringLiteral("event")).toString(), QStringLiteral("devices"));
    const QJsonObject camera = devices.value(QStringLiteral("cameras")).toArray().at(0).toObject();
    QCOMPARE(camera.value(QStringLiteral("serial")).toString(), QStringLiteral("QVC00000000000000042"));
    QCOMPARE(camera.value(QStringLiteral("firmware")).toString(), QStringLiteral("V1.2.3"));
    QCOMPARE(devices.value(QStringLiteral("wheels"))
                 .toArray()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("slots"))
                 .toInt(),
             7);
}

// Without a terminal the progress is one line at every 10 %, ten in all.
void TestCli::progressLinesWithoutTerminal()
{
    const Run r = run({QStringLiteral("--camera=timings=none")},
                      {QStringLiteral("camera"), QStringLiteral("write-fw"), QStringLiteral("--yes"),
                       QStringLiteral("@largest.img")});
    QVERIFY2(r.exitCode == 0, describe(r));
    QStringList steps;
    const QRegularExpression line(QStringLiteral("^write-fw: (\\d+) % \\((\\d+) of 262144 bytes"),
                                  QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromLocal8Bit(r.err));
    qint64 lastBytes = -1;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        steps << m.captured(1);
        QVERIFY(m.captured(2).toLongLong() >= lastBytes);
        lastBytes = m.captured(2).toLongLong();
    }
    QCOMPARE(steps.join(QLatin1Char(' ')), QStringLiteral("10 20 30 40 50 60 70 80 90 100"));
    QCOMPARE(lastBytes, qint64(FirmwareLimit));
    QVERIFY2(!r.err.contains('\r'), "a bar without a terminal");
}

// Ctrl-C once a write has begun (the chunks are written; the wheel has left its firmware):
// announced, the write finishes, its result stands.
void TestCli::interruptDuringWrite_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("flash");

    QTest::newRow("camera") << QStringList{QStringLiteral("--camera=timings=none")}
                            << QStringList{QStringLiteral("camera"), QStringLiteral("write-fw"),
                                           QStringLiteral("--yes"), QStringLiteral("--json"),
                                           QStringLiteral("@largest.img")}
                            << QStringLiteral("\"percent\":[6-9]\\d,") << QStringLiteral("@largest.img");
    QTest::newRow("wheel") << QStringList{QStringLiteral(
                                  "--wheel=fw=3.1.2,new-fw=3.2.0,bootloader-ms=300,return-ms=50")}
                           << QStringList{QStringLiteral("wheel"), QStringLiteral("write"),
                                          QStringLiteral("--yes"), QStringLiteral("--json"),
                                          QStringLiteral("@ZW_firmware_v3.2.0.hex")}
                           << QStringLiteral("Back to boolloader OK!") << QString();
}

void TestCli::interruptDuringWrite()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, args);
    QFETCH(QString, trigger);
    QFETCH(QString, flash);
    bool sent = false;
    const Run r = run(devices, args, !flash.isEmpty(), [&](QProcess& p) {
        QByteArray seen;
        while (!sent && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            seen += p.readAllStandardOutput();
            if (QRegularExpression(trigger).match(QString::fromLatin1(seen)).hasMatch()) {
                // The emulator passes a signal sent to it on to the command.
                ::kill(pid_t(p.processId()), SIGINT);
                sent = true;
            }
        }
    });
    QVERIFY(sent);
    QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), describe(r));
    QVERIFY2(r.out.contains("Interrupt received: the") && r.out.contains("not abandoned"), describe(r));
    QVERIFY2(r.out.trimmed().split('\n').last().contains("\"ok\":true"), describe(r));
    if (!flash.isEmpty()) {
        QFile f(expand({flash}).first());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(r.flash.left(int(FirmwareLimit)), f.readAll());
    }
}

// On a terminal: the question, the answer typed (or Ctrl-C), and the progress bar.
void TestCli::terminal_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("written");

    QTest::newRow("firmware, y") << "write-fw" << QByteArray("y\n") << 0 << true;
    QTest::newRow("firmware, n") << "write-fw" << QByteArray("n\n") << 130 << false;
    QTest::newRow("firmware, Ctrl-C at the question") << "write-fw" << QByteArray("\x03") << 130 << false;
    QTest::newRow("FPGA, y is not enough") << "write-fpga" << QByteArray("y\n") << 130 << false;
    QTest::newRow("FPGA, yes") << "write-fpga" << QByteArray("yes\n") << 0 << true;
}

void TestCli::terminal()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, answer);
    QFETCH(int, exitCode);
    QFETCH(bool, written);

    const bool fpga = command == QLatin1String("write-fpga");
    QString dump;
    const QStringList args =
        emulatorArguments({QStringLiteral("--camera=timings=none")},
                          cliCommand({QStringLiteral("camera"), command,
                                      fpga ? QStringLiteral("@fpga.bit") : QStringLiteral("@fw.img")}),
                          &dump);
    std::vector<QByteArray> storage{QFile::encodeName(binDir + QStringLiteral("/flashwick-emulator"))};
    for (const QString& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray preload = QByteArray("FLASHWICK_DEVIZUVEZ=") + DEVIZUVEZ_LIBRARY;

    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    QVERIFY(child >= 0);
    if (child == 0) {
        putenv(const_cast<char*>(preload.constData()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    QByteArray seen;
    bool answered = false;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break; // the terminal closed: every process on it has ended
            seen.append(buffer, int(n));
        }
        if (!answered && seen.contains(fpga ? "Type yes" : "[y/N]")) {
            QCOMPARE(write(master, answer.constData(), size_t(answer.size())), ssize_t(answer.size()));
            answered = true;
        }
        if (clock.elapsed() > 60000) {
            kill(child, SIGKILL);
            break;
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    QVERIFY2(answered, seen.constData());
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == exitCode, seen.constData());
    const QByteArray file = fpga ? bitstream : firmware;
    const QByteArray flash = readDump(dump);
    const int at = fpga ? int(FpgaStart + FpgaFront) : 0;
    QCOMPARE(flash.mid(at, file.size()) == file, written);
    if (!written)
        QCOMPARE(flash, QByteArray(int(FlashEnd), char(0xFF)));
    else // the bar: percent, bytes, elapsed and time left, redrawn in place
        QVERIFY2(QRegularExpression(
                     QStringLiteral("\\r\\x1b\\[K%1 \\[#+\\] 100 %  [\\d.]+ KiB / [\\d.]+ KiB  \\d+:\\d\\d "
                                    "elapsed  0:00 left")
                         .arg(command))
                     .match(QString::fromLocal8Bit(seen))
                     .hasMatch(),
                 seen.constData());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
