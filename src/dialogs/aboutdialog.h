#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

#include <QDialog>
#include <QString>

namespace Ui {
class AboutDialog;
}

// "About..." window: logo, program name and version, and the maker's contacts.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    // Shows name + "_V" + version under the logo.
    void setAppInfo(QString name, QString version);
    // Chinese contact rows (web site and chat groups) or international links, by the language rule.
    void setContactLanguage(QString language);

private:
    Ui::AboutDialog* ui;
};

#endif // ABOUTDIALOG_H
