// The language rule as the application defines it, for builds without src/app/appinfo.h.
#include <QLocale>
#include <QString>

bool isChineseLanguage(const QString& lang)
{
    return (lang == QLatin1String("auto") && QLocale::system().country() == QLocale::China) ||
           lang == QLatin1String("zh_CN");
}
