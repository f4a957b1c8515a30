// Process-wide names and the language rule.
#ifndef APPINFO_H
#define APPINFO_H

#include <QString>

extern const QString appName;    // "Flashwick"
extern const QString appVersion; // "1.2.0"
extern QString currentLanguage;  // stored "General/Lang" value, "auto" until start-up reads it

// Settings groups, keys and theme names.
namespace ConfigKey {
extern const QString General;
extern const QString Path;
extern const QString Lang;
extern const QString NotShowNeedToKnow;
extern const QString NotShowWarning;
extern const QString NotShowWarningZW;
extern const QString FWPath;
extern const QString FPGAPath;
extern const QString ZWFWPath;
extern const QString Theme;
} // namespace ConfigKey

extern const QString themeDark;  // "Dark"
extern const QString themeLight; // "Light"

// True for "zh_CN", or for "auto" when the system locale's country is China. Case-sensitive.
bool isChineseLanguage(const QString& lang);

// The program's name in the interface language rule's sense: Chinese name or appName.
QString localizedAppName(const QString& lang);

#endif
