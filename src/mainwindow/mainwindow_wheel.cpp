// Filter wheel tab and motor diagnostics.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::scanZW() {}
void MainWindow::detectZWIsRunning() {}
void MainWindow::detectZWIsSelfTesting() {}
void MainWindow::on_pushButtonRefreshZW_clicked() {}
void MainWindow::on_comboBoxZWList_currentIndexChanged(int index)
{
    Q_UNUSED(index);
}
void MainWindow::on_comboBoxGotoPosition_currentIndexChanged(int index)
{
    Q_UNUSED(index);
}
void MainWindow::on_checkBoxOneWay_clicked(bool checked)
{
    Q_UNUSED(checked);
}
void MainWindow::on_pushButtonResetZW_clicked() {}
void MainWindow::on_pushButtonCopySN_clicked() {}
void MainWindow::on_pushButton_ReadMotorInfo_clicked() {}
void MainWindow::on_pushButton_SetMaxPower_clicked() {}
void MainWindow::on_pushButton_WhatThis_clicked() {}
