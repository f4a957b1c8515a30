// Wheel firmware update workflow on an emulated wheel and its emulated bootloader.
#include "emulator.h"
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
    // A window with the wheel opened and its self test over.
    std::unique_ptr<MainWindow> openWindow()
    {
        // Armed first: a quick self test shows its box while the constructor still runs.
        QString title;
        answerNextBox(QMessageBox::Ok, &title, 15000);
        auto w = std::make_unique<MainWindow>();
        w->show();
        if (!QTest::qWaitFor([&title] { return !title.isEmpty() && !QApplication::activeModalWidget(); },
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
        QString file = hexFile(QStringLiteral("ZW_v3.0.3.hex"), 46048, &image);
        // Records of types the image leaves out make the parse of a good file take a while.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray text = f.readAll();
        const QByteArray end = ":00000001FF\r\n";
        QVERIFY(text.endsWith(end));
        text.chop(end.size());
        const QByteArray filler = ":0400000300000000F9\r\n";
        text += filler.repeated(int((MaxHexFileSize - text.size() - end.size()) / filler.size()));
        text += end;
        QVERIFY(f.resize(0) && f.seek(0) && f.write(text) == text.size());
        f.close();

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
        QFile cameraImage(files.filePath(QStringLiteral("fw.img")));
        cameraImage.open(QIODevice::WriteOnly);
        cameraImage.write(QByteArray(20000, char(0x5A)));
        cameraImage.close();
        auto w = openWindow();
        A::notShowWarning(*w) = true;
        child<QLineEdit>(*w, "lineEditFWFilePath")->setText(cameraImage.fileName());
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
};

QTEST_MAIN(TestWheelUpdate)
#include "tst_wheelupdate.moc"
