// flashwick-cli run as a process under flashwick-emulator: subcommands, exit codes, what reaches the
// flash, the saved files, JSON events, progress lines, confirmation on a terminal and Ctrl-C.
#include "clitext.h"
#include "emulator.h"
#include "flashlayout.h"
#include "fx3image.h"
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
#include <sys/ioctl.h>
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
    QByteArray firmware = fx3Image(9004, 1);
    QByteArray bitstream = pseudoRandom(10001, 2);
    QByteArray oldFirmware = fx3Image(70004, 3);
    QByteArray wheelImage = pseudoRandom(3000, 4);

    QString path(const QString& name) const { return dir.filePath(name); }
    // The flash of a new emulated camera: its own small firmware image, the rest erased.
    static QByteArray newCameraFlash()
    {
        QByteArray flash(int(FlashEnd), char(0xFF));
        const std::vector<uint8_t> own = flashwick::emu::bootImage(123);
        return flash.replace(0, int(own.size()),
                             QByteArray(reinterpret_cast<const char*>(own.data()), int(own.size())));
    }
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
    struct Job
    {
        QString name;
        QStringList devices, args;
        bool dump;
    };
    // Runs the jobs a few at a time into `results`, by name.
    void runAll(const std::vector<Job>& jobs)
    {
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
                    it->second.process->state() == QProcess::NotRunning ||
                    it->second.clock.elapsed() > 60000) {
                    results[it->first] = finish(it->second);
                    it = running.erase(it);
                } else {
                    ++it;
                }
            }
        }
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
    void manPageAndCompletion();
    void backupRestoresWhatWasWritten();
    void backupSurvivesFailedWrite();
    void secondWriterRefused();
    void jsonSchema_data();
    void jsonSchema();
    void progressLinesWithoutTerminal_data();
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
    save(QStringLiteral("largest.img"), fx3Image(int(FirmwareLimit), 6));
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
    for (const char* name : {"ZW_firmware_v2.0.0.hex", "ZW_firmware_v30.0.hex", "ZW_firmware_v1.3.0.hex",
                             "ZW_firmware_v3.2.hex", "ZW_firmware.hex"})
        save(QLatin1String(name), hexFile(0x08004000, wheelImage));
    save(QStringLiteral("ZW_empty_v3.2.0.hex"), QByteArray());
    QByteArray badHex = hexFile(0x08004000, wheelImage);
    badHex[badHex.indexOf('\n', 20) - 1] = badHex[badHex.indexOf('\n', 20) - 1] == '0' ? '1' : '0'; // line 2
    save(QStringLiteral("ZW_bad_v3.2.0.hex"), badHex);
    save(QStringLiteral("ZW_big_v3.2.0.hex"), hexFile(0x08004000, pseudoRandom(46049, 5)));
    save(QStringLiteral("exists.img"), "x");
    save(QStringLiteral("tagged.img"), fx3Image(20000, 9, 132));
    save(QStringLiteral("erased.bin"), QByteArray(4, char(0xFF)));
    QByteArray badSum = firmware;
    badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 0x10); // the checksum's top byte
    save(QStringLiteral("badsum.img"), badSum);
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
    row("usage: backup into a missing folder", {cam}, {"camera", "backup", "--fw", "/nonexistent/x.img"}, 2,
        "", "the folder /nonexistent does not exist");
    row("help COMMAND", {}, {"help", "wheel", "goto"}, 0,
        "^Usage: flashwick-cli wheel goto \\[options\\] N\\n", "^$");

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

    row("write-fw", {cam}, {"camera", "write-fw", "--yes", "@fw.img"}, 0,
        "Writing FW Successful! Unplug the camera and plug it in again", "", "@fw.img");
    row("write-fw: quiet", {cam}, {"camera", "write-fw", "--quiet", "--yes", "@fw.img"}, 0,
        "^Writing FW Successful!", "^$", "@fw.img");
    row("write-fw: verbose", {cam}, {"--verbose", "camera", "write-fw", "--yes", "@fw.img"}, 0, "",
        "(?s)camera request 0xd0 out value 0x0000 index 0x0000 length 4096: ok\\n.*camera request 0xd3 in "
        "value 0x0000 index 0x0000 length 1: 1 byte\\(s\\): 00",
        "@fw.img");
    row("write-fw: dry run", {cam}, {"camera", "write-fw", "--dry-run", "@fw.img"}, 0,
        "Dry run: .*fw.img \\(9004 bytes\\) would be written into the firmware area of camera 0", "",
        "untouched");
    row("write-fpga: dry run with a backup", {cam},
        {"camera", "write-fpga", "--dry-run", "--backup", "@dry.bit", "@fpga.bit"}, 0,
        "would be written into the FPGA area of camera 0 .*after a backup of the area to", "", "untouched");
    row("write-fw: without signature", {cam}, {"camera", "write-fw", "--yes", "@nocy.img"}, 4, "",
        "does not start with the FX3 boot-image signature \"CY\"", "untouched");
    row("write-fw: without signature, forced", {cam}, {"camera", "write-fw", "--yes", "--force", "@nocy.img"},
        0, "Writing FW Successful!", "writing it anyway", "@nocy.img");
    row("write-fw: checksum wrong", {cam}, {"camera", "write-fw", "--yes", "@badsum.img"}, 4, "",
        "badsum\\.img is not an FX3 firmware image the camera can start: checksum 0x[0-9A-F]{8}, the image "
        "says "
        "0x[0-9A-F]{8} \\(--force writes it anyway\\)",
        "untouched");
    row("write-fw: missing file", {cam}, {"camera", "write-fw", "--yes", "@missing.img"}, 4, "",
        "no such file", "untouched");
    row("write-fw: empty file", {cam}, {"camera", "write-fw", "--yes", "@empty.img"}, 4, "", "is empty",
        "untouched");
    row("write-fw: one byte too large", {cam}, {"camera", "write-fw", "--yes", "@large.img"}, 4, "",
        "holds 262145 bytes", "untouched");
    row("write-fw: programming refused", {cam + ",stall=d0"}, {"camera", "write-fw", "--yes", "@fw.img"}, 1,
        "",
        "ERROR: Writing FW Failed! programming a chunk failed.*result 3.*The firmware area is erased: "
        "nothing of the file is written\\. Keep the camera connected and write again\\.");
    row("write-fw: read-back corrupted", {cam + ",corrupt-page=16"},
        {"camera", "write-fw", "--yes", "@fw.img"}, 1, "",
        "differs from what was written \\(result 6\\)\\. The firmware area is erased and holds only the "
        "first 4096 of the file's 9004 bytes\\.");
    row("write-fpga: header record not written", {cam + ",corrupt-page=1040"},
        {"camera", "write-fpga", "--yes", "@fpga.bit"}, 1, "",
        "holds the whole bitstream, but the header record that locates it is not written");
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

    row("verify-fw: identical", {camFlash}, {"camera", "verify-fw", "@fw.img"}, 0,
        "Identical(.|\\n)*holds a valid FX3 boot image \\(9004 bytes\\)", "", "untouched");
    // A camera runs on while its flash holds an image it could not start from: verify says so.
    row("verify-fw: no valid image in the flash", {cam},
        {"sh", "-c",
         (binDir + "/flashwick-cli camera write-fw --yes --force @badsum.img 2>/dev/null && " + binDir +
          "/flashwick-cli camera verify-fw @badsum.img")
             .toUtf8()
             .constData()},
        0,
        "Identical(.|\\n)*holds no valid FX3 boot image \\(checksum 0x[0-9A-F]{8}, the image says "
        "0x[0-9A-F]{8}\\): after a reset or re-plug",
        "");

    // A camera in its boot loader: listed as such, and brought back with a fault at each step.
    const QString loader = QStringLiteral("--camera=boot-loader,timings=none");
    row("list: camera without firmware", {loader}, {"list"}, 0,
        "Cameras: 0\\nCameras without firmware \\(FX3 USB boot loader 04b4:00f3\\): 1\\n  usb:1-\\d+  "
        "\\(bring it back with: flashwick-cli camera recover FILE\\.img\\)",
        "^$");
    row("recover", {loader}, {"camera", "recover", "--yes", "@fw.img"}, 0,
        "Writing FW Successful! The camera's flash holds",
        "Loading the image into the camera's RAM \\(8980 bytes in 1 section\\(s\\)\\)(.|\\n)*matches the "
        "image(.|\\n)*Starting the firmware in RAM at 0x40003000(.|\\n)*The camera came up: Quenvor QV294C "
        "(.|\\n)*Writing FW\\.\\.\\.",
        "@fw.img");
    const QString cli = binDir + QStringLiteral("/flashwick-cli");
    row("recover: verbose", {loader}, {"--verbose", "camera", "recover", "--yes", "@fw.img"}, 0, "",
        "(?s)boot loader request 0xa0 out value 0x3000 index 0x4000 length 4096: ok\\n.*boot loader request "
        "0xa0 in value 0x3000 index 0x4000 length 4096: 4096 byte\\(s\\): .*boot loader request 0xa0 out "
        "value 0x3000 index 0x4000 length 0: .*camera request 0xd0 out",
        "@fw.img");
    row("recover: dry run", {loader}, {"--verbose", "camera", "recover", "--dry-run", "@fw.img"}, 0,
        "Dry run: .*fw\\.img \\(9004 bytes\\) would be loaded into the RAM of the camera at usb:1-\\d+",
        "(?s)^(?!.*request 0x)");
    // Before the start the chip stays in its boot loader, for another try.
    row("recover: RAM write fails", {loader + ",ram-stall=40004000"},
        {"sh", "-c",
         (cli + " camera recover --yes @fw.img; echo exit=$?; " + cli + " list").toUtf8().constData()},
        0, "^exit=1\\nCameras: 0\\nCameras without firmware \\(FX3 USB boot loader 04b4:00f3\\): 1\\n",
        "Recovery failed at \"load into RAM\": writing 4096 bytes at 0x40004000 failed \\(Pipe error\\)\\. "
        "The camera is still in its boot loader: run the command again\\.");
    row("recover: read-back fails", {loader + ",ram-read-stall=40003000"},
        {"camera", "recover", "--yes", "@fw.img"}, 1, "",
        "reading 4096 bytes back at 0x40003000 failed \\(Pipe error\\)\\. The camera is still in its boot "
        "loader");
    row("recover: read-back differs", {loader + ",ram-corrupt=40005000"},
        {"camera", "recover", "--yes", "@fw.img"}, 1, "",
        "the 788 bytes read back at 0x40005000 differ from the image\\. The camera is still in its boot "
        "loader");
    row("recover: no camera after the start", {loader + ",no-camera-after-start"},
        {"camera", "recover", "--yes", "@fw.img"}, 1, "",
        "Recovery failed at \"wait for the camera\": no camera came up within 10 s of the start\\. Unplug "
        "the "
        "camera and plug it in again");
    row("recover: the camera that came up does not answer", {loader + ",stall=a2"},
        {"camera", "recover", "--yes", "@fw.img"}, 1, "",
        "Recovery failed at \"open the camera\": the camera at usb:2-\\d+ cannot be opened or does not "
        "answer \\(Pipe error\\)\\. Unplug the camera and plug it in again");
    row("recover: flash write fails", {loader + ",corrupt-page=16"},
        {"camera", "recover", "--yes", "@fw.img"}, 1, "",
        "To write the file again: flashwick-cli camera write-fw .*fw\\.img --camera usb:2-\\d+\\n(.|\\n)*"
        "ERROR: Writing FW Failed! a chunk read back differs from what was written \\(result 6\\)\\. The "
        "firmware area is erased and holds only the first 4096 of the file's 9004 bytes\\. The camera runs "
        "the image from RAM: keep it connected and write again");
    row("recover: two chips, none chosen", {loader, loader}, {"camera", "recover", "--yes", "@fw.img"}, 3, "",
        "2 cameras are in their boot loader \\(usb:1-\\d+, usb:1-\\d+\\): choose one with --camera "
        "PATH\\|INDEX");
    row("recover: the second chip, by index", {"--camera=timings=none,flash=@erased.bin", loader},
        {"camera", "recover", "--yes", "--camera", "1", "@fw.img"}, 0, "Writing FW Successful!", "",
        "untouched");
    // A write cut by a cable drop, the re-plug, the boot loader, the recovery, and after the next
    // re-plug the camera starts from its flash with the image's version.
    row("recover: cut write, re-plug, recover, re-plug", {"--camera=timings=none,unplug-after=24"},
        {"sh", "-c",
         (cli + " camera write-fw --yes @tagged.img; echo write=$?; kill -USR2 $PPID; sleep 1; " + cli +
          " list; " + cli +
          " camera recover --yes @tagged.img; echo recover=$?; kill -USR1 $PPID; sleep 1; " +
          "kill -USR2 $PPID; sleep 1; " + cli + " camera info")
             .toUtf8()
             .constData()},
        0,
        "^write=1\\nCameras: 0\\nCameras without firmware(.|\\n)*\\nrecover=0\\nCamera 0: .*\\n(.|\\n)*"
        "firmware  V1\\.3\\.2\\n",
        "The camera left the bus during the write(.|\\n)*The camera runs the image from RAM \\(firmware "
        "V1\\.3\\.2\\)",
        "@tagged.img");
    row("recover: no boot loader", {cam}, {"camera", "recover", "--yes", "@fw.img"}, 3, "",
        "no camera in its FX3 USB boot loader", "untouched");
    row("recover: image refused", {loader}, {"camera", "recover", "--yes", "@badsum.img"}, 4, "",
        "badsum\\.img is not an FX3 firmware image the camera can start: checksum");
    row("recover: no terminal", {loader}, {"camera", "recover", "@fw.img"}, 2, "", "pass --yes");
    row("verify-fw: one byte differs", {camFlash}, {"camera", "verify-fw", "@fw-changed.img"}, 6, "",
        "1 byte\\(s\\) differ, the first at offset 1234 \\(0x4d2\\)", "untouched");
    row("verify-fw: missing file", {camFlash}, {"camera", "verify-fw", "@missing.img"}, 4, "",
        "no such file");
    row("verify-fpga: identical", {camFlash}, {"camera", "verify-fpga", "@fpga.bit"}, 0, "Identical", "",
        "untouched");
    row("verify-fpga: one byte differs", {camFlash}, {"camera", "verify-fpga", "@fpga-changed.bit"}, 6, "",
        "1 byte\\(s\\) differ, the first at offset 4660 \\(0x1234\\) of the file\\n");
    row("verify-fpga: header names another length", {"--camera=timings=none,flash=@flash-shortheader.bin"},
        {"camera", "verify-fpga", "@fpga.bit"}, 6, "", "names a bitstream of 10000 bytes, not 10001");
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
        "holds firmware 2\\.0\\.0, but the wheel runs 3\\.1\\.2: only a version 3\\.x suits it");
    // Versions are numbers: 30 is not 3, 13 is not 1, 3.2 is 3.2.0.
    row("wheel write: major 30 on a wheel at 3", {wheel},
        {"wheel", "write", "--yes", "@ZW_firmware_v30.0.hex"}, 4, "",
        "holds firmware 30\\.0, but the wheel runs 3\\.1\\.2");
    row("wheel write: a wheel at 13 takes 13.x", {"--wheel=fw=13.1.2"},
        {"wheel", "write", "--yes", "@ZW_firmware_v1.3.0.hex"}, 4, "", "only a version 13\\.x suits it");
    row("wheel write: 3.2 comes back as 3.2.0", {wheel}, {"wheel", "write", "--yes", "@ZW_firmware_v3.2.hex"},
        0, "running firmware 3\\.2\\.0", "");
    row("wheel write: same version", {"--wheel=fw=3.2.0"},
        {"wheel", "write", "--yes", "@ZW_firmware_v3.2.hex"}, 4, "",
        "runs 3\\.2\\.0 already.*--allow-reinstall");
    row("wheel write: same version allowed", {"--wheel=fw=3.2.0,new-fw=3.2.0,bootloader-ms=50,return-ms=50"},
        {"wheel", "write", "--yes", "--allow-reinstall", "@ZW_firmware_v3.2.0.hex"}, 0,
        "Write FW Successful!", "");
    row("wheel write: older version", {"--wheel=fw=3.10.0"},
        {"wheel", "write", "--yes", "@ZW_firmware_v3.2.0.hex"}, 4, "",
        "holds 3\\.2\\.0, older than the 3\\.10\\.0 the wheel runs \\(--allow-older");
    row("wheel write: dry run", {wheel}, {"wheel", "write", "--dry-run", "@ZW_firmware_v3.2.0.hex"}, 0,
        "^Dry run: .* would be written to filter wheel \\d+ \\(serial \\w+, firmware 3\\.1\\.2\\)", "");
    row("wheel write: verbose", {wheel}, {"wheel", "write", "--verbose", "--yes", "@ZW_firmware_v3.2.0.hex"},
        0, "", "(?s)wheel library QVRBacktoBootload\\(\\d+\\) = 0\\n.*wheel bootloader command 00 7e 5a 20");
    // The file is checked first, and its faults are told in plain words.
    row("wheel write: HEX error", {wheel}, {"wheel", "write", "--yes", "@ZW_bad_v3.2.0.hex"}, 4, "",
        "ZW_bad_v3\\.2\\.0\\.hex, line 2: checksum 0x[0-9A-F]{2}, but the record's bytes give 0x[0-9A-F]{2}");
    row("wheel write: HEX error, no wheel", {cam}, {"wheel", "write", "--yes", "@ZW_bad_v3.2.0.hex"}, 4, "",
        "line 2: checksum");
    row("wheel write: empty file", {wheel}, {"wheel", "write", "--yes", "@ZW_empty_v3.2.0.hex"}, 4, "",
        "ZW_empty_v3\\.2\\.0\\.hex is empty");
    row("wheel write: no version in the name", {wheel}, {"wheel", "write", "--yes", "@ZW_firmware.hex"}, 4,
        "", "the file name \"ZW_firmware\\.hex\" carries no version");
    row("wheel write: image too large", {wheel}, {"wheel", "write", "--yes", "@ZW_big_v3.2.0.hex"}, 4, "",
        "the firmware image has 46049 bytes, the wheel takes at most 46048 bytes");
    row("wheel write: records leave a gap", {wheel}, {"wheel", "write", "--yes", "@ZW_gap_v3.2.0.hex"}, 4, "",
        "line 3 of the firmware file\\(\\*\\.hex\\) holds data for address 0x08005010, expected 0x08004010");
    row("wheel write: missing file", {wheel}, {"wheel", "write", "--yes", "@ZW_none_v3.2.0.hex"}, 4, "",
        "no such file");
    row("wheel write: bootloader refused", {wheel + ",fail=bootloader"},
        {"wheel", "write", "--yes", "@ZW_firmware_v3.2.0.hex"}, 1, "",
        "Failed to back to boolloader, Code: ");
    row("wheel write: no terminal", {wheel}, {"wheel", "write", "@ZW_firmware_v3.2.0.hex"}, 2, "",
        "pass --yes");

    // The rows are independent: run them a few at a time now, each row then checks its run.
    runAll(jobs);
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
        QByteArray before = newCameraFlash();
        for (const QString& d : expand(devices)) {
            const int at = d.indexOf(QLatin1String("flash="));
            if (at >= 0) {
                QFile f(d.mid(at + 6).section(QLatin1Char(','), 0, 0));
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QByteArray content = f.readAll();
                before.fill(char(0xFF));
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

// Every subcommand answers --help (and "help COMMAND") with its usage, its options and the exit codes;
// the program's help tells how devices are counted and matched.
void TestCli::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("usage");
    QTest::addColumn<QString>("contains");
    for (const CliText::Section* c : CliText::all(QStringLiteral("command"))) {
        const QString options = c->value(QStringLiteral("options")).section(QLatin1Char(' '), 0, 0);
        QTest::newRow(qPrintable(c->name))
            << (c->name.split(QLatin1Char(' ')) << QStringLiteral("--help"))
            << QStringLiteral("Usage: flashwick-cli %1 [options]").arg(c->name)
            << (options.isEmpty() ? QStringLiteral("--json") : QStringLiteral("--") + options);
        QTest::newRow(qPrintable(QStringLiteral("help ") + c->name))
            << (QStringList{QStringLiteral("help")} + c->name.split(QLatin1Char(' ')))
            << QStringLiteral("Usage: flashwick-cli %1 [options]").arg(c->name)
            << QStringLiteral("6    verify found");
    }
    QTest::newRow("top") << QStringList{QStringLiteral("--help")}
                         << QStringLiteral("Usage: flashwick-cli COMMAND")
                         << QStringLiteral("Camera indices count from 0 and wheel slots from 1");
}

void TestCli::help()
{
    QFETCH(QStringList, args);
    QFETCH(QString, usage);
    QFETCH(QString, contains);
    QProcess p;
    p.start(binDir + QStringLiteral("/flashwick-cli"), args);
    QVERIFY(p.waitForFinished(10000));
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(text.startsWith(usage), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("130  interrupted")) && text.contains(contains), qPrintable(text));
}

// The man page and the completion are made from the program's own texts by the build, which reads
// them on its own: every command, option, exit code and event the program knows is in both, and
// the page renders without a warning.
void TestCli::manPageAndCompletion()
{
    QFile manFile(QStringLiteral(CLI_MAN_PAGE)), completionFile(QStringLiteral(CLI_COMPLETION));
    QVERIFY(manFile.open(QIODevice::ReadOnly) && completionFile.open(QIODevice::ReadOnly));
    const QString man = QString::fromUtf8(manFile.readAll());
    const QString completion = QString::fromUtf8(completionFile.readAll());
    auto roff = [](QString text) { return text.replace(QLatin1Char('-'), QLatin1String("\\-")); };
    for (const CliText::Section* c : CliText::all(QStringLiteral("command"))) {
        QVERIFY2(man.contains(QStringLiteral(".TP\n\\fB%1\\fR").arg(roff(c->name))), qPrintable(c->name));
        QStringList words;
        for (const QString& o :
             c->value(QStringLiteral("options")).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            QVERIFY2(man.contains(roff(QStringLiteral("\\fB--%1\\fR").arg(o))), qPrintable(o));
            const CliText::Section* option = CliText::find(QStringLiteral("option"), o);
            QVERIFY2(option, qPrintable(o));
            if (!option->value(QStringLiteral("short")).isEmpty())
                words << QLatin1Char('-') + option->value(QStringLiteral("short"));
            words << QStringLiteral("--") + o;
        }
        QVERIFY2(completion.contains(
                     QStringLiteral("\"%1\") opts=\"%2\"").arg(c->name, words.join(QLatin1Char(' ')))),
                 qPrintable(c->name));
    }
    for (const CliText::Section* e : CliText::all(QStringLiteral("exit")))
        QVERIFY2(man.contains(QStringLiteral(".TP\n.B %1\n%2")
                                  .arg(e->name, roff(e->text()).section(QLatin1Char(' '), 0, 2))),
                 qPrintable(e->name));
    for (const QString& kind : {QStringLiteral("event"), QStringLiteral("object")})
        for (const CliText::Section* e : CliText::all(kind))
            for (const CliText::Field& f : CliText::fields(*e))
                QVERIFY2(man.contains(QStringLiteral(".TP\n\\fB%1\\fR (").arg(f.name)),
                         qPrintable(e->name + ' ' + f.name));
    const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
    if (groff.isEmpty())
        QSKIP("groff is not installed: the page was not rendered");
    QProcess render;
    render.start(groff, {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z"),
                         QStringLiteral(CLI_MAN_PAGE)});
    QVERIFY(render.waitForFinished(30000));
    QCOMPARE(render.exitCode(), 0);
    QCOMPARE(render.readAllStandardError(), QByteArray());
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
        QVERIFY2(bad.exitCode == 0 && bad.err.contains("saving the whole FPGA area") &&
                     bad.out.contains("write-fpga cannot write") && bad.out.contains("back as it is"),
                 describe(bad));
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
    QVERIFY2(r.exitCode == 1 && r.err.contains("Writing FW Failed!") &&
                 r.err.contains(QStringLiteral("or write back the backup %1")
                                    .arg(path(QStringLiteral("saved.img")))
                                    .toLocal8Bit()),
             describe(r));
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
    // Nothing was written: neither a re-plug nor another write asked for.
    QVERIFY2(!r.out.contains("Unplug") && !r.err.contains("write again"), describe(r));
    QFile largest(path(QStringLiteral("largest.img")));
    QVERIFY(largest.open(QIODevice::ReadOnly));
    QCOMPARE(r.flash.left(int(FirmwareLimit)), largest.readAll());
}

namespace {

QString checkFields(const QJsonObject& object, const QList<CliText::Field>& fields, const QStringList& also);

// Whether `value` has `type`, as the command line's schema writes types.
bool hasType(const QJsonValue& value, const QString& type)
{
    for (const QString& t : type.split(QLatin1Char('|'))) {
        if (t == QLatin1String("string") ? value.isString()
            : t == QLatin1String("integer")
                ? value.isDouble() && value.toDouble() == double(qint64(value.toDouble()))
            : t == QLatin1String("number")    ? value.isDouble()
            : t == QLatin1String("boolean")   ? value.isBool()
            : t == QLatin1String("null")      ? value.isNull()
            : t.startsWith(QLatin1Char('\'')) ? value.isString() && value.toString() == t.mid(1, t.size() - 2)
            : t.startsWith(QLatin1String("array:"))
                ? value.isArray() && std::all_of(value.toArray().begin(), value.toArray().end(),
                                                 [&](const QJsonValue& v) { return hasType(v, t.mid(6)); })
                : value.isObject() && CliText::find(QStringLiteral("object"), t) &&
                      checkFields(value.toObject(),
                                  CliText::fields(*CliText::find(QStringLiteral("object"), t)), {})
                          .isEmpty())
            return true;
    }
    return false;
}

// Empty when `object` has every field that is not optional, each of its type, and no other field
// than those and `also`; otherwise what is wrong.
QString checkFields(const QJsonObject& object, const QList<CliText::Field>& fields, const QStringList& also)
{
    QStringList known = also;
    for (const CliText::Field& f : fields) {
        known << f.name;
        if (!object.contains(f.name)) {
            if (!f.optional)
                return QStringLiteral("\"%1\" is missing").arg(f.name);
        } else if (!hasType(object.value(f.name), f.type)) {
            return QStringLiteral("\"%1\" is not %2").arg(f.name, f.type);
        }
    }
    for (const QString& key : object.keys())
        if (!known.contains(key))
            return QStringLiteral("\"%1\" is not in the schema").arg(key);
    return QString();
}

} // namespace

// --json, for every subcommand, its successes and failures: every stdout line is an event of the
// documented schema, with its fields and types and no other; the result comes last with the exit
// code, after an error event when it failed; progress only rises.
void TestCli::jsonSchema_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    const QString cam = QStringLiteral("--camera=timings=none");
    const QString wheel =
        QStringLiteral("--wheel=fw=3.1.2,new-fw=3.2.0,bootloader-ms=50,return-ms=50,slot-ms=10");
    std::vector<Job> jobs;
    auto row = [&](const char* name, const QStringList& devices, const QStringList& args, int code,
                   const char* out = "") {
        QTest::newRow(name) << code << QString::fromUtf8(out);
        jobs.push_back({QString::fromUtf8(name), devices, QStringList{"--json"} + args, false});
    };
    row("list", {cam + ",serial=QVC00000000000000042", wheel, "--wheel-bootloader"}, {"list"}, 0,
        "\"firmware\":\"1\\.2\\.3\"(.|\\n)*\"firmware\":\"3\\.1\\.2\"");
    row("list: no wheel library", {cam},
        {"env", "FLASHWICK_DEVIZUVEZ=@none.so", "flashwick-cli", "--json", "list"}, 0,
        "\"wheelLibraryProblem\"");
    row("camera info", {cam}, {"camera", "info"}, 0, "\"event\":\"camera\"");
    row("camera info: a request unanswered", {cam + ",stall=a2"}, {"camera", "info"}, 1, "\"firmware\":null");
    row("camera info: no camera", {wheel}, {"camera", "info"}, 3);
    row("camera reset", {cam}, {"camera", "reset"}, 0);
    row("write-fw", {cam}, {"camera", "write-fw", "--yes", "@fw.img"}, 0,
        "\"areaState\":\"written\"(.|\\n)*\"writtenBytes\":9004\\}");
    row("write-fw: refused", {cam}, {"camera", "write-fw", "--yes", "@nocy.img"}, 4,
        "\"areaState\":\"unchanged\"(.|\\n)*\"writtenBytes\":0\\}");
    row("write-fw: fails after the erase", {cam + ",stall=d0"}, {"camera", "write-fw", "--yes", "@fw.img"}, 1,
        "\"areaState\":\"erased\"");
    row("write-fw: dry run", {cam}, {"camera", "write-fw", "--dry-run", "--backup", "@dry.img", "@fw.img"}, 0,
        "\"backupFile\"(.|\\n)*\"dryRun\":true");
    row("write-fpga with a backup", {cam},
        {"camera", "write-fpga", "--yes", "--backup", "@json-back.bit", "@fpga.bit"}, 0);
    row("backup: whole FPGA area", {"--camera=timings=none,flash=@flash-badheader.bin"},
        {"camera", "backup", "--fw", "@json.img", "--fpga", "@json.bit"}, 0, "\"fpgaWritable\":false");
    row("verify-fw: differs", {"--camera=timings=none,flash=@flash.bin"},
        {"camera", "verify-fw", "@fw-changed.img"}, 6);
    row("verify-fpga", {"--camera=timings=none,flash=@flash.bin"}, {"camera", "verify-fpga", "@fpga.bit"}, 0);
    row("list: camera without firmware", {"--camera=boot-loader,timings=none"}, {"list"}, 0,
        "\"cameraBootLoaders\":\\[\\{\"path\":\"usb:1-");
    row("recover", {"--camera=boot-loader,timings=none"}, {"camera", "recover", "--yes", "@largest.img"}, 0,
        "\"operation\":\"recover\",\"percent\":100(.|\\n)*\"operation\":\"write-fw\"(.|\\n)*\"areaState\":"
        "\"written\"(.|\\n)*\"firmware\":\"1\\.2\\.3\"");
    row("recover: dry run", {"--camera=boot-loader,timings=none"},
        {"camera", "recover", "--dry-run", "@fw.img"}, 0, "\"dryRun\":true");
    row("recover: fails at the flash write", {"--camera=boot-loader,timings=none,corrupt-page=16"},
        {"camera", "recover", "--yes", "@fw.img"}, 1,
        "\"areaState\":\"partly written\"(.|\\n)*\"failedStep\":\"write the "
        "flash\"(.|\\n)*\"writtenBytes\":4096");
    row("recover: fails at the RAM load", {"--camera=boot-loader,timings=none,ram-corrupt=40003000"},
        {"camera", "recover", "--yes", "@fw.img"}, 1, "\"failedStep\":\"load into RAM\"");
    row("wheel info", {wheel}, {"wheel", "info"}, 0, "\"event\":\"wheel\"");
    row("wheel goto", {wheel}, {"wheel", "goto", "2"}, 0);
    row("wheel write", {wheel}, {"wheel", "write", "--yes", "@ZW_firmware_v3.2.0.hex"}, 0,
        "\"firmwareAfter\":\"3\\.2\\.0\"");
    row("wheel write: refused", {wheel}, {"wheel", "write", "--yes", "@ZW_bad_v3.2.0.hex"}, 4);
    row("wheel write: does not come back", {"--wheel=fw=3.1.2,bootloader-ms=50,return-ms=never"},
        {"wheel", "write", "--yes", "--wait", "1", "@ZW_firmware_v3.2.0.hex"}, 5, "\"firmwareAfter\":null");
    row("unknown command, --json first", {}, {"frob"}, 2);
    row("unknown action, --json between", {}, {"camera", "frob"}, 2);
    row("usage error", {}, {"wheel", "goto", "0"}, 2);
    row("version", {}, {"--version"}, 0, "flashwick-cli 1\\.2\\.0");
    // "--json" given first in the row; "env" rows bring their own.
    for (Job& j : jobs)
        if (j.args.value(1) == QLatin1String("env"))
            j.args.removeFirst();
    runAll(jobs);
}

void TestCli::jsonSchema()
{
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    const Run r = results.value(QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY2(r.exitCode == exitCode, describe(r));
    QVERIFY2(QRegularExpression(out).match(QString::fromUtf8(r.out)).hasMatch(), describe(r));
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QString lastKind, operation;
    int lastPercent = -1;
    for (int i = 0; i < lines.size(); ++i) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(lines.at(i), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), lines.at(i).constData());
        const QJsonObject e = doc.object();
        const QString kind = e.value(QStringLiteral("event")).toString();
        const CliText::Section* event = CliText::find(QStringLiteral("event"), kind);
        QVERIFY2(event, lines.at(i).constData());
        QCOMPARE(e.value(QStringLiteral("schema")).toInt(-1), 1);
        const QString problem = checkFields(e, CliText::fields(*event), {"event", "schema"});
        QVERIFY2(problem.isEmpty(),
                 qPrintable(problem + QStringLiteral(": ") + QString::fromUtf8(lines.at(i))));
        if (kind == QLatin1String("progress")) {
            if (e.value(QStringLiteral("operation")).toString() != operation)
                lastPercent = -1;
            operation = e.value(QStringLiteral("operation")).toString();
            QVERIFY2(e.value(QStringLiteral("percent")).toInt() >= lastPercent, lines.at(i).constData());
            lastPercent = e.value(QStringLiteral("percent")).toInt();
        }
        if (i == lines.size() - 1) {
            QCOMPARE(kind, QStringLiteral("result"));
            QCOMPARE(e.value(QStringLiteral("exit")).toInt(), exitCode);
            QCOMPARE(lastKind == QLatin1String("error"), exitCode != 0);
        } else {
            QVERIFY2(kind != QLatin1String("result"), describe(r));
        }
        lastKind = kind;
    }
}

// Without a terminal: a line each time a further 10 % is passed, telling the phase and the
// progress as it is at that moment, in order with the steps around it. The camera's four erase blocks
// move the progress to 12, 25, 37 and 50; a written chunk of 4096 bytes moves it by 50/64.
void TestCli::progressLinesWithoutTerminal_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("steps"); // "line>=percent": the progress shown before that line

    QTest::newRow("camera") << QStringList{QStringLiteral("--camera=timings=none,erase-ms=150")}
                            << QStringList{QStringLiteral("camera"), QStringLiteral("write-fw"),
                                           QStringLiteral("--yes"), QStringLiteral("@largest.img")}
                            << QStringList();
    QTest::newRow("wheel") << QStringList{QStringLiteral(
                                  "--wheel=fw=3.1.2,new-fw=3.2.0,bootloader-ms=50,return-ms=50")}
                           << QStringList{QStringLiteral("wheel"), QStringLiteral("write"),
                                          QStringLiteral("--yes"), QStringLiteral("@ZW_firmware_v3.2.0.hex")}
                           << QStringList{QStringLiteral("Erase Flash OK!>=30"),
                                          QStringLiteral("Write Flash OK!>=90"),
                                          QStringLiteral("Run Program OK!>=100")};
}

void TestCli::progressLinesWithoutTerminal()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, args);
    QFETCH(QStringList, steps);
    const Run r = run(devices, args);
    QVERIFY2(r.exitCode == 0, describe(r));
    QVERIFY2(!r.err.contains('\r'), "a bar without a terminal");
    const QRegularExpression progress(QStringLiteral(
        "^(write-fw|wheel-write): (erase|write \\+ verify|write|run) (\\d+) % \\((\\d+) of (\\d+) bytes"));
    int shown = -1, lines = 0;
    qint64 lastBytes = -1, total = 0;
    for (const QString& line : QString::fromLocal8Bit(r.err).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = progress.match(line);
        if (m.hasMatch()) {
            const int percent = m.captured(3).toInt();
            const qint64 bytes = m.captured(4).toLongLong();
            total = m.captured(5).toLongLong();
            QVERIFY2(percent / 10 > shown / 10 || shown < 0, qPrintable(line)); // one line per 10 % band
            QVERIFY2(percent >= 10 && bytes >= lastBytes, qPrintable(line));
            if (m.captured(1) == QLatin1String("write-fw")) {
                if (m.captured(2) == QLatin1String("erase"))
                    QVERIFY2(bytes == 0 && QList<int>({12, 25, 37}).contains(percent), qPrintable(line));
                else
                    QVERIFY2(qAbs(percent - (50 + bytes * 50 / total)) <= 2, qPrintable(line));
            }
            shown = percent;
            lastBytes = bytes;
            ++lines;
        }
        for (const QString& step : steps)
            if (line == step.section(QLatin1String(">="), 0, 0))
                QVERIFY2(shown >= step.section(QLatin1String(">="), 1).toInt(),
                         qPrintable(step + " " + r.err));
    }
    QCOMPARE(shown, 100);
    QCOMPARE(lastBytes, total);
    QVERIFY(lines >= 3);
}

// Ctrl-C once a write has begun (the erase or the chunks are under way; the wheel has left its
// firmware): announced, the write finishes, its result stands.
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
    // The emulator waits for its command, however long the write takes after the interrupt.
    QTest::newRow("camera, 7 s after the interrupt")
        << QStringList{QStringLiteral("--camera=timings=none,erase-ms=2000")}
        << QStringList{QStringLiteral("camera"), QStringLiteral("write-fw"), QStringLiteral("--yes"),
                       QStringLiteral("--json"), QStringLiteral("@largest.img")}
        << QStringLiteral("\"percent\":12,") << QStringLiteral("@largest.img");
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

// On a terminal of some width: the question, the answer typed (or Ctrl-C), and the progress bar,
// which never is wider than the terminal (so "\r\e[K" always clears all of it), also after the
// terminal was made narrower during the write.
void TestCli::terminal_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("narrowed"); // columns after the first bar, 0: unchanged
    QTest::addColumn<QString>("lastBar");

    const QString full = QStringLiteral(
        "write \\+ verify \\[#+\\] 100 %  [\\d.]+ KiB / [\\d.]+ KiB  \\d+:\\d\\d elapsed  0:00 left$");
    QTest::newRow("firmware, y") << "write-fw"
                                 << "@fw.img" << QByteArray("y\n") << 0 << true << 80 << 0
                                 << "write \\+ verify \\[#+\\] 100 %  [\\d.]+ KiB / [\\d.]+ KiB  0:00 left$";
    QTest::newRow("firmware, n") << "write-fw"
                                 << "@fw.img" << QByteArray("n\n") << 130 << false << 80 << 0 << "";
    QTest::newRow("firmware, Ctrl-C at the question")
        << "write-fw"
        << "@fw.img" << QByteArray("\x03") << 130 << false << 80 << 0 << "";
    QTest::newRow("FPGA, y is not enough")
        << "write-fpga"
        << "@fpga.bit" << QByteArray("y\n") << 130 << false << 80 << 0 << "";
    QTest::newRow("FPGA, yes") << "write-fpga"
                               << "@fpga.bit" << QByteArray("yes\n") << 0 << true << 120 << 0 << full;
    QTest::newRow("firmware, 120 columns, then 50") << "write-fw"
                                                    << "@largest.img" << QByteArray("y\n") << 0 << true << 120
                                                    << 50 << "write \\+ verify \\[#+\\] 100 %$";
}

void TestCli::terminal()
{
    QFETCH(QString, command);
    QFETCH(QString, file);
    QFETCH(QByteArray, answer);
    QFETCH(int, exitCode);
    QFETCH(bool, written);
    QFETCH(int, columns);
    QFETCH(int, narrowed);
    QFETCH(QString, lastBar);

    const bool fpga = command == QLatin1String("write-fpga");
    QString dump;
    const QStringList args = emulatorArguments({QStringLiteral("--camera=timings=none")},
                                               cliCommand({QStringLiteral("camera"), command, file}), &dump);
    std::vector<QByteArray> storage{QFile::encodeName(binDir + QStringLiteral("/flashwick-emulator"))};
    for (const QString& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray preload = QByteArray("FLASHWICK_DEVIZUVEZ=") + DEVIZUVEZ_LIBRARY;

    int master = -1;
    winsize size = {};
    size.ws_row = 24;
    size.ws_col = ushort(columns);
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    QVERIFY(child >= 0);
    if (child == 0) {
        putenv(const_cast<char*>(preload.constData()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    QByteArray seen;
    bool answered = false;
    int narrowedAt = -1; // where the output stood when the terminal was made narrower
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
        if (narrowed && narrowedAt < 0 && seen.contains("\r\x1b[K")) {
            size.ws_col = ushort(narrowed);
            QCOMPARE(ioctl(master, TIOCSWINSZ, &size), 0);
            narrowedAt = seen.size();
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
    QFile source(expand({file}).first());
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray content = source.readAll();
    const QByteArray flash = readDump(dump);
    const int at = fpga ? int(FpgaStart + FpgaFront) : 0;
    QCOMPARE(flash.mid(at, content.size()) == content, written);
    if (!written) {
        QCOMPARE(flash, newCameraFlash());
        return;
    }
    // Every drawing of the bar, each after "\r\e[K": narrower than the terminal; after it was made
    // narrower, all but the one that may have been under way then.
    const QByteArray clear = "\r\x1b[K";
    QStringList bars;
    int afterNarrowing = 0;
    for (int i = seen.indexOf(clear); i >= 0; i = seen.indexOf(clear, i + 1)) {
        QByteArray bar = seen.mid(i + clear.size());
        bar.truncate(qMin(bar.indexOf('\r') < 0 ? bar.size() : bar.indexOf('\r'),
                          bar.indexOf('\n') < 0 ? bar.size() : bar.indexOf('\n')));
        if (!bar.startsWith(command.toLatin1() + ' ')) // a log line after a cleared bar
            continue;
        const bool narrow = narrowedAt >= 0 && i >= narrowedAt && afterNarrowing++ > 0;
        QVERIFY2(bar.size() < (narrow ? narrowed : columns), bar.constData());
        bars << QString::fromLocal8Bit(bar);
    }
    QVERIFY2(!narrowed || afterNarrowing > 2, seen.constData());
    QVERIFY2(
        !bars.isEmpty() &&
            QRegularExpression(QStringLiteral("^%1 %2").arg(command, lastBar)).match(bars.last()).hasMatch(),
        seen.constData());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
