#include "needtoknowdialog.h"
#include "ui_needtoknowdialog.h"

namespace {
const char* const DeveloperMail = "dev@quenvor.example";
}

NeedToKnowDialog::NeedToKnowDialog(QWidget* parent) : QDialog(parent), ui(new Ui::NeedToKnowDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    const QString notices[] = {
        tr("If your device (camera, filter wheel, etc.) is working fine, you should not upgrade the "
           "firmware."),
        tr("When upgrading the firmware of the device, please keep the connection between the device "
           "and the host stable. During the upgrade process, if the connection with the host is "
           "disconnected, the device may become unusable."),
        tr("Please select the firmware that corresponds to your device, writing the wrong firmware to "
           "your device can cause it to work improperly."),
    };
    const QString mail = QString::fromLatin1(DeveloperMail);
    const QString contact =
        tr("If you have any questions about upgrading firmware, please contact us: ").toHtmlEscaped() +
        QStringLiteral("<a style=\"color: #1a8cff;\" href=\"mailto:%1\">%1</a> .").arg(mail);

    QString items;
    for (const QString& notice : notices)
        items += QStringLiteral("<li style=\"margin-bottom:6px;\">%1</li>").arg(notice.toHtmlEscaped());
    items += QStringLiteral("<li>%1</li>").arg(contact);

    ui->textBrowser->setHtml(
        QStringLiteral("<html><body style=\"font-family:'Microsoft YaHei UI'; font-size:9pt;\"><ul>") +
        items + QStringLiteral("</ul></body></html>"));
}

NeedToKnowDialog::~NeedToKnowDialog()
{
    delete ui;
}

bool NeedToKnowDialog::isDoNotShowChecked() const
{
    return ui->checkBox_DoNotShowAgain->isChecked();
}

void NeedToKnowDialog::setDoNotShowChecked(bool checked)
{
    ui->checkBox_DoNotShowAgain->setChecked(checked);
}

void NeedToKnowDialog::on_btn_OK1_clicked()
{
    hide();
}
