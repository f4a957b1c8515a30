#include "readwriteconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextCodec>

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

// The package and cmake --install put this file beside the programs. Settings of such an installed
// copy live in each user's configuration location and are never written beside the program, also
// not when root could write there; copies without it (a build tree, an unpacked folder) stay
// portable.
const QString installedMarker = QStringLiteral("installed-copy");

// True when dir is the settings folder of an installed copy: its parent folder holds the marker.
bool besideInstalledProgram(const QString& dir)
{
    return QFileInfo(QDir::cleanPath(dir + QLatin1String("/..")) + QLatin1Char('/') + installedMarker)
        .isFile();
}

// True when the settings file can be written in dir: the folder exists or can be made, a new file
// can be created there (QSettings writes through a lock file and a temporary file beside the
// target), and an existing file can be opened for writing. Probing by creating files also holds
// for root, for whom permission bits alone say nothing.
bool canWriteSettingsIn(const QString& dir, const QString& fileName)
{
    if (!QDir().mkpath(dir))
        return false;
    QTemporaryFile probe(dir + QLatin1String("/.flashwick-probe-XXXXXX"));
    if (!probe.open())
        return false;
    QFile existing(dir + QLatin1Char('/') + fileName);
    if (existing.exists() && !existing.open(QIODevice::ReadWrite))
        return false;
    return true;
}

// True when the file holds bytes that are not UTF-8 (a file saved by hand in a legacy 8-bit
// encoding). A missing or unreadable file counts as UTF-8.
bool holdsNonUtf8(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars > 0;
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
    // An installed copy, or a folder that cannot take the file (a read-only executable folder, which
    // would lose every setting at each close): use the user's configuration location, started from
    // the file in the given folder when there is one, so hand-made settings such as the language
    // still apply.
    QString dir = dirPath;
    QString startFile;
    if (!dir.isEmpty() && (besideInstalledProgram(dir) || !canWriteSettingsIn(dir, fileName))) {
        const QString given = dir + QLatin1Char('/') + fileName;
        if (QFileInfo(given).isFile())
            startFile = given;
        dir.clear();
    }
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (!QDir(dir).exists())
        QDir().mkpath(dir);
    filePath = dir + QLatin1Char('/') + fileName;
    if (!startFile.isEmpty() && !QFileInfo::exists(filePath) && QFile::copy(startFile, filePath))
        QFile::setPermissions(filePath,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    delete settings;
    settings = new QSettings(filePath, QSettings::IniFormat, this);
    // Read and write UTF-8, the encoding of hand-edited files today; without this QSettings reads
    // Latin-1 unless the file starts with a byte-order mark. Files written before, which hold
    // Qt's \xNNNN escapes in plain ASCII, read the same either way. A file that is not UTF-8 keeps
    // the Latin-1 reading, and is written back in escapes.
    if (!holdsNonUtf8(filePath))
        settings->setIniCodec("UTF-8");
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
