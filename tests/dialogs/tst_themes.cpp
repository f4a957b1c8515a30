#include "themeloader.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QVBoxLayout>
#include <QtTest>

namespace {

QStringList styleSheetWarnings;

void collectStyleSheetWarnings(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains(QStringLiteral("stylesheet"), Qt::CaseInsensitive))
        styleSheetWarnings << message;
}

void repolish(QWidget* widget)
{
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

// Colour of the most frequent non-background pixel: the glyphs of a label's text. Transparent
// pixels (a grab of a label that paints no background, as on Windows) are background too.
QColor textPixelColor(const QImage& image, QRgb background)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) < 255)
                continue;
            const QRgb pixel = image.pixel(x, y) | 0xff000000u;
            if (pixel != (background | 0xff000000u))
                ++counts[pixel];
        }
    QRgb best = background;
    int bestCount = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > bestCount) {
            best = it.key();
            bestCount = it.value();
        }
    return QColor(best);
}

} // namespace

class TestThemes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void themePath_data();
    void themePath();
    void leadingRules_data();
    void leadingRules();
    void imagesExist_data();
    void imagesExist();
    void parsesWithoutWarnings_data();
    void parsesWithoutWarnings();
    void applyThemeStyle_data();
    void applyThemeStyle();
    void messageLabelColor_data();
    void messageLabelColor();
    void messageLabelFollowsRes_data();
    void messageLabelFollowsRes();
    void disabledButtonColors_data();
    void disabledButtonColors();
    void separatorLines_data();
    void separatorLines();
    void unreadableResource();
};

void TestThemes::initTestCase()
{
    Q_INIT_RESOURCE(resources);
}

void TestThemes::themePath_data()
{
    QTest::addColumn<QString>("theme");
    QTest::addColumn<QString>("path");
    QTest::newRow("Light") << "Light"
                           << ":/qss/gray.css";
    QTest::newRow("Dark") << "Dark"
                          << ":/qss/psblack.css";
    QTest::newRow("unknown name") << "Blue"
                                  << ":/qss/gray.css";
    QTest::newRow("dark in lower case") << "dark"
                                        << ":/qss/gray.css";
    QTest::newRow("empty") << ""
                           << ":/qss/gray.css";
}

void TestThemes::themePath()
{
    QFETCH(QString, theme);
    QFETCH(QString, path);
    QCOMPARE(themeStyleSheetPath(theme), path);
}

static void addThemeColumns()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QColor>("palette");
    QTest::addColumn<QColor>("text");
    QTest::newRow("Light") << ":/qss/gray.css"
                           << ":/qss/gray/" << QColor("#F6F6F7") << QColor("#000000");
    QTest::newRow("Dark") << ":/qss/psblack.css"
                          << ":/qss/psblack/" << QColor("#444444") << QColor("#DCDCDC");
}

void TestThemes::leadingRules_data()
{
    addThemeColumns();
}

void TestThemes::leadingRules()
{
    QFETCH(QString, path);
    QFETCH(QColor, palette);
    QFETCH(QColor, text);
    const QString sheet = readStyleSheet(path);
    QVERIFY(!sheet.isEmpty());
    QCOMPARE(sheet.left(20), QStringLiteral("QPalette{background:"));
    QCOMPARE(sheet.mid(27, 2), QStringLiteral(";}"));
    const QColor colour = styleSheetPaletteColor(sheet);
    QVERIFY(colour.isValid());
    QCOMPARE(colour, palette);

    // The rule for all widgets comes right after the palette rule.
    const QRegularExpression all(QStringLiteral("^\\s*\\*\\{([^}]*)\\}"));
    const QRegularExpressionMatch match = all.match(sheet.mid(29));
    QVERIFY(match.hasMatch());
    QVERIFY(match.captured(1).contains(QStringLiteral("outline:0px")));
    const QRegularExpression colourDecl(QStringLiteral("(?:^|;)color:(#[0-9A-Fa-f]{6})"));
    const QRegularExpressionMatch c = colourDecl.match(match.captured(1));
    QVERIFY(c.hasMatch());
    QCOMPARE(QColor(c.captured(1)), text);
}

void TestThemes::imagesExist_data()
{
    addThemeColumns();
}

void TestThemes::imagesExist()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    const QString sheet = readStyleSheet(path);
    const QStringList indicators = {"checkbox_checked",
                                    "checkbox_checked_disable",
                                    "checkbox_unchecked",
                                    "checkbox_unchecked_disable",
                                    "checkbox_parcial",
                                    "checkbox_parcial_disable",
                                    "radiobutton_checked",
                                    "radiobutton_checked_disable",
                                    "radiobutton_unchecked",
                                    "radiobutton_unchecked_disable",
                                    "add_top",
                                    "add_bottom",
                                    "add_left",
                                    "add_right",
                                    "branch_open",
                                    "branch_close",
                                    "calendar_prevmonth",
                                    "calendar_nextmonth"};

    QSet<QString> referenced;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(sheet);
    while (it.hasNext()) {
        const QString url = it.next().captured(1);
        QVERIFY2(url.startsWith(folder), qPrintable(url));
        QVERIFY2(QFile::exists(url), qPrintable(url));
        QVERIFY2(!QImage(url).isNull(), qPrintable(url));
        referenced << url;
    }
    for (const QString& name : indicators) {
        const QString url = folder + name + QStringLiteral(".png");
        QVERIFY2(referenced.contains(url), qPrintable(url));
    }
}

void TestThemes::parsesWithoutWarnings_data()
{
    addThemeColumns();
}

void TestThemes::parsesWithoutWarnings()
{
    QFETCH(QString, path);
    styleSheetWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectStyleSheetWarnings);
    {
        QWidget window;
        window.setStyleSheet(readStyleSheet(path));
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(new QLabel(QStringLiteral("label")));
        layout->addWidget(new QPushButton(QStringLiteral("button")));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.grab();
    }
    qInstallMessageHandler(previous);
    QVERIFY2(styleSheetWarnings.isEmpty(), qPrintable(styleSheetWarnings.join(QLatin1Char('\n'))));
}

void TestThemes::applyThemeStyle_data()
{
    QTest::addColumn<QString>("theme");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QColor>("palette");
    QTest::newRow("Light") << "Light"
                           << ":/qss/gray.css" << QColor("#F6F6F7");
    QTest::newRow("Dark") << "Dark"
                          << ":/qss/psblack.css" << QColor("#444444");
    QTest::newRow("unknown name") << "Blue"
                                  << ":/qss/gray.css" << QColor("#F6F6F7");
}

void TestThemes::applyThemeStyle()
{
    QFETCH(QString, theme);
    QFETCH(QString, path);
    QFETCH(QColor, palette);
    const QPalette before = QApplication::palette();
    QWidget window;
    ::applyThemeStyle(&window, theme);
    QCOMPARE(window.styleSheet(), readStyleSheet(path));
    QCOMPARE(QApplication::palette().color(QPalette::Button), palette);
    QApplication::setPalette(before);
}

void TestThemes::messageLabelColor_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("res");
    QTest::addColumn<QColor>("colour");
    const QColor ok("#00b300");
    const QColor failed("#b30000");
    for (const char* label : {"labelMsg", "labelMsg_ZW"}) {
        QTest::addRow("Light %s ok", label) << ":/qss/gray.css" << label << "ok" << ok;
        QTest::addRow("Light %s failed", label) << ":/qss/gray.css" << label << "failed" << failed;
        QTest::addRow("Light %s writing", label)
            << ":/qss/gray.css" << label << "writing" << QColor("#000000");
        QTest::addRow("Light %s normal", label) << ":/qss/gray.css" << label << "normal" << QColor("#000000");
        QTest::addRow("Dark %s ok", label) << ":/qss/psblack.css" << label << "ok" << ok;
        QTest::addRow("Dark %s failed", label) << ":/qss/psblack.css" << label << "failed" << failed;
        QTest::addRow("Dark %s writing", label)
            << ":/qss/psblack.css" << label << "writing" << QColor("#DCDCDC");
        QTest::addRow("Dark %s normal", label)
            << ":/qss/psblack.css" << label << "normal" << QColor("#DCDCDC");
    }
}

void TestThemes::messageLabelColor()
{
    QFETCH(QString, path);
    QFETCH(QString, label);
    QFETCH(QString, res);
    QFETCH(QColor, colour);

    QWidget window;
    window.setStyleSheet(readStyleSheet(path) + QStringLiteral("\nQWidget#host{background:#808080;}"));
    window.setObjectName(QStringLiteral("host"));
    window.setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QVBoxLayout(&window);
    auto* msg = new QLabel(QStringLiteral("████████"));
    msg->setObjectName(label);
    QFont font = msg->font();
    font.setPixelSize(24);
    msg->setFont(font);
    layout->addWidget(msg);
    msg->setProperty("res", res);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    repolish(msg);

    QCOMPARE(msg->palette().color(QPalette::WindowText), colour);
    const QImage image = msg->grab().toImage();
    QCOMPARE(textPixelColor(image, qRgb(0x80, 0x80, 0x80)), colour);
}

void TestThemes::messageLabelFollowsRes_data()
{
    addThemeColumns();
}

void TestThemes::messageLabelFollowsRes()
{
    QFETCH(QString, path);
    QFETCH(QColor, text);
    QWidget window;
    window.setStyleSheet(readStyleSheet(path));
    auto* msg = new QLabel(&window);
    msg->setObjectName(QStringLiteral("labelMsg"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const struct
    {
        const char* res;
        QColor colour;
    } steps[] = {{"writing", text},
                 {"ok", QColor("#00b300")},
                 {"writing", text},
                 {"failed", QColor("#b30000")},
                 {"normal", text}};
    for (const auto& step : steps) {
        msg->setProperty("res", QString::fromLatin1(step.res));
        repolish(msg);
        QCOMPARE(msg->palette().color(QPalette::WindowText), step.colour);
    }
}

void TestThemes::disabledButtonColors_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("text");
    QTest::newRow("Light") << ":/qss/gray.css" << QColor("#E6E6E6") << QColor("#999999");
    QTest::newRow("Dark") << ":/qss/psblack.css" << QColor("#707070") << QColor("#999999");
}

void TestThemes::disabledButtonColors()
{
    QFETCH(QString, path);
    QFETCH(QColor, background);
    QFETCH(QColor, text);
    QWidget window;
    window.setStyleSheet(readStyleSheet(path));
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton(QStringLiteral("Write FW"));
    button->setMinimumSize(120, 40);
    layout->addWidget(button);
    button->setEnabled(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(button->palette().color(QPalette::Disabled, QPalette::ButtonText), text);
    // The middle of the left half lies inside the border and off the caption.
    const QImage image = button->grab().toImage();
    QCOMPARE(QColor(image.pixel(6, image.height() / 2)), background);
}

void TestThemes::separatorLines_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("shape");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("Light horizontal") << ":/qss/gray.css" << int(QFrame::HLine) << QColor("#A9A9A9");
    QTest::newRow("Light vertical") << ":/qss/gray.css" << int(QFrame::VLine) << QColor("#A9A9A9");
    QTest::newRow("Dark horizontal") << ":/qss/psblack.css" << int(QFrame::HLine) << QColor("#242424");
    QTest::newRow("Dark vertical") << ":/qss/psblack.css" << int(QFrame::VLine) << QColor("#242424");
}

void TestThemes::separatorLines()
{
    QFETCH(QString, path);
    QFETCH(int, shape);
    QFETCH(QColor, colour);
    QWidget window;
    window.setStyleSheet(readStyleSheet(path));
    auto* layout = new QVBoxLayout(&window);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::Shape(shape));
    line->setFrameShadow(QFrame::Sunken);
    line->setMinimumSize(20, 20);
    layout->addWidget(line);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // A one-pixel line in the border colour, however much room the layout gives it.
    const QImage image = line->grab().toImage();
    if (shape == QFrame::HLine)
        QCOMPARE(line->height(), 1);
    else
        QCOMPARE(line->width(), 1);
    QCOMPARE(QColor(image.pixel(0, 0)), colour);
}

void TestThemes::unreadableResource()
{
    QVERIFY(readStyleSheet(QStringLiteral(":/qss/missing.css")).isEmpty());
    QVERIFY(!styleSheetPaletteColor(QString()).isValid());
}

QTEST_MAIN(TestThemes)
#include "tst_themes.moc"
