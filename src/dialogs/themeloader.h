#ifndef THEMELOADER_H
#define THEMELOADER_H

#include <QColor>
#include <QString>

class QWidget;

// Resource path of a theme's stylesheet: ":/qss/psblack.css" for "Dark", ":/qss/gray.css" otherwise.
QString themeStyleSheetPath(const QString& theme);

// Stylesheet text of a resource: its bytes up to the first zero byte, as Latin-1.
// Empty when the resource cannot be opened.
QString readStyleSheet(const QString& resourcePath);

// The colour of the leading "QPalette{background:#xxxxxx;}" rule (characters 20 to 26).
QColor styleSheetPaletteColor(const QString& styleSheet);

// Makes the theme's colour the application palette and its stylesheet the window's.
void applyThemeStyle(QWidget* window, const QString& theme);

#endif // THEMELOADER_H
