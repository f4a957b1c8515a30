// Camera tab: list and open cameras, show their facts, write firmware images and FPGA bitstreams.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "flashlayout.h"
#include "fpgafilekind.h"
#include "fx3bootimage.h"
#include "permissionhint.h"
#include "qvrusb.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtConcurrent>

void MainWindow::listCameras()
{
    appendLog(tr("Get Connnected Camera..."));
    cameraCount = QVRUsb::enumerateCameras();

    const CameraList& list = QVRUsb::cameraList();
    const int remembered = ui->comboBoxCameras->currentIndex();
    ui->comboBoxCameras->clear();
    for (const QByteArray& name : list.names)
        ui->comboBoxCameras->addItem(QString::fromLocal8Bit(name));

    if (remembered >= 0 && !currentCameraPath.isEmpty()) {
        const int match = list.paths.indexOf(currentCameraPath.toLocal8Bit());
        if (match >= 0)
            ui->comboBoxCameras->setCurrentIndex(match);
    } else {
        ui->comboBoxCameras->setCurrentIndex(0);
    }
    // A camera this user may not open is not listed at all: say why, once per cause, before the
    // count, which stays the scan's last line.
    const QString hint = cameraScanPermissionHint();
    if (!hint.isEmpty() && hint != lastCameraScanHint)
        appendLog(hint);
    lastCameraScanHint = hint;
    // A chip in its USB boot loader is no camera: it is not listed, only pointed out.
    const BootLoaderList& loaders = QVRUsb::bootLoaderList();
    if (loaders.size() > 0) {
        QStringList paths;
        for (const QByteArray& path : loaders.paths)
            paths << QString::fromLocal8Bit(path);
        appendLog(tr("A camera without firmware is connected (FX3 USB boot loader at %1): choose \"Recover "
                     "Camera...\" in the menu to write its firmware again.")
                      .arg(paths.join(QStringLiteral(", "))));
    }
    appendLog(tr("Detect %1 Camera(s)...").arg(cameraCount));
}

void MainWindow::openSelectedCamera()
{
    if (ui->comboBoxCameras->count() == 0)
        return;
    const int i = ui->comboBoxCameras->currentIndex();
    if (i >= cameraCount) {
        appendLog(tr("ERROR: Open Camera Failed!!!, Please Refresh Camera!"));
        return;
    }
    fwVersionText.clear();
    fpgaVersionText.clear();
    connectionText.clear();
    snText.clear();

    const CameraList& list = QVRUsb::cameraList();
    const QString path = QString::fromLocal8Bit(list.paths.value(i));
    if (path != currentCameraPath && camera->isOpen()) {
        appendLog(tr("Close QVR Camera(%1):!").arg(currentCameraPath));
        camera->close();
    } else if (camera->isOpen() && camera->isGone()) {
        // Same port, but the camera left the bus since it was opened (cable drop, reset): its handle
        // is dead, so open the camera that is there now.
        camera->close();
    }
    if (!camera->isOpen()) {
        if (!camera->open(list.indices.value(i))) {
            const QString hint = cameraPermissionHint(path);
            if (!hint.isEmpty())
                appendLog(hint);
            appendLog(tr("ERROR: Open %1 failed!").arg(ui->comboBoxCameras->currentText()));
            return;
        }
        currentCameraPath = path;
        appendLog(
            tr("Open QVR Camera(%1), Path: %2!").arg(ui->comboBoxCameras->currentText(), currentCameraPath));
    }

    uint8_t fwVersion = 0;
    camera->readFirmwareVersion(fwVersion);
    fwVersionText = firmwareVersionText(fwVersion);
    uint8_t a = 0, c = 0;
    int b = 0;
    camera->readFpgaVersion(a, b, c);
    fpgaVersionText = ::fpgaVersionText(a, b, c);
    connectionText = ::connectionText(camera->isUsb3());
    uint8_t serial[64] = {};
    camera->readSerialNumber(serial);
    snText = serialNumberText(serial);

    ui->labelShowFWVersion->setText(fwVersionText);
    ui->labelShowFPGAVersion->setText(fpgaVersionText);
    ui->labelHost->setText(connectionText);
    ui->labelShowSN->setText(snText);

    setBusyState(ui->labelMsg, "normal");
    ui->labelMsg->setText(tr("Waiting..."));
    writeProgress = 0;
    ui->progressBarWriting->setValue(0);
    ui->pushButtonWriteFW->setEnabled(true);
    ui->pushButtonWriteFPGA->setEnabled(true);
    ui->pushButtonResetFX->setEnabled(true);
}

void MainWindow::scanCamera()
{
    if (!ui->pushButtonRefresh->isEnabled())
        return;
    listCameras();
    if (cameraCount == 0) {
        if (camera->isOpen())
            camera->close();
        currentCameraPath.clear();
        ui->labelMsg->clear();
        ui->labelShowFWVersion->setText(QStringLiteral("V0.0"));
        ui->labelShowFPGAVersion->setText(QStringLiteral("V0.0.0.0"));
        ui->labelShowSN->clear();
        ui->labelHost->clear();
        ui->pushButtonWriteFW->setEnabled(false);
        ui->pushButtonWriteFPGA->setEnabled(false);
        ui->pushButtonResetFX->setEnabled(false);
        writeProgress = 0;
        ui->progressBarWriting->setValue(0);
    }
    openSelectedCamera();
}

void MainWindow::on_pushButtonRefresh_clicked()
{
    ui->textEditLog->clear();
    scanCamera();
}

void MainWindow::on_comboBoxCameras_activated(int index)
{
    Q_UNUSED(index);
    openSelectedCamera();
}

void MainWindow::on_pushButtonResetFX_clicked()
{
    if (camera->isOpen())
        appendLog(camera->resetFX3() ? tr("Reset FX3 OK") : tr("Reset FX3 failed!"));
    else
        appendLog(tr("Camera was not opened"));
}

void MainWindow::on_btnCopySN_clicked()
{
    QGuiApplication::clipboard()->setText(ui->labelShowSN->text());
    ui->statusbar->showMessage(tr("SN of camera be copied to clipboard!"), 2000);
}

namespace {
// Folder of the path in edit, or fallback when the edit is empty.
QString startFolder(const QLineEdit* edit, const QString& fallback)
{
    if (edit->text().isEmpty())
        return fallback;
    QString folder = QFileInfo(edit->text()).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void showWriteFailedBox(QWidget* parent)
{
    QMessageBox::critical(parent, MainWindow::tr("Write Failed"),
                          MainWindow::tr("Please re-plug the camera,\nand try again!"), QMessageBox::Ok);
}

// The log line that refuses a file for the FPGA area as plainly another kind; empty when it is not
// (also when it cannot be read: the write then reports that).
QString fpgaFileRefusal(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    switch (fpgaFileKind(file.read(FlashLayout::FpgaLimit))) {
    case FpgaFileKind::BootImage:
        return MainWindow::tr("ERROR: the FPGA file(*.bit) is an FX3 firmware image, not an FPGA bitstream!");
    case FpgaFileKind::IntelHex:
        return MainWindow::tr("ERROR: the FPGA file(*.bit) is an Intel HEX file, not an FPGA bitstream!");
    case FpgaFileKind::Other:
        break;
    }
    return QString();
}

void choosePath(QWidget* parent, QLineEdit* edit, const QString& fallback, const QString& title,
                const QString& filter)
{
    const QString file = QFileDialog::getOpenFileName(parent, title, startFolder(edit, fallback), filter);
    if (file.isEmpty())
        return;
    edit->setText(file);
    edit->setToolTip(file);
}
} // namespace

void MainWindow::on_pushButtonSelectFW_clicked()
{
    choosePath(this, ui->lineEditFWFilePath, fwFileDir, tr("Select Firmware File"), tr("FW (*.img)"));
}

void MainWindow::on_pushButtonSelectFPGA_clicked()
{
    choosePath(this, ui->lineEditFPGAFilePath, fpgaFileDir, tr("Select FPGA File"), tr("FPGA (*.bit)"));
}

bool MainWindow::showCameraRiskWarning()
{
    return askRiskWarning(tr("Please don't unplug the camera from the host!"),
                          tr("During writing, make sure the connection between camera and host is stable."),
                          notShowWarning);
}

void MainWindow::enterCameraBusy(const QString& message)
{
    ui->pushButtonRefresh->setEnabled(false);
    ui->pushButtonWriteFW->setEnabled(false);
    ui->pushButtonWriteFPGA->setEnabled(false);
    ui->pushButtonResetFX->setEnabled(false);
    ui->comboBoxCameras->setEnabled(false);
    actionRecoverCamera->setEnabled(false);
    setBusyState(ui->labelMsg, "writing");
    ui->labelMsg->setText(message);
    writeProgress = 0;
    ui->progressBarWriting->setValue(0);
    progressTimer->start();
    closeGuard.beginWrite(CloseGuard::Camera);
}

void MainWindow::leaveCameraBusy()
{
    writeProgress = 0;
    ui->pushButtonWriteFW->setEnabled(true);
    ui->pushButtonWriteFPGA->setEnabled(true);
    ui->pushButtonResetFX->setEnabled(true);
    ui->pushButtonRefresh->setEnabled(true);
    ui->comboBoxCameras->setEnabled(true);
    actionRecoverCamera->setEnabled(true);
}

bool MainWindow::loadCheckedFirmware(const QString& path, QByteArray& image)
{
    // A file the chip cannot start would leave the camera without firmware: refused before
    // anything is asked or sent.
    const Fx3BootImage check = Fx3BootImage::checkFile(path, image);
    if (check.isValid())
        return true;
    image.clear();
    appendLog(tr("ERROR: the FW file(*.img) is not a valid firmware image: %1!").arg(check.problemText()));
    QMessageBox::critical(this, tr("Invalid Firmware File"),
                          tr("The file is not a firmware image that the camera can start:\n%1.\nNothing "
                             "was written.")
                              .arg(check.problemText()),
                          QMessageBox::Ok);
    return false;
}

void MainWindow::startCameraWrite(WriteItems item)
{
    enterCameraBusy(item == WriteItemFW ? tr("Writing FW...") : tr("Writing FPGA..."));

    if (item == WriteItemFW) {
        cameraWritePath = ui->lineEditFWFilePath->text();
        cameraTask = QtConcurrent::run(this, &MainWindow::writeCameraFW);
    } else {
        cameraWritePath = ui->lineEditFPGAFilePath->text();
        cameraTask = QtConcurrent::run(this, &MainWindow::writeCameraFPGA);
    }
}

MainWindow::CameraTarget MainWindow::selectedCamera() const
{
    CameraTarget target;
    target.open = camera->isOpen();
    if (target.open) {
        target.path = currentCameraPath;
        target.serial = snText;
    }
    return target;
}

bool MainWindow::confirmCameraTarget(const CameraTarget& target)
{
    if (refuseWriteWhileClosing())
        return false;
    bool same = false;
    if (!target.open) {
        // Nothing was open at the click, so the write fails at its first request; a camera opened
        // since then was never confirmed.
        same = !camera->isOpen();
    } else {
        // The scans that ran meanwhile may have opened another camera, or the selection moved; the
        // serial number is read again for a camera that left without a scan yet.
        const QString selectedPath =
            QString::fromLocal8Bit(QVRUsb::cameraList().paths.value(ui->comboBoxCameras->currentIndex()));
        same = camera->isOpen() && !camera->isGone() && currentCameraPath == target.path &&
               selectedPath == target.path;
        if (same) {
            uint8_t serial[64] = {};
            same = camera->readSerialNumber(serial) && serialNumberText(serial) == target.serial;
        }
    }
    if (same)
        return true;
    appendLog(tr("ERROR: the selected camera changed or left before the write began, nothing was written!"));
    QMessageBox::warning(this, tr("Camera Changed"),
                         tr("The selected camera changed or was unplugged before the write began.\n"
                            "Nothing was written. Please check the camera and try again."),
                         QMessageBox::Ok);
    return false;
}

void MainWindow::on_pushButtonWriteFW_clicked()
{
    if (refuseWriteWhileClosing())
        return;
    if (ui->comboBoxCameras->count() == 0) {
        appendLog(tr("ERROR: No Cameras!"));
        return;
    }
    const QString path = ui->lineEditFWFilePath->text();
    if (path.isEmpty()) {
        appendLog(tr("ERROR: Please Select FW File(*.img)!"));
        return;
    }
    if (!QFileInfo::exists(path)) {
        appendLog(tr("ERROR: the FW file(*.img) is not exist!"));
        return;
    }
    const CameraTarget target = selectedCamera();
    QByteArray image;
    if (!loadCheckedFirmware(path, image))
        return;
    if (!notShowWarning && (!showCameraRiskWarning() || !confirmCameraTarget(target)))
        return;
    cameraWriteImage = image;
    startCameraWrite(WriteItemFW);
}

void MainWindow::on_pushButtonWriteFPGA_clicked()
{
    if (refuseWriteWhileClosing())
        return;
    if (ui->comboBoxCameras->count() == 0) {
        appendLog(tr("ERROR: No Cameras!"));
        return;
    }
    const QString path = ui->lineEditFPGAFilePath->text();
    if (path.isEmpty()) {
        appendLog(tr("ERROR: Please Select FPGA File(*.bit)!"));
        return;
    }
    if (!QFileInfo::exists(path)) {
        appendLog(tr("ERROR: the FPGA file(*.bit) is not exist!"));
        return;
    }
    const QString refusal = fpgaFileRefusal(path);
    if (!refusal.isEmpty()) {
        appendLog(refusal);
        showWriteFailedBox(this);
        return;
    }
    const CameraTarget target = selectedCamera();
    QMessageBox question(
        QMessageBox::Information, tr("Update FPGA"),
        tr("Strongly recommended NOT to upgrade the FPGA,\nunless you understand the purpose of "
           "doing so.\nContinue?"),
        QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(static_cast<QPushButton*>(nullptr));
    if (question.exec() == QMessageBox::No)
        return;
    if (!confirmCameraTarget(target))
        return;
    if (!notShowWarning && (!showCameraRiskWarning() || !confirmCameraTarget(target)))
        return;
    startCameraWrite(WriteItemFPGA);
}

void MainWindow::runCameraWrite(WriteItems item)
{
    const bool fw = item == WriteItemFW;
    const QByteArray path = cameraWritePath.toLocal8Bit();
    postLog(fw ? tr("Writing FW...") : tr("Writing FPGA..."));
    int result = QVRUsb::WriteFileError;
    try {
        // The firmware image is written as it was checked, not read again.
        result = fw ? camera->writeFirmwareImage(cameraWriteImage, &writeProgress)
                    : camera->writeFpga(path.constData(), &writeProgress);
    } catch (...) {
        // Reported as a failed write rather than leaving the tab busy for ever.
        result = -1;
    }
    if (result == QVRUsb::WriteInUse) {
        // Refused before the flash was touched: say who has the camera, when the system tells.
        const QStringList users = camera->cameraUsers();
        postLog(
            users.isEmpty()
                ? tr("ERROR: the camera is in use by another program: close it and try again")
                : tr("ERROR: the camera is in use by another program: close it and try again (open in: %1)")
                      .arg(users.join(QLatin1String("; "))));
    }
    if (result == QVRUsb::WriteOk)
        postLog(fw ? tr("Writing FW Successful!") : tr("Writing FPGA Successful!"));
    else
        postLog(fw ? tr("ERROR: Writing FW Failed!") : tr("ERROR: Writing FPGA Failed!"));
    postLog(tr("Please unplug the camera and re-connnect to host!"));
    emit toTellWriteFinished(result == QVRUsb::WriteOk, item);
}

void MainWindow::writeCameraFW()
{
    runCameraWrite(WriteItemFW);
}

void MainWindow::writeCameraFPGA()
{
    runCameraWrite(WriteItemFPGA);
}

void MainWindow::refreshProgress()
{
    ui->progressBarWriting->setValue(writeProgress);
}

void MainWindow::writeFinished(bool bIsSuccess, WriteItems writeItem)
{
    const bool fw = writeItem == WriteItemFW;
    ui->progressBarWriting->setRange(0, 100);
    ui->progressBarWriting->setValue(writeProgress);
    if (progressTimer->isActive())
        progressTimer->stop();
    if (bIsSuccess) {
        if (writeProgress < 100)
            ui->progressBarWriting->setValue(100);
        setBusyState(ui->labelMsg, "ok");
        ui->labelMsg->setText(fw ? tr("Write FW Successful!") : tr("Write FPGA Successful!"));
    } else {
        ui->progressBarWriting->setValue(0);
        setBusyState(ui->labelMsg, "failed");
        ui->labelMsg->setText(fw ? tr("Write FW Failed!") : tr("Write FPGA Failed!"));
    }
    leaveCameraBusy();
    cameraWriteImage.clear();
    endRecovery();

    if (bIsSuccess)
        QMessageBox::information(this, tr("Write Successfully"),
                                 tr("Please unplug the camera,\nand re-plug to host!"), QMessageBox::Ok);
    else
        showWriteFailedBox(this);
    writeEnded(CloseGuard::Camera);
}
