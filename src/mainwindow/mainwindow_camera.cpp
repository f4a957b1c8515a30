// Camera tab.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "qvrusb.h"

void MainWindow::scanCamera() {}
void MainWindow::refreshProgress() {}
void MainWindow::writeFinished(bool bIsSuccess, WriteItems writeItem)
{
    Q_UNUSED(bIsSuccess);
    Q_UNUSED(writeItem);
}
void MainWindow::on_pushButtonRefresh_clicked() {}
void MainWindow::on_pushButtonSelectFW_clicked() {}
void MainWindow::on_pushButtonSelectFPGA_clicked() {}
void MainWindow::on_pushButtonWriteFW_clicked() {}
void MainWindow::on_pushButtonWriteFPGA_clicked() {}
void MainWindow::on_comboBoxCameras_activated(int index)
{
    Q_UNUSED(index);
}
void MainWindow::on_btnCopySN_clicked() {}
void MainWindow::on_pushButtonResetFX_clicked() {}
