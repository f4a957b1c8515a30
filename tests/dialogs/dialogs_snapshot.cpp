// Renders the About and Need To Know dialogs in both themes to PNG files:
//   dialogs_snapshot <folder>     (use QT_QPA_PLATFORM=offscreen without a display)
#include "aboutdialog.h"
#include "needtoknowdialog.h"
#include "themeloader.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QTextStream>

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
    }
    return 0;
}
