#include "readwriteconfig.h"

#include <QDir>
#include <QStandardPaths>

ReadWriteConfig* ReadWriteConfig::self = nullptr;

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
    return settings->value(key, defaultValue);
}

void ReadWriteConfig::setString(QString group, QString key, QString value)
{
    if (!settings)
        return;
    settings->beginGroup(group);
    settings->setValue(key, value);
    settings->endGroup();
}

void ReadWriteConfig::setBool(QString group, QString key, bool value)
{
    if (!settings)
        return;
    settings->beginGroup(group);
    settings->setValue(key, value);
    settings->endGroup();
}
