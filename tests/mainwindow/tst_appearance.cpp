// What the user sees, measured on pictures of the real window with an emulated camera and wheel
// attached, in both themes and both languages: group-box titles clear of their frame line, room
// for the file dialog's tool-button icons, and the window's width with the longest device names.
// With FLASHWICK_SNAPSHOT_DIR set, the pictures are saved there for a person to look at.
#include "appinfo.h"
#include "elidingcombobox.h"
#include "emulator.h"
#include "mainwindowtestaccess.h"
#include "wheelmodel.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QTabWidget>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

using namespace flashwick::emu;
using A = MainWindowTestAccess;

namespace {

// The longest names the devices can report: a USB string descriptor holds 126 characters, the
// wheel's name query 63.
const QString longestCameraName = QStringLiteral("Quenvor QV294C Pro Max WWW ").repeated(5).left(126);
const QString longestWheelName = QStringLiteral("Quenvor ZW 7x36 Mark WWWWWW ").repeated(3).left(63);

QColor themeText(const QString& theme)
{
    return theme == QLatin1String("Dark") ? QColor("#DCDCDC") : QColor("#000000");
}
QColor themeBorder(const QString& theme)
{
    return theme == QLatin1String("Dark") ? QColor("#242424") : QColor("#A9A9A9");
}

bool near(QRgb pixel, const QColor& colour, int tolerance)
{
    return qAbs(qRed(pixel) - colour.red()) <= tolerance &&
           qAbs(qGreen(pixel) - colour.green()) <= tolerance &&
           qAbs(qBlue(pixel) - colour.blue()) <= tolerance;
}

void saveSnapshot(const QPixmap& picture, const QString& name)
{
    const QString folder = qEnvironmentVariable("FLASHWICK_SNAPSHOT_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    picture.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QString rowName(const QString& theme, const QString& language, const QString& names)
{
    return theme + QLatin1Char('_') + language + QLatin1Char('_') + names;
}

} // namespace

class TestAppearance : public QObject
{
    Q_OBJECT

    std::unique_ptr<Testbed> bed;
    std::unique_ptr<TestSettings> settings;
    std::unique_ptr<WheelModel> wheel;
    std::vector<DeviceId> cameras;
    QTranslator translator;
    QTimer answerer;

    // Plugs a camera and a wheel with the given names, writes the theme into the settings and
    // installs the language; the window built next sees all of it.
    void prepare(const QString& theme, const QString& language, const QString& cameraName,
                 const QString& wheelName)
    {
        settings = std::make_unique<TestSettings>();
        QFile file(settings->filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nNotShowNeedToKnow=true\nTheme=" + theme.toLatin1() + "\n");
        file.close();
        settings->reopen();

        CameraConfig camera;
        camera.name = cameraName.toStdString();
        cameras.push_back(bed->addCamera(camera));
        WheelModel::Options options;
        options.name = wheelName.toUtf8();
        wheel = std::make_unique<WheelModel>(bed->raw(), options, &bed->rawMutex());
        QVERIFY(wheel->plug());
        answerer.start(20);

        currentLanguage = language;
        if (language == QLatin1String("zh_CN")) {
            QVERIFY(translator.load(QCoreApplication::applicationDirPath() +
                                    QStringLiteral("/translations/Flashwick_zh_CN.qm")));
            QCoreApplication::installTranslator(&translator);
        }
    }
    // Shows the window and waits until the wheel's self test is over and has stayed over for a
    // second (a device-change scan may open the wheel again). The result boxes, the first of which
    // opens inside the window's construction, are answered by the timer that prepare() started.
    void showAndSettle(MainWindow& w)
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto settled = [&w] {
            return A::wheelList(w).size() == 1 && !A::selfTestTimer(w)->isActive() &&
                   !QApplication::activeModalWidget();
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 15000);
        QTest::qWait(1000);
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 15000);
        answerer.stop();
    }

    static void addThemeLanguageRows(bool withNames)
    {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("cameraName");
        QTest::addColumn<QString>("wheelName");
        for (const QString& theme : {QStringLiteral("Light"), QStringLiteral("Dark")})
            for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh_CN")}) {
                QTest::newRow(qPrintable(rowName(theme, language, QStringLiteral("default"))))
                    << theme << language << QStringLiteral("Quenvor QV294C")
                    << QStringLiteral("Quenvor ZW 7x36");
                if (withNames)
                    QTest::newRow(qPrintable(rowName(theme, language, QStringLiteral("longest"))))
                        << theme << language << longestCameraName << longestWheelName;
            }
    }

private slots:
    void initTestCase()
    {
        connect(&answerer, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                pressButton(modal, QMessageBox::Ok);
        });
        bed = std::make_unique<Testbed>();
        QVERIFY2(bed->isValid(), bed->errorString().c_str());
        // The program's font family at the point size that Windows and the X11 platform give by
        // default (the offscreen platform's default is larger).
        QFont font = QApplication::font();
        font.setFamily(QStringLiteral("Microsoft YaHei"));
        font.setPointSize(9);
        QApplication::setFont(font);
    }
    void cleanup()
    {
        answerer.stop();
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCoreApplication::removeTranslator(&translator);
        currentLanguage = QStringLiteral("auto");
        wheel.reset();
        for (DeviceId id : cameras)
            bed->unplug(id);
        cameras.clear();
        settings.reset();
    }

    // Every group box of both tabs: the rows that hold the title's text lie above the frame's top
    // line. The line is found right of the title, where nothing else is drawn on it.
    void groupTitlesClearOfFrame_data() { addThemeLanguageRows(false); }
    void groupTitlesClearOfFrame()
    {
        QFETCH(QString, theme);
        QFETCH(QString, language);
        QFETCH(QString, cameraName);
        QFETCH(QString, wheelName);
        prepare(theme, language, cameraName, wheelName);
        MainWindow w;
        showAndSettle(w);
        auto* tabs = w.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        QVERIFY(tabs);
        int boxes = 0;
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QCoreApplication::processEvents();
            for (QGroupBox* box : tabs->widget(page)->findChildren<QGroupBox*>()) {
                const QImage image = box->grab().toImage();
                const int contentTop = box->childrenRect().top();
                const int titleRight =
                    qMin(image.width() / 2, box->fontMetrics().horizontalAdvance(box->title()) + 30);
                int frameRow = -1;
                for (int y = 0; y < contentTop && frameRow < 0; ++y) {
                    bool line = true;
                    for (int x = titleRight; x < image.width() - 8 && line; ++x)
                        line = near(image.pixel(x, y), themeBorder(theme), 8);
                    if (line)
                        frameRow = y;
                }
                int textTop = -1, textBottom = -1;
                for (int y = 0; y < contentTop; ++y)
                    for (int x = 0; x < titleRight; ++x)
                        if (near(image.pixel(x, y), themeText(theme), 40)) {
                            if (textTop < 0)
                                textTop = y;
                            textBottom = y;
                        }
                const QString where = box->objectName() + QStringLiteral(" \"") + box->title() +
                                      QStringLiteral("\": text rows %1..%2, frame row %3")
                                          .arg(textTop)
                                          .arg(textBottom)
                                          .arg(frameRow);
                QVERIFY2(frameRow >= 0 && textTop >= 0, qPrintable(where));
                QVERIFY2(textBottom < frameRow, qPrintable(where));
                ++boxes;
            }
        }
        QCOMPARE(boxes, 7);
    }

    // The tool buttons of a file dialog under the window's style sheet (back, forward, parent,
    // new folder, list and detail views) have room for a 16 px icon: a solid icon is drawn and
    // measured.
    void fileDialogToolButtons_data()
    {
        QTest::addColumn<QString>("theme");
        QTest::newRow("Light") << "Light";
        QTest::newRow("Dark") << "Dark";
    }
    void fileDialogToolButtons()
    {
        QFETCH(QString, theme);
        prepare(theme, QStringLiteral("en"), QStringLiteral("Quenvor QV294C"),
                QStringLiteral("Quenvor ZW 7x36"));
        MainWindow w;
        showAndSettle(w);
        QFileDialog dialog(&w, QStringLiteral("Select"), QDir::tempPath());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        saveSnapshot(dialog.grab(), QStringLiteral("filedialog_") + theme);
        QPixmap solid(16, 16);
        solid.fill(Qt::magenta);
        QIcon icon;
        icon.addPixmap(solid, QIcon::Normal);
        icon.addPixmap(solid, QIcon::Disabled);
        int buttons = 0;
        for (QToolButton* button : dialog.findChildren<QToolButton*>()) {
            if (!button->isVisible())
                continue;
            button->setIcon(icon);
            const QImage image = button->grab().toImage();
            QRect drawn;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (near(image.pixel(x, y), Qt::magenta, 0))
                        drawn |= QRect(x, y, 1, 1);
            QVERIFY2(drawn.width() >= 16 && drawn.height() >= 16,
                     qPrintable(QStringLiteral("%1: icon drawn %2x%3 in a %4x%5 button")
                                    .arg(button->objectName())
                                    .arg(drawn.width())
                                    .arg(drawn.height())
                                    .arg(button->width())
                                    .arg(button->height())));
            ++buttons;
        }
        QVERIFY2(buttons >= 6, qPrintable(QString::number(buttons)));
    }

    // The window keeps its 500 px with the longest names in both combos; a long name is cut with
    // an ellipsis, the usual names are shown whole.
    void windowWidthWithLongestNames_data() { addThemeLanguageRows(true); }
    void windowWidthWithLongestNames()
    {
        QFETCH(QString, theme);
        QFETCH(QString, language);
        QFETCH(QString, cameraName);
        QFETCH(QString, wheelName);
        prepare(theme, language, cameraName, wheelName);
        MainWindow w;
        showAndSettle(w);
        auto* tabs = w.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        auto* cameraCombo = w.findChild<ElidingComboBox*>(QStringLiteral("comboBoxCameras"));
        auto* wheelCombo = w.findChild<ElidingComboBox*>(QStringLiteral("comboBoxZWList"));
        QVERIFY(tabs && cameraCombo && wheelCombo);
        QCOMPARE(cameraCombo->currentText(), cameraName);
        QVERIFY(wheelCombo->currentText().startsWith(wheelName + QStringLiteral(" (ID:")));
        const bool longest = cameraName == longestCameraName;
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QCoreApplication::processEvents();
            saveSnapshot(w.grab(), QStringLiteral("width_%1_tab%2")
                                       .arg(rowName(theme, language, longest ? "longest" : "default"))
                                       .arg(page));
            QCOMPARE(w.width(), 500);
            QVERIFY2(w.minimumSizeHint().width() <= 500,
                     qPrintable(QString::number(w.minimumSizeHint().width())));
        }
        for (ElidingComboBox* combo : {cameraCombo, wheelCombo}) {
            const QString shown = combo->shownText();
            if (longest)
                QVERIFY2(shown.endsWith(QChar(0x2026)) && shown.size() < combo->currentText().size(),
                         qPrintable(shown));
            else
                QCOMPARE(shown, combo->currentText());
        }
    }
};

QTEST_MAIN(TestAppearance)
#include "tst_appearance.moc"
