// Wheel firmware update.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::processWriteZWItemsResults(WriteFWItems item, WriteFWItemsResult ret)
{
    Q_UNUSED(item);
    Q_UNUSED(ret);
}
void MainWindow::getWriteFWPercent() {}
void MainWindow::on_pushButtonSelectFW_ZW_clicked() {}
void MainWindow::on_pushButtonWriteFW_ZW_clicked() {}

void MainWindow::releaseFirmwareImage()
{
    delete[] fwData;
    fwData = nullptr;
    fwStartAddress = 0;
    fwSize = 0;
}
