// Wheel firmware update: version check, parse, bootloader scan and the write steps on the thread pool.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devizuvezwritefwobject.h"
#include "hexparser.h"
#include "permissionhint.h"
#include "wheelimagerules.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>
#include <QtConcurrent>
#include <cstring>

int MainWindow::bootloaderScanDelayMs = 5000;

namespace {
QString libraryErrorText(int code)
{
    const char* text = QVRGetZWErrorString(code);
    return text ? QString::fromLocal8Bit(text) : QString();
}

// A NUL-terminated text field of at most size bytes.
QString fieldText(const char* field, size_t size)
{
    return QString::fromLocal8Bit(field, int(strnlen(field, size)));
}
} // namespace

void MainWindow::releaseFirmwareImage()
{
    hexRecords.clear();
    fwData.clear();
    fwStartAddress = 0;
    fwSize = 0;
}

bool MainWindow::parseZWFirmwareFile()
{
    releaseFirmwareImage();
    // Parsed on the thread pool while the window goes on: the largest file taken costs tens of
    // milliseconds, which would stall the window. The wheel list and controls are off meanwhile, so
    // Write FW cannot be pressed twice and the wheel checked cannot be swapped for another; the parse
    // itself touches nothing of the window.
    const QPointer<MainWindow> self(this);
    holdWheelControls(HoldParse, true);
    QFutureWatcher<HexParseResult> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(parseHexFile, ui->lineEditFWFilePath_ZW->text()));
    if (!watcher.isFinished())
        loop.exec();
    if (!self)
        return false; // the window went while it waited
    holdWheelControls(HoldParse, false);
    if (!watcher.isFinished())
        return false; // the application is quitting: its event loops were told to end

    const HexParseResult result = watcher.result();
    hexRecords = result.records;
    if (result.ok()) {
        fwStartAddress = result.startAddress;
        fwData = result.image;
        fwSize = uint32_t(fwData.size());
    }
    appendLog(hexParseLogText(result));
    return result.ok();
}

void MainWindow::on_pushButtonSelectFW_ZW_clicked()
{
    QString folder = fwFileDir;
    const QString current = ui->lineEditFWFilePath_ZW->text();
    if (!current.isEmpty()) {
        folder = QFileInfo(current).absolutePath();
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
    }
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Select Firmware File"), folder, tr("FW (*.hex)"));
    if (file.isEmpty())
        return;
    ui->lineEditFWFilePath_ZW->setText(file);
    ui->lineEditFWFilePath_ZW->setToolTip(file);
}

bool MainWindow::checkZWFirmwareVersion()
{
    const QString name = QFileInfo(ui->lineEditFWFilePath_ZW->text()).fileName();
    const QString version = wheelFirmwareFileVersion(name);
    appendLog(QStringLiteral("fwName:") + name);
    appendLog(QStringLiteral("fwName version:") + version);

    const bool compatible = isWheelFirmwareCompatible(version, wheelFirmwareVersion);
    if (!compatible) {
        appendLog(tr("wheel firmware version NOT compatibilty!"));
        QMessageBox::warning(
            this, tr("Version Compatibility"),
            tr("The firmware version is incompatible!\nPlease select the v%1.x version firmware")
                .arg(wheelFirmwareVersion.left(1)),
            QMessageBox::Ok);
        return false;
    }
    appendLog(tr("wheel firmware version compatibilty!"));
    return true;
}

bool MainWindow::showZWRiskWarning()
{
    return askRiskWarning(
        tr("Please don't unplug the filter wheel from the host!"),
        tr("During writing, make sure the connection between filter wheel and host is stable."),
        notShowWarningZW);
}

int MainWindow::scanZWBootloader()
{
    // The wheel's bootloader is one that was not there before it was sent: another wheel waiting in
    // its bootloader must never be given this image.
    const int count = DevizuvEZWriteFWObject::GetZWBootloadCount();
    QList<int> arrived;
    for (int i = 0; i < count; ++i)
        if (!bootloadersBefore.contains(DevizuvEZWriteFWObject::GetZWBootloadPath(i)))
            arrived << i;
    if (arrived.isEmpty()) {
        appendLog(tr("ERROR: Scan ZW bootloader failed!"));
        return 0;
    }
    if (arrived.size() > 1) {
        appendLog(tr("ERROR: %1 wheel bootloaders appeared, the selected wheel's cannot be told apart: "
                     "please unplug the others!")
                      .arg(arrived.size()));
        return 0;
    }
    if (zwWriter) {
        zwWriter->Close();
        delete zwWriter;
        zwWriter = nullptr;
    }
    zwWriter = new DevizuvEZWriteFWObject(arrived.first());
    if (!zwWriter->Open()) {
        const QString hint = bootloaderPermissionHint(QString::fromLocal8Bit(zwWriter->GetBootloadPath()));
        if (!hint.isEmpty())
            appendLog(hint);
        appendLog(tr("ERROR: Open ZW bootloader failed!"));
        return -1;
    }
    if (!zwWriter->SetFirmwareData(fwStartAddress, reinterpret_cast<const uint8_t*>(fwData.constData()),
                                   fwSize)) {
        appendLog(tr("ERROR: Set data to ZW bootloader failed!"));
        return -2;
    }
    appendLog(QStringLiteral("ZW Bootload Name: ") + QString::fromLocal8Bit(zwWriter->GetBootloadName()));
    appendLog(QStringLiteral("ZW Bootload Ver:: ") + QString::fromLocal8Bit(zwWriter->GetBootloadVersion()));
    appendLog(QStringLiteral("ZW Bootload Path:: ") + QString::fromLocal8Bit(zwWriter->GetBootloadPath()));
    appendLog(tr("Scan ZW bootloader OK!"));
    return 1;
}

void MainWindow::showFirmwareFileError()
{
    QMessageBox::critical(this, tr("The Firmware File Error"),
                          tr("Wrong firmware file(*.hex), can not write to wheel."), QMessageBox::Ok);
}

bool MainWindow::confirmWheelTarget(const WheelTarget& target)
{
    if (refuseWriteWhileClosing())
        return false;
    // Scans during the wait rebuild the list and reopen the selected wheel; the version is read again
    // for a wheel that left without a scan yet.
    const WheelInfo* wheel = currentWheel();
    bool same = wheel && fieldText(wheel->SN, sizeof wheel->SN) == target.serial;
    same = same && wheelFirmwareVersion == target.firmwareVersion;
    if (same) {
        char version[32] = {};
        same = QVRGetZWFirmwareVer(wheel->ID, version, sizeof version) == 0 &&
               fieldText(version, sizeof version) == target.firmwareVersion;
    }
    if (same)
        return true;
    appendLog(tr("ERROR: the selected wheel changed or left before the update began, nothing was sent to a "
                 "wheel!"));
    QMessageBox::warning(this, tr("Wheel Changed"),
                         tr("The selected wheel changed or was unplugged before the update began.\n"
                            "Nothing was written. Please check the wheel and try again."),
                         QMessageBox::Ok);
    return false;
}

void MainWindow::recoverFromBootloaderScan()
{
    setWheelWidgetEnabled(ui->comboBoxZWList, true);
    ui->pushButtonRefreshZW->setEnabled(true);
    ui->progressBarWriting_ZW->setRange(0, 100);
    writeEnded(CloseGuard::Wheel);
}

void MainWindow::on_pushButtonWriteFW_ZW_clicked()
{
    if (wheelHolds & HoldParse)
        return; // already pressed: its file is being parsed
    if (refuseDuringMotorPower() || refuseWriteWhileClosing())
        return;
    if (ui->comboBoxZWList->count() == 0) {
        appendLog(tr("ERROR: no wheels!"));
        return;
    }
    const QString path = ui->lineEditFWFilePath_ZW->text();
    if (path.isEmpty()) {
        appendLog(tr("ERROR: please select firmware file(*.hex)!"));
        return;
    }
    if (!QFileInfo::exists(path)) {
        appendLog(tr("ERROR: the firmware file(*.hex) is not exist!"));
        return;
    }
    const WheelInfo* checked = currentWheel();
    const WheelTarget target{checked ? fieldText(checked->SN, sizeof checked->SN) : QString(),
                             wheelFirmwareVersion};
    if (!checkZWFirmwareVersion())
        return;

    appendLog(tr("Reading and parsing the firmware file, please wait...."));
    const bool wasVisible = isVisible();
    if (!parseZWFirmwareFile())
        return;
    if (wasVisible && !isVisible())
        return; // the window was closed while the file was parsed
    if (!confirmWheelTarget(target))
        return;
    // The writer's own rules, applied while the wheel still runs its firmware: an image it would
    // refuse, or one whose bytes would land elsewhere than the file says, must not send the wheel to
    // its bootloader.
    QString problem = wheelImageProblem(fwStartAddress, fwSize);
    if (problem.isEmpty())
        problem = wheelRecordSequenceProblem(hexRecords, fwStartAddress);
    if (!problem.isEmpty()) {
        appendLog(problem);
        showFirmwareFileError();
        return;
    }
    if (!notShowWarningZW && (!showZWRiskWarning() || !confirmWheelTarget(target)))
        return;

    const WheelInfo* wheel = currentWheel();
    if (!wheel) {
        appendLog(tr("ERROR: no wheels!"));
        return;
    }
    bootloadersBefore.clear();
    const int bootloaders = DevizuvEZWriteFWObject::GetZWBootloadCount();
    for (int i = 0; i < bootloaders; ++i)
        bootloadersBefore << DevizuvEZWriteFWObject::GetZWBootloadPath(i);
    ui->labelMsg_ZW->setText(tr("Start to back to bootloader"));
    const int status = QVRBacktoBootload(wheel->ID);
    if (status != 0) {
        ui->labelMsg_ZW->setText(tr("Failed to back to boolloader!"));
        appendLog(tr("Failed to back to boolloader, Code: ") + libraryErrorText(status));
        return;
    }
    // From here on the wheel sits in its bootloader: the update must reach its end before a close.
    closeGuard.beginWrite(CloseGuard::Wheel);
    appendLog(tr("Back to boolloader OK!"));
    ui->labelMsg_ZW->setText(tr("Back to boolloader OK!"));

    // Busy state: the old entry stays as the only item until the list is refreshed. Its record
    // becomes entry 0, so that entry and item still belong together, and no poll goes on: the
    // timers follow the wheel of the list's current item, and they start again with the next scan.
    runningTimer->stop();
    selfTestTimer->stop();
    wheelList.move(ui->comboBoxZWList->currentIndex(), 0);
    const QSignalBlocker gotoBlocker(ui->comboBoxGotoPosition);
    const QSignalBlocker listBlocker(ui->comboBoxZWList);
    ui->comboBoxGotoPosition->clear();
    const QString shownWheel = ui->comboBoxZWList->currentText();
    ui->comboBoxZWList->clear();
    ui->comboBoxZWList->addItem(shownWheel);
    ui->labelPositionCount->clear();
    ui->labelShowZW_FWVer->clear();
    ui->labelShowZW_SN->clear();

    setWheelWidgetEnabled(ui->comboBoxZWList, false);
    ui->pushButtonRefreshZW->setEnabled(false);
    setWheelWidgetEnabled(ui->comboBoxGotoPosition, false);
    setWheelWidgetEnabled(ui->pushButtonResetZW, false);
    setWheelWidgetEnabled(ui->checkBoxOneWay, false);
    setWheelWidgetEnabled(ui->pushButtonWriteFW_ZW, false);
    ui->progressBarWriting_ZW->setRange(0, 0);
    ui->labelMsg_ZW->setText(tr("Start to scan bootloader"));

    const int attempts = 6;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        appendLog(tr("Please wait, bootloader is being scanned..."));
        ui->statusbar->showMessage(tr("Please wait, bootloader is being scanned..."), 4000);
        QEventLoop loop;
        QTimer::singleShot(bootloaderScanDelayMs, &loop, &QEventLoop::quit);
        loop.exec();

        const int found = scanZWBootloader();
        if (found == 1) {
            ui->progressBarWriting_ZW->setRange(0, 100);
            int erase = 0, write = 0, run = 0;
            zwWriter->GetCommandCounts(erase, write, run);
            totalCommandCount = erase + write + run;
            wheelTask = QtConcurrent::run(this, &MainWindow::writeZWFirmwareItems);
            return;
        }
        if (found == -2) {
            showFirmwareFileError();
            recoverFromBootloaderScan();
            return;
        }
        const QMessageBox::StandardButton again =
            QMessageBox::question(this, tr("Try Again?"),
                                  tr("The system may be recognizing the bootloader of the wheel.\nDo you "
                                     "want to try again?\n(If it still "
                                     "doesn't work after several attempts, please re-plug the wheel.)"),
                                  QMessageBox::Yes | QMessageBox::No);
        if (again != QMessageBox::Yes)
            break;
        if (attempt == attempts) {
            QMessageBox::information(this, tr("Re-plug Wheel"),
                                     tr("Can not find the bootloader,\nPlease re-plug the wheel to host!"),
                                     QMessageBox::Ok);
        }
    }
    recoverFromBootloaderScan();
}

void MainWindow::writeZWFirmwareItems()
{
    DevizuvEZWriteFWObject* writer = zwWriter;
    emit toTellWriteZWItems(ItemStart, ResultStart);
    const struct
    {
        WriteFWItems item;
        bool (DevizuvEZWriteFWObject::*step)();
    } steps[] = {{ItemErase, &DevizuvEZWriteFWObject::EraseFlash},
                 {ItemWrite, &DevizuvEZWriteFWObject::WriteFlash},
                 {ItemRun, &DevizuvEZWriteFWObject::RunProgram}};
    for (const auto& s : steps) {
        emit toTellWriteZWItems(s.item, ResultStart);
        bool ok = false;
        try {
            ok = (writer->*s.step)();
        } catch (...) {
            // Reported as a failed step rather than leaving the tab busy for ever.
            ok = false;
        }
        if (!ok) {
            emit toTellWriteZWItems(s.item, ResultFailed);
            emit toTellWriteZWItems(ItemFinish, WriteFWItemsResult(0));
            return;
        }
        emit toTellWriteZWItems(s.item, ResultOK);
    }
    emit toTellWriteZWItems(ItemFinish, WriteFWItemsResult(1));
}

void MainWindow::processWriteZWItemsResults(WriteFWItems item, WriteFWItemsResult ret)
{
    QString text;
    switch (item) {
    case ItemStart:
        appendLog(tr("Start to Write FW to wheel"));
        ui->progressBarWriting_ZW->setValue(0);
        setBusyState(ui->labelMsg_ZW, "writing");
        ui->labelMsg_ZW->setText(tr("Start to Write FW..."));
        writePercentTimer->start();
        return;
    case ItemErase:
    case ItemWrite:
    case ItemRun: {
        const char* step = item == ItemErase   ? "Erase Flash"
                           : item == ItemWrite ? "Write Flash"
                                               : "Run Program";
        const char* ending = ret == ResultStart ? " to Start!" : ret == ResultOK ? " OK!" : " Failed!!";
        text = QLatin1String(step) + QLatin1String(ending);
        appendLog(text);
        ui->labelMsg_ZW->setText(text);
        return;
    }
    case ItemFinish:
        break;
    }

    if (writePercentTimer->isActive())
        writePercentTimer->stop();
    const bool success = ret == 1;
    if (success) {
        text = tr("Write FW Successful!");
        setBusyState(ui->labelMsg_ZW, "ok");
        ui->progressBarWriting_ZW->setValue(100);
    } else {
        text = tr("Write FW Failed!");
        setBusyState(ui->labelMsg_ZW, "failed");
    }
    appendLog(text);
    ui->labelMsg_ZW->setText(text);
    if (success)
        QMessageBox::information(
            this, tr("Write Successfully"),
            tr("Please re-plug the wheel to host!\n(If moving, wait for it to stop moving)"),
            QMessageBox::Ok);
    else
        QMessageBox::critical(this, tr("Write Failed"), tr("Please re-plug the wheel,\nand try again!"),
                              QMessageBox::Ok);
    setWheelWidgetEnabled(ui->comboBoxZWList, true);
    ui->pushButtonRefreshZW->setEnabled(true);
    writeEnded(CloseGuard::Wheel);
}

void MainWindow::getWriteFWPercent()
{
    if (!zwWriter || totalCommandCount <= 0)
        return;
    const double percent = double(zwWriter->GetCommandCount()) / double(totalCommandCount) * 100.0;
    ui->progressBarWriting_ZW->setValue(int(percent));
}
