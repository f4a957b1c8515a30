// Test access to MainWindow's private members and helpers shared by the window tests.
#ifndef MAINWINDOWTESTACCESS_H
#define MAINWINDOWTESTACCESS_H

#include "mainwindow.h"
#include "readwriteconfig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <functional>

class MainWindowTestAccess
{
public:
    static bool& notShowWarning(MainWindow& w) { return w.notShowWarning; }
    static bool& notShowWarningZW(MainWindow& w) { return w.notShowWarningZW; }
    static bool& notShowNeedToKnow(MainWindow& w) { return w.notShowNeedToKnow; }
    static QString& currentTheme(MainWindow& w) { return w.currentTheme; }
    static NeedToKnowDialog* needToKnowDialog(MainWindow& w) { return w.needToKnowDialog; }
    static AboutDialog* aboutDialog(MainWindow& w) { return w.aboutDialog; }
    static QAction* actionLight(MainWindow& w) { return w.actionLight; }
    static QAction* actionDark(MainWindow& w) { return w.actionDark; }
    static QAction* actionNeedToKnow(MainWindow& w) { return w.actionNeedToKnow; }
    static QAction* actionAbout(MainWindow& w) { return w.actionAbout; }
    static QAction* actionCheckUpdate(MainWindow& w) { return w.actionCheckUpdate; }
    static QAction* actionRecoverCamera(MainWindow& w) { return w.actionRecoverCamera; }
    static QTimer* progressTimer(MainWindow& w) { return w.progressTimer; }
    static QTimer* runningTimer(MainWindow& w) { return w.runningTimer; }
    static QTimer* selfTestTimer(MainWindow& w) { return w.selfTestTimer; }
    static QTimer* writePercentTimer(MainWindow& w) { return w.writePercentTimer; }
    static QVRUsb* camera(MainWindow& w) { return w.camera; }
    static std::atomic<uint8_t>& writeProgress(MainWindow& w) { return w.writeProgress; }
    static QString& currentCameraPath(MainWindow& w) { return w.currentCameraPath; }
    static QList<WheelInfo*>& wheelList(MainWindow& w) { return w.wheelList; }
    static QString& selectedWheelSN(MainWindow& w) { return w.selectedWheelSN; }
    static QString& wheelFirmwareVersion(MainWindow& w) { return w.wheelFirmwareVersion; }
    static bool writeRunning(MainWindow& w) { return w.writeRunning(); }
    static bool checkZWFirmwareVersion(MainWindow& w) { return w.checkZWFirmwareVersion(); }
    static bool parseZWFirmwareFile(MainWindow& w) { return w.parseZWFirmwareFile(); }
    static uint32_t fwStartAddress(MainWindow& w) { return w.fwStartAddress; }
    static uint32_t fwSize(MainWindow& w) { return w.fwSize; }
    static QByteArray fwData(MainWindow& w) { return w.fwData; }
    static DevizuvEZWriteFWObject* zwWriter(MainWindow& w) { return w.zwWriter; }
    static int totalCommandCount(MainWindow& w) { return w.totalCommandCount; }
};

// A named child widget of the window; a missing one ends the test program.
template <typename T> T* child(MainWindow& w, const char* name)
{
    T* widget = w.findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// The log pane's lines.
inline QStringList logLines(MainWindow& w)
{
    return child<QTextEdit>(w, "textEditLog")->toPlainText().split(QLatin1Char('\n'));
}

// A settings store in a temporary folder, so tests never touch the build tree's config.
struct TestSettings
{
    QTemporaryDir dir;
    TestSettings() { reopen(); }
    void reopen()
    {
        ReadWriteConfig::createInstance(qApp)->openFile(QStringLiteral("config.ini"), dir.path());
    }
    QString filePath() const { return dir.path() + QStringLiteral("/config.ini"); }
    // Writes pending values to disk.
    void sync() { ReadWriteConfig::instance()->settings->sync(); }
};

// Answers the next modal box (or dialog) that opens, from inside its event loop. A modal that is
// active while no event loop deeper than the caller's runs is still being shown (QFileDialog handles
// events in show()): closed there, it would leave exec() waiting on a hidden dialog for ever.
inline void answerNextModal(std::function<void(QWidget*)> answer, int timeoutMs = 10000)
{
    auto* timer = new QTimer;
    auto* elapsed = new int(0);
    const int level = QThread::currentThread()->loopLevel();
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, answer, timeoutMs, level] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && QThread::currentThread()->loopLevel() <= level)
            return;
        *elapsed += 20;
        if (modal || *elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete elapsed;
            if (modal)
                answer(modal);
        }
    });
    timer->start(20);
}

inline void pressButton(QWidget* modal, QMessageBox::StandardButton button)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box && box->button(button))
        box->button(button)->click();
    else
        modal->close();
}

// Presses button in the next modal box and records its title, so a test can check which box it was.
inline void answerNextBox(QMessageBox::StandardButton button, QString* title = nullptr, int timeoutMs = 10000)
{
    answerNextModal(
        [button, title](QWidget* modal) {
            if (title)
                *title = modal->windowTitle();
            pressButton(modal, button);
        },
        timeoutMs);
}

// Answers every modal message box by its title while it lives and records each box's title once, in
// order. Titles without a rule get OK. A rule may return NoButton to leave its box open for now: it is
// asked again every 20 ms while that box is the active modal widget (another box may open over it).
// Rules must not block (a close() that opens a box of its own goes through a single-shot timer).
class BoxAnswerer : public QObject
{
public:
    using Rule = std::function<QMessageBox::StandardButton(QMessageBox*)>;

    explicit BoxAnswerer(const QMap<QString, QMessageBox::StandardButton>& answers)
    {
        for (auto it = answers.cbegin(); it != answers.cend(); ++it) {
            const QMessageBox::StandardButton button = it.value();
            rules.insert(it.key(), [button](QMessageBox*) { return button; });
        }
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::answer);
        timer.start();
    }
    void setRule(const QString& title, Rule rule) { rules.insert(title, std::move(rule)); }
    QStringList titles;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == pressed)
            return;
        if (!seen.contains(box)) {
            seen << box;
            titles << box->windowTitle();
        }
        const Rule rule = rules.value(box->windowTitle());
        const QMessageBox::StandardButton button = rule ? rule(box) : QMessageBox::Ok;
        if (button == QMessageBox::NoButton)
            return;
        pressed = box;
        pressButton(box, button);
    }

    QMap<QString, Rule> rules;
    QTimer timer;
    QList<QPointer<QMessageBox>> seen;
    QPointer<QMessageBox> pressed;
};

#endif
