#include "themeloader.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QWidget>

QString themeStyleSheetPath(const QString& theme)
{
    QString path = QStringLiteral(":/qss/gray.css");
    if (theme == QLatin1String("Dark"))
        path = QStringLiteral(":/qss/psblack.css");
    return path;
}

QString readStyleSheet(const QString& resourcePath)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    file.close();
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return QString::fromLatin1(bytes);
}

QColor styleSheetPaletteColor(const QString& styleSheet)
{
    return QColor(styleSheet.mid(20, 7));
}

void applyThemeStyle(QWidget* window, const QString& theme)
{
    const QString styleSheet = readStyleSheet(themeStyleSheetPath(theme));
    QApplication::setPalette(QPalette(styleSheetPaletteColor(styleSheet)));
    if (window)
        window->setStyleSheet(styleSheet);
}
