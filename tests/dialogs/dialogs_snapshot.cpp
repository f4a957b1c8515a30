// Renders the About and Need To Know dialogs, and a page of standard widgets, in both themes to PNG files:
//   dialogs_snapshot <folder>     (use QT_QPA_PLATFORM=offscreen without a display)
#include "aboutdialog.h"
#include "needtoknowdialog.h"
#include "themeloader.h"

#include <QActionGroup>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTextStream>
#include <QToolButton>
#include <QTreeWidget>

namespace {

// One of each widget class the stylesheets cover, in enabled and disabled states.
QWidget* buildGallery(QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* grid = new QGridLayout(page);

    auto* tabs = new QTabWidget;
    auto* first = new QWidget;
    auto* firstLayout = new QGridLayout(first);
    auto* box = new QGroupBox(QStringLiteral("Update"));
    auto* boxLayout = new QGridLayout(box);
    boxLayout->addWidget(new QPushButton(QStringLiteral("Select FW File")), 0, 0);
    auto* disabledButton = new QPushButton(QStringLiteral("Write FW"));
    disabledButton->setEnabled(false);
    boxLayout->addWidget(disabledButton, 0, 1);
    auto* edit = new QLineEdit(QStringLiteral("/home/user/firmware.img"));
    boxLayout->addWidget(edit, 1, 0, 1, 2);
    auto* disabledEdit = new QLineEdit(QStringLiteral("disabled"));
    disabledEdit->setEnabled(false);
    boxLayout->addWidget(disabledEdit, 2, 0, 1, 2);
    auto* bar = new QProgressBar;
    bar->setValue(62);
    bar->setAlignment(Qt::AlignCenter);
    boxLayout->addWidget(bar, 3, 0, 1, 2);
    const char* states[] = {"normal", "writing", "ok", "failed"};
    const char* texts[] = {"", "Writing...", "Write FW Success", "Write FW Failed"};
    for (int i = 1; i < 4; ++i) {
        auto* msg = new QLabel(QString::fromLatin1(texts[i]));
        msg->setObjectName(i % 2 ? QStringLiteral("labelMsg") : QStringLiteral("labelMsg_ZW"));
        msg->setProperty("res", QString::fromLatin1(states[i]));
        boxLayout->addWidget(msg, 4 + i, 0, 1, 2);
    }
    firstLayout->addWidget(box, 0, 0, 1, 3);
    auto* combo = new QComboBox;
    combo->addItems({QStringLiteral("QVR-294C"), QStringLiteral("QVR-533M")});
    firstLayout->addWidget(combo, 1, 0);
    auto* disabledCombo = new QComboBox;
    disabledCombo->addItem(QStringLiteral("disabled"));
    disabledCombo->setEnabled(false);
    firstLayout->addWidget(disabledCombo, 1, 1);
    auto* spin = new QSpinBox;
    spin->setValue(3);
    firstLayout->addWidget(spin, 1, 2);
    auto* tool = new QToolButton;
    tool->setObjectName(QStringLiteral("toolButton_About"));
    tool->setText(QStringLiteral("..."));
    tool->setFixedSize(25, 25);
    firstLayout->addWidget(tool, 2, 0);
    auto* copy = new QPushButton(QStringLiteral("Copy"));
    copy->setObjectName(QStringLiteral("btnCopySN"));
    firstLayout->addWidget(copy, 2, 1);
    auto* what = new QPushButton(QStringLiteral("What's this?"));
    what->setObjectName(QStringLiteral("pushButton_WhatThis"));
    what->setFlat(true);
    firstLayout->addWidget(what, 2, 2);
    tabs->addTab(first, QStringLiteral("Camera"));
    tabs->addTab(new QWidget, QStringLiteral("Filter Wheel"));
    grid->addWidget(tabs, 0, 0, 3, 1);

    auto* checks = new QGroupBox(QStringLiteral("Indicators"));
    auto* checksLayout = new QGridLayout(checks);
    auto* partial = new QCheckBox(QStringLiteral("partial"));
    partial->setTristate(true);
    partial->setCheckState(Qt::PartiallyChecked);
    QCheckBox* boxes[] = {new QCheckBox(QStringLiteral("One-Way")), new QCheckBox(QStringLiteral("checked")),
                          partial};
    boxes[1]->setChecked(true);
    QRadioButton* radios[] = {new QRadioButton(QStringLiteral("Light")),
                              new QRadioButton(QStringLiteral("Dark"))};
    radios[1]->setChecked(true);
    for (int disabled = 0; disabled < 2; ++disabled) {
        for (int i = 0; i < 3; ++i) {
            QCheckBox* check = disabled ? new QCheckBox(boxes[i]->text()) : boxes[i];
            if (disabled) {
                check->setTristate(boxes[i]->isTristate());
                check->setCheckState(boxes[i]->checkState());
                check->setEnabled(false);
            }
            checksLayout->addWidget(check, i, disabled);
        }
        for (int i = 0; i < 2; ++i) {
            auto* radioBox = new QWidget;
            auto* radioLayout = new QGridLayout(radioBox);
            radioLayout->setContentsMargins(0, 0, 0, 0);
            auto* a = new QRadioButton(radios[0]->text());
            auto* b = new QRadioButton(radios[1]->text());
            b->setChecked(true);
            radioLayout->addWidget(a, 0, 0);
            radioLayout->addWidget(b, 0, 1);
            radioBox->setEnabled(!disabled);
            if (i == 0)
                checksLayout->addWidget(radioBox, 3, disabled);
        }
    }
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setValue(40);
    checksLayout->addWidget(slider, 4, 0, 1, 2);
    grid->addWidget(checks, 0, 1);

    auto* tree = new QTreeWidget;
    tree->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Version")});
    for (int i = 0; i < 3; ++i) {
        auto* item = new QTreeWidgetItem(
            tree, {QStringLiteral("Wheel %1").arg(i + 1), QStringLiteral("V1.%1").arg(i)});
        new QTreeWidgetItem(item, {QStringLiteral("slot"), QStringLiteral("7")});
        item->setExpanded(i == 0);
    }
    for (int i = 0; i < 12; ++i)
        new QTreeWidgetItem(tree, {QStringLiteral("Camera %1").arg(i), QStringLiteral("V2.0")});
    tree->setCurrentItem(tree->topLevelItem(1));
    tree->setMaximumHeight(150);
    grid->addWidget(tree, 1, 1);

    auto* log = new QTextEdit;
    log->setReadOnly(true);
    for (int i = 0; i < 20; ++i)
        log->append(
            QStringLiteral("Erasing block %1 of the flash, a long line that needs a horizontal scroll bar")
                .arg(i));
    log->setLineWrapMode(QTextEdit::NoWrap);
    log->setMaximumHeight(110);
    grid->addWidget(log, 2, 1);

    auto* calendar = new QCalendarWidget;
    calendar->setSelectedDate(QDate(2026, 12, 7));
    grid->addWidget(calendar, 3, 0);

    auto* table = new QTableWidget(4, 3);
    table->setHorizontalHeaderLabels(
        {QStringLiteral("Step"), QStringLiteral("Result"), QStringLiteral("Time")});
    table->setAlternatingRowColors(true);
    table->selectRow(1);
    grid->addWidget(table, 3, 1);
    return page;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Microsoft YaHei"));
    QApplication::setFont(font);

    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(folder);
    QTextStream out(stdout);

    for (const QString& theme : {QStringLiteral("Light"), QStringLiteral("Dark")}) {
        QMainWindow window;
        applyThemeStyle(&window, theme);

        for (const QString& language : {QStringLiteral("en_US"), QStringLiteral("zh_CN")}) {
            auto* about = new AboutDialog(&window);
            about->setAppInfo(QStringLiteral("Flashwick"), QStringLiteral("1.2.0"));
            about->setContactLanguage(language);
            about->show();
            const QString file = folder + QStringLiteral("/about_%1_%2.png").arg(theme, language);
            about->grab().save(file);
            out << file << '\n';
            about->hide();
        }

        auto* notice = new NeedToKnowDialog(&window);
        notice->show();
        const QString file = folder + QStringLiteral("/needtoknow_%1.png").arg(theme);
        notice->grab().save(file);
        out << file << '\n';
        notice->setDoNotShowChecked(true);
        notice->findChild<QWidget*>(QStringLiteral("btn_OK1"))->setEnabled(false);
        const QString disabled = folder + QStringLiteral("/needtoknow_%1_checked_disabled.png").arg(theme);
        notice->grab().save(disabled);
        out << disabled << '\n';

        QWidget* gallery = buildGallery(&window);
        window.setCentralWidget(gallery);
        window.resize(860, 640);
        window.show();
        const QString galleryFile = folder + QStringLiteral("/gallery_%1.png").arg(theme);
        window.grab().save(galleryFile);
        out << galleryFile << '\n';

        auto* menu = new QMenu(&window);
        menu->addAction(QStringLiteral("About"));
        menu->addAction(QStringLiteral("Check Update"))->setEnabled(false);
        menu->addSeparator();
        auto* themeMenu = menu->addMenu(QStringLiteral("Theme"));
        auto* group = new QActionGroup(menu);
        for (const char* name : {"Light", "Dark"}) {
            QAction* action = themeMenu->addAction(QString::fromLatin1(name));
            action->setCheckable(true);
            action->setChecked(theme == QLatin1String(name));
            group->addAction(action);
        }
        QAction* checkable = menu->addAction(QStringLiteral("Need To Know"));
        checkable->setCheckable(true);
        checkable->setChecked(true);
        menu->popup(QPoint(0, 0));
        themeMenu->popup(QPoint(200, 0));
        const QString menuFile = folder + QStringLiteral("/menu_%1.png").arg(theme);
        const QPixmap left = menu->grab();
        const QPixmap right = themeMenu->grab();
        QPixmap both(left.width() + right.width() + 10, qMax(left.height(), right.height()));
        both.fill(Qt::transparent);
        {
            QPainter painter(&both);
            painter.drawPixmap(0, 0, left);
            painter.drawPixmap(left.width() + 10, 0, right);
        }
        both.save(menuFile);
        out << menuFile << '\n';
        menu->hide();
        themeMenu->hide();

        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
                                    QStringLiteral("Writing firmware carries a risk. Continue?"),
                                    QMessageBox::Yes | QMessageBox::No, &window);
        box->setCheckBox(new QCheckBox(QStringLiteral("Don't show again")));
        box->show();
        const QString boxFile = folder + QStringLiteral("/messagebox_%1.png").arg(theme);
        box->grab().save(boxFile);
        out << boxFile << '\n';
        box->hide();
    }
    return 0;
}
