// Wheel firmware update workflow on an emulated wheel and its emulated bootloader.
#include "emulator.h"
#include "fx3image.h"
#include "hexparser.h"
#include "hexrecord.h"
#include "mainwindowtestaccess.h"
#include "qvrusb.h"
#include "wheelmodel.h"
#include "zwprotocol.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <random>

using namespace flashwick::emu;
using A = MainWindowTestAccess;

namespace {
// When a test closes the window during an update.
enum CloseAt
{
    AtWrite,       // the worker erases and writes
    DuringWait,    // the wait before the first bootloader scan
    DuringTryAgain // the "Try Again?" question is open
};

// The waits of a write during which the devices may change, and the changes.
enum Wait
{
    CameraRisk,    // the camera's risk warning
    FpgaQuestion,  // "Update FPGA"
    WheelRisk,     // the wheel's risk warning
    Parse,         // the HEX file is parsed
    MotorPause,    // a pause of Set Motor Power, during which Write FW is pressed
    BootloaderWait // the wait before the bootloader scan
};
enum Change
{
    Unplugged,   // the selected device leaves (at the bootloader wait: the wheel's bootloader)
    Plugged,     // another device arrives (at the bootloader wait: another wheel's bootloader)
    Selected,    // another device is selected
    ClosePending // the user agrees to close while the other side writes
};
} // namespace

class TestWheelUpdate : public QObject
{
    Q_OBJECT

    std::unique_ptr<Testbed> bed;
    std::unique_ptr<TestSettings> settings;
    std::vector<std::unique_ptr<WheelModel>> wheels;
    std::vector<DeviceId> cameras;
    QTemporaryDir files;

    WheelModel* addWheel(WheelModel::Options options = {})
    {
        options.hidrawIndex = 16 + 2 * int(wheels.size());
        options.selfTestMs = 100;
        // Well inside the first 400 ms wait: leaving the bus alone can take 100 ms on a loaded machine.
        options.bootloaderMs = options.bootloaderMs == 1000 ? 50 : options.bootloaderMs;
        options.returnMs = 200;
        wheels.push_back(std::make_unique<WheelModel>(bed->raw(), options, &bed->rawMutex()));
        if (!wheels.back()->plug())
            qFatal("wheel not plugged");
        return wheels.back().get();
    }
    // A HEX file made by binutils from size random bytes at the given start address.
    QString hexFile(const QString& name, int size, QByteArray* image, uint32_t start = 0x08004000)
    {
        std::mt19937 random(size);
        image->resize(size);
        for (char& b : *image)
            b = char(random());
        const QString raw = files.filePath(name + QStringLiteral(".bin"));
        QFile f(raw);
        f.open(QIODevice::WriteOnly);
        f.write(*image);
        f.close();
        const QString hex = files.filePath(name);
        QProcess::execute(QStringLiteral("objcopy"),
                          {QStringLiteral("-I"), QStringLiteral("binary"), QStringLiteral("-O"),
                           QStringLiteral("ihex"), QStringLiteral("--change-addresses"),
                           QStringLiteral("0x%1").arg(start, 0, 16), raw, hex});
        return hex;
    }
    // The same, padded with records of types the image leaves out to 1 MiB, so that its parse takes a
    // while.
    QString slowHexFile(const QString& name, int size, QByteArray* image)
    {
        const QString file = hexFile(name, size, image);
        QFile f(file);
        f.open(QIODevice::ReadWrite);
        QByteArray text = f.readAll();
        const QByteArray end = ":00000001FF\r\n";
        if (!text.endsWith(end))
            qFatal("no end record in %s", qPrintable(file));
        text.chop(end.size());
        const QByteArray filler = ":0400000300000000F9\r\n";
        text += filler.repeated(int((MaxHexFileSize - text.size() - end.size()) / filler.size()));
        text += end;
        if (!f.resize(0) || !f.seek(0) || f.write(text) != text.size())
            qFatal("%s not written", qPrintable(file));
        return file;
    }
    DeviceId addCamera(const char* name, const char* serial, const CameraTimings& timings = CameraTimings())
    {
        CameraConfig config;
        config.name = name;
        config.serial = serial;
        config.timings = timings;
        const DeviceId id = bed->addCamera(config);
        cameras.push_back(id);
        return id;
    }
    // Pseudo-random bytes; a firmware file (*.img) is a valid boot image of that size.
    QString randomFile(const QString& name, int size)
    {
        QByteArray bytes = fx3Image(size, uint32_t(size));
        if (!name.endsWith(QLatin1String(".img"))) {
            std::mt19937 random(size);
            for (char& b : bytes)
                b = char(random());
        }
        QFile f(files.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    // Whether any erase or program request reached the camera.
    bool flashTouched(DeviceId camera) const
    {
        for (const ControlRequest& r : bed->requests(camera))
            if (r.request == ReqErase || r.request == ReqWritePage)
                return true;
        return false;
    }
    // A window with the wheel opened and its self test over (without wheels: just the window).
    std::unique_ptr<MainWindow> openWindow(bool withWheel = true)
    {
        // Armed first: a quick self test shows its box while the constructor still runs.
        QString title;
        if (withWheel)
            answerNextBox(QMessageBox::Ok, &title, 15000);
        auto w = std::make_unique<MainWindow>();
        w->show();
        if (withWheel &&
            !QTest::qWaitFor([&title] { return !title.isEmpty() && !QApplication::activeModalWidget(); },
                             15000))
            qWarning("no self-test result box");
        QTest::qWait(20);
        A::notShowWarningZW(*w) = true;
        child<QTextEdit>(*w, "textEditLog")->clear();
        return w;
    }
    // A bootloader that shows up late on a loaded machine is scanned for again.
    static QMap<QString, QMessageBox::StandardButton> retry()
    {
        return {{QStringLiteral("Try Again?"), QMessageBox::Yes}};
    }
    static bool sentToBootloader(const WheelModel& wheel)
    {
        for (const WheelModel::Call& call : wheel.calls())
            if (call.code == ZW_CMD_BOOTLOADER)
                return true;
        return wheel.inBootloader();
    }
    static void checkStaleList(MainWindow& w)
    {
        QVERIFY(child<QComboBox>(w, "comboBoxZWList")->isEnabled());
        QVERIFY(child<QPushButton>(w, "pushButtonRefreshZW")->isEnabled());
        QCOMPARE(child<QComboBox>(w, "comboBoxZWList")->count(), 1);
        for (const char* name :
             {"comboBoxGotoPosition", "pushButtonResetZW", "checkBoxOneWay", "pushButtonWriteFW_ZW"})
            QVERIFY2(!child<QWidget>(w, name)->isEnabled(), name);
        QCOMPARE(child<QProgressBar>(w, "progressBarWriting_ZW")->maximum(), 100);
    }

private slots:
    void initTestCase()
    {
        bed = std::make_unique<Testbed>();
        QVERIFY2(bed->isValid(), bed->errorString().c_str());
        MainWindow::bootloaderScanDelayMs = 400;
    }
    void init() { settings = std::make_unique<TestSettings>(); }
    void cleanup()
    {
        QTRY_VERIFY(!QApplication::activeModalWidget());
        wheels.clear();
        for (DeviceId id : cameras)
            bed->unplug(id);
        cameras.clear();
        settings.reset();
    }

    void fullUpdate()
    {
        WheelModel::Options o;
        o.newFirmwareVersion = "3.2.0";
        WheelModel* wheel = addWheel(o);
        // A camera beside it: every rescan on the way must list it alone and leave it be.
        const DeviceId camera = bed->addCamera();
        cameras.push_back(camera);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.2.0.hex"), 46048, &image);
        auto w = openWindow();
        bed->clearRequests(camera);
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        // The log as the result box shows it: the bootloader's departure may rescan the wheel list
        // once the box is closed.
        QString message, state;
        QStringList lines;
        int progress = -1;
        BoxAnswerer boxes(retry());
        boxes.setRule(QStringLiteral("Write Successfully"), [&](QMessageBox*) {
            lines = logLines(*w);
            message = child<QLabel>(*w, "labelMsg_ZW")->text();
            state = child<QLabel>(*w, "labelMsg_ZW")->property("res").toString();
            progress = child<QProgressBar>(*w, "progressBarWriting_ZW")->value();
            return QMessageBox::Ok;
        });
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Write Successfully")), 30000);
        boxes.titles.removeAll(QStringLiteral("Try Again?"));
        QCOMPARE(boxes.titles.first(), QStringLiteral("Write Successfully"));
        const int linesAtResult = lines.size();

        // Device changes on the way rescan the idle camera side; leave those lines out. The wheel and its
        // bootloader are on the USB bus too, and none of them is taken for a camera.
        QVERIFY(lines.contains(QStringLiteral("Get Connnected Camera...")));
        lines.removeAll(QStringLiteral("Get Connnected Camera..."));
        lines.removeAll(QStringLiteral("Detect 1 Camera(s)..."));
        QCOMPARE(lines.filter(QStringLiteral("Camera")), QStringList());
        QVERIFY(lines.contains(QStringLiteral("Please wait, bootloader is being scanned...")));
        lines.removeAll(QStringLiteral("Please wait, bootloader is being scanned..."));
        lines.removeAll(QStringLiteral("ERROR: Scan ZW bootloader failed!"));
        const QStringList expected = {
            QStringLiteral("fwName:ZW_v3.2.0.hex"),
            QStringLiteral("fwName version:3.2.0"),
            QStringLiteral("wheel firmware version compatibilty!"),
            QStringLiteral("Reading and parsing the firmware file, please wait...."),
            QStringLiteral("Parse firmware file OK!"),
            QStringLiteral("Back to boolloader OK!")};
        QCOMPARE(lines.mid(0, expected.size()), expected);
        const int scanned = lines.indexOf(QStringLiteral("Scan ZW bootloader OK!"));
        QVERIFY(scanned > 0);
        QVERIFY(lines.value(scanned - 3).startsWith(QStringLiteral("ZW Bootload Name: ")));
        QCOMPARE(lines.mid(scanned + 1),
                 (QStringList{QStringLiteral("Start to Write FW to wheel"),
                              QStringLiteral("Erase Flash to Start!"), QStringLiteral("Erase Flash OK!"),
                              QStringLiteral("Write Flash to Start!"), QStringLiteral("Write Flash OK!"),
                              QStringLiteral("Run Program to Start!"), QStringLiteral("Run Program OK!"),
                              QStringLiteral("Write FW Successful!")}));
        QCOMPARE(progress, 100);
        QCOMPARE(state, QStringLiteral("ok"));
        QCOMPARE(message, QStringLiteral("Write FW Successful!"));
        if (!logLines(*w).mid(linesAtResult).contains(QStringLiteral("Get Connnected Wheel...")))
            checkStaleList(*w); // until a rescan
        QByteArray padded = image;
        padded.append(QByteArray(46080 - image.size(), char(0xFF)));
        QCOMPARE(wheel->bootloader().flash(), padded);
        QCOMPARE(wheel->usbNodeAccesses(), 0);
        QCOMPARE(wheel->bootloader().usbNodeAccesses(), 0);
        // The camera was only read again by the rescans: no flash command, no reset.
        for (const ControlRequest& r : bed->requests(camera))
            QVERIFY2(!r.vendor() || r.request == ReqFirmwareVersion || r.request == ReqFpgaVersion ||
                         r.request == ReqSerialNumber,
                     qPrintable(QString::number(r.request, 16)));
        QCOMPARE(QVRUsb::cameraList().names.size(), 1);
        QCOMPARE(child<QLabel>(*w, "labelShowFWVersion")->text(), QStringLiteral("V1.2.3"));

        // The wheel comes back with its new firmware; a refresh restores the tab.
        QTRY_COMPARE_WITH_TIMEOUT(wheel->returnCount(), 1, 10000);
        // Its arrival rescans the wheel list too; either way the reopened wheel is self-tested.
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonRefreshZW"), Qt::LeftButton);
        QTRY_COMPARE(child<QLabel>(*w, "labelShowZW_FWVer")->text(), QStringLiteral("V3.2.0"));
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Self Test OK")), 15000);
        QVERIFY(child<QPushButton>(*w, "pushButtonWriteFW_ZW")->isEnabled());
    }

    void versionMismatchStopsBeforeAnything()
    {
        WheelModel* wheel = addWheel();
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v2.0.0.hex"), 100, &image);
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        QString text;
        answerNextModal([&text](QWidget* m) {
            text = qobject_cast<QMessageBox*>(m)->text();
            pressButton(m, QMessageBox::Ok);
        });
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QCOMPARE(text, QStringLiteral(
                           "The firmware version is incompatible!\nPlease select the v3.x version firmware"));
        QVERIFY(!wheel->inBootloader());
        QVERIFY(child<QPushButton>(*w, "pushButtonWriteFW_ZW")->isEnabled());
    }

    void backToBootloaderRefused()
    {
        WheelModel* wheel = addWheel();
        wheel->setRefused(ZW_CMD_BOOTLOADER);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.3.hex"), 100, &image);
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(*w, "labelMsg_ZW")->text(), QStringLiteral("Failed to back to boolloader!"));
        QVERIFY(logLines(*w).last().startsWith(QStringLiteral("Failed to back to boolloader, Code: ")));
        QVERIFY(logLines(*w).last().size() > QStringLiteral("Failed to back to boolloader, Code: ").size());
        QVERIFY(child<QPushButton>(*w, "pushButtonWriteFW_ZW")->isEnabled());
        QVERIFY(child<QPushButton>(*w, "pushButtonResetZW")->isEnabled());
    }

    void stepFailure_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("failedLine");
        QTest::newRow("erase unanswered")
            << int(WheelBootloaderModel::Fault::NoReply) << 0x20 << "Erase Flash Failed!!";
        QTest::newRow("write status 1")
            << int(WheelBootloaderModel::Fault::Status1) << 0x21 << "Write Flash Failed!!";
        QTest::newRow("write result set")
            << int(WheelBootloaderModel::Fault::ResultNonZero) << 0x21 << "Write Flash Failed!!";
        QTest::newRow("run refused") << int(WheelBootloaderModel::Fault::ResultNonZero) << 0x30
                                     << "Run Program Failed!!";
    }
    void stepFailure()
    {
        QFETCH(int, fault);
        QFETCH(int, code);
        QFETCH(QString, failedLine);
        WheelModel* wheel = addWheel();
        wheel->bootloader().setFault(WheelBootloaderModel::Fault(fault), uint8_t(code), 0,
                                     code == 0x30 ? 0xFF : 0x01);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.0.1.hex"), 3000, &image);
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        BoxAnswerer boxes(retry());
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Write Failed")), 30000);
        const QStringList lines = logLines(*w);
        QCOMPARE(lines.mid(lines.size() - 2), (QStringList{failedLine, QStringLiteral("Write FW Failed!")}));
        QCOMPARE(child<QLabel>(*w, "labelMsg_ZW")->property("res").toString(), QStringLiteral("failed"));
        checkStaleList(*w);
    }

    // Images the bootloader writer would refuse, and files too large to read, are found out while
    // the wheel still runs its firmware: it is never sent to its bootloader.
    void imageRefusedBeforeTheBootloader_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<uint>("start");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("box");
        QTest::newRow("no data") << "hex" << 0 << 0x08004000u
                                 << "ERROR: the firmware file(*.hex) holds no data to write to the wheel!"
                                 << true;
        QTest::newRow("46049 bytes")
            << "hex" << 46049 << 0x08004000u
            << "ERROR: the firmware image has 46049 bytes, the wheel takes at most 46048 bytes!" << true;
        QTest::newRow("start 0x08004100") << "hex" << 300 << 0x08004100u
                                          << "ERROR: the firmware image starts at 0x08004100, the wheel's "
                                             "firmware must start at an address ending in 4000!"
                                          << true;
        // The parser would close up these records; their bytes would land elsewhere than the file says.
        const QString outOfLine =
            "ERROR: line %1 of the firmware file(*.hex) holds data for address 0x%2, expected "
            "0x%3: its records must follow each other without gaps or overlaps!";
        QTest::newRow("records leave a gap")
            << "gap" << 300 << 0x08004000u << outOfLine.arg(3).arg("08005010", "08004010") << true;
        QTest::newRow("records go backwards")
            << "backwards" << 300 << 0x08004000u << outOfLine.arg(4).arg("08004000", "08004020") << true;
        QTest::newRow("records overlap")
            << "overlap" << 300 << 0x08004000u << outOfLine.arg(3).arg("08004008", "08004010") << true;
        QTest::newRow("file over 1 MiB") << "big" << 1048577 << 0u
                                         << "Parse firmware file error: PARSE_SIZE_ERROR!!! The file has "
                                            "1048577 bytes, a wheel firmware file has at most 1048576 bytes."
                                         << false;
    }
    void imageRefusedBeforeTheBootloader()
    {
        QFETCH(QString, kind);
        QFETCH(int, size);
        QFETCH(uint, start);
        QFETCH(QString, line);
        QFETCH(bool, box);
        WheelModel* wheel = addWheel();
        QString file = files.filePath(QStringLiteral("ZW_v3.0.2.hex"));
        QByteArray image;
        if (kind == "big") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(QByteArray(size, ':'));
        } else if (size == 0) {
            QFile f(file); // the address record and the end record only: parses, holds nothing
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(":020000040800F2\n:00000001FF\n");
        } else {
            file = hexFile(QStringLiteral("ZW_v3.0.2.hex"), size, &image, start);
            if (kind != "hex") {
                // objcopy writes 16-byte records: move the second one, or repeat the first as the third.
                QFile f(file);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QList<QByteArray> records = f.readAll().split('\n');
                f.close();
                const QByteArray second = records.at(2).trimmed();
                const QByteArray data = QByteArray::fromHex(second.mid(9, 32));
                if (kind == "gap")
                    records[2] = hexRecord(0, 0x5010, data);
                else if (kind == "overlap")
                    records[2] = hexRecord(0, 0x4008, data);
                else
                    records.insert(3, records.at(1));
                QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                f.write(records.join('\n'));
            }
        }
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        BoxAnswerer boxes({});
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QCOMPARE(logLines(*w).last(), line);
        QCOMPARE(boxes.titles, box ? QStringList{QStringLiteral("The Firmware File Error")} : QStringList());
        QTest::qWait(300); // a bootloader command would be on its way by now
        QVERIFY(!sentToBootloader(*wheel));
        for (const char* name : {"pushButtonWriteFW_ZW", "pushButtonRefreshZW", "comboBoxZWList",
                                 "pushButtonResetZW", "comboBoxGotoPosition"})
            QVERIFY2(child<QWidget>(*w, name)->isEnabled(), name);
        QCOMPARE(child<QLabel>(*w, "labelShowZW_FWVer")->text(), QStringLiteral("V3.1.2"));
    }

    // A window closed while the file is parsed goes no further, and nothing crashes.
    void closeWhileParsingGoesNoFurther()
    {
        WheelModel* wheel = addWheel();
        QByteArray image;
        const QString file = slowHexFile(QStringLiteral("ZW_v3.0.3.hex"), 46048, &image);

        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        QTimer::singleShot(0, w.get(), [&w] { w->close(); }); // runs inside the wait for the parse
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QVERIFY(logLines(*w).contains(QStringLiteral("Parse firmware file OK!")));
        QTest::qWait(300);
        QVERIFY(!sentToBootloader(*wheel));
        w.reset();
    }

    void sixScansThenReplug()
    {
        WheelModel::Options o;
        o.bootloaderMs = 600000; // the bootloader never shows up
        addWheel(o);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.9.hex"), 300, &image);
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        BoxAnswerer boxes({{QStringLiteral("Try Again?"), QMessageBox::Yes}});
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QStringList expected;
        for (int i = 0; i < 6; ++i)
            expected << QStringLiteral("Try Again?");
        expected << QStringLiteral("Re-plug Wheel");
        QCOMPARE(boxes.titles, expected);
        QCOMPARE(logLines(*w).filter(QStringLiteral("ERROR: Scan ZW bootloader failed!")).size(), 6);
        QCOMPARE(logLines(*w).filter(QStringLiteral("Please wait, bootloader is being scanned...")).size(),
                 6);
        checkStaleList(*w);
        QCOMPARE(MainWindow::bootloaderScanDelayMs, 400); // the hook, not the program's 5000 ms default
    }

    void tryAgainNoEndsTheScan()
    {
        WheelModel::Options o;
        o.bootloaderMs = 600000;
        addWheel(o);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.8.hex"), 300, &image);
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        BoxAnswerer boxes({{QStringLiteral("Try Again?"), QMessageBox::No}});
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QCOMPARE(boxes.titles, QStringList{QStringLiteral("Try Again?")});
        checkStaleList(*w);
    }

    // "Yes" to closing at any stage of an update lets it run to its end: its boxes and log lines
    // appear as without the close, then the window closes.
    void closeDuringUpdate_data()
    {
        QTest::addColumn<int>("closeAt");
        QTest::addColumn<int>("bootloaderMs");
        QTest::addColumn<bool>("writeFails");
        QTest::addColumn<QStringList>("boxes"); // titles, each once, in order of first appearance
        QTest::addColumn<QString>("lastLine");
        const QString question = QStringLiteral("Writing in Progress");
        const QString tryAgain = QStringLiteral("Try Again?");
        const QString success = QStringLiteral("Write Successfully");
        QTest::newRow("at erase/write")
            << int(AtWrite) << 1000 << false << QStringList{question, success} << "Write FW Successful!";
        QTest::newRow("at erase/write, write fails")
            << int(AtWrite) << 1000 << true << QStringList{question, QStringLiteral("Write Failed")}
            << "Write FW Failed!";
        QTest::newRow("during the wait")
            << int(DuringWait) << 1000 << false << QStringList{question, success} << "Write FW Successful!";
        QTest::newRow("during Try Again?")
            << int(DuringTryAgain) << 900 << false << QStringList{tryAgain, question, success}
            << "Write FW Successful!";
        QTest::newRow("during the wait, no bootloader")
            << int(DuringWait) << 600000 << false
            << QStringList{question, tryAgain, QStringLiteral("Re-plug Wheel")}
            << "ERROR: Scan ZW bootloader failed!";
    }
    void closeDuringUpdate()
    {
        QFETCH(int, closeAt);
        QFETCH(int, bootloaderMs);
        QFETCH(bool, writeFails);
        QFETCH(QStringList, boxes);
        QFETCH(QString, lastLine);
        WheelModel::Options o;
        o.bootloaderMs = bootloaderMs;
        o.newFirmwareVersion = "3.4.0";
        WheelModel* wheel = addWheel(o);
        if (writeFails) // late in the write, so the close comes first
            wheel->bootloader().setFault(WheelBootloaderModel::Fault::Status1, 0x21, 1200);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.4.0.hex"), 46048, &image);
        auto w = openWindow();
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);

        const QString question = QStringLiteral("Writing in Progress");
        BoxAnswerer answerer(
            {{question, QMessageBox::Yes}, {QStringLiteral("Try Again?"), QMessageBox::Yes}});
        bool closeSent = false;
        if (closeAt == DuringTryAgain) {
            answerer.setRule(QStringLiteral("Try Again?"), [&](QMessageBox*) {
                if (answerer.titles.contains(question))
                    return QMessageBox::Yes;
                if (!closeSent) // from outside the answerer's own timer, which the question would block
                    QTimer::singleShot(0, w.get(), [&w] { w->close(); });
                closeSent = true;
                return QMessageBox::NoButton;
            });
        }
        bool lastBoxWithWindow = false;
        answerer.setRule(boxes.last(), [&](QMessageBox*) {
            lastBoxWithWindow = w->isVisible();
            return QMessageBox::Ok;
        });
        QTimer waitWatch;
        if (closeAt == DuringWait) {
            // The label says so right before the first wait begins.
            waitWatch.setInterval(20);
            connect(&waitWatch, &QTimer::timeout, [&] {
                if (child<QLabel>(*w, "labelMsg_ZW")->text() != QStringLiteral("Start to scan bootloader"))
                    return;
                waitWatch.stop();
                QVERIFY(!w->close());
            });
            waitWatch.start();
        }
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        if (closeAt == AtWrite) {
            QVERIFY(A::writeRunning(*w));
            QVERIFY(!w->close());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 30000);

        // The wheel's return may rescan it (and show its self test) once the window has closed.
        QStringList titles = answerer.titles.mid(0, answerer.titles.indexOf(boxes.last()) + 1);
        if (!boxes.contains(QStringLiteral("Try Again?"))) // a slow bootloader may take a second scan
            titles.removeAll(QStringLiteral("Try Again?"));
        titles.removeDuplicates();
        QCOMPARE(titles.join(QLatin1String(" | ")), boxes.join(QLatin1String(" | ")));
        QVERIFY(lastBoxWithWindow);
        QVERIFY(!A::writeRunning(*w));
        const QStringList lines = logLines(*w);
        const QString willClose = QStringLiteral("Flashwick will close when the write has finished.");
        QCOMPARE(lines.count(willClose), 1);
        QVERIFY(lines.lastIndexOf(lastLine) > lines.indexOf(willClose));
        if (lastLine == QStringLiteral("Write FW Successful!")) {
            QByteArray padded = image;
            padded.append(QByteArray(46080 - image.size(), char(0xFF)));
            QCOMPARE(wheel->bootloader().flash(), padded);
            QTRY_COMPARE_WITH_TIMEOUT(wheel->returnCount(), 1, 10000);
            QCOMPARE(wheel->firmwareVersion(), QByteArray("3.4.0"));
        } else {
            QVERIFY(wheel->inBootloader());
        }
        w.reset();
    }

    // A close carried out after a camera write leaves nothing pending: were the window shown
    // again, a wheel update would show its result box and keep the window open.
    void closeAfterCameraWriteDoesNotCarryOver()
    {
        WheelModel::Options o;
        o.newFirmwareVersion = "3.5.0";
        WheelModel* wheel = addWheel(o);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.5.0.hex"), 3000, &image);
        const DeviceId camera = bed->addCamera();
        bed->setTimings(camera, CameraTimings::realistic());
        const QString cameraImage = randomFile(QStringLiteral("fw.img"), 20000);
        auto w = openWindow();
        A::notShowWarning(*w) = true;
        child<QLineEdit>(*w, "lineEditFWFilePath")->setText(cameraImage);
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);

        BoxAnswerer answerer({{QStringLiteral("Writing in Progress"), QMessageBox::Yes}});
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW"), Qt::LeftButton);
        QVERIFY(!w->close());
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 30000);
        QVERIFY(answerer.titles.contains(QStringLiteral("Write Successfully")));

        w->show();
        answerer.titles.clear();
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(answerer.titles.contains(QStringLiteral("Write Successfully")), 30000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(w->isVisible());
        QVERIFY(!A::writeRunning(*w));
        QTRY_COMPARE_WITH_TIMEOUT(wheel->returnCount(), 1, 10000);
        QVERIFY(w->close());
        bed->unplug(camera);
    }

    // While a box or a wait of a write is open, scans, timers and clicks go on: the selected device
    // may leave, another may arrive or be selected, the user may agree to close. Whatever happens,
    // what is written is the device that was checked, or nothing.
    void writesGoToTheConfirmedDevice_data()
    {
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("change");
        QTest::addColumn<bool>("written"); // the checked device gets the write
        QTest::addColumn<QString>("line"); // in the log when nothing is written
        QTest::addColumn<QString>("box");  // shown when nothing is written
        const QString closing = QStringLiteral(
            "ERROR: Flashwick will close when the running write has finished, no new write is started!");
        const QString cameraChanged = QStringLiteral(
            "ERROR: the selected camera changed or left before the write began, nothing was written!");
        const QString wheelChanged = QStringLiteral("ERROR: the selected wheel changed or left before the "
                                                    "update began, nothing was sent to a wheel!");
        const QString motorPower =
            QStringLiteral("ERROR: the motor power is being set, please wait until it is saved!");
        const struct
        {
            Wait wait;
            const char* name;
        } deviceWaits[] = {{CameraRisk, "camera risk box"},
                           {FpgaQuestion, "FPGA question"},
                           {WheelRisk, "wheel risk box"},
                           {Parse, "parse"}};
        for (const auto& w : deviceWaits) {
            const bool camera = w.wait == CameraRisk || w.wait == FpgaQuestion;
            const QString changed = camera ? cameraChanged : wheelChanged;
            const QString box = camera ? QStringLiteral("Camera Changed") : QStringLiteral("Wheel Changed");
            QTest::addRow("%s, unplugged", w.name)
                << int(w.wait) << int(Unplugged) << false << changed << box;
            QTest::addRow("%s, plugged", w.name)
                << int(w.wait) << int(Plugged) << true << QString() << QString();
            QTest::addRow("%s, selected", w.name) << int(w.wait) << int(Selected) << false << changed << box;
            QTest::addRow("%s, close pending", w.name)
                << int(w.wait) << int(ClosePending) << false << closing << QString();
        }
        for (Change c : {Unplugged, Plugged, Selected, ClosePending})
            QTest::addRow("motor pause, change %d", int(c))
                << int(MotorPause) << int(c) << false << motorPower << QString();
        QTest::newRow("bootloader wait, unplugged") << int(BootloaderWait) << int(Unplugged) << false
                                                    << "ERROR: Scan ZW bootloader failed!" << QString();
        QTest::newRow("bootloader wait, plugged") << int(BootloaderWait) << int(Plugged) << false
                                                  << "ERROR: 2 wheel bootloaders appeared, the selected "
                                                     "wheel's cannot be told apart: please unplug "
                                                     "the others!"
                                                  << QString();
        QTest::newRow("bootloader wait, selected")
            << int(BootloaderWait) << int(Selected) << true << QString() << QString();
    }
    void writesGoToTheConfirmedDevice()
    {
        QFETCH(int, wait);
        QFETCH(int, change);
        QFETCH(bool, written);
        QFETCH(QString, line);
        QFETCH(QString, box);
        const bool cameraSide = wait == CameraRisk || wait == FpgaQuestion;
        const bool pending = change == ClosePending;

        // Camera side: cameras A (checked) and B. Wheel side: wheels A (3.x, checked) and B (1.x).
        // B arrives during the wait when it is the change. The other side writes when a close is to
        // become pending.
        DeviceId cameraA = -1;
        WheelModel *wheelA = nullptr, *wheelB = nullptr;
        QString cameraFile, wheelFile;
        QByteArray image;
        const char* const nameB = "Quenvor QV183M";
        const char* const serialB = "B0000000000000000002";
        WheelModel::Options optionsB;
        optionsB.name = "Wheel B";
        optionsB.serial = "BBBBBBBBBBBBBBBBBBBBBBBB";
        optionsB.firmwareVersion = "1.4.0";
        if (cameraSide) {
            cameraA = addCamera("Quenvor QV294C", "A0000000000000000001");
            if (change != Plugged)
                addCamera(nameB, serialB);
            cameraFile =
                randomFile(wait == FpgaQuestion ? QStringLiteral("c.bit") : QStringLiteral("c.img"), 9000);
            if (pending) {
                WheelModel::Options o;
                o.bootloaderMs =
                    600000; // the update waits for its bootloader until "Try Again?" is answered No
                wheelA = addWheel(o);
                wheelFile = hexFile(QStringLiteral("ZW_v3.2.0.hex"), 300, &image);
            }
        } else {
            WheelModel::Options a;
            a.name = "Wheel A";
            a.serial = "AAAAAAAAAAAAAAAAAAAAAAAA";
            a.newFirmwareVersion = "3.2.0";
            wheelA = addWheel(a);
            if (change != Plugged || wait == BootloaderWait)
                wheelB = addWheel(optionsB);
            wheelFile = wait == Parse ? slowHexFile(QStringLiteral("ZW_v3.2.0.hex"), 46048, &image)
                                      : hexFile(QStringLiteral("ZW_v3.2.0.hex"), 46048, &image);
            if (pending) {
                addCamera("Quenvor QV294C", "C0000000000000000003", CameraTimings::realistic());
                cameraFile = randomFile(QStringLiteral("background.img"), 200000);
            }
        }
        WheelBootloaderModel::Options strayOptions;
        strayOptions.hidrawIndex = 40;
        std::unique_ptr<WheelBootloaderModel> stray;
        if (wait == BootloaderWait && change == Plugged)
            stray = std::make_unique<WheelBootloaderModel>(bed->raw(), strayOptions, &bed->rawMutex());
        const QByteArray bootloaderFlash = wheelA ? wheelA->bootloader().flash() : QByteArray();

        auto w = openWindow(wheelA != nullptr);
        A::notShowWarning(*w) = wait != CameraRisk;
        A::notShowWarningZW(*w) = wait != WheelRisk;
        child<QLineEdit>(*w, "lineEditFWFilePath")->setText(cameraFile);
        child<QLineEdit>(*w, "lineEditFPGAFilePath")->setText(cameraFile);
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(wheelFile);
        auto* cameraList = child<QComboBox>(*w, "comboBoxCameras");
        auto* wheelList = child<QComboBox>(*w, "comboBoxZWList");
        if (cameraSide) {
            const int a = cameraList->findText(QStringLiteral("Quenvor QV294C"));
            cameraList->setCurrentIndex(a);
            emit cameraList->activated(a);
            QCOMPARE(child<QLabel>(*w, "labelShowSN")->text(), QStringLiteral("A0000000000000000001"));
        } else if (A::selectedWheelSN(*w) != QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAA")) {
            QString title; // A's self test
            answerNextBox(QMessageBox::Ok, &title, 15000);
            wheelList->setCurrentIndex(wheelList->findText(QStringLiteral("Wheel A"), Qt::MatchStartsWith));
            QTRY_VERIFY_WITH_TIMEOUT(!title.isEmpty() && !QApplication::activeModalWidget(), 15000);
            QCOMPARE(A::selectedWheelSN(*w), QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAA"));
        }
        for (DeviceId id : cameras)
            bed->clearRequests(id);
        if (wheelB)
            wheelB->clearCalls();

        BoxAnswerer boxes({{QStringLiteral("Writing in Progress"), QMessageBox::Yes}});
        bool atWait = false;  // the change was made while the wait was open
        bool applied = false; // and has taken effect
        bool writeRefusedOff = false;
        auto applyChange = [&] {
            switch (Change(change)) {
            case Unplugged:
                if (wait == BootloaderWait) {
                    wheelA->bootloader().unplug();
                } else if (cameraSide) {
                    bed->unplug(cameraA);
                    QVERIFY(QTest::qWaitFor([&] { return cameraList->count() == 1; }, 10000));
                } else {
                    wheelA->unplug();
                    QVERIFY(QTest::qWaitFor([&] { return A::wheelList(*w).size() == 1; }, 10000));
                }
                break;
            case Plugged:
                if (wait == BootloaderWait) {
                    QVERIFY(stray->plug());
                } else if (cameraSide) {
                    addCamera(nameB, serialB);
                    QVERIFY(QTest::qWaitFor([&] { return cameraList->count() == 2; }, 10000));
                } else {
                    wheelB = addWheel(optionsB);
                    QVERIFY(QTest::qWaitFor([&] { return A::wheelList(*w).size() == 2; }, 10000));
                }
                break;
            case Selected:
                if (wait == BootloaderWait) {
                    // Nothing can be chosen: the list holds the updated wheel alone and is off.
                    QVERIFY(!wheelList->isEnabled());
                    QCOMPARE(wheelList->count(), 1);
                } else if (cameraSide) {
                    const int b = cameraList->findText(QString::fromLatin1(nameB));
                    cameraList->setCurrentIndex(b);
                    emit cameraList->activated(b);
                } else {
                    wheelList->setCurrentIndex(
                        wheelList->findText(QStringLiteral("Wheel B"), Qt::MatchStartsWith));
                    QCOMPARE(A::selectedWheelSN(*w), QStringLiteral("BBBBBBBBBBBBBBBBBBBBBBBB"));
                }
                break;
            case ClosePending:
                QVERIFY(!w->close());
                break;
            }
            if (wait == MotorPause) {
                // Write FW is off for the pause, and refused when it is reached anyway.
                writeRefusedOff = !child<QPushButton>(*w, "pushButtonWriteFW_ZW")->isEnabled();
                QMetaObject::invokeMethod(w.get(), "on_pushButtonWriteFW_ZW_clicked");
            }
            applied = true;
        };
        // A bootloader that shows up late is scanned for again until the change is made.
        boxes.setRule(QStringLiteral("Try Again?"),
                      [&](QMessageBox*) { return !applied || written ? QMessageBox::Yes : QMessageBox::No; });
        // A box that stays open until the change has taken effect.
        auto changeInBox = [&](QMessageBox::StandardButton answer) {
            return [&, answer](QMessageBox*) {
                if (!atWait) {
                    atWait = true;
                    QTimer::singleShot(0, w.get(), applyChange);
                }
                return applied ? answer : QMessageBox::NoButton;
            };
        };
        const char* const writeButton = wait == FpgaQuestion ? "pushButtonWriteFPGA" : "pushButtonWriteFW";
        if (wait == CameraRisk)
            boxes.setRule(QStringLiteral("Risk Warning"), changeInBox(QMessageBox::Ok));
        if (wait == FpgaQuestion)
            boxes.setRule(QStringLiteral("Update FPGA"), changeInBox(QMessageBox::Yes));
        if (wait == WheelRisk)
            boxes.setRule(QStringLiteral("Risk Warning"), changeInBox(QMessageBox::Ok));
        QTimer watch; // for the waits without a box
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, [&] {
            if (child<QLabel>(*w, "labelMsg_ZW")->text() != QStringLiteral("Start to scan bootloader"))
                return;
            if (wait == BootloaderWait && change != Selected && !wheelA->bootloader().isPresent())
                return; // the change comes once the wheel's bootloader is there
            watch.stop();
            if (cameraSide) { // the wheel update runs: now the camera write is asked for
                QTimer::singleShot(0, w.get(), [&] {
                    QTest::mouseClick(child<QPushButton>(*w, writeButton), Qt::LeftButton);
                });
                return;
            }
            atWait = true;
            applyChange();
        });

        if (cameraSide && pending) {
            watch.start();
            QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        } else if (cameraSide) {
            QTest::mouseClick(child<QPushButton>(*w, writeButton), Qt::LeftButton);
        } else {
            if (pending) // the camera write that keeps the close pending
                QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW"), Qt::LeftButton);
            auto* log = child<QTextEdit>(*w, "textEditLog");
            if (wait == Parse || wait == MotorPause) {
                // The first event loop of the click is the wait.
                QTimer::singleShot(0, w.get(), [&] {
                    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
                    atWait =
                        wait == Parse
                            ? !wheelList->isEnabled() &&
                                  lines.contains(QStringLiteral(
                                      "Reading and parsing the firmware file, please wait....")) &&
                                  !lines.contains(QStringLiteral("Parse firmware file OK!"))
                            : !lines.filter(QStringLiteral("Set the motor running power OK: ")).isEmpty() &&
                                  !lines.contains(QStringLiteral("Wheel is saving changes..."));
                    applyChange();
                });
            }
            if (wait == BootloaderWait)
                watch.start();
            QTest::mouseClick(child<QPushButton>(*w, wait == MotorPause ? "pushButton_SetMaxPower"
                                                                        : "pushButtonWriteFW_ZW"),
                              Qt::LeftButton);
        }
        // Any write that began has ended and shown its result (and a pending close has been done).
        QTRY_VERIFY_WITH_TIMEOUT(!A::writeRunning(*w) && !QApplication::activeModalWidget(), 60000);
        QCOMPARE(w->isVisible(), !pending);
        if (!pending) // else the other side's write shows it
            QCOMPARE(boxes.titles.contains(QStringLiteral("Write Successfully")), written);
        QVERIFY(atWait);
        QVERIFY(applied);
        const QStringList lines = logLines(*w);

        if (cameraSide) {
            QCOMPARE(flashTouched(cameraA), written);
            for (DeviceId id : cameras)
                if (id != cameraA)
                    QVERIFY(!flashTouched(id));
        } else if (wait == BootloaderWait) {
            QByteArray padded = image;
            padded.append(QByteArray(46080 - image.size(), char(0xFF)));
            QCOMPARE(wheelA->bootloader().flash() == padded, written);
            if (!written)
                QCOMPARE(wheelA->bootloader().flash(), bootloaderFlash);
            if (stray)
                QVERIFY(stray->commands().isEmpty());
        } else {
            if (written) {
                QByteArray padded = image;
                padded.append(QByteArray(46080 - image.size(), char(0xFF)));
                QCOMPARE(wheelA->bootloader().flash(), padded);
            } else {
                QVERIFY(!sentToBootloader(*wheelA));
            }
        }
        if (wheelB)
            QVERIFY(!sentToBootloader(*wheelB));
        if (!written) {
            QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('\n'))));
            QCOMPARE(lines.count(line), 1);
        }
        QCOMPARE(boxes.titles.contains(box), !box.isEmpty());
        if (wait == MotorPause) {
            QVERIFY(writeRefusedOff);
            QCOMPARE(wheelA->saveCount(), change == Unplugged ? 0 : 1); // the pause finishes its save
            QCOMPARE(wheelB->saveCount(), 0);
            QVERIFY(lines.contains(change == Unplugged ? QStringLiteral("Save failed!!!")
                                                       : QStringLiteral("Save successfully.")));
        }
        if (!written && !pending && wait != BootloaderWait) {
            // That side is as before the click.
            QVERIFY(!A::writeRunning(*w));
            const QList<const char*> idle =
                cameraSide
                    ? QList<const char*>{"pushButtonRefresh", "comboBoxCameras", writeButton}
                    : QList<const char*>{"pushButtonRefreshZW", "comboBoxZWList", "pushButtonWriteFW_ZW",
                                         "pushButton_SetMaxPower"}; // Reset follows the self test
            for (const char* name : idle)
                QVERIFY2(child<QWidget>(*w, name)->isEnabled(), name);
        }
        w.reset();
    }

    // Write FW while the selected wheel is still self-testing: from the busy state on, no poll runs on
    // a record of the old list, so nothing re-enables Reset or Goto, no self-test result appears, and
    // with two wheels the other one is never asked; they start again with the next scan.
    void noPollDuringUpdate_data()
    {
        QTest::addColumn<int>("wheelCount");
        QTest::newRow("one wheel") << 1;
        QTest::newRow("two wheels, the second updated") << 2;
    }
    void noPollDuringUpdate()
    {
        QFETCH(int, wheelCount);
        WheelModel* other = nullptr;
        if (wheelCount == 2) {
            WheelModel::Options o;
            o.name = "Other";
            other = addWheel(o);
        }
        WheelModel::Options o;
        o.name = "Updated";
        o.newFirmwareVersion = "3.6.0";
        WheelModel* updated = addWheel(o);
        updated->setSelfTestMs(2500);
        QByteArray image;
        const QString file = hexFile(QStringLiteral("ZW_v3.6.0.hex"), 3000, &image);
        auto w = openWindow(wheelCount == 2); // the other wheel's self test first
        auto* list = child<QComboBox>(*w, "comboBoxZWList");
        if (wheelCount == 2)
            list->setCurrentIndex(list->findText(QStringLiteral("Updated"), Qt::MatchStartsWith));
        QVERIFY(A::selfTestTimer(*w)->isActive());
        QVERIFY(child<QPushButton>(*w, "pushButtonWriteFW_ZW")->isEnabled());
        child<QLineEdit>(*w, "lineEditFWFilePath_ZW")->setText(file);
        if (other)
            other->clearCalls();

        QStringList linesAtResult;
        bool timersActive = true;
        BoxAnswerer boxes(retry());
        boxes.setRule(QStringLiteral("Write Successfully"), [&](QMessageBox*) {
            // The stale list, before a rescan: Read Motor Info asks the updated wheel, not another.
            child<QPushButton>(*w, "pushButton_ReadMotorInfo")->click();
            linesAtResult = logLines(*w);
            timersActive = A::selfTestTimer(*w)->isActive() || A::runningTimer(*w)->isActive();
            return QMessageBox::Ok;
        });
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonWriteFW_ZW"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Write Successfully")), 30000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        boxes.titles.removeAll(QStringLiteral("Try Again?"));
        QCOMPARE(boxes.titles, QStringList{QStringLiteral("Write Successfully")});
        const QStringList afterBusy =
            linesAtResult.mid(linesAtResult.indexOf(QStringLiteral("Back to boolloader OK!")));
        QVERIFY(afterBusy.size() > 1);
        QCOMPARE(afterBusy.filter(QStringLiteral("Self Test")), QStringList());
        QVERIFY(afterBusy.last().startsWith(QStringLiteral("Failed to Read Motor Power, Error: ")));
        QVERIFY(!timersActive);
        checkStaleList(*w);
        if (other)
            QCOMPARE(other->calls().size(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(updated->returnCount(), 1, 10000);
        // The wheel's return, or this refresh, opens it again and follows its self test.
        QTest::mouseClick(child<QPushButton>(*w, "pushButtonRefreshZW"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            A::selfTestTimer(*w)->isActive() || boxes.titles.contains(QStringLiteral("Self Test OK")), 10000);
    }
};

QTEST_MAIN(TestWheelUpdate)
#include "tst_wheelupdate.moc"
