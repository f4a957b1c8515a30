// The main window: owns the camera connection, the wheel list, the wheel firmware writer, the
// dialogs, the menu and the timers, and runs every slot of the program on the GUI thread.
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "closeguard.h"
#include "devizuvez.h"
#include "hexparser.h"

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <atomic>
#include <cstdint>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;
class AboutDialog;
class NeedToKnowDialog;
class QVRUsb;
class DevizuvEZWriteFWObject;
class DeviceWatcher;

namespace Ui {
class MainWindow;
}

enum WriteItems
{
    WriteItemFW = 0,
    WriteItemFPGA = 1
};
enum WriteFWItems
{
    ItemStart = 0,
    ItemErase = 1,
    ItemWrite = 2,
    ItemRun = 4,
    ItemFinish = 5
};
enum WriteFWItemsResult
{
    ResultStart = 0,
    ResultOK = 1,
    ResultFailed = 2
};

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Applies the stylesheet of theme to window and the palette it names to the application.
    void applyTheme(QWidget* window, QString theme);

    // Busy state of a message label: "normal", "writing", "ok" or "failed".
    static void setBusyState(QLabel* label, const char* state);

signals:
    void toTellWriteFinished(bool bIsSuccess, WriteItems writeItem);
    void toTellScanDevice();
    void toTellWriteZWItems(WriteFWItems item, WriteFWItemsResult ret);
    // A camera recovery stopped before its flash write (the flash write reports through
    // toTellWriteFinished).
    void toTellRecoveryFailed(bool stillInBootLoader);

private slots:
    void scanDevices();
    void scanCamera();
    void refreshProgress();
    void writeFinished(bool bIsSuccess, WriteItems writeItem);
    void changeTheme(QAction* themeAction);
    void checkUpdate();
    void scanZW();
    void detectZWIsRunning();
    void detectZWIsSelfTesting();
    void processWriteZWItemsResults(WriteFWItems item, WriteFWItemsResult ret);
    void getWriteFWPercent();
    void on_pushButtonRefresh_clicked();
    void on_pushButtonSelectFW_clicked();
    void on_pushButtonSelectFPGA_clicked();
    void on_pushButtonWriteFW_clicked();
    void on_pushButtonWriteFPGA_clicked();
    void on_comboBoxCameras_activated(int index);
    void on_btnCopySN_clicked();
    void on_pushButtonRefreshZW_clicked();
    void on_comboBoxZWList_currentIndexChanged(int index);
    void on_comboBoxGotoPosition_currentIndexChanged(int index);
    void on_checkBoxOneWay_clicked(bool checked);
    void on_pushButtonResetZW_clicked();
    void on_pushButtonCopySN_clicked();
    void on_pushButtonSelectFW_ZW_clicked();
    void on_pushButtonWriteFW_ZW_clicked();
    void on_pushButtonResetFX_clicked();
    void on_pushButton_ReadMotorInfo_clicked();
    void on_pushButton_SetMaxPower_clicked();
    void on_pushButton_WhatThis_clicked();
    void recoverCamera();
    void recoveryFailed(bool stillInBootLoader);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

private:
    friend class MainWindowTestAccess;

    void loadSettings();
    void saveSettings();
    void appendLog(const QString& text);
    // The risk warning before a write: true when the user pressed OK.
    bool askRiskWarning(const QString& text, const QString& informativeText, bool& dontShowAgain);
    // Hands a text produced on a worker thread to the log pane, in order.
    void postLog(const QString& text);

    // Camera tab
    void listCameras();
    void openSelectedCamera();
    bool showCameraRiskWarning();
    void startCameraWrite(WriteItems item);
    void runCameraWrite(WriteItems item);
    void writeCameraFW();
    void writeCameraFPGA();
    // Reads and checks a firmware image: the bytes, or a log line and a box and false.
    bool loadCheckedFirmware(const QString& path, QByteArray& image);
    // The busy state of a camera write (Refresh, the write buttons, Reset FX, the camera list and
    // Recover Camera... off), with `message` in labelMsg.
    void enterCameraBusy(const QString& message);
    void leaveCameraBusy();
    // After a recovery: the tab returns to its state without a camera when none is listed.
    void endRecovery();
    void runRecovery(QByteArray image, int driverIndex, QByteArray path);

    // What a camera write was confirmed against: the open camera's device path and serial number
    // (both empty when no camera was open).
    struct CameraTarget
    {
        bool open = false;
        QString path;
        QString serial;
    };
    CameraTarget selectedCamera() const;
    // Checked after every box, before the camera is changed: true when the selected camera is still
    // target (its serial number read again); otherwise logs, shows the box and returns false.
    bool confirmCameraTarget(const CameraTarget& target);

    // Filter wheel tab
    void openSelectedZW();
    // Shows the position the wheel reports without commanding a move.
    void syncWheelPosition();
    void setWheelControlsEnabled(bool enabled);
    WheelInfo* currentWheel() const;

    // Waits that keep wheel controls disabled meanwhile: the firmware file parse and the pauses of
    // Set Motor Power. The state a scan or a poll gives a held control is applied when the hold ends.
    enum WheelHold
    {
        HoldParse = 1,
        HoldMotorPower = 2
    };
    void holdWheelControls(WheelHold hold, bool on);
    void setWheelWidgetEnabled(QWidget* widget, bool enabled);
    int holdsCovering(const QWidget* widget) const;
    // A click that would command the wheel while its motor power is being set: logs and returns true.
    bool refuseDuringMotorPower();
    // A close is pending: logs that no new write starts and returns true.
    bool refuseWriteWhileClosing();

    // Wheel firmware update
    bool parseZWFirmwareFile();
    bool checkZWFirmwareVersion();
    bool showZWRiskWarning();
    int scanZWBootloader();
    void writeZWFirmwareItems();
    void releaseFirmwareImage();
    // The box for a firmware file whose image the bootloader writer would refuse.
    void showFirmwareFileError();
    // Leaves the busy state after an unsuccessful bootloader scan.
    void recoverFromBootloaderScan();
    // What a wheel update was confirmed against: the wheel's serial number and firmware version.
    struct WheelTarget
    {
        QString serial;
        QString firmwareVersion;
    };
    // Checked after every wait and box, before the wheel is sent to its bootloader: true when the
    // selected wheel is still target (its version read again); otherwise logs, shows the box and
    // returns false.
    bool confirmWheelTarget(const WheelTarget& target);

    // A camera write or wheel update is running (from its start until its result has been shown).
    bool writeRunning() const;
    // The write of side has shown its result: carries out a close the user asked for during it.
    void writeEnded(CloseGuard::Side side);

    Ui::MainWindow* ui;
    QVRUsb* camera = nullptr;
    DevizuvEZWriteFWObject* zwWriter = nullptr;
    QList<WheelInfo*> wheelList;
    QTimer* progressTimer = nullptr;
    QTimer* runningTimer = nullptr;
    QTimer* selfTestTimer = nullptr;
    QTimer* writePercentTimer = nullptr;
    bool notShowWarning = false;
    bool notShowWarningZW = false;
    bool notShowNeedToKnow = false;
    QString currentTheme;
    NeedToKnowDialog* needToKnowDialog = nullptr;
    AboutDialog* aboutDialog = nullptr;
    QActionGroup* themeActionGroup = nullptr;
    QMenu* aboutMenu = nullptr;
    QMenu* themeMenu = nullptr;
    QAction* actionLight = nullptr;
    QAction* actionDark = nullptr;
    QAction* actionNeedToKnow = nullptr;
    QAction* actionCheckUpdate = nullptr;
    QAction* actionAbout = nullptr;
    QAction* actionRecoverCamera = nullptr;
    QString fwFileDir;
    QString fpgaFileDir;
    DeviceWatcher* deviceWatcher = nullptr;
    CloseGuard closeGuard;

    // Camera tab
    int cameraCount = 0;
    QString currentCameraPath;
    QString fwVersionText;
    QString fpgaVersionText;
    QString connectionText;
    QString snText;
    std::atomic<uint8_t> writeProgress{0};
    QString cameraWritePath;
    QByteArray cameraWriteImage; // the firmware image a write checked, written as it was checked
    bool recoveryRunning = false;
    QString lastCameraScanHint;
    QFuture<void> cameraTask;

    // Filter wheel tab
    QString selectedWheelSN;
    QString wheelFirmwareVersion;
    // Why the wheel library is missing is logged at the first scan and after the tab's Refresh
    // (which clears the log), not on every device change.
    bool wheelLibraryProblemLogged = false;

    // Wheel firmware update
    QVector<HexRecord> hexRecords;
    uint32_t fwStartAddress = 0;
    uint32_t fwSize = 0;
    QByteArray fwData;
    int totalCommandCount = 0;
    QFuture<void> wheelTask;
    int wheelHolds = 0; // WheelHold bits
    QHash<QWidget*, bool> wheelWidgetWanted;
    // Bootloaders present before the wheel was sent to its own: never taken for the wheel's.
    QList<QByteArray> bootloadersBefore;

public:
    // Wait before each bootloader scan; tests may shorten it.
    static int bootloaderScanDelayMs;
};

Q_DECLARE_METATYPE(WriteItems)
Q_DECLARE_METATYPE(WriteFWItems)
Q_DECLARE_METATYPE(WriteFWItemsResult)

#endif
