// A combo box that cuts a text too long for its field with an ellipsis instead of clipping it, so
// a long device name cannot push the window wider: the combo takes the room its layout gives it.
#ifndef ELIDINGCOMBOBOX_H
#define ELIDINGCOMBOBOX_H

#include <QComboBox>

class ElidingComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ElidingComboBox(QWidget* parent = nullptr);

    // The text as drawn: the current text, cut to the width of the field.
    QString shownText() const;

    // The list opens as wide as its longest item (within the screen), so whole names can be told
    // apart there.
    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

#endif
