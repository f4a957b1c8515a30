// Background tasks and device-change handling.
#include "mainwindow.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

void MainWindow::scanDevices()
{
    scanCamera();
    scanZW();
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
#ifdef Q_OS_WIN
    if (eventType == "windows_generic_MSG") {
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_DEVICECHANGE)
            emit toTellScanDevice();
    }
#endif
    return QMainWindow::nativeEvent(eventType, message, result);
}
