// Frame of the main window: construction, menu, settings, busy-state and log conventions,
// closing and destruction.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "appinfo.h"
#include "devicewatcher.h"
#include "devizuvezwritefwobject.h"
#include "needtoknowdialog.h"
#include "qvrusb.h"
#include "readwriteconfig.h"
#include "themeloader.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>

namespace {
const char* const downloadPageUrl = "https://quenvor.example/firmware";

QString configKey(const QString& group, const QString& key)
{
    return group + QLatin1Char('/') + key;
}
} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    qRegisterMetaType<QTextCursor>("QTextCursor");
    qRegisterMetaType<WriteItems>("WriteItems");
    qRegisterMetaType<WriteFWItems>("WriteFWItems");
    qRegisterMetaType<WriteFWItemsResult>("WriteFWItemsResult");

    ui->setupUi(this);

    const QString name = localizedAppName(currentLanguage);
    setWindowTitle(
        QStringLiteral("%1_V%2").arg(name, 0, QLatin1Char(' ')).arg(appVersion, 0, QLatin1Char(' ')));

    needToKnowDialog = new NeedToKnowDialog(this);
    aboutDialog = new AboutDialog(this);
    aboutDialog->setAppInfo(name, appVersion);
    aboutDialog->setContactLanguage(currentLanguage);

    ui->label_GotoDownloadPage->setOpenExternalLinks(true);
    ui->label_GotoDownloadPage->setText(
        QStringLiteral("<a style='color: #1a8cff;' href=\"%1\">").arg(QLatin1String(downloadPageUrl)) +
        tr("firmwares download page..."));

    QToolButton* menuButton = ui->toolButton_About;
    themeActionGroup = new QActionGroup(menuButton);
    themeActionGroup->setExclusive(true);
    actionLight = new QAction(tr("Light"), menuButton);
    actionLight->setObjectName(themeLight);
    actionLight->setCheckable(true);
    actionDark = new QAction(tr("Dark"), menuButton);
    actionDark->setObjectName(themeDark);
    actionDark->setCheckable(true);
    themeActionGroup->addAction(actionLight);
    themeActionGroup->addAction(actionDark);
    actionNeedToKnow = new QAction(tr("Need To Know"), menuButton);
    actionAbout = new QAction(tr("About..."), menuButton);
    actionCheckUpdate = new QAction(tr("Check Update"), menuButton);
    actionRecoverCamera = new QAction(tr("Recover Camera..."), menuButton);
    aboutMenu = new QMenu(menuButton);
    themeMenu = aboutMenu->addMenu(tr("Theme"));
    themeMenu->addAction(actionLight);
    themeMenu->addAction(actionDark);
    aboutMenu->addSeparator();
    aboutMenu->addAction(actionNeedToKnow);
    aboutMenu->addAction(actionCheckUpdate);
    aboutMenu->addAction(actionAbout);
    aboutMenu->addSeparator();
    aboutMenu->addAction(actionRecoverCamera);
    menuButton->setMenu(aboutMenu);
    menuButton->setPopupMode(QToolButton::InstantPopup);

    connect(themeActionGroup, &QActionGroup::triggered, this, &MainWindow::changeTheme);
    connect(actionNeedToKnow, &QAction::triggered, needToKnowDialog, &QWidget::show);
    connect(actionCheckUpdate, &QAction::triggered, this, &MainWindow::checkUpdate);
    connect(actionAbout, &QAction::triggered, aboutDialog, &QWidget::show);
    connect(actionRecoverCamera, &QAction::triggered, this, &MainWindow::recoverCamera);

    fwFileDir = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    fpgaFileDir = fwFileDir;

    if (!camera)
        camera = new QVRUsb;

    progressTimer = new QTimer(this);
    progressTimer->setInterval(100);
    connect(progressTimer, &QTimer::timeout, this, &MainWindow::refreshProgress);

    connect(this, &MainWindow::toTellWriteFinished, this, &MainWindow::writeFinished);
    connect(this, &MainWindow::toTellRecoveryFailed, this, &MainWindow::recoveryFailed);
    connect(this, &MainWindow::toTellScanDevice, this, &MainWindow::scanDevices);

    runningTimer = new QTimer(this);
    runningTimer->setInterval(500);
    connect(runningTimer, &QTimer::timeout, this, &MainWindow::detectZWIsRunning);
    selfTestTimer = new QTimer(this);
    selfTestTimer->setInterval(500);
    connect(selfTestTimer, &QTimer::timeout, this, &MainWindow::detectZWIsSelfTesting);
    writePercentTimer = new QTimer(this);
    writePercentTimer->setInterval(500);
    connect(writePercentTimer, &QTimer::timeout, this, &MainWindow::getWriteFWPercent);

    connect(this, &MainWindow::toTellWriteZWItems, this, &MainWindow::processWriteZWItemsResults);

    // Device changes outside Windows arrive through a udev monitor; on Windows through nativeEvent.
    deviceWatcher = new DeviceWatcher(this);
    connect(deviceWatcher, &DeviceWatcher::deviceChanged, this, &MainWindow::toTellScanDevice);
    // A camera whose node went is closed by the next scan, even if it is back on the same port by then.
    connect(deviceWatcher, &DeviceWatcher::deviceRemoved, this,
            [this](const QString& node) { camera->deviceRemoved(node); });

    loadSettings();

    setBusyState(ui->labelMsg, "normal");
    setBusyState(ui->labelMsg_ZW, "normal");

    scanCamera();
    scanZW();

    needToKnowDialog->setDoNotShowChecked(notShowNeedToKnow);
    if (!notShowNeedToKnow) {
        NeedToKnowDialog* dialog = needToKnowDialog;
        QTimer::singleShot(1000, dialog, [dialog] { dialog->show(); });
    }
}

MainWindow::~MainWindow()
{
    // A write still running uses camera or zwWriter: let it end before they go.
    cameraTask.waitForFinished();
    wheelTask.waitForFinished();

    if (camera) {
        if (camera->isOpen())
            camera->close();
        delete camera;
        camera = nullptr;
    }
    for (WheelInfo* wheel : qAsConst(wheelList)) {
        QVRCloseZW(wheel->ID);
        delete wheel;
    }
    wheelList.clear();
    if (zwWriter) {
        zwWriter->Close();
        delete zwWriter;
        zwWriter = nullptr;
    }
    delete ui;
    releaseFirmwareImage();
}

void MainWindow::loadSettings()
{
    ReadWriteConfig* config = ReadWriteConfig::instance();
    auto read = [config](const QString& group, const QString& key, const QVariant& defaultValue) {
        return config ? config->value(configKey(group, key), defaultValue) : defaultValue;
    };
    notShowWarning = read(ConfigKey::General, ConfigKey::NotShowWarning, false).toBool();
    notShowWarningZW = read(ConfigKey::General, ConfigKey::NotShowWarningZW, false).toBool();
    notShowNeedToKnow = read(ConfigKey::General, ConfigKey::NotShowNeedToKnow, false).toBool();
    currentTheme = read(ConfigKey::General, ConfigKey::Theme, themeLight).toString();
    if (currentTheme == themeDark)
        actionDark->setChecked(true);
    else
        actionLight->setChecked(true);
    applyTheme(this, currentTheme);

    const QString fwPath = read(ConfigKey::Path, ConfigKey::FWPath, QString()).toString();
    const QString fpgaPath = read(ConfigKey::Path, ConfigKey::FPGAPath, QString()).toString();
    const QString zwPath = read(ConfigKey::Path, ConfigKey::ZWFWPath, QString()).toString();
    ui->lineEditFWFilePath->setText(fwPath);
    ui->lineEditFWFilePath->setToolTip(fwPath);
    ui->lineEditFPGAFilePath->setText(fpgaPath);
    ui->lineEditFPGAFilePath->setToolTip(fpgaPath);
    ui->lineEditFWFilePath_ZW->setText(zwPath);
    ui->lineEditFWFilePath_ZW->setToolTip(zwPath);
}

void MainWindow::saveSettings()
{
    ReadWriteConfig* config = ReadWriteConfig::instance();
    if (!config)
        return;
    config->setBool(ConfigKey::General, ConfigKey::NotShowWarning, notShowWarning);
    config->setBool(ConfigKey::General, ConfigKey::NotShowWarningZW, notShowWarningZW);
    config->setBool(ConfigKey::General, ConfigKey::NotShowNeedToKnow, needToKnowDialog->isDoNotShowChecked());
    config->setString(ConfigKey::General, ConfigKey::Theme, currentTheme);
    config->setString(ConfigKey::Path, ConfigKey::FWPath, ui->lineEditFWFilePath->text());
    config->setString(ConfigKey::Path, ConfigKey::FPGAPath, ui->lineEditFPGAFilePath->text());
    config->setString(ConfigKey::Path, ConfigKey::ZWFWPath, ui->lineEditFWFilePath_ZW->text());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Leaving during a write would abandon a half-written flash: the user is asked once, and a
    // close they agree to waits until the write has ended and its result box has been seen.
    switch (closeGuard.closeRequested()) {
    case CloseGuard::CloseNow:
        break;
    case CloseGuard::Ask: {
        // The write may end while the question is open; its result box then shows over it.
        const QMessageBox::StandardButton answer =
            QMessageBox::warning(this, tr("Writing in Progress"),
                                 tr("A firmware write is still running. Do not unplug the device.\n"
                                    "Close Flashwick as soon as the write has finished?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        const CloseGuard::Decision decision = closeGuard.answered(answer == QMessageBox::Yes);
        if (decision == CloseGuard::CloseLater) {
            appendLog(tr("Flashwick will close when the write has finished."));
            ui->statusbar->showMessage(tr("Flashwick will close when the write has finished."));
        }
        if (decision == CloseGuard::CloseNow)
            break;
        event->ignore();
        return;
    }
    case CloseGuard::KeepOpen:
    case CloseGuard::CloseLater:
        event->ignore();
        return;
    }
    saveSettings();
    QMainWindow::closeEvent(event);
}

bool MainWindow::writeRunning() const
{
    return closeGuard.writing();
}

void MainWindow::writeEnded(CloseGuard::Side side)
{
    if (closeGuard.writeEnded(side))
        close();
}

bool MainWindow::refuseWriteWhileClosing()
{
    if (!closeGuard.closePending())
        return false;
    appendLog(
        tr("ERROR: Flashwick will close when the running write has finished, no new write is started!"));
    return true;
}

bool MainWindow::askRiskWarning(const QString& text, const QString& informativeText, bool& dontShowAgain)
{
    QMessageBox box(QMessageBox::Warning, tr("Risk Warning"), text, QMessageBox::Ok | QMessageBox::Cancel,
                    this);
    box.setInformativeText(informativeText);
    box.setDefaultButton(QMessageBox::Ok);
    auto* dontShow = new QCheckBox(tr("Don't show again"), &box);
    box.setCheckBox(dontShow);
    box.setFont(font());
    dontShow->setFont(font());
    for (QAbstractButton* button : box.buttons())
        button->setFont(font());
    const int answer = box.exec();
    // However the box closes, the tick is kept (a Cancel with it ticked still suppresses the box).
    dontShowAgain = dontShow->isChecked();
    return answer == QMessageBox::Ok;
}

void MainWindow::setBusyState(QLabel* label, const char* state)
{
    label->setProperty("res", QString::fromLatin1(state));
    label->style()->unpolish(label);
    label->style()->polish(label);
}

void MainWindow::appendLog(const QString& text)
{
    ui->textEditLog->append(text);
}

void MainWindow::postLog(const QString& text)
{
    QMetaObject::invokeMethod(
        this, [this, text] { appendLog(text); }, Qt::QueuedConnection);
}

void MainWindow::checkUpdate()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(downloadPageUrl), QUrl::TolerantMode));
}

void MainWindow::changeTheme(QAction* themeAction)
{
    currentTheme = themeAction->objectName();
    applyTheme(this, currentTheme);
}

void MainWindow::applyTheme(QWidget* window, QString theme)
{
    applyThemeStyle(window, theme);
}
