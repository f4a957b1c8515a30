#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H
#include <QDialog>
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr) : QDialog(parent) {}
    void setAppInfo(QString, QString) {}
    void setContactLanguage(QString) {}
};
#endif
