#ifndef NEEDTOKNOWDIALOG_H
#define NEEDTOKNOWDIALOG_H

#include <QDialog>

namespace Ui {
class NeedToKnowDialog;
}

// The notice shown at start-up, with its "Don't Show Again" choice.
class NeedToKnowDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NeedToKnowDialog(QWidget* parent = nullptr);
    ~NeedToKnowDialog() override;

    bool isDoNotShowChecked() const;
    void setDoNotShowChecked(bool checked);

private slots:
    void on_btn_OK1_clicked();

private:
    Ui::NeedToKnowDialog* ui;
};

#endif // NEEDTOKNOWDIALOG_H
