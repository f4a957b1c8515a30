// The settings store: one INI file, opened once at start-up.
#ifndef READWRITECONFIG_H
#define READWRITECONFIG_H

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

class ReadWriteConfig : public QObject
{
    Q_OBJECT
public:
    // Replaces the process-wide store with a new one owned by parent.
    static ReadWriteConfig* createInstance(QObject* parent);
    static ReadWriteConfig* instance();

    // dirPath empty, the folder of an installed copy (its parent holds the file "installed-copy"),
    // or a folder where the file cannot be written: the writable application configuration
    // location (a file in dirPath is copied there the first time); nothing is written in dirPath.
    void openFile(QString fileName, QString dirPath);
    // key is "Group/Key".
    QVariant value(QString key, QVariant defaultValue);
    void setString(QString group, QString key, QString value);
    void setBool(QString group, QString key, bool value);

    QString filePath;
    QSettings* settings = nullptr;

private:
    explicit ReadWriteConfig(QObject* parent);
    ~ReadWriteConfig() override;
    static ReadWriteConfig* self;
};

#endif
