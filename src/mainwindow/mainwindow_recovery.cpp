// Recover Camera...: a camera whose chip came up in its USB boot loader gets its firmware back: the
// image goes into the chip's RAM, is started, and the camera it brings up then takes the image into
// its flash with the normal firmware write.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "camerarecovery.h"
#include "qvrusb.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QtConcurrent>

void MainWindow::recoverCamera()
{
    if (refuseWriteWhileClosing())
        return;
    if (!ui->pushButtonRefresh->isEnabled())
        return; // a camera write runs
    CameraList cameras;
    BootLoaderList loaders;
    QVRUsb::findDevices(cameras, &loaders);
    if (loaders.size() == 0) {
        appendLog(tr("ERROR: No camera in its FX3 USB boot loader (04B4:00F3) is connected!"));
        return;
    }
    const QByteArray path = loaders.paths.first();

    QString folder = fwFileDir;
    if (!ui->lineEditFWFilePath->text().isEmpty())
        folder = QFileInfo(ui->lineEditFWFilePath->text()).absolutePath();
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Select Firmware File"), folder, tr("FW (*.img)"));
    if (file.isEmpty())
        return;
    QByteArray image;
    if (!loadCheckedFirmware(file, image))
        return;
    if (!notShowWarning && !showCameraRiskWarning())
        return;

    // Scans, plugs and a close went on while the dialogs were open: the chip that was found must
    // still be there, and nothing may start once a close is pending.
    if (refuseWriteWhileClosing())
        return;
    QVRUsb::findDevices(cameras, &loaders);
    const int at = loaders.paths.indexOf(path);
    if (at < 0) {
        appendLog(
            tr("ERROR: the selected camera changed or left before the write began, nothing was written!"));
        QMessageBox::warning(this, tr("Camera Changed"),
                             tr("The selected camera changed or was unplugged before the write began.\n"
                                "Nothing was written. Please check the camera and try again."),
                             QMessageBox::Ok);
        return;
    }
    const int index = loaders.indices.at(at);
    appendLog(tr("Recovering the camera in the boot loader at %1 with %2...")
                  .arg(QString::fromLocal8Bit(path), QDir::toNativeSeparators(file)));
    enterCameraBusy(tr("Loading FW into RAM..."));
    recoveryRunning = true;
    cameraTask = QtConcurrent::run([this, image, index, path] { runRecovery(image, index, path); });
}

void MainWindow::runRecovery(QByteArray image, int driverIndex, QByteArray path)
{
    CameraRecovery recovery(image, driverIndex, path);
    recovery.stepStarted = [this, &recovery](CameraRecovery::Step step) {
        if (step != CameraRecovery::OpenBootLoader)
            postLog(recovery.stepText(step));
        if (step == CameraRecovery::WriteFlash)
            postLog(tr("Writing FW..."));
        if (step == CameraRecovery::WaitForCamera || step == CameraRecovery::WriteFlash) {
            const QString label =
                step == CameraRecovery::WriteFlash ? tr("Writing FW...") : tr("Waiting for the camera...");
            QMetaObject::invokeMethod(
                this, [this, label] { ui->labelMsg->setText(label); }, Qt::QueuedConnection);
        }
    };
    // Its own connection: the window's camera stays as it is. Like after a normal write, the camera
    // list is read again once the user has re-plugged the camera.
    QVRUsb recovered;
    bool ok = false;
    try {
        ok = recovery.run(recovered, &writeProgress, nullptr);
    } catch (...) {
        ok = false;
    }
    if (recovery.writeResult() == QVRUsb::WriteInUse) {
        const QStringList users = recovered.cameraUsers();
        postLog(
            users.isEmpty()
                ? tr("ERROR: the camera is in use by another program: close it and try again")
                : tr("ERROR: the camera is in use by another program: close it and try again (open in: %1)")
                      .arg(users.join(QLatin1String("; "))));
    }
    recovered.close();
    if (recovery.failedStep() == CameraRecovery::WriteFlash || ok) {
        postLog(ok ? tr("Writing FW Successful!") : tr("ERROR: Writing FW Failed!"));
        postLog(tr("Please unplug the camera and re-connnect to host!"));
        emit toTellWriteFinished(ok, WriteItemFW);
        return;
    }
    postLog(recovery.failureText());
    postLog(recovery.stillInBootLoader()
                ? tr("The camera is still in its boot loader: Recover Camera... can try again.")
                : tr("Please re-plug the camera: without firmware in its flash it comes back in its boot "
                     "loader."));
    emit toTellRecoveryFailed(recovery.stillInBootLoader());
}

void MainWindow::recoveryFailed(bool stillInBootLoader)
{
    if (progressTimer->isActive())
        progressTimer->stop();
    ui->progressBarWriting->setValue(0);
    setBusyState(ui->labelMsg, "failed");
    ui->labelMsg->setText(tr("Recover Camera Failed!"));
    leaveCameraBusy();
    endRecovery();
    QMessageBox::critical(this, tr("Recovery Failed"),
                          stillInBootLoader ? tr("The camera is still in its boot loader.\nCheck the "
                                                 "connection and try again.")
                                            : tr("Please re-plug the camera,\nand try again!"),
                          QMessageBox::Ok);
    writeEnded(CloseGuard::Camera);
}

void MainWindow::endRecovery()
{
    if (!recoveryRunning)
        return;
    recoveryRunning = false;
    if (ui->comboBoxCameras->count() == 0) {
        ui->pushButtonWriteFW->setEnabled(false);
        ui->pushButtonWriteFPGA->setEnabled(false);
        ui->pushButtonResetFX->setEnabled(false);
    }
}
