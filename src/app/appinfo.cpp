#include "appinfo.h"

#include <QLocale>

const QString appName = QStringLiteral("Flashwick");
const QString appVersion = QStringLiteral("1.2.0");
QString currentLanguage = QStringLiteral("auto");

namespace ConfigKey {
const QString General = QStringLiteral("General");
const QString Path = QStringLiteral("PATH");
const QString Lang = QStringLiteral("Lang");
const QString NotShowNeedToKnow = QStringLiteral("NotShowNeedToKnow");
const QString NotShowWarning = QStringLiteral("NotShowWarning");
const QString NotShowWarningZW = QStringLiteral("NotShowWarning_ZW");
const QString FWPath = QStringLiteral("FWPath");
const QString FPGAPath = QStringLiteral("FPGAPath");
const QString ZWFWPath = QStringLiteral("ZW_FWPath");
const QString Theme = QStringLiteral("Theme");
} // namespace ConfigKey

const QString themeDark = QStringLiteral("Dark");
const QString themeLight = QStringLiteral("Light");

bool isChineseLanguage(const QString& lang)
{
    return (lang == QLatin1String("auto") && QLocale::system().country() == QLocale::China) ||
           lang == QLatin1String("zh_CN");
}

QString localizedAppName(const QString& lang)
{
    // "固件升级软件": firmware update software.
    return isChineseLanguage(lang)
               ? QString::fromUtf8("\xE5\x9B\xBA\xE4\xBB\xB6\xE5\x8D\x87\xE7\xBA\xA7\xE8\xBD\xAF\xE4\xBB\xB6")
               : appName;
}

// The resources are compiled into a static library; register them with every program that links it.
static int registerResources()
{
    Q_INIT_RESOURCE(resources);
    return 0;
}
static const int resourcesRegistered = registerResources();
