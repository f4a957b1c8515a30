// Filter Wheel tab: list, open and self-test wheels, move, one-way mode, reset; motor diagnostics.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devizuvezloader.h"
#include "permissionhint.h"

#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>
#include <cstring>

namespace {
QString errorText(int code)
{
    const char* text = QVRGetZWErrorString(code);
    return text ? QString::fromLocal8Bit(text) : QString();
}

QString fixedText(const char* field, size_t size)
{
    return QString::fromLocal8Bit(field, int(strnlen(field, size)));
}

bool selfTestRunning(int state)
{
    return state >= ZW_SELFTEST_RUNNING_FIRST && state <= ZW_SELFTEST_RUNNING_LAST;
}

// Runs the event loop for ms milliseconds.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

WheelInfo* MainWindow::currentWheel() const
{
    return wheelList.value(ui->comboBoxZWList->currentIndex(), nullptr);
}

void MainWindow::setWheelControlsEnabled(bool enabled)
{
    setWheelWidgetEnabled(ui->pushButtonResetZW, enabled);
    setWheelWidgetEnabled(ui->pushButtonWriteFW_ZW, enabled);
    setWheelWidgetEnabled(ui->comboBoxGotoPosition, enabled);
    setWheelWidgetEnabled(ui->checkBoxOneWay, enabled);
    setWheelWidgetEnabled(ui->pushButton_ReadMotorInfo, enabled);
    setWheelWidgetEnabled(ui->pushButton_SetMaxPower, enabled);
}

int MainWindow::holdsCovering(const QWidget* widget) const
{
    int holds = 0;
    if (widget == ui->comboBoxZWList || widget == ui->checkBoxOneWay)
        holds = HoldParse;
    else if (widget == ui->pushButtonResetZW || widget == ui->pushButtonWriteFW_ZW ||
             widget == ui->comboBoxGotoPosition || widget == ui->pushButton_ReadMotorInfo ||
             widget == ui->pushButton_SetMaxPower)
        holds = HoldParse | HoldMotorPower;
    return holds;
}

void MainWindow::setWheelWidgetEnabled(QWidget* widget, bool enabled)
{
    wheelWidgetWanted[widget] = enabled;
    widget->setEnabled(enabled && (wheelHolds & holdsCovering(widget)) == 0);
}

void MainWindow::holdWheelControls(WheelHold hold, bool on)
{
    const QList<QWidget*> widgets = {
        ui->comboBoxZWList, ui->pushButtonResetZW,        ui->pushButtonWriteFW_ZW,  ui->comboBoxGotoPosition,
        ui->checkBoxOneWay, ui->pushButton_ReadMotorInfo, ui->pushButton_SetMaxPower};
    for (QWidget* widget : widgets) {
        const int covering = holdsCovering(widget);
        if ((covering & hold) == 0)
            continue;
        // A control not held yet keeps the state it has now for when the hold ends.
        if (on && (wheelHolds & covering) == 0)
            wheelWidgetWanted[widget] = widget->isEnabled();
    }
    if (on)
        wheelHolds |= hold;
    else
        wheelHolds &= ~hold;
    for (QWidget* widget : widgets)
        if (holdsCovering(widget) & hold)
            widget->setEnabled(wheelWidgetWanted.value(widget) && (wheelHolds & holdsCovering(widget)) == 0);
}

bool MainWindow::refuseDuringMotorPower()
{
    if ((wheelHolds & HoldMotorPower) == 0)
        return false;
    appendLog(tr("ERROR: the motor power is being set, please wait until it is saved!"));
    return true;
}

void MainWindow::scanZW()
{
    if (!ui->pushButtonRefreshZW->isEnabled())
        return;
    appendLog(tr("Get Connnected Wheel..."));
    if (!wheelLibraryProblemLogged) {
        wheelLibraryProblemLogged = true;
        const QString problem = devizuvezLoadProblem();
        if (!problem.isEmpty())
            appendLog(problem);
    }
    const int count = QVRGetZWCount();

    qDeleteAll(wheelList);
    wheelList.clear();
    for (int i = 0; i < count; ++i) {
        auto* wheel = new WheelInfo{};
        if (QVRGetZWProperties(i, wheel) == 0 && QVROpenZW(wheel->ID) == 0)
            wheelList.append(wheel);
        else
            delete wheel;
    }
    if (wheelList.size() < count) {
        const QString hint = wheelPermissionHint();
        if (!hint.isEmpty())
            appendLog(hint);
    }
    appendLog(tr("Detect %1 Wheel(s)...").arg(wheelList.size()));

    QStringList items;
    int remembered = -1;
    for (int i = 0; i < wheelList.size(); ++i) {
        const WheelInfo* wheel = wheelList[i];
        // One arg() for both: a '%' in the name must not take the id's place.
        items << QStringLiteral("%1 (ID:%2)")
                     .arg(fixedText(wheel->Name, sizeof wheel->Name), QString::number(wheel->ID));
        if (fixedText(wheel->SN, sizeof wheel->SN) == selectedWheelSN)
            remembered = i;
    }

    const QSignalBlocker blocker(ui->comboBoxZWList);
    ui->comboBoxZWList->clear();
    ui->comboBoxZWList->addItems(items);
    setBusyState(ui->labelMsg_ZW, "normal");
    if (count > 0) {
        if (remembered >= 0)
            ui->comboBoxZWList->setCurrentIndex(remembered);
        setWheelControlsEnabled(true);
        openSelectedZW();
    } else {
        selectedWheelSN.clear();
        ui->labelMsg_ZW->clear();
        ui->labelPositionCount->clear();
        ui->labelShowZW_FWVer->clear();
        ui->labelShowZW_SN->clear();
        const QSignalBlocker gotoBlocker(ui->comboBoxGotoPosition);
        ui->comboBoxGotoPosition->clear();
        setWheelControlsEnabled(false);
        ui->progressBarWriting_ZW->setValue(0);
    }
}

void MainWindow::on_pushButtonRefreshZW_clicked()
{
    ui->textEditLog->clear();
    wheelLibraryProblemLogged = false;
    scanZW();
}

void MainWindow::on_comboBoxZWList_currentIndexChanged(int index)
{
    Q_UNUSED(index);
    openSelectedZW();
}

void MainWindow::openSelectedZW()
{
    const QSignalBlocker blocker(ui->comboBoxGotoPosition);
    if (runningTimer->isActive())
        runningTimer->stop();
    ui->labelPositionCount->clear();
    ui->labelShowZW_FWVer->clear();
    ui->labelShowZW_SN->clear();
    ui->comboBoxGotoPosition->clear();
    wheelFirmwareVersion.clear();

    WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel)
        return;
    const int id = wheel->ID;

    int state = ZW_STATE_IDLE;
    QVRGetZWState(id, &state);
    if (state == ZW_STATE_CLOSED) {
        const int status = QVROpenZW(id);
        if (status != 0) {
            const QString hint = wheelPermissionHint();
            if (!hint.isEmpty())
                appendLog(hint);
            appendLog(
                tr("ERROR: Open Filter Wheel Failed!!!, Please replug it! Code: %1").arg(errorText(status)));
            return;
        }
    }

    const QString serial = fixedText(wheel->SN, sizeof wheel->SN);
    ui->labelPositionCount->setText(QString::number(wheel->SlotNum));
    ui->labelShowZW_SN->setText(serial);
    selectedWheelSN = serial;
    for (int slot = 0; slot < wheel->SlotNum; ++slot)
        ui->comboBoxGotoPosition->addItem(QString::number(slot + 1));

    char version[32] = {};
    const int versionStatus = QVRGetZWFirmwareVer(id, version, sizeof version);
    if (versionStatus == 0) {
        wheelFirmwareVersion = fixedText(version, sizeof version);
        ui->labelShowZW_FWVer->setText(QStringLiteral("V") + wheelFirmwareVersion);
    } else {
        appendLog(tr("ERROR: Read Firmware Version Failed, Code: %1").arg(errorText(versionStatus)));
    }

    ui->labelMsg_ZW->setText(tr("Waiting..."));
    ui->progressBarWriting_ZW->setValue(0);

    int oneWay = 0;
    QVRGetOneWay(id, &oneWay);
    ui->checkBoxOneWay->setChecked(oneWay != 0);

    unsigned char sensor = 0, moving = 0;
    int sensorValue = 0, reserved1 = 0, reserved2 = 0;
    QVRGetSensorValues(id, &sensor, &moving, &sensorValue, &reserved1, &reserved2);
    if (moving != 0) {
        detectZWIsRunning();
        runningTimer->start();
        return;
    }

    int selfTestState = -1, selfTestError = -1;
    QVRGetSelfTestState(id, &selfTestState, &selfTestError);
    if (!selfTestRunning(selfTestState)) {
        const int status = QVRZWSelfTest(id);
        if (status != 0) {
            appendLog(tr("Failed to Self Test, Code: ") + errorText(status));
            return;
        }
    }
    appendLog(tr("Start to Self Testing!!!"));
    detectZWIsSelfTesting();
    if (!selfTestTimer->isActive())
        selfTestTimer->start();
}

void MainWindow::syncWheelPosition()
{
    const WheelInfo* wheel = currentWheel();
    if (!wheel)
        return;
    int position = -1;
    QVRGetCurrentPosition(wheel->ID, &position);
    if (position >= 0 && position != ui->comboBoxGotoPosition->currentIndex()) {
        const QSignalBlocker blocker(ui->comboBoxGotoPosition);
        ui->comboBoxGotoPosition->setCurrentIndex(position);
    }
}

void MainWindow::detectZWIsRunning()
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel)
        return;
    int state = ZW_STATE_IDLE;
    QVRGetZWState(wheel->ID, &state);
    if (state == ZW_STATE_MOVING) {
        setWheelWidgetEnabled(ui->comboBoxGotoPosition, false);
        setWheelWidgetEnabled(ui->pushButtonResetZW, false);
        return;
    }
    setWheelWidgetEnabled(ui->comboBoxGotoPosition, true);
    setWheelWidgetEnabled(ui->pushButtonResetZW, true);
    if (runningTimer->isActive())
        runningTimer->stop();
    syncWheelPosition();
}

void MainWindow::detectZWIsSelfTesting()
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel)
        return;
    int state = -1, errorCode = -1;
    QVRGetSelfTestState(wheel->ID, &state, &errorCode);
    if (selfTestRunning(state)) {
        setWheelWidgetEnabled(ui->comboBoxGotoPosition, false);
        setWheelWidgetEnabled(ui->pushButtonResetZW, false);
        appendLog(tr("Self Testing......."));
        ui->statusbar->showMessage(tr("Self Testing......."), 500);
        return;
    }
    setWheelWidgetEnabled(ui->comboBoxGotoPosition, true);
    setWheelWidgetEnabled(ui->pushButtonResetZW, true);
    appendLog(tr("Self Test Finished!!!"));
    ui->statusbar->showMessage(tr("Self Test Finished!!!"), 2000);
    if (selfTestTimer->isActive())
        selfTestTimer->stop();
    if (state == ZW_SELFTEST_FAILED) {
        appendLog(tr("Self Test Error!!!"));
        appendLog(QStringLiteral("error code: 0x%1").arg(errorCode, 0, 16));
        ui->statusbar->showMessage(tr("Self Test Error!!!"), 2000);
        QMessageBox::warning(this, tr("Self Test Error"), tr("Self Test Error!\nPlease test it again!"),
                             QMessageBox::Ok);
    } else if (state == ZW_SELFTEST_PASSED) {
        appendLog(tr("Self Test OK!!!"));
        ui->statusbar->showMessage(tr("Self Test OK!!!"), 2000);
        QMessageBox::information(this, tr("Self Test OK"), tr("Please replugin the wheel!"), QMessageBox::Ok);
    }
    syncWheelPosition();
}

void MainWindow::on_comboBoxGotoPosition_currentIndexChanged(int index)
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel)
        return;
    if (refuseDuringMotorPower()) {
        syncWheelPosition(); // back to the slot the wheel is at
        return;
    }
    const int status = QVRGotoPosition(wheel->ID, index);
    if (status == 0) {
        appendLog(tr("Going to Position: ") + QString::number(index + 1));
        detectZWIsRunning();
        runningTimer->start();
        return;
    }
    appendLog(tr("Goto Position Failed, Code: ") + errorText(status));
    int position = -1;
    if (QVRGetCurrentPosition(wheel->ID, &position) == 0)
        ui->comboBoxGotoPosition->setCurrentIndex(position);
}

void MainWindow::on_checkBoxOneWay_clicked(bool checked)
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel)
        return;
    const int status = QVRSetOneWay(wheel->ID, checked ? 1 : 0);
    if (status == 0)
        appendLog(
            tr("Set One-Way OK!!!, Value: %1").arg(checked ? QStringLiteral("Yes") : QStringLiteral("No")));
    else
        appendLog(tr("Failed to Set One-Way , Code: ") + errorText(status));
}

void MainWindow::on_pushButtonResetZW_clicked()
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel || refuseDuringMotorPower())
        return;
    const int status = QVRResetZW(wheel->ID);
    if (status == 0) {
        appendLog(tr("Reset ZW OK!!!"));
        detectZWIsRunning();
        runningTimer->start();
    } else {
        appendLog(tr("Failed to Reset ZW, Code: ") + errorText(status));
    }
}

void MainWindow::on_pushButtonCopySN_clicked()
{
    QGuiApplication::clipboard()->setText(ui->labelShowZW_SN->text(), QClipboard::Clipboard);
    ui->statusbar->showMessage(tr("SN of wheel be copied to clipboard!"), 2000);
}

namespace {
QString motorStateName(int state)
{
    static const char* const names[] = {"Idle", "SpeedUp", "SpeedDown", "Running", "Stop"};
    return state >= 0 && state < 5 ? QLatin1String(names[state]) : QStringLiteral("Unknow");
}

QString wheelErrorName(int code)
{
    static const char* const names[] = {"NoError", "Closed", "MotTest", "Motor", "Sensor", "Save", "Switch"};
    return code >= 0 && code < 7 ? QLatin1String(names[code]) : QStringLiteral("Unknow");
}

const char* const supportAddress = "support@quenvor.example";
} // namespace

void MainWindow::on_pushButton_ReadMotorInfo_clicked()
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel) {
        appendLog(tr("ERROR: no wheels!"));
        return;
    }
    if (refuseDuringMotorPower())
        return;
    const int id = wheel->ID;

    unsigned char motorState = 0, commState = 0;
    int status = QVRGetMotorState(id, &motorState, &commState);
    if (status == 0) {
        const QString detail = QStringLiteral("%1: ").arg(motorState) + motorStateName(motorState) +
                               QStringLiteral(", ") +
                               QStringLiteral("Communication State: %1").arg(commState);
        appendLog(QStringLiteral("Read Motor State: %1!!!").arg(detail));
    } else {
        appendLog(QStringLiteral("Failed to Read Motor State, Error: ") + errorText(status));
    }

    unsigned short startSpeed = 0, runningSpeed = 0;
    status = QVRGetMotorSpeed(id, &startSpeed, &runningSpeed);
    if (status == 0)
        appendLog(QStringLiteral("Read Motor Speed, start speed: %1, running speed: %2!!!")
                      .arg(startSpeed)
                      .arg(runningSpeed));
    else
        appendLog(QStringLiteral("Failed to Read Motor Speed, Error: ") + errorText(status));

    unsigned short runningPower = 0, stopPower = 0;
    status = QVRGetMotorPower(id, &runningPower, &stopPower);
    if (status == 0)
        appendLog(QStringLiteral("Read Motor Power, running power: %1, stop power: %2!!!")
                      .arg(runningPower)
                      .arg(stopPower));
    else
        appendLog(QStringLiteral("Failed to Read Motor Power, Error: ") + errorText(status));
}

void MainWindow::on_pushButton_SetMaxPower_clicked()
{
    const WheelInfo* wheel = currentWheel();
    if (ui->comboBoxZWList->count() == 0 || !wheel || ui->labelShowZW_FWVer->text().isEmpty()) {
        appendLog(tr("ERROR: no wheels!"));
        return;
    }
    if (refuseDuringMotorPower())
        return;
    const int id = wheel->ID;
    const bool firstGeneration = ui->labelShowZW_FWVer->text().startsWith(QLatin1String("V1"));

    int errorCode = -1;
    int status = QVRGetErrorCode(id, &errorCode);
    if (status != 0) {
        appendLog(QStringLiteral("Failed to read wheel state, Error: ") + errorText(status));
        return;
    }
    appendLog(QStringLiteral("Wheel error state: ") + wheelErrorName(errorCode));
    if (errorCode != 0) {
        appendLog(tr("Wheel has an error, can not set the power of motor!"));
        appendLog(tr("Please try to eliminate this error and make the wheel work properly: "));
        appendLog(tr("1. Try loosening the center screws of the filter plate."));
        appendLog(tr("2. If the weather is cold, bring the wheel to a warm environment."));
        appendLog(tr("If the problem is not solved, please contact our support: ") +
                  QLatin1String(supportAddress));
        QMessageBox::critical(this, tr("Wheel Error"),
                              tr("Wheel has an error, please check the suggestions in the log."),
                              QMessageBox::Ok);
        return;
    }

    appendLog(tr("Setting the motor power..."));
    const int selection = ui->comboBox_MotorPowerSelect->currentIndex();
    const unsigned short runningPower = selection == 1 ? 28 : selection == 2 ? 30 : 25;
    if (QVRSetMotorPower(id, runningPower, 4) != 0) {
        appendLog(tr("Set motor power failed!!!"));
        return;
    }
    appendLog(tr("Set the motor running power OK: ") + ui->comboBox_MotorPowerSelect->currentText());
    // The pauses let scans, polls and clicks run: nothing else may command the wheel, or start its
    // update, before the settings are saved.
    const QPointer<MainWindow> self(this);
    holdWheelControls(HoldMotorPower, true);
    pause(300);
    if (!self)
        return;

    const unsigned short startSpeed = firstGeneration ? 25 : 400;
    const unsigned short runningSpeed = firstGeneration ? 250 : 6000;
    if (QVRSetMotorSpeed(id, startSpeed, runningSpeed) == 0)
        appendLog(tr("Set motor running speed OK."));
    else
        appendLog(tr("Set motor running speed failed!!!"));

    appendLog(tr("Wheel is saving changes..."));
    pause(300);
    if (!self)
        return;
    const int saveStatus = QVRSaveSystemConfig(id);
    holdWheelControls(HoldMotorPower, false);
    if (saveStatus == 0) {
        appendLog(tr("Save successfully."));
        appendLog(tr("Set motor power successfully."));
    } else {
        appendLog(tr("Save failed!!!"));
    }
}

void MainWindow::on_pushButton_WhatThis_clicked()
{
    appendLog(QStringLiteral("------"));
    appendLog(tr("Why set the motor power:"));
    appendLog(
        tr("  Due to the different usage environments (such as very cold weather), the rotating shaft of the "
           "filter wheel may increase the friction, which may cause it to fail to move or the slot positions "
           "to be misaligned."));
    appendLog(
        tr("  Increasing the power of the filter wheel motor can solve this problem, however, this requires "
           "the USB port of host to have sufficient power supply capacity. If the USB port does not provide "
           "sufficient power, increasing the motor power may not have any effect."));
    appendLog(QString());
    appendLog(
        tr("If there is nothing wrong with your filter wheel, it is recommended not to change the motor "
           "power."));
    appendLog(QStringLiteral("------"));
}
