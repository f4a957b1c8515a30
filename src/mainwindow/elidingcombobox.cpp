#include "elidingcombobox.h"

#include <QAbstractItemView>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>

ElidingComboBox::ElidingComboBox(QWidget* parent) : QComboBox(parent)
{
    // Size from the minimum contents length, not from the longest item.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

QString ElidingComboBox::shownText() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull())
        field.adjust(option.iconSize.width() + 4, 0, 0, 0);
    // The styles draw the label one pixel in from each side of the field.
    return fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width() - 2);
}

void ElidingComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void ElidingComboBox::showPopup()
{
    QAbstractItemView* list = view();
    int wanted = list->sizeHintForColumn(0) + 2 * list->frameWidth();
    if (count() > maxVisibleItems())
        wanted += list->verticalScrollBar()->sizeHint().width();
    if (const QScreen* here = screen())
        wanted = qMin(wanted, here->availableGeometry().width());
    list->setMinimumWidth(wanted);
    QComboBox::showPopup();
}
