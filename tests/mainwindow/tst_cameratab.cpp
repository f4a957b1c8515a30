// Camera tab workflows on emulated cameras: the real widgets are clicked, modal boxes answered.
#include "emulator.h"
#include "fx3image.h"
#include "mainwindowtestaccess.h"
#include "qvrusb.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <algorithm>
#include <random>

using namespace flashwick::emu;
using A = MainWindowTestAccess;

class TestCameraTab : public QObject
{
    Q_OBJECT

    std::unique_ptr<Testbed> bed;
    std::unique_ptr<TestSettings> settings;
    QTemporaryDir files;
    std::vector<DeviceId> added;

    DeviceId addCamera(const CameraConfig& config = CameraConfig())
    {
        const DeviceId id = bed->addCamera(config);
        added.push_back(id);
        return id;
    }
    DeviceId addForeignDevice()
    {
        const DeviceId id = bed->addForeignDevice();
        added.push_back(id);
        return id;
    }

    static QString cameraPath(int listIndex)
    {
        return QString::fromLocal8Bit(QVRUsb::cameraList().paths.value(listIndex));
    }
    QString makeFile(const QString& name, int size)
    {
        std::mt19937 random(size);
        QByteArray bytes(size, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(random());
        QFile f(files.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    // A valid firmware image of `size` bytes (a multiple of 4); with a version, it carries the tag the
    // emulated camera reports as its firmware version once it runs the image.
    QString makeImage(const QString& name, int size, int version = -1)
    {
        return saveFile(name, fx3Image(size, uint32_t(size), version));
    }
    QString saveFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(files.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    static QByteArray fileBytes(const QString& path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    QByteArray flashBytes(DeviceId id, uint32_t address, int length)
    {
        const std::vector<uint8_t> v = bed->flash(id, address, uint32_t(length));
        return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
    }
    static CameraConfig named(const char* name, const char* serial)
    {
        CameraConfig c;
        c.name = name;
        c.serial = serial;
        return c;
    }
    static QString bootLoaderLine(const QString& path)
    {
        return QStringLiteral("A camera without firmware is connected (FX3 USB boot loader at %1): choose "
                              "\"Recover Camera...\" in the menu to write its firmware again.")
            .arg(path);
    }
    // Recover Camera... from the menu with `file` chosen in its file dialog; the risk warning, when
    // it shows, is left to the caller's box answerer.
    static void chooseRecovery(MainWindow& w, const QString& file)
    {
        // Asked again at every tick until the dialog is gone: under load it can be seen before its
        // event loop runs, where an accept only hides it; such a dialog is shown again and accepted.
        auto* timer = new QTimer;
        auto* last = new QPointer<QFileDialog>;
        auto* accepted = new bool(false);
        auto* clock = new QElapsedTimer;
        clock->start();
        QObject::connect(timer, &QTimer::timeout, [timer, last, accepted, clock, file] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                if (dialog->isVisible()) {
                    *last = dialog;
                    // The whole path into the name field, which accept() reads: selectFile() can
                    // leave it to the folder view, whose selection (still loading) may name another
                    // entry, and accept() then opens a "File not found" box.
                    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                        name->setText(file);
                    else
                        dialog->selectFile(file);
                    static_cast<QDialog*>(dialog)->accept();
                    *accepted = true;
                    return;
                }
            }
            if (*accepted && *last && !(*last)->isVisible()) {
                (*last)->show();
                return;
            }
            if ((*accepted && !*last) || clock->elapsed() > 60000) {
                timer->stop();
                timer->deleteLater();
                delete last;
                delete accepted;
                delete clock;
            }
        });
        timer->start(20);
        A::actionRecoverCamera(w)->trigger();
    }
    // Clicks Write FW (or FPGA) and answers the boxes that precede the write.
    static void clickWrite(MainWindow& w, const char* button, QList<QMessageBox::StandardButton> answers)
    {
        for (QMessageBox::StandardButton answer : answers)
            answerNextModal([answer](QWidget* m) { pressButton(m, answer); });
        QTest::mouseClick(child<QPushButton>(w, button), Qt::LeftButton);
    }

private slots:
    // One testbed for the process: libusb keeps its device list in step with the testbed it saw first.
    void initTestCase()
    {
        bed = std::make_unique<Testbed>();
        QVERIFY2(bed->isValid(), bed->errorString().c_str());
    }
    void init() { settings = std::make_unique<TestSettings>(); }
    void cleanup()
    {
        settings.reset();
        for (DeviceId id : added)
            bed->unplug(id);
        added.clear();
    }

    void scanLogsAndSelection_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
    }
    void scanLogsAndSelection()
    {
        QFETCH(int, cameras);
        for (int i = 0; i < cameras; ++i)
            addCamera(named(i ? "Quenvor QV183M" : "Quenvor QV294C",
                            i ? "B0000000000000000002" : "A0000000000000000001"));
        addForeignDevice();
        MainWindow w;
        QStringList expected = {QStringLiteral("Get Connnected Camera..."),
                                QStringLiteral("Detect %1 Camera(s)...").arg(cameras)};
        if (cameras > 0)
            expected << QStringLiteral("Open QVR Camera(%1), Path: %2!")
                            .arg(QString::fromLocal8Bit(QVRUsb::cameraList().names.value(0)), cameraPath(0));
        QCOMPARE(logLines(w).mid(0, expected.size()), expected);
        // A rescan keeps the open camera open: no second open line.
        QTest::mouseClick(child<QPushButton>(w, "pushButtonRefresh"), Qt::LeftButton);
        QCOMPARE(logLines(w), expected.mid(0, 2));
        QCOMPARE(child<QComboBox>(w, "comboBoxCameras")->count(), cameras);
        QCOMPARE(child<QPushButton>(w, "pushButtonWriteFW")->isEnabled(), cameras > 0);
        QCOMPARE(child<QPushButton>(w, "pushButtonResetFX")->isEnabled(), cameras > 0);
        if (cameras == 0) {
            QCOMPARE(child<QLabel>(w, "labelShowFWVersion")->text(), QStringLiteral("V0.0"));
            QCOMPARE(child<QLabel>(w, "labelShowFPGAVersion")->text(), QStringLiteral("V0.0.0.0"));
            QCOMPARE(child<QLabel>(w, "labelShowSN")->text(), QString());
        } else {
            QCOMPARE(child<QLabel>(w, "labelShowFWVersion")->text(), QStringLiteral("V1.2.3"));
            QCOMPARE(child<QLabel>(w, "labelShowFPGAVersion")->text(), QStringLiteral("V1.2301.1.2"));
            QCOMPARE(child<QLabel>(w, "labelHost")->text(), QStringLiteral("USB3.0"));
            QCOMPARE(child<QLabel>(w, "labelShowSN")->text(),
                     QVRUsb::cameraList().names.value(0) == "Quenvor QV294C"
                         ? QStringLiteral("A0000000000000000001")
                         : QStringLiteral("B0000000000000000002"));
            QCOMPARE(child<QLabel>(w, "labelMsg")->text(), QStringLiteral("Waiting..."));
        }
    }

    void rescanKeepsOpenCameraWhenItsPositionChanges()
    {
        const DeviceId first = addCamera(named("Quenvor QV294C", "A0000000000000000001"));
        addCamera(named("Quenvor QV183M", "B0000000000000000002"));
        MainWindow w;
        auto* combo = child<QComboBox>(w, "comboBoxCameras");
        const int second = combo->findText(QStringLiteral("Quenvor QV183M"));
        QVERIFY(second >= 0);
        combo->setCurrentIndex(second);
        emit combo->activated(second);
        QCOMPARE(child<QLabel>(w, "labelShowSN")->text(), QStringLiteral("B0000000000000000002"));
        const QString path = A::currentCameraPath(w);
        // Unplug the other camera and plug it again, so the open one moves in the list.

        bed->unplug(first);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonRefresh"), Qt::LeftButton);
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->currentText(), QStringLiteral("Quenvor QV183M"));
        QCOMPARE(A::currentCameraPath(w), path);
        QVERIFY(A::camera(w)->isOpen());
        QCOMPARE(logLines(w), (QStringList{QStringLiteral("Get Connnected Camera..."),
                                           QStringLiteral("Detect 1 Camera(s)...")}));
        QCOMPARE(child<QLabel>(w, "labelShowSN")->text(), QStringLiteral("B0000000000000000002"));
    }

    void selectingAnotherCameraClosesThenOpens()
    {
        addCamera(named("Quenvor QV294C", "A0000000000000000001"));
        CameraConfig second = named("Quenvor QV183M", "B0000000000000000002");
        second.speed = UsbSpeed::High;
        second.firmwareVersion = 45;
        addCamera(second);
        MainWindow w;
        child<QTextEdit>(w, "textEditLog")->clear();
        const QString oldPath = A::currentCameraPath(w);
        auto* combo = child<QComboBox>(w, "comboBoxCameras");
        QCOMPARE(combo->currentIndex(), 0);
        const int other = 1;
        const QString otherName = combo->itemText(other);
        combo->setCurrentIndex(other);
        emit combo->activated(other);
        QCOMPARE(logLines(w),
                 (QStringList{
                     QStringLiteral("Close QVR Camera(%1):!").arg(oldPath),
                     QStringLiteral("Open QVR Camera(%1), Path: %2!").arg(otherName, cameraPath(other))}));
        QVERIFY(A::currentCameraPath(w) != oldPath);
        const bool high = otherName == QStringLiteral("Quenvor QV183M");
        QCOMPARE(child<QLabel>(w, "labelHost")->text(),
                 high ? QStringLiteral("USB2.0") : QStringLiteral("USB3.0"));
        QCOMPARE(child<QLabel>(w, "labelShowFWVersion")->text(),
                 high ? QStringLiteral("V4.5") : QStringLiteral("V1.2.3"));
    }

    void writeFirmwareSucceeds()
    {
        const DeviceId id = addCamera();
        const QString file = makeImage(QStringLiteral("fw.img"), 9000);
        MainWindow w;
        w.show();
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(file);
        child<QTextEdit>(w, "textEditLog")->clear();
        clickWrite(w, "pushButtonWriteFW", {QMessageBox::Ok});
        QVERIFY(!child<QPushButton>(w, "pushButtonRefresh")->isEnabled());
        QCOMPARE(child<QLabel>(w, "labelMsg")->property("res").toString(), QStringLiteral("writing"));
        QString resultTitle;
        answerNextBox(QMessageBox::Ok, &resultTitle, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w, "labelMsg")->property("res").toString(),
                                  QStringLiteral("ok"), 20000);
        QTRY_COMPARE(resultTitle, QStringLiteral("Write Successfully"));
        QCOMPARE(child<QLabel>(w, "labelMsg")->text(), QStringLiteral("Write FW Successful!"));
        QCOMPARE(child<QProgressBar>(w, "progressBarWriting")->value(), 100);
        QVERIFY(child<QPushButton>(w, "pushButtonRefresh")->isEnabled());
        QVERIFY(child<QComboBox>(w, "comboBoxCameras")->isEnabled());
        QCOMPARE(flashBytes(id, 0, 9000), fileBytes(file));
        QCOMPARE(logLines(w),
                 (QStringList{QStringLiteral("Writing FW..."), QStringLiteral("Writing FW Successful!"),
                              QStringLiteral("Please unplug the camera and re-connnect to host!")}));
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void writeFpgaFailsOnCorruptReadBack()
    {
        const DeviceId id = addCamera();
        bed->setCorruptPage(id, 0x1800 + 16);
        const QString file = makeFile(QStringLiteral("fpga.bit"), 10000);
        settings->reopen();
        MainWindow w;
        w.show();
        A::notShowWarning(w) = true;
        child<QLineEdit>(w, "lineEditFPGAFilePath")->setText(file);
        child<QTextEdit>(w, "textEditLog")->clear();
        clickWrite(w, "pushButtonWriteFPGA", {QMessageBox::Yes});
        QString resultTitle;
        answerNextBox(QMessageBox::Ok, &resultTitle, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w, "labelMsg")->property("res").toString(),
                                  QStringLiteral("failed"), 20000);
        QTRY_COMPARE(resultTitle, QStringLiteral("Write Failed"));
        QCOMPARE(child<QLabel>(w, "labelMsg")->text(), QStringLiteral("Write FPGA Failed!"));
        QCOMPARE(child<QProgressBar>(w, "progressBarWriting")->value(), 0);
        QCOMPARE(
            logLines(w),
            (QStringList{QStringLiteral("Writing FPGA..."), QStringLiteral("ERROR: Writing FPGA Failed!"),
                         QStringLiteral("Please unplug the camera and re-connnect to host!")}));
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void fpgaQuestionNoStartsNothing()
    {
        const DeviceId id = addCamera();
        MainWindow w;
        child<QLineEdit>(w, "lineEditFPGAFilePath")->setText(makeFile(QStringLiteral("x.bit"), 100));
        child<QTextEdit>(w, "textEditLog")->clear();
        bed->clearRequests(id);
        clickWrite(w, "pushButtonWriteFPGA", {QMessageBox::No});
        QCOMPARE(child<QTextEdit>(w, "textEditLog")->toPlainText(), QString());
        QVERIFY(child<QPushButton>(w, "pushButtonRefresh")->isEnabled());
        QVERIFY(!A::writeRunning(w));
        QVERIFY(bed->requests(id).empty());
    }

    void cancelWithDontShowAgainSuppressesLaterWarnings()
    {
        addCamera();
        MainWindow w;
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(makeImage(QStringLiteral("fw.img"), 300));
        QString checkText;
        answerNextModal([&checkText](QWidget* m) {
            auto* box = qobject_cast<QMessageBox*>(m);
            if (box && box->checkBox()) {
                checkText = box->checkBox()->text();
                box->checkBox()->setChecked(true);
            }
            pressButton(m, QMessageBox::Cancel);
        });
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QCOMPARE(checkText, QStringLiteral("Don't show again"));
        QVERIFY(A::notShowWarning(w));
        QVERIFY(!A::writeRunning(w));
        QVERIFY(child<QPushButton>(w, "pushButtonRefresh")->isEnabled());

        // No warning now: the write starts at once.
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QVERIFY(!child<QPushButton>(w, "pushButtonRefresh")->isEnabled());
        answerNextBox(QMessageBox::Ok, nullptr, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w, "labelMsg")->property("res").toString(),
                                  QStringLiteral("ok"), 20000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void writePreconditions_data()
    {
        QTest::addColumn<bool>("camera");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fwLine");
        QTest::newRow("no camera") << false << "/x"
                                   << "ERROR: No Cameras!";
        QTest::newRow("no file chosen") << true << ""
                                        << "ERROR: Please Select FW File(*.img)!";
        QTest::newRow("missing file") << true << "/nonexistent/fw.img"
                                      << "ERROR: the FW file(*.img) is not exist!";
    }
    void writePreconditions()
    {
        QFETCH(bool, camera);
        QFETCH(QString, path);
        QFETCH(QString, fwLine);
        if (camera)
            addCamera();
        MainWindow w;
        child<QPushButton>(w, "pushButtonWriteFW")->setEnabled(true); // reachable even without a camera
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(path);
        child<QTextEdit>(w, "textEditLog")->clear();
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QCOMPARE(logLines(w), QStringList{fwLine});
        QVERIFY(!A::writeRunning(w));
    }

    // Files of another kind are refused for the FPGA area before the question: one log line and
    // the failure box. A bitstream that merely starts like one goes on to the question.
    void fpgaFileOfAnotherKind_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("line"); // empty: not refused
        const QString boot = "ERROR: the FPGA file(*.bit) is an FX3 firmware image, not an FPGA bitstream!";
        const QString hex = "ERROR: the FPGA file(*.bit) is an Intel HEX file, not an FPGA bitstream!";
        QTest::newRow("FX3 boot image") << QByteArray("CY\x1c\xb0", 4) << boot;
        QTest::newRow("FX3 boot image, new ids only") << QByteArray("CY\x00\xb2", 4) << boot;
        QTest::newRow("Intel HEX text") << QByteArray(":020000040800F2\r\n:00000001FF\r\n") << hex;
        QTest::newRow("CY, then no image type") << QByteArray("CY\x1c\xb3", 4) << QString();
        QTest::newRow("colon, then binary") << QByteArray(":0200\x01", 6) << QString();
    }
    void fpgaFileOfAnotherKind()
    {
        QFETCH(QByteArray, head);
        QFETCH(QString, line);
        const DeviceId id = addCamera();
        MainWindow w;
        w.show();
        child<QLineEdit>(w, "lineEditFPGAFilePath")->setText(saveFile(QStringLiteral("other.bit"), head));
        child<QTextEdit>(w, "textEditLog")->clear();
        bed->clearRequests(id);
        BoxAnswerer boxes({{QStringLiteral("Update FPGA"), QMessageBox::No}});
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFPGA"), Qt::LeftButton);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(boxes.titles, QStringList{line.isEmpty() ? QStringLiteral("Update FPGA")
                                                          : QStringLiteral("Write Failed")});
        QCOMPARE(child<QTextEdit>(w, "textEditLog")->toPlainText(), line);
        QVERIFY(!A::writeRunning(w));
        QVERIFY(bed->requests(id).empty());
    }

    // Another program has the camera: a command-line write, or a program that holds it as capture
    // software does. The window's write is refused before its first request with one line naming that
    // program and the failure box; the command line's write ends with its file in the flash. Once the
    // holder has ended, the window writes.
    void writeWhileAnotherProgramHasTheCamera_data()
    {
        QTest::addColumn<bool>("commandLine");
        QTest::newRow("command line writing") << true;
        QTest::newRow("program holding the camera") << false;
    }
    void writeWhileAnotherProgramHasTheCamera()
    {
        QFETCH(bool, commandLine);
        const DeviceId id = addCamera();
        bed->setTimings(id, CameraTimings::realistic());
        const QByteArray theirs = fx3Image(262144, 7);
        const QString theirFile = saveFile(QStringLiteral("theirs.img"), theirs);
        const QString mine = makeImage(QStringLiteral("mine.img"), 9000);
        MainWindow w;
        w.show();
        A::notShowWarning(w) = true;
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(mine);

        QProcess other;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const std::string& entry : bed->environmentForChild()) {
            const QString e = QString::fromStdString(entry);
            env.insert(e.section(QLatin1Char('='), 0, 0), e.section(QLatin1Char('='), 1));
        }
        other.setProcessEnvironment(env);
        const QString bin = QCoreApplication::applicationDirPath();
        if (commandLine)
            other.start(
                bin + QStringLiteral("/flashwick-cli"),
                {QStringLiteral("camera"), QStringLiteral("write-fw"), QStringLiteral("--yes"), theirFile});
        else
            other.start(bin + QStringLiteral("/camera_holder"), QStringList());
        QVERIFY(other.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(bed->claimedInterfaces(id), 1, 20000);
        const QString name = commandLine ? QStringLiteral("flashwick-cli") : QStringLiteral("camera_holder");

        child<QTextEdit>(w, "textEditLog")->clear();
        bed->clearRequests(id);
        QString title;
        answerNextBox(QMessageBox::Ok, &title, 30000);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(title, QStringLiteral("Write Failed"), 20000);
        QCOMPARE(logLines(w),
                 (QStringList{
                     QStringLiteral("Writing FW..."),
                     QStringLiteral("ERROR: the camera is in use by another program: close it and try again "
                                    "(open in: %1, pid %2)")
                         .arg(name)
                         .arg(other.processId()),
                     QStringLiteral("ERROR: Writing FW Failed!"),
                     QStringLiteral("Please unplug the camera and re-connnect to host!")}));
        QCOMPARE(child<QLabel>(w, "labelMsg")->text(), QStringLiteral("Write FW Failed!"));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        if (!commandLine) {
            QVERIFY(bed->requests(id).empty()); // the window sent nothing
            other.closeWriteChannel();
        }
        QVERIFY(other.waitForFinished(60000));
        QCOMPARE(other.exitCode(), 0);
        QTRY_COMPARE(bed->claimedInterfaces(id), 0);
        if (commandLine) {
            QCOMPARE(flashBytes(id, 0, theirs.size()), theirs);
            return;
        }
        bed->setTimings(id, CameraTimings());
        answerNextBox(QMessageBox::Ok, &title, 30000);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(title, QStringLiteral("Write Successfully"), 20000);
        QCOMPARE(flashBytes(id, 0, 9000), fileBytes(mine));
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void ueventRescansIdleSideOnly()
    {
        const DeviceId id = addCamera();
        bed->setTimings(id, CameraTimings::realistic());
        MainWindow w;
        A::notShowWarning(w) = true;
        child<QTextEdit>(w, "textEditLog")->clear();

        bed->sendUevent(id, "change");
        QTRY_VERIFY(logLines(w).contains(QStringLiteral("Get Connnected Camera...")));
        QVERIFY(logLines(w).contains(QStringLiteral("Get Connnected Wheel...")));

        child<QLineEdit>(w, "lineEditFWFilePath")->setText(makeImage(QStringLiteral("fw.img"), 200000));
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        child<QTextEdit>(w, "textEditLog")->clear();
        const DeviceId other = addForeignDevice();
        QVERIFY(other >= 0);
        QTRY_VERIFY(logLines(w).contains(QStringLiteral("Get Connnected Wheel...")));
        QVERIFY(!logLines(w).contains(QStringLiteral("Get Connnected Camera...")));
        QVERIFY(A::writeRunning(w));
        answerNextModal([](QWidget* m) { pressButton(m, QMessageBox::Ok); }, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w, "labelMsg")->property("res").toString(),
                                  QStringLiteral("ok"), 60000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void resetFX_data()
    {
        QTest::addColumn<bool>("camera");
        QTest::addColumn<QString>("line");
        QTest::newRow("open camera") << true << "Reset FX3 OK";
        QTest::newRow("no camera") << false << "Camera was not opened";
    }
    void resetFX()
    {
        QFETCH(bool, camera);
        QFETCH(QString, line);
        const DeviceId id = camera ? addCamera() : -1;
        MainWindow w;
        auto* button = child<QPushButton>(w, "pushButtonResetFX");
        button->setEnabled(true);
        child<QTextEdit>(w, "textEditLog")->clear();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(logLines(w).value(0), line);
        if (camera)
            QTRY_COMPARE(bed->resetCount(id), 1);
    }

    void copySerialNumber()
    {
        addCamera(named("Quenvor QV294C", "A0000000000000000001"));
        MainWindow w;
        QTest::mouseClick(child<QPushButton>(w, "btnCopySN"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("A0000000000000000001"));
        QCOMPARE(child<QStatusBar>(w, "statusbar")->currentMessage(),
                 QStringLiteral("SN of camera be copied to clipboard!"));
    }

    // A write cut by a cable drop leaves a flash the chip cannot start from: after the re-plug it
    // comes up in its USB boot loader, which the scan points out. Recover Camera... loads a good image
    // into RAM, the camera it starts takes the image into its flash with the normal write, and after
    // the next re-plug the camera starts from its flash with the image's version.
    void cutWriteRecoveredThroughBootLoader()
    {
        const DeviceId id = addCamera();
        const QString cut = makeImage(QStringLiteral("fw.img"), 9000, 124);
        const QString good = makeImage(QStringLiteral("good.img"), 150000, 130);
        MainWindow w;
        w.show();
        A::notShowWarning(w) = true;
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(cut);
        bed->setNoAnswer(id, ReqReadPage);
        QString title;
        answerNextBox(QMessageBox::Ok, &title, 30000);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QTRY_VERIFY(!bed->requests(id).empty() && bed->requests(id).back().request == ReqReadPage);
        bed->setNoAnswer(id, ReqReadPage, false);
        QVERIFY(bed->unplug(id));
        QVERIFY(bed->replug(id));
        QTRY_COMPARE_WITH_TIMEOUT(title, QStringLiteral("Write Failed"), 20000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        const DeviceId loader = bed->bootLoaderOf(id);
        QVERIFY(loader >= 0 && bed->isPlugged(loader));
        QVERIFY(!bed->isPlugged(id));

        child<QTextEdit>(w, "textEditLog")->clear();
        QTest::mouseClick(child<QPushButton>(w, "pushButtonRefresh"), Qt::LeftButton);
        const QString loaderPath = QString::fromLocal8Bit(QVRUsb::bootLoaderList().paths.value(0));
        QVERIFY(!loaderPath.isEmpty());
        QCOMPARE(logLines(w),
                 (QStringList{QStringLiteral("Get Connnected Camera..."), bootLoaderLine(loaderPath),
                              QStringLiteral("Detect 0 Camera(s)...")}));
        QCOMPARE(child<QComboBox>(w, "comboBoxCameras")->count(), 0);

        A::notShowWarning(w) = false;
        bed->clearRequests(loader);
        child<QTextEdit>(w, "textEditLog")->clear();
        BoxAnswerer boxes({});
        chooseRecovery(w, good);
        QVERIFY(A::writeRunning(w));
        QVERIFY(!A::actionRecoverCamera(w)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Write Successfully")), 60000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(boxes.titles,
                 (QStringList{QStringLiteral("Risk Warning"), QStringLiteral("Write Successfully")}));
        QCOMPARE(flashBytes(id, 0, 150000), fileBytes(good));
        for (const ControlRequest& r : bed->requests(loader))
            QVERIFY(!r.vendor() || r.request == ReqBootLoaderRam);
        QCOMPARE(bed->startCount(loader), 1);

        const QByteArray image = fileBytes(good);
        const uint32_t stored = uint32_t(uint8_t(image.at(image.size() - 4))) |
                                uint32_t(uint8_t(image.at(image.size() - 3))) << 8 |
                                uint32_t(uint8_t(image.at(image.size() - 2))) << 16 |
                                uint32_t(uint8_t(image.at(image.size() - 1))) << 24;
        const QString cameraPath =
            QStringLiteral("usb:%1-%2").arg(bed->busNumber(id)).arg(bed->portNumber(id));
        QStringList cameraSide = logLines(w); // the wheel side rescans at each device change
        cameraSide.erase(
            std::remove_if(cameraSide.begin(), cameraSide.end(),
                           [](const QString& line) { return line.contains(QLatin1String("Wheel")); }),
            cameraSide.end());
        QCOMPARE(
            cameraSide,
            (QStringList{
                QStringLiteral("Recovering the camera in the boot loader at %1 with %2...")
                    .arg(loaderPath, QDir::toNativeSeparators(good)),
                QStringLiteral("Loading the image into the camera's RAM (149960 bytes in 3 section(s))..."),
                QStringLiteral("Every chunk read back and compared; the RAM checksum 0x%1 matches the image.")
                    .arg(QString::number(stored, 16).toUpper().rightJustified(8, QLatin1Char('0'))),
                QStringLiteral("Starting the firmware in RAM at 0x40003000..."),
                QStringLiteral("Waiting for the camera to come up (at most 10 s)..."),
                QStringLiteral("The camera came up: Quenvor QV294C (%1).").arg(cameraPath),
                QStringLiteral(
                    "The camera runs the image from RAM (firmware V1.3.0); writing it into the flash."),
                QStringLiteral("Writing FW..."), QStringLiteral("Writing FW Successful!"),
                QStringLiteral("Please unplug the camera and re-connnect to host!")}));
        QCOMPARE(child<QLabel>(w, "labelMsg")->text(), QStringLiteral("Write FW Successful!"));
        QVERIFY(A::actionRecoverCamera(w)->isEnabled());

        // The re-plug the result box asks for: the camera starts from its flash now.
        QVERIFY(bed->unplug(id));
        QVERIFY(bed->replug(id));
        QVERIFY(bed->isPlugged(id));
        QVERIFY(!bed->isPlugged(loader));
        QTRY_VERIFY(logLines(w).contains(
            QStringLiteral("Open QVR Camera(Quenvor QV294C), Path: %1!").arg(TestCameraTab::cameraPath(0))));
        QCOMPARE(child<QLabel>(w, "labelShowFWVersion")->text(), QStringLiteral("V1.3.0"));
    }

    // A fault at each step of a recovery: the log names the step, a box reports the failure, the
    // chip is in its boot loader again (at once before the start, after the re-plug afterwards), and
    // the next try writes the image.
    void recoveryFaultAtEachStep_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<uint32_t>("address");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("title");
        // 20000 bytes: one section of 19976 bytes at 0x40003000, chunks at 0x4000X000, the last 3592.
        QTest::newRow("RAM write, first chunk") << 0 << 0x40003000u
                                                << "ERROR: Recovery failed at \"load into RAM\": writing "
                                                   "4096 bytes at 0x40003000 failed (Pipe error)."
                                                << "Recovery Failed";
        QTest::newRow("RAM write, last chunk") << 0 << 0x40007000u
                                               << "ERROR: Recovery failed at \"load into RAM\": writing 3592 "
                                                  "bytes at 0x40007000 failed (Pipe error)."
                                               << "Recovery Failed";
        QTest::newRow("RAM read-back fails") << 1 << 0x40005000u
                                             << "ERROR: Recovery failed at \"load into RAM\": reading 4096 "
                                                "bytes back at 0x40005000 failed (Pipe "
                                                "error)."
                                             << "Recovery Failed";
        QTest::newRow("RAM read-back differs") << 2 << 0x40004000u
                                               << "ERROR: Recovery failed at \"load into RAM\": the 4096 "
                                                  "bytes read back at 0x40004000 differ from the "
                                                  "image."
                                               << "Recovery Failed";
        QTest::newRow("no camera after the start") << 3 << 0u
                                                   << "ERROR: Recovery failed at \"wait for the camera\": no "
                                                      "camera came up within 10 s of the start."
                                                   << "Recovery Failed";
        QTest::newRow("flash write") << 4 << 0u << "ERROR: Writing FW Failed!"
                                     << "Write Failed";
    }
    void recoveryFaultAtEachStep()
    {
        QFETCH(int, step);
        QFETCH(uint32_t, address);
        QFETCH(QString, failure);
        QFETCH(QString, title);
        CameraConfig config;
        config.startInBootLoader = true;
        const DeviceId id = addCamera(config);
        const DeviceId loader = bed->bootLoaderOf(id);
        QVERIFY(loader >= 0);
        CameraFaults faults;
        if (step == 0)
            faults.stallRamWrites = {address};
        if (step == 1)
            faults.stallRamReads = {address};
        if (step == 2)
            faults.corruptRamReads = {address};
        if (step == 3)
            faults.noCameraAfterStart = true;
        bed->setFaults(loader, faults);
        if (step == 4)
            bed->setCorruptPage(id, 16); // the second chunk of the flash write
        const QString file = makeImage(QStringLiteral("fw.img"), 20000, 131);
        MainWindow w;
        w.show();
        A::notShowWarning(w) = true;
        child<QTextEdit>(w, "textEditLog")->clear();
        BoxAnswerer boxes({});
        chooseRecovery(w, file);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(title), 60000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(boxes.titles.join(QStringLiteral(" | ")), title);
        QVERIFY(!A::writeRunning(w));
        QCOMPARE(child<QLabel>(w, "labelMsg")->property("res").toString(), QStringLiteral("failed"));
        const QStringList log = logLines(w);
        const int at = log.indexOf(failure);
        QVERIFY2(at > 0, qPrintable(log.join(QLatin1Char('\n'))));
        const bool beforeStart = step < 3;
        QCOMPARE(
            log.value(at + 1),
            step == 4 ? QStringLiteral("Please unplug the camera and re-connnect to host!")
            : beforeStart
                ? QStringLiteral("The camera is still in its boot loader: Recover Camera... can try again.")
                : QStringLiteral("Please re-plug the camera: without firmware in its flash it comes back in "
                                 "its boot loader."));
        QCOMPARE(bed->startCount(loader), beforeStart ? 0 : 1);
        QCOMPARE(bed->isPlugged(loader), beforeStart);
        if (!beforeStart) {
            bed->unplug(id); // without a camera after the start, nothing of it is on the bus
            QVERIFY(bed->replug(id));
            QVERIFY(bed->isPlugged(loader));
        }

        bed->setFaults(loader, CameraFaults());
        bed->setCorruptPage(id, 16, false);
        boxes.titles.clear();
        chooseRecovery(w, file);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Write Successfully")), 60000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(flashBytes(id, 0, 20000), fileBytes(file));
        QVERIFY(bed->unplug(id));
        QVERIFY(bed->replug(id));
        QTRY_COMPARE(child<QLabel>(w, "labelShowFWVersion")->text(), QStringLiteral("V1.3.1"));
    }

    // While the risk warning is open the chip that was found may leave, come back or get company: the
    // recovery goes to that chip, or to nothing.
    void recoveryGoesToTheChipThatWasFound_data()
    {
        QTest::addColumn<int>("change"); // 0 left, 1 left and came back, 2 another arrived
        QTest::addColumn<bool>("recovered");
        QTest::newRow("left") << 0 << false;
        QTest::newRow("left and came back") << 1 << true;
        QTest::newRow("another arrived") << 2 << true;
    }
    void recoveryGoesToTheChipThatWasFound()
    {
        QFETCH(int, change);
        QFETCH(bool, recovered);
        CameraConfig config;
        config.startInBootLoader = true;
        const DeviceId id = addCamera(config);
        const DeviceId loader = bed->bootLoaderOf(id);
        DeviceId other = -1;
        const QString file = makeImage(QStringLiteral("fw.img"), 12000, 125);
        MainWindow w;
        w.show();
        A::notShowWarning(w) = false;
        BoxAnswerer boxes({});
        boxes.setRule(QStringLiteral("Risk Warning"), [&](QMessageBox*) {
            if (change == 2) {
                other = addCamera(config);
            } else {
                bed->unplug(id);
                if (change == 1)
                    bed->replug(id);
            }
            return QMessageBox::Ok;
        });
        child<QTextEdit>(w, "textEditLog")->clear();
        chooseRecovery(w, file);
        const QString last =
            recovered ? QStringLiteral("Write Successfully") : QStringLiteral("Camera Changed");
        QTRY_VERIFY2_WITH_TIMEOUT(boxes.titles.contains(last),
                                  qPrintable(boxes.titles.join(" | ") + "\n" + logLines(w).join("\n")), 60000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(boxes.titles, (QStringList{QStringLiteral("Risk Warning"), last}));
        QCOMPARE(bed->startCount(loader), recovered ? 1 : 0);
        if (recovered)
            QCOMPARE(flashBytes(id, 0, 12000), fileBytes(file));
        else
            QVERIFY(logLines(w).contains(QStringLiteral(
                "ERROR: the selected camera changed or left before the write began, nothing was written!")));
        if (other >= 0) {
            const DeviceId otherLoader = bed->bootLoaderOf(other);
            QVERIFY(bed->isPlugged(otherLoader));
            for (const ControlRequest& r : bed->requests(otherLoader))
                QVERIFY(!r.vendor());
        }
        QVERIFY(!A::writeRunning(w));
    }

    // A file that is no firmware image the chip can start is refused before the risk warning and
    // before any request, with a line that says what is wrong and one box, through Write FW and
    // through Recover Camera... alike.
    void invalidImageRefused_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("recovery");
        QTest::addColumn<QString>("reason");
        QByteArray data(16, '\0');
        data.replace(0, 4, QByteArray("\xCD\xAB\x34\x12", 4));
        QByteArray badSum = fx3Assemble({{0x40003000, data}});
        badSum[badSum.size() - 4] = char(0xCE);
        QByteArray random(5000, Qt::Uninitialized);
        std::mt19937 generator(5);
        for (char& b : random)
            b = char(generator());
        for (bool recovery : {false, true}) {
            const char* via = recovery ? "recovery: " : "write: ";
            QTest::newRow(QByteArray(via).append("checksum").constData())
                << badSum << recovery << "checksum 0x1234ABCD, the image says 0x1234ABCE";
            QTest::newRow(QByteArray(via).append("no image").constData())
                << random << recovery << "it does not start with the FX3 boot-image signature \"CY\"";
        }
        QTest::newRow("write: too large")
            << fx3Image(262148) << false
            << "the file holds 262148 bytes; the firmware area takes at most 262144";
    }
    void invalidImageRefused()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, recovery);
        QFETCH(QString, reason);
        CameraConfig config;
        config.startInBootLoader = recovery;
        const DeviceId id = addCamera(config);
        const DeviceId device = recovery ? bed->bootLoaderOf(id) : id;
        QFile f(files.filePath(QStringLiteral("bad.img")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(image);
        f.close();
        MainWindow w;
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(f.fileName());
        const QString label = child<QLabel>(w, "labelMsg")->text();
        child<QTextEdit>(w, "textEditLog")->clear();
        bed->clearRequests(device);
        BoxAnswerer boxes({});
        if (recovery)
            chooseRecovery(w, f.fileName());
        else
            QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QTRY_VERIFY(!boxes.titles.isEmpty());
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(boxes.titles, QStringList{QStringLiteral("Invalid Firmware File")});
        QCOMPARE(
            logLines(w),
            QStringList{
                QStringLiteral("ERROR: the FW file(*.img) is not a valid firmware image: %1!").arg(reason)});
        for (const ControlRequest& r : bed->requests(device))
            QVERIFY(!r.vendor()); // the recovery's look for boot loaders reads their descriptors only
        if (!recovery)
            QVERIFY(bed->requests(device).empty());
        QVERIFY(!A::writeRunning(w));
        QCOMPARE(child<QLabel>(w, "labelMsg")->text(), label);
        QVERIFY(child<QPushButton>(w, "pushButtonRefresh")->isEnabled());
    }

    // Twenty departures while idle, of three kinds: unplugged and seen gone before the re-plug;
    // unplugged and back before the window looks (both events then find it present on the same
    // port); and Reset FX, after which the camera leaves and returns by itself.
    void unplugReplugRounds()
    {
        const DeviceId id = addCamera(named("Quenvor QV294C", "A0000000000000000001"));
        MainWindow w;
        auto* fwLabel = child<QLabel>(w, "labelShowFWVersion");
        const QString opened =
            QStringLiteral("Open QVR Camera(Quenvor QV294C), Path: %1!").arg(cameraPath(0));
        for (int round = 0; round < 20; ++round) {
            child<QTextEdit>(w, "textEditLog")->clear();
            const int resets = bed->resetCount(id);
            switch (round % 3) {
            case 0:
                QVERIFY(bed->unplug(id));
                QTRY_COMPARE(fwLabel->text(), QStringLiteral("V0.0"));
                QVERIFY(!child<QPushButton>(w, "pushButtonWriteFW")->isEnabled());
                QVERIFY(bed->replug(id));
                break;
            case 1:
                QVERIFY(bed->unplug(id));
                QVERIFY(bed->replug(id));
                break;
            default:
                QTest::mouseClick(child<QPushButton>(w, "pushButtonResetFX"), Qt::LeftButton);
                QCOMPARE(bed->resetCount(id), resets + 1);
                break;
            }
            QTRY_VERIFY2(logLines(w).contains(opened), qPrintable(QString::number(round)));
            QTest::qWait(50); // the remaining events of the round
            QCOMPARE(child<QComboBox>(w, "comboBoxCameras")->count(), 1);
            QCOMPARE(fwLabel->text(), QStringLiteral("V1.2.3"));
            QCOMPARE(child<QLabel>(w, "labelShowSN")->text(), QStringLiteral("A0000000000000000001"));
            QVERIFY(child<QPushButton>(w, "pushButtonWriteFW")->isEnabled());
            QVERIFY(A::camera(w)->isOpen());
            QVERIFY(!A::camera(w)->isGone());
        }
    }

    // Closing during a write never cuts it short and never hides its result: "No" changes nothing;
    // "Yes" closes after the result box (success or failure), or at once when the write ended while
    // the question was open. The pending close ends with its write.
    void closeDuringWrite_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("answerAfterResult"); // the write ends while the question is open
        QTest::newRow("no") << false << false << false;
        QTest::newRow("yes, write succeeds") << false << true << false;
        QTest::newRow("yes, write fails") << true << true << false;
        QTest::newRow("write ends during the question, yes") << false << true << true;
        QTest::newRow("write ends during the question, no") << false << false << true;
    }
    void closeDuringWrite()
    {
        QFETCH(bool, fails);
        QFETCH(bool, yes);
        QFETCH(bool, answerAfterResult);
        const DeviceId id = addCamera();
        bed->setTimings(id, CameraTimings::realistic());
        const QString file = makeImage(QStringLiteral("fw.img"), 120000);
        if (fails)
            bed->setCorruptPage(id, 464); // the last chunk's read-back
        MainWindow w;
        w.show();
        A::notShowWarning(w) = true;
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(file);
        child<QTextEdit>(w, "textEditLog")->clear();

        const QString question = QStringLiteral("Writing in Progress");
        const QString result = fails ? QStringLiteral("Write Failed") : QStringLiteral("Write Successfully");
        BoxAnswerer boxes({});
        boxes.setRule(question, [&](QMessageBox*) {
            if (answerAfterResult && !boxes.titles.contains(result))
                return QMessageBox::NoButton;
            return yes ? QMessageBox::Yes : QMessageBox::No;
        });
        bool shownWithWindow = false;
        boxes.setRule(result, [&](QMessageBox*) {
            shownWithWindow = w.isVisible();
            return QMessageBox::Ok;
        });
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QVERIFY(A::writeRunning(w));

        QCOMPARE(w.close(), yes && answerAfterResult);
        if (yes && !answerAfterResult) {
            // Asked once: a second attempt neither asks again nor closes early.
            QVERIFY(!w.close());
            QVERIFY(w.isVisible());
        }
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(result), 60000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(boxes.titles.join(QLatin1String(" | ")), question + QLatin1String(" | ") + result);
        QVERIFY(shownWithWindow);
        QCOMPARE(w.isVisible(), !yes);
        QVERIFY(!A::writeRunning(w));
        QCOMPARE(child<QLabel>(w, "labelMsg")->property("res").toString(),
                 fails ? QStringLiteral("failed") : QStringLiteral("ok"));
        if (!fails)
            QCOMPARE(flashBytes(id, 0, 120000), fileBytes(file));
        QCOMPARE(logLines(w).count(QStringLiteral("Flashwick will close when the write has finished.")),
                 yes && !answerAfterResult ? 1 : 0);
        if (yes)
            return;

        // Nothing is pending: the next write shows its box and the window stays.
        bed->setTimings(id, CameraTimings());
        boxes.titles.clear();
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.titles.contains(QStringLiteral("Write Successfully")), 30000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(w.isVisible());
        QVERIFY(!A::writeRunning(w));
    }
};

QTEST_MAIN(TestCameraTab)
#include "tst_cameratab.moc"
