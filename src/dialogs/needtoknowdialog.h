#ifndef NEEDTOKNOWDIALOG_H
#define NEEDTOKNOWDIALOG_H
#include <QDialog>
class NeedToKnowDialog : public QDialog
{
    Q_OBJECT
public:
    explicit NeedToKnowDialog(QWidget* parent = nullptr) : QDialog(parent) {}
    bool isDoNotShowChecked() const { return checked; }
    void setDoNotShowChecked(bool c) { checked = c; }
private:
    bool checked = false;
};
#endif
