#include "appinfo.h"
#include "mainwindow.h"
#include "readwriteconfig.h"

#include <QApplication>
#include <QFont>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);

    QString configDir = QCoreApplication::applicationDirPath();
    if (!configDir.endsWith(QLatin1Char('/')))
        configDir += QLatin1Char('/');
    configDir += QLatin1String("config/");

    ReadWriteConfig* config = ReadWriteConfig::createInstance(&app);
    config->openFile(QStringLiteral("config.ini"), configDir);
    const QString language =
        config->value(ConfigKey::General + QLatin1Char('/') + ConfigKey::Lang, QStringLiteral("auto"))
            .toString();

    QTranslator translator;
    if (isChineseLanguage(language)) {
        const QString qmFile =
            QCoreApplication::applicationDirPath() + QLatin1String("/translations/Flashwick_zh_CN.qm");
        if (translator.load(qmFile))
            app.installTranslator(&translator);
    }

    QFont font = app.font();
    font.setFamily(QStringLiteral("Microsoft YaHei"));
    app.setFont(font);

    currentLanguage = language;

    int result;
    {
        MainWindow window;
        window.show();
        result = app.exec();
    }
    return result;
}
