#include "aboutdialog.h"
#include "needtoknowdialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextList>
#include <QtTest>

namespace {

// The address a rich-text label shows to the user.
QString visibleText(const QString& html)
{
    QTextDocument doc;
    doc.setHtml(html);
    return doc.toPlainText();
}

const QRegularExpression& anchorPattern()
{
    static const QRegularExpression re(
        QStringLiteral("^<a style=\"color: #1a8cff;\" href=\"([^\"]+)\">([^<]+)$"));
    return re;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void aboutDesignerForm();
    void aboutAppInfo();
    void chineseContactRows_data();
    void chineseContactRows();
    void linkContactRows_data();
    void linkContactRows();
    void contactRowsFollowLaterLanguage();

    void noContextHelpButton_data();
    void noContextHelpButton();

    void needToKnowDesignerForm();
    void needToKnowNotices();
    void needToKnowCheckBoxRoundTrip_data();
    void needToKnowCheckBoxRoundTrip();
    void needToKnowOkHides();
};

void TestDialogs::initTestCase()
{
    Q_INIT_RESOURCE(resources);
}

void TestDialogs::aboutDesignerForm()
{
    AboutDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("AboutDialog"));
    QCOMPARE(dialog.size(), QSize(411, 292));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About..."));
    QCOMPARE(dialog.font().family(), QStringLiteral("Microsoft YaHei"));

    auto* logo = dialog.findChild<QLabel*>(QStringLiteral("label"));
    QVERIFY(logo);
    QCOMPARE(logo->size(), QSize(100, 100));
    QVERIFY(!logo->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(logo->hasScaledContents());

    auto* name = dialog.findChild<QLabel*>(QStringLiteral("label_AppName"));
    QVERIFY(name);
    QCOMPARE(name->font().pointSize(), 14);
    QVERIFY(name->font().bold());

    auto* notice = dialog.findChild<QLabel*>(QStringLiteral("label_2"));
    QVERIFY(notice);
    QVERIFY(notice->text().contains(QStringLiteral("Quenvor")));
    QVERIFY(!notice->wordWrap());
    QVERIFY(notice->alignment() & Qt::AlignHCenter);

    for (const char* label : {"label_Website", "label_ShowWebsite", "label_Support", "label_ShowSupport",
                              "label_Facebook", "label_ShowFacebook", "label_3"})
        QVERIFY2(dialog.findChild<QLabel*>(QLatin1String(label)), label);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Website"))->text(), QStringLiteral("website:"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Support"))->text(), QStringLiteral("support:"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Facebook"))->text(),
             QStringLiteral("facebook:"));
}

void TestDialogs::aboutAppInfo()
{
    AboutDialog dialog;
    dialog.setAppInfo(QStringLiteral("Flashwick"), QStringLiteral("1.2.0"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_AppName"))->text(),
             QStringLiteral("Flashwick_V1.2.0"));
    dialog.setAppInfo(QStringLiteral("X"), QString());
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_AppName"))->text(), QStringLiteral("X_V"));
}

void TestDialogs::chineseContactRows_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("zh_CN") << QStringLiteral("zh_CN");
    if (QLocale::system().country() == QLocale::China)
        QTest::newRow("auto on a Chinese system") << QStringLiteral("auto");
}

void TestDialogs::chineseContactRows()
{
    QFETCH(QString, language);
    AboutDialog dialog;
    dialog.setContactLanguage(language);

    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Website"))->text(), QStringLiteral("官网: "));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Support"))->text(),
             QStringLiteral("技术支持: "));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Facebook"))->text(), QStringLiteral("交流："));

    auto* website = dialog.findChild<QLabel*>(QStringLiteral("label_ShowWebsite"));
    const QRegularExpressionMatch link = anchorPattern().match(website->text());
    QVERIFY2(link.hasMatch(), qPrintable(website->text()));
    QCOMPARE(link.captured(2), link.captured(1));
    QCOMPARE(visibleText(website->text()), link.captured(1));
    QVERIFY(link.captured(1).startsWith(QStringLiteral("https://")));
    QVERIFY(website->openExternalLinks());

    // Two different chat groups, shown as plain text.
    const QRegularExpression chat(QStringLiteral("^QQ群: [1-9][0-9]{4,11}$"));
    QStringList groups;
    for (const char* name : {"label_ShowSupport", "label_ShowFacebook"}) {
        auto* row = dialog.findChild<QLabel*>(QLatin1String(name));
        QVERIFY2(chat.match(row->text()).hasMatch(), qPrintable(row->text()));
        QCOMPARE(row->textFormat(), Qt::PlainText);
        QVERIFY(!row->openExternalLinks());
        groups << row->text();
    }
    QVERIFY(groups.at(0) != groups.at(1));
}

void TestDialogs::linkContactRows_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("en_US") << QStringLiteral("en_US");
    QTest::newRow("zh_CN in another letter case") << QStringLiteral("ZH_CN");
    QTest::newRow("zh_TW") << QStringLiteral("zh_TW");
    QTest::newRow("empty") << QString();
    if (QLocale::system().country() != QLocale::China)
        QTest::newRow("auto on a non-Chinese system") << QStringLiteral("auto");
}

void TestDialogs::linkContactRows()
{
    QFETCH(QString, language);
    AboutDialog dialog;
    dialog.setContactLanguage(language);

    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Website"))->text(), QStringLiteral("website:"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Support"))->text(), QStringLiteral("support:"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Facebook"))->text(),
             QStringLiteral("facebook:"));

    QStringList targets;
    for (const char* name : {"label_ShowWebsite", "label_ShowSupport", "label_ShowFacebook"}) {
        auto* row = dialog.findChild<QLabel*>(QLatin1String(name));
        const QRegularExpressionMatch link = anchorPattern().match(row->text());
        QVERIFY2(link.hasMatch(), qPrintable(row->text()));
        QVERIFY(!row->text().contains(QStringLiteral("</a>")));
        const QString href = link.captured(1);
        QString address = href;
        address.remove(QRegularExpression(QStringLiteral("^mailto:")));
        QCOMPARE(link.captured(2), address);
        QCOMPARE(visibleText(row->text()), address);
        QVERIFY(row->openExternalLinks());
        targets << href;
    }
    QVERIFY(targets.at(0).startsWith(QStringLiteral("https://")));
    QVERIFY(targets.at(1).startsWith(QStringLiteral("mailto:")));
    QVERIFY(targets.at(1).contains(QLatin1Char('@')));
    QVERIFY(targets.at(2).startsWith(QStringLiteral("https://")));
    QVERIFY(targets.at(0) != targets.at(2));
}

void TestDialogs::contactRowsFollowLaterLanguage()
{
    // A second call replaces every row, including the plain-text chat rows.
    AboutDialog dialog;
    dialog.setContactLanguage(QStringLiteral("zh_CN"));
    dialog.setContactLanguage(QStringLiteral("en_US"));
    auto* support = dialog.findChild<QLabel*>(QStringLiteral("label_ShowSupport"));
    QVERIFY(anchorPattern().match(support->text()).hasMatch());
    QVERIFY(support->openExternalLinks());
    QVERIFY(support->textFormat() != Qt::PlainText);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_Website"))->text(), QStringLiteral("website:"));

    dialog.setContactLanguage(QStringLiteral("zh_CN"));
    QCOMPARE(support->textFormat(), Qt::PlainText);
    QVERIFY(support->text().startsWith(QStringLiteral("QQ群: ")));
}

void TestDialogs::noContextHelpButton_data()
{
    QTest::addColumn<bool>("about");
    QTest::newRow("AboutDialog") << true;
    QTest::newRow("NeedToKnowDialog") << false;
}

void TestDialogs::noContextHelpButton()
{
    QFETCH(bool, about);
    QWidget parent;
    QDialog* dialog = about ? static_cast<QDialog*>(new AboutDialog(&parent))
                            : static_cast<QDialog*>(new NeedToKnowDialog(&parent));
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(dialog->isWindow());
    QCOMPARE(dialog->parentWidget(), &parent);
}

void TestDialogs::needToKnowDesignerForm()
{
    NeedToKnowDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("NeedToKnowDialog"));
    QCOMPARE(dialog.size(), QSize(444, 317));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Need To Know"));

    auto* title = dialog.findChild<QLabel*>(QStringLiteral("label_Title"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Need To Know"));
    QCOMPARE(title->font().pointSize(), 11);
    QVERIFY(title->font().bold());

    auto* check = dialog.findChild<QCheckBox*>(QStringLiteral("checkBox_DoNotShowAgain"));
    QVERIFY(check);
    QCOMPARE(check->text(), QStringLiteral("Don't Show Again"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("btn_OK1"));
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(ok->minimumSize(), QSize(30, 25));

    auto* browser = dialog.findChild<QTextBrowser*>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    QVERIFY(browser->isReadOnly());
    QVERIFY(browser->openExternalLinks());
}

void TestDialogs::needToKnowNotices()
{
    NeedToKnowDialog dialog;
    auto* browser = dialog.findChild<QTextBrowser*>(QStringLiteral("textBrowser"));
    const QStringList notices = {
        QStringLiteral("If your device (camera, filter wheel, etc.) is working fine, you should not upgrade "
                       "the firmware."),
        QStringLiteral("When upgrading the firmware of the device, please keep the connection between the "
                       "device and the host stable. During the upgrade process, if the connection with the "
                       "host is disconnected, the device may become unusable."),
        QStringLiteral("Please select the firmware that corresponds to your device, writing the wrong "
                       "firmware to your device can cause it to work improperly."),
        QStringLiteral("If you have any questions about upgrading firmware, please contact us: "),
    };

    // One bulleted block per notice, in order.
    QStringList items;
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        if (block.textList()) {
            QCOMPARE(block.textList()->format().style(), QTextListFormat::ListDisc);
            items << block.text();
        }
    }
    QCOMPARE(items.size(), 4);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(items.at(i), notices.at(i));
    const QRegularExpression contact(QRegularExpression::escape(notices.at(3)) +
                                     QStringLiteral("[a-z]+@[a-z.]+\\.example \\.$"));
    QVERIFY2(contact.match(items.at(3)).hasMatch(), qPrintable(items.at(3)));

    const QTextCharFormat format = browser->document()->begin().charFormat();
    QCOMPARE(format.fontFamily(), QStringLiteral("Microsoft YaHei UI"));
    QCOMPARE(format.fontPointSize(), 9.0);
}

void TestDialogs::needToKnowCheckBoxRoundTrip_data()
{
    QTest::addColumn<bool>("checked");
    QTest::newRow("checked") << true;
    QTest::newRow("unchecked") << false;
}

void TestDialogs::needToKnowCheckBoxRoundTrip()
{
    QFETCH(bool, checked);
    NeedToKnowDialog dialog;
    auto* check = dialog.findChild<QCheckBox*>(QStringLiteral("checkBox_DoNotShowAgain"));
    dialog.setDoNotShowChecked(!checked);
    dialog.setDoNotShowChecked(checked);
    QCOMPARE(check->isChecked(), checked);
    QCOMPARE(dialog.isDoNotShowChecked(), checked);

    // A click by the user is what the accessor reports.
    QTest::mouseClick(check, Qt::LeftButton, Qt::NoModifier, QPoint(8, check->height() / 2));
    QCOMPARE(dialog.isDoNotShowChecked(), !checked);
}

void TestDialogs::needToKnowOkHides()
{
    NeedToKnowDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.setDoNotShowChecked(true);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btn_OK1")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), 0); // hidden, neither accepted nor rejected
    QVERIFY(dialog.isDoNotShowChecked());
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
