#include "readwriteconfig.h"

#include <QDir>
#include <QStandardPaths>

ReadWriteConfig* ReadWriteConfig::self = nullptr;

namespace {
// QSettings keeps keys without a group in the INI section [General] and escapes a group that is
// really named "General" as [%General]. Map the group "General" to the keys without a group, so
// the file shows [General] and a hand-edited [General] section is read.
const QString generalGroup = QStringLiteral("General");

QString settingsKey(const QString& key)
{
    const QString prefix = generalGroup + QLatin1Char('/');
    return key.startsWith(prefix) ? key.mid(prefix.size()) : key;
}

void store(QSettings* settings, const QString& group, const QString& key, const QVariant& value)
{
    if (!settings)
        return;
    if (group == generalGroup) {
        settings->setValue(key, value);
        return;
    }
    settings->beginGroup(group);
    settings->setValue(key, value);
    settings->endGroup();
}
} // namespace

ReadWriteConfig::ReadWriteConfig(QObject* parent) : QObject(parent) {}

ReadWriteConfig::~ReadWriteConfig()
{
    if (self == this)
        self = nullptr;
}

ReadWriteConfig* ReadWriteConfig::createInstance(QObject* parent)
{
    delete self;
    self = new ReadWriteConfig(parent);
    return self;
}

ReadWriteConfig* ReadWriteConfig::instance()
{
    return self;
}

void ReadWriteConfig::openFile(QString fileName, QString dirPath)
{
    QString dir = dirPath;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (!QDir(dir).exists())
        QDir().mkpath(dir);
    filePath = dir + QLatin1Char('/') + fileName;
    delete settings;
    settings = new QSettings(filePath, QSettings::IniFormat, this);
}

QVariant ReadWriteConfig::value(QString key, QVariant defaultValue)
{
    if (!settings)
        return defaultValue;
    return settings->value(settingsKey(key), defaultValue);
}

void ReadWriteConfig::setString(QString group, QString key, QString value)
{
    store(settings, group, key, value);
}

void ReadWriteConfig::setBool(QString group, QString key, bool value)
{
    store(settings, group, key, value);
}
