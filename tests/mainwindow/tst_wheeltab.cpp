// Filter Wheel tab and motor diagnostics on emulated wheels, through the stand-in wheel library.
#include "emulator.h"
#include "mainwindowtestaccess.h"
#include "wheelmodel.h"
#include "zwprotocol.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QtTest>

using namespace flashwick::emu;
using A = MainWindowTestAccess;

class TestWheelTab : public QObject
{
    Q_OBJECT

    std::unique_ptr<Testbed> bed;
    std::unique_ptr<TestSettings> settings;
    std::vector<std::unique_ptr<WheelModel>> wheels;

    static void clearLog(MainWindow& w) { child<QTextEdit>(w, "textEditLog")->clear(); }

    // Wheel k uses hidraw nodes 16+2k (wheel) and 17+2k (its bootloader).
    WheelModel* addWheel(WheelModel::Options options = {})
    {
        options.hidrawIndex = 16 + 2 * int(wheels.size());
        if (options.selfTestMs == 0)
            options.selfTestMs = 200;
        wheels.push_back(std::make_unique<WheelModel>(bed->raw(), options, &bed->rawMutex()));
        if (!wheels.back()->plug())
            qFatal("wheel not plugged");
        return wheels.back().get();
    }
    // Waits for the self test that every opening starts, and answers its result box.
    static QString finishSelfTest(QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        QString title;
        answerNextBox(answer, &title, 15000);
        if (!QTest::qWaitFor([&title] { return !title.isEmpty() && !QApplication::activeModalWidget(); },
                             15000))
            qWarning("no self-test result box");
        QTest::qWait(20); // lets the slot that showed the box finish
        return title;
    }
    static WheelModel::Options named(const char* name, const char* serial)
    {
        WheelModel::Options o;
        o.name = name;
        o.serial = serial;
        return o;
    }

private slots:
    void initTestCase()
    {
        bed = std::make_unique<Testbed>();
        QVERIFY2(bed->isValid(), bed->errorString().c_str());
    }
    void init() { settings = std::make_unique<TestSettings>(); }
    void cleanup()
    {
        QTRY_VERIFY(!QApplication::activeModalWidget());
        wheels.clear();
        settings.reset();
    }

    void oneOfTwoFailsToOpen()
    {
        // A '%1' in the name stays as it is in the item text.
        addWheel(named("Quenvor ZW %1 7x36", "AAAAAAAAAAAAAAAAAAAAAAAA"));
        WheelModel::Options broken = named("Quenvor ZW 5x2in", "BBBBBBBBBBBBBBBBBBBBBBBB");
        broken.faults.unopenable = true;
        addWheel(broken);
        MainWindow w;
        QCOMPARE(finishSelfTest(), QStringLiteral("Self Test OK"));
        QStringList lines = logLines(w);
        QVERIFY(lines.contains(QStringLiteral("Get Connnected Wheel...")));
        QVERIFY(lines.contains(QStringLiteral("Detect 1 Wheel(s)...")));
        auto* list = child<QComboBox>(w, "comboBoxZWList");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->itemText(0), QStringLiteral("Quenvor ZW %1 7x36 (ID:") +
                                        QString::number(A::wheelList(w).value(0)->ID) + ')');
        QCOMPARE(child<QLabel>(w, "labelShowZW_SN")->text(), QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAA"));
        QCOMPARE(child<QLabel>(w, "labelShowZW_FWVer")->text(), QStringLiteral("V3.1.2"));
        QCOMPARE(child<QLabel>(w, "labelPositionCount")->text(), QStringLiteral("7"));
        QCOMPARE(child<QComboBox>(w, "comboBoxGotoPosition")->count(), 7);
        QCOMPARE(child<QComboBox>(w, "comboBoxGotoPosition")->itemText(6), QStringLiteral("7"));
        QVERIFY(lines.contains(QStringLiteral("Start to Self Testing!!!")));
        QVERIFY(logLines(w).contains(QStringLiteral("Self Test OK!!!")));
    }

    void reportedButNoneOpens()
    {
        WheelModel::Options broken;
        broken.faults.unopenable = true;
        addWheel(broken);
        MainWindow w;
        QVERIFY(logLines(w).contains(QStringLiteral("Detect 0 Wheel(s)...")));
        QCOMPARE(child<QComboBox>(w, "comboBoxZWList")->count(), 0);
        QVERIFY(child<QPushButton>(w, "pushButtonResetZW")->isEnabled());
        QVERIFY(child<QPushButton>(w, "pushButton_SetMaxPower")->isEnabled());
        QCOMPARE(child<QLabel>(w, "labelShowZW_SN")->text(), QString());
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonResetZW"), Qt::LeftButton);
        QCOMPARE(child<QTextEdit>(w, "textEditLog")->toPlainText(), QString());
    }

    void noWheelDisablesControls()
    {
        MainWindow w;
        QVERIFY(logLines(w).contains(QStringLiteral("Detect 0 Wheel(s)...")));
        for (const char* name : {"pushButtonResetZW", "pushButtonWriteFW_ZW", "pushButton_ReadMotorInfo",
                                 "pushButton_SetMaxPower"})
            QVERIFY2(!child<QWidget>(w, name)->isEnabled(), name);
        QVERIFY(!child<QComboBox>(w, "comboBoxGotoPosition")->isEnabled());
        QVERIFY(!child<QCheckBox>(w, "checkBoxOneWay")->isEnabled());
    }

    void reselectionBySerialNumber()
    {
        WheelModel* first = addWheel(named("Wheel A", "AAAAAAAAAAAAAAAAAAAAAAAA"));
        addWheel(named("Wheel B", "BBBBBBBBBBBBBBBBBBBBBBBB"));
        MainWindow w;
        finishSelfTest();
        auto* list = child<QComboBox>(w, "comboBoxZWList");
        const int b = list->findText(QStringLiteral("Wheel B"), Qt::MatchStartsWith);
        QVERIFY(b >= 0);
        list->setCurrentIndex(b); // the user's choice: opens B and self-tests it
        finishSelfTest();
        QCOMPARE(A::selectedWheelSN(w), QStringLiteral("BBBBBBBBBBBBBBBBBBBBBBBB"));

        // A's place goes behind B: unplug it and plug the same wheel on a later node.
        first->unplug();
        addWheel(named("Wheel A", "AAAAAAAAAAAAAAAAAAAAAAAA"));
        QTest::mouseClick(child<QPushButton>(w, "pushButtonRefreshZW"), Qt::LeftButton);
        finishSelfTest();
        QCOMPARE(list->count(), 2);
        QVERIFY(list->currentText().startsWith(QStringLiteral("Wheel B")));
        QCOMPARE(child<QLabel>(w, "labelShowZW_SN")->text(), QStringLiteral("BBBBBBBBBBBBBBBBBBBBBBBB"));
    }

    void equalSerialsLaterWins()
    {
        addWheel(named("Twin 1", "CCCCCCCCCCCCCCCCCCCCCCCC"));
        addWheel(named("Twin 2", "CCCCCCCCCCCCCCCCCCCCCCCC"));
        MainWindow w;
        finishSelfTest();
        auto* list = child<QComboBox>(w, "comboBoxZWList");
        QCOMPARE(list->currentIndex(), 0);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonRefreshZW"), Qt::LeftButton);
        finishSelfTest();
        QCOMPARE(list->currentIndex(), 1);
    }

    void rescanWhileRefreshDisabledDoesNothing()
    {
        addWheel();
        MainWindow w;
        finishSelfTest();
        child<QPushButton>(w, "pushButtonRefreshZW")->setEnabled(false);
        clearLog(w);
        const int items = child<QComboBox>(w, "comboBoxZWList")->count();
        wheels.front()->unplug();
        QTest::qWait(300); // the uevent arrives and runs the scans
        QVERIFY(!logLines(w).contains(QStringLiteral("Get Connnected Wheel...")));
        QCOMPARE(child<QComboBox>(w, "comboBoxZWList")->count(), items);
    }

    void runningSelfTestIsFollowedNotRestarted()
    {
        WheelModel::Options o;
        o.selfTestMs = 1500;
        WheelModel* wheel = addWheel(o);
        wheel->startSelfTest();
        MainWindow w;
        QCOMPARE(finishSelfTest(), QStringLiteral("Self Test OK"));
        QCOMPARE(wheel->selfTestCount(), 1);
        QVERIFY(logLines(w).contains(QStringLiteral("Start to Self Testing!!!")));
        QVERIFY(logLines(w).contains(QStringLiteral("Self Testing.......")));
    }

    // The list follows the slot the wheel reports without commanding a move of its own.
    void positionSynchronisedWithoutMove()
    {
        WheelModel::Options o;
        o.slotMs = 150;
        WheelModel* wheel = addWheel(o);
        // Another program set the wheel moving to slot index 5 before the window opens it.
        QCOMPARE(QVRGetZWCount(), 1);
        WheelInfo info{};
        QCOMPARE(QVRGetZWProperties(0, &info), 0);
        QCOMPARE(QVROpenZW(info.ID), 0);
        QCOMPARE(QVRGotoPosition(info.ID, 5), 0);
        QVERIFY(wheel->isMoving());

        MainWindow w;
        auto* gotoList = child<QComboBox>(w, "comboBoxGotoPosition");
        {
            const QSignalBlocker blocker(gotoList);
            gotoList->setCurrentIndex(2);
        }
        QVERIFY(
            !logLines(w).contains(QStringLiteral("Start to Self Testing!!!"))); // a moving wheel is followed
        QTRY_COMPARE(gotoList->currentText(), QStringLiteral("6"));
        QVERIFY(gotoList->isEnabled());
        QCOMPARE(wheel->gotoCommands(), QVector<int>{5});
        QCOMPARE(wheel->selfTestCount(), 0);
    }

    void gotoMovesAndFailedMoveGoesBack()
    {
        WheelModel::Options o;
        o.slotMs = 50;
        o.position = 1;
        WheelModel* wheel = addWheel(o);
        MainWindow w;
        finishSelfTest();
        auto* gotoList = child<QComboBox>(w, "comboBoxGotoPosition");
        clearLog(w);
        gotoList->setCurrentIndex(4);
        QCOMPARE(logLines(w).value(0), QStringLiteral("Going to Position: 5"));
        QTRY_COMPARE(wheel->position(), 4);
        QTRY_VERIFY(gotoList->isEnabled());
        QCOMPARE(wheel->gotoCommands(), QVector<int>{4});

        // A refused move: the list returns to the slot the wheel reports, which commands a move there.
        wheel->setRefused(ZW_CMD_GOTO);
        clearLog(w);
        gotoList->setCurrentIndex(2);
        QVERIFY(logLines(w).value(0).startsWith(QStringLiteral("Goto Position Failed, Code: ")));
        QCOMPARE(gotoList->currentIndex(), 4);
        QCOMPARE(wheel->gotoCommands(), (QVector<int>{4, 2, 4}));
    }

    void oneWayAndReset_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("accepted") << false;
        QTest::newRow("refused") << true;
    }
    void oneWayAndReset()
    {
        QFETCH(bool, refused);
        WheelModel* wheel = addWheel();
        MainWindow w;
        finishSelfTest();
        wheel->setRefused(ZW_CMD_SET_ONEWAY, refused);
        wheel->setRefused(ZW_CMD_RESET, refused);
        clearLog(w);
        auto* oneWay = child<QCheckBox>(w, "checkBoxOneWay");
        QTest::mouseClick(oneWay, Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonResetZW"), Qt::LeftButton);
        if (refused) {
            QVERIFY(logLines(w).value(0).startsWith(QStringLiteral("Failed to Set One-Way , Code: ")));
            QVERIFY(logLines(w).value(1).startsWith(QStringLiteral("Failed to Reset ZW, Code: ")));
            QVERIFY(oneWay->isChecked()); // keeps the new tick
            QVERIFY(!wheel->oneWay());
        } else {
            QCOMPARE(logLines(w).value(0), QStringLiteral("Set One-Way OK!!!, Value: Yes"));
            QCOMPARE(logLines(w).value(1), QStringLiteral("Reset ZW OK!!!"));
            QVERIFY(wheel->oneWay());
            QTRY_COMPARE(wheel->resetCount(), 1);
        }
    }

    void selfTestError()
    {
        WheelModel::Options o;
        o.selfTestError = 0x2A;
        addWheel(o);
        MainWindow w;
        QCOMPARE(finishSelfTest(), QStringLiteral("Self Test Error"));
        const QStringList lines = logLines(w);
        const int at = lines.indexOf(QStringLiteral("Self Test Error!!!"));
        QVERIFY(at > 0);
        QCOMPARE(lines.value(at - 1), QStringLiteral("Self Test Finished!!!"));
        QCOMPARE(lines.value(at + 1), QStringLiteral("error code: 0x2a"));
    }

    void copySerialNumber()
    {
        addWheel(named("Wheel", "0123456789ABCDEF01234567"));
        MainWindow w;
        finishSelfTest();
        QTest::mouseClick(child<QPushButton>(w, "pushButtonCopySN"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("0123456789ABCDEF01234567"));
        QCOMPARE(child<QStatusBar>(w, "statusbar")->currentMessage(),
                 QStringLiteral("SN of wheel be copied to clipboard!"));
    }

    void motorInfoWithOneQueryFailing()
    {
        WheelModel::Options o;
        o.motorState = 3;
        o.commState = 0;
        o.motor.startSpeed = 400;
        o.motor.runningSpeed = 6000;
        o.motor.runningPower = 28;
        o.motor.stopPower = 4;
        WheelModel* wheel = addWheel(o);
        MainWindow w;
        finishSelfTest();
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_ReadMotorInfo"), Qt::LeftButton);
        QCOMPARE(logLines(w),
                 (QStringList{QStringLiteral("Read Motor State: 3: Running, Communication State: 0!!!"),
                              QStringLiteral("Read Motor Speed, start speed: 400, running speed: 6000!!!"),
                              QStringLiteral("Read Motor Power, running power: 28, stop power: 4!!!")}));
        wheel->setRefused(ZW_CMD_GET_MOTOR_STATE);
        wheel->setMotorState(7, 1);
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_ReadMotorInfo"), Qt::LeftButton);
        QCOMPARE(logLines(w).size(), 3);
        QVERIFY(logLines(w).value(0).startsWith(QStringLiteral("Failed to Read Motor State, Error: ")));
        QVERIFY(logLines(w).value(1).startsWith(QStringLiteral("Read Motor Speed")));
        wheel->setRefused(ZW_CMD_GET_MOTOR_STATE, false);
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_ReadMotorInfo"), Qt::LeftButton);
        QCOMPARE(logLines(w).value(0),
                 QStringLiteral("Read Motor State: 7: Unknow, Communication State: 1!!!"));
    }

    void setPowerRefusedOnWheelError_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("sensor") << 4 << "Sensor";
        QTest::newRow("unknown code") << 9 << "Unknow";
    }
    void setPowerRefusedOnWheelError()
    {
        QFETCH(int, code);
        QFETCH(QString, name);
        WheelModel::Options o;
        o.errorCode = code;
        WheelModel* wheel = addWheel(o);
        MainWindow w;
        finishSelfTest();
        clearLog(w);
        QString title;
        answerNextBox(QMessageBox::Ok, &title);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_SetMaxPower"), Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Wheel Error"));
        QCOMPARE(
            logLines(w),
            (QStringList{
                QStringLiteral("Wheel error state: ") + name,
                QStringLiteral("Wheel has an error, can not set the power of motor!"),
                QStringLiteral("Please try to eliminate this error and make the wheel work properly: "),
                QStringLiteral("1. Try loosening the center screws of the filter plate."),
                QStringLiteral("2. If the weather is cold, bring the wheel to a warm environment."),
                QStringLiteral(
                    "If the problem is not solved, please contact our support: support@quenvor.example")}));
        QCOMPARE(wheel->motorSettings(), o.motor);
        QCOMPARE(wheel->saveCount(), 0);
    }

    void setPowerValues_data()
    {
        QTest::addColumn<int>("selection");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("runningPower");
        QTest::addColumn<int>("startSpeed");
        QTest::addColumn<int>("runningSpeed");
        QTest::newRow("Default, 2.x") << 0 << "2.0.1" << 25 << 400 << 6000;
        QTest::newRow("High, 1.x") << 1 << "1.4" << 28 << 25 << 250;
        QTest::newRow("Max, 10.x") << 2 << "10.2" << 30 << 25 << 250;
    }
    void setPowerValues()
    {
        QFETCH(int, selection);
        QFETCH(QString, firmware);
        QFETCH(int, runningPower);
        QFETCH(int, startSpeed);
        QFETCH(int, runningSpeed);
        WheelModel::Options o;
        o.firmwareVersion = firmware.toLatin1();
        WheelModel* wheel = addWheel(o);
        MainWindow w;
        finishSelfTest();
        auto* power = child<QComboBox>(w, "comboBox_MotorPowerSelect");
        power->setCurrentIndex(selection);
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_SetMaxPower"), Qt::LeftButton);
        QCOMPARE(
            logLines(w),
            (QStringList{
                QStringLiteral("Wheel error state: NoError"), QStringLiteral("Setting the motor power..."),
                QStringLiteral("Set the motor running power OK: ") + power->currentText(),
                QStringLiteral("Set motor running speed OK."), QStringLiteral("Wheel is saving changes..."),
                QStringLiteral("Save successfully."), QStringLiteral("Set motor power successfully.")}));
        const WheelModel::MotorSettings saved = wheel->savedSettings();
        QCOMPARE(int(saved.runningPower), runningPower);
        QCOMPARE(int(saved.stopPower), 4);
        QCOMPARE(int(saved.startSpeed), startSpeed);
        QCOMPARE(int(saved.runningSpeed), runningSpeed);
        QCOMPARE(wheel->saveCount(), 1);
    }

    void setPowerRefusals_data()
    {
        QTest::addColumn<int>("refusedCommand");
        QTest::addColumn<QStringList>("tail");
        QTest::addColumn<int>("saves");
        QTest::newRow("power refused")
            << int(ZW_CMD_SET_MOTOR_POWER) << QStringList{QStringLiteral("Set motor power failed!!!")} << 0;
        QTest::newRow("speed refused")
            << int(ZW_CMD_SET_MOTOR_SPEED)
            << QStringList{QStringLiteral("Set motor running speed failed!!!"),
                           QStringLiteral("Wheel is saving changes..."), QStringLiteral("Save successfully."),
                           QStringLiteral("Set motor power successfully.")}
            << 1;
        QTest::newRow("save refused")
            << int(ZW_CMD_SAVE_CONFIG)
            << QStringList{QStringLiteral("Set motor running speed OK."),
                           QStringLiteral("Wheel is saving changes..."), QStringLiteral("Save failed!!!")}
            << 0;
    }
    void setPowerRefusals()
    {
        QFETCH(int, refusedCommand);
        QFETCH(QStringList, tail);
        QFETCH(int, saves);
        WheelModel* wheel = addWheel();
        MainWindow w;
        finishSelfTest();
        wheel->setRefused(uint8_t(refusedCommand));
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_SetMaxPower"), Qt::LeftButton);
        QCOMPARE(logLines(w).mid(logLines(w).size() - tail.size()), tail);
        QCOMPARE(wheel->saveCount(), saves);
        if (refusedCommand == ZW_CMD_SET_MOTOR_POWER) {
            QCOMPARE(logLines(w).size(), 3);
            QCOMPARE(wheel->motorSettings().startSpeed, WheelModel::MotorSettings().startSpeed);
        }
    }

    void setPowerWithoutFirmwareVersion()
    {
        WheelModel* wheel = addWheel();
        wheel->setRefused(ZW_CMD_GET_FW_VERSION);
        MainWindow w;
        finishSelfTest();
        QVERIFY(logLines(w).filter(QStringLiteral("ERROR: Read Firmware Version Failed, Code: ")).size() ==
                1);
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_SetMaxPower"), Qt::LeftButton);
        QCOMPARE(logLines(w), QStringList{QStringLiteral("ERROR: no wheels!")});
        QCOMPARE(wheel->saveCount(), 0);
    }

    void whatThis()
    {
        MainWindow w;
        clearLog(w);
        QTest::mouseClick(child<QPushButton>(w, "pushButton_WhatThis"), Qt::LeftButton);
        const QStringList lines = logLines(w);
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.first(), QStringLiteral("------"));
        QCOMPARE(lines.last(), QStringLiteral("------"));
        QCOMPARE(lines[1], QStringLiteral("Why set the motor power:"));
        QCOMPARE(lines[4], QString());
        QVERIFY(lines[2].startsWith(QStringLiteral("  Due to")));
    }
};

QTEST_MAIN(TestWheelTab)
#include "tst_wheeltab.moc"
