#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include <QLabel>

#include "appinfo.h"

namespace {

const char* const WebsiteCn = "https://quenvor.example/cn";
const char* const WebsiteIntl = "https://quenvor.example";
const char* const SupportMail = "support@quenvor.example";
const char* const SocialPage = "https://social.quenvor.example";
const char* const ChatGroupFirst = "123456789";
const char* const ChatGroupSecond = "987654321";

// An anchor start tag whose visible text is the address itself; Qt closes the element.
QString linkTo(const QString& href, const QString& shown)
{
    return QStringLiteral("<a style=\"color: #1a8cff;\" href=\"%1\">%2").arg(href, shown);
}

void showLink(QLabel* label, const QString& href, const QString& shown)
{
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setText(linkTo(href, shown));
}

void showPlain(QLabel* label, const QString& text)
{
    label->setTextFormat(Qt::PlainText);
    label->setOpenExternalLinks(false);
    label->setText(text);
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::setAppInfo(QString name, QString version)
{
    ui->label_AppName->setText(name + QStringLiteral("_V") + version);
}

void AboutDialog::setContactLanguage(QString language)
{
    if (isChineseLanguage(language)) {
        ui->label_Website->setText(QStringLiteral("官网: "));
        showLink(ui->label_ShowWebsite, QString::fromLatin1(WebsiteCn), QString::fromLatin1(WebsiteCn));
        ui->label_Support->setText(QStringLiteral("技术支持: "));
        showPlain(ui->label_ShowSupport, QStringLiteral("QQ群: ") + QLatin1String(ChatGroupFirst));
        ui->label_Facebook->setText(QStringLiteral("交流："));
        showPlain(ui->label_ShowFacebook, QStringLiteral("QQ群: ") + QLatin1String(ChatGroupSecond));
    } else {
        const QString mail = QString::fromLatin1(SupportMail);
        ui->label_Website->setText(QStringLiteral("website:"));
        showLink(ui->label_ShowWebsite, QString::fromLatin1(WebsiteIntl), QString::fromLatin1(WebsiteIntl));
        ui->label_Support->setText(QStringLiteral("support:"));
        showLink(ui->label_ShowSupport, QStringLiteral("mailto:") + mail, mail);
        ui->label_Facebook->setText(QStringLiteral("facebook:"));
        showLink(ui->label_ShowFacebook, QString::fromLatin1(SocialPage), QString::fromLatin1(SocialPage));
    }
}
