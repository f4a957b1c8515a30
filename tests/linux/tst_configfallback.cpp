// Where the settings store keeps its file: beside the executable when that folder can be written
// and is no installed copy, the user's configuration location otherwise; either way the settings
// survive a restart.
#include "readwriteconfig.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString fileName = QStringLiteral("config.ini");

// One program run: open the store, optionally change settings, close (the store writes on
// destruction). Returns the file path and the values it read, one per line.
QByteArray runOnce(const QString& dirPath, bool write)
{
    QObject application;
    ReadWriteConfig* config = ReadWriteConfig::createInstance(&application);
    config->openFile(fileName, dirPath);
    QByteArray out = config->filePath.toUtf8() + '\n';
    out += config->value(QStringLiteral("General/Lang"), QStringLiteral("auto")).toString().toUtf8() + '\n';
    out += config->value(QStringLiteral("General/NotShowWarning"), false).toString().toUtf8() + '\n';
    out += config->value(QStringLiteral("PATH/FWPath"), QString()).toString().toUtf8() + '\n';
    if (write) {
        config->setBool(QStringLiteral("General"), QStringLiteral("NotShowWarning"), true);
        config->setString(QStringLiteral("PATH"), QStringLiteral("FWPath"),
                          QStringLiteral("/srv/fw/cam.img"));
    }
    return out;
}

// Two runs, the first one changing the settings: what the second run sees.
QByteArray restart(const QString& dirPath)
{
    runOnce(dirPath, true);
    return runOnce(dirPath, false);
}

QString fallbackFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QLatin1Char('/') + fileName;
}

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

class TestConfigFallback : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void writableFolderKeepsSettingsBeside();
    void fallsBackWithoutWritingBeside_data();
    void fallsBackWithoutWritingBeside();
    void readOnlyFileStartsTheFallback();

private:
    QTemporaryDir top;
    QString home;
};

void TestConfigFallback::initTestCase()
{
    QVERIFY(top.isValid());
    QVERIFY(setMode(top.path(), 0755));
    // The configuration location follows HOME; give the (possibly unprivileged) user a fresh one.
    home = top.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));
    if (unprivileged::isRoot())
        QVERIFY(::chown(QFile::encodeName(home).constData(), unprivileged::NobodyId,
                        unprivileged::NobodyId) == 0);
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_CONFIG_HOME");
    QStandardPaths::setTestModeEnabled(true);
    // Cases run both in this process and as nobody: the location belongs to the latter.
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QVERIFY(location.startsWith(home + QLatin1Char('/')));
    QVERIFY(QDir().mkpath(location));
    if (unprivileged::isRoot()) {
        for (QString d = location; d.startsWith(home + QLatin1Char('/')); d = QFileInfo(d).path())
            QVERIFY(::chown(QFile::encodeName(d).constData(), unprivileged::NobodyId,
                            unprivileged::NobodyId) == 0);
    }
}

void TestConfigFallback::init()
{
    // Each case starts without a fallback file.
    QFile::remove(fallbackFile());
}

void TestConfigFallback::writableFolderKeepsSettingsBeside()
{
    // A portable copy: "config" does not exist yet beside the executable.
    const QString dir = top.filePath(QStringLiteral("portable/config/"));
    const QList<QByteArray> seen = restart(dir).split('\n');
    QCOMPARE(QString::fromUtf8(seen.value(0)), dir + QLatin1Char('/') + fileName);
    QCOMPARE(seen.value(2), QByteArray("true"));
    QCOMPARE(seen.value(3), QByteArray("/srv/fw/cam.img"));
    QVERIFY(QFile::exists(dir + fileName));
    QVERIFY(!QFile::exists(fallbackFile()));
    // Only the settings file is left behind, no probe files.
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{fileName});
}

void TestConfigFallback::fallsBackWithoutWritingBeside_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<bool>("unprivileged"); // run as a user the folder's modes apply to

    // A "config" folder that cannot be made: its parent is a regular file (root included).
    const QString blocker = top.filePath(QStringLiteral("installed-file"));
    QFile(blocker).open(QIODevice::WriteOnly);
    QTest::newRow("folder cannot be created") << blocker + QLatin1String("/config/") << false;

    // An installed copy: the folder exists and is read-only.
    const QString readOnly = top.filePath(QStringLiteral("installed/config/"));
    QDir().mkpath(readOnly);
    setMode(readOnly, 0555);
    QTest::newRow("read-only folder") << readOnly << true;

    // The folder can take new files, but the existing file may not be rewritten.
    const QString lockedFileDir = top.filePath(QStringLiteral("locked/config/"));
    QDir().mkpath(lockedFileDir);
    QFile locked(lockedFileDir + fileName);
    locked.open(QIODevice::WriteOnly);
    locked.write("[General]\nTheme=Dark\n");
    locked.close();
    setMode(lockedFileDir + fileName, 0444);
    if (unprivileged::isRoot())
        QVERIFY(::chown(QFile::encodeName(lockedFileDir).constData(), unprivileged::NobodyId,
                        unprivileged::NobodyId) == 0);
    QTest::newRow("read-only file") << lockedFileDir << true;

    // Installed copies (the marker beside the program), run by a user who could write there (root,
    // or the owner): no "config" folder is made, a writable file there is only read.
    const auto installed = [&](const QString& name) {
        const QString program = top.filePath(name);
        QDir().mkpath(program);
        QFile marker(program + QLatin1String("/installed-copy"));
        marker.open(QIODevice::WriteOnly);
        return program + QLatin1String("/config/");
    };
    QTest::newRow("installed copy") << installed(QStringLiteral("usr-lib")) << false;
    const QString installedWithFile = installed(QStringLiteral("usr-lib-configured"));
    QDir().mkpath(installedWithFile);
    QFile placed(installedWithFile + fileName);
    placed.open(QIODevice::WriteOnly);
    placed.write("[General]\nTheme=Dark\n");
    placed.close();
    QTest::newRow("installed copy with a writable file") << installedWithFile << false;
}

void TestConfigFallback::fallsBackWithoutWritingBeside()
{
    QFETCH(QString, dir);
    QFETCH(bool, unprivileged);
    const bool existed = QFileInfo(dir).isDir();
    const QByteArray before = QFile::exists(dir + fileName) ? [&] {
        QFile f(dir + fileName);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }()
                                                            : QByteArray();

    QByteArray output;
    if (unprivileged) {
        RUN_UNPRIVILEGED([&] { return fallbackFile().toUtf8() + '\n' + restart(dir); }, output);
    } else {
        output = fallbackFile().toUtf8() + '\n' + restart(dir);
    }
    const QList<QByteArray> seen = output.split('\n');
    QVERIFY2(seen.size() >= 5, output.constData());
    QCOMPARE(seen.value(1), seen.value(0)); // the second run used the fallback file
    QCOMPARE(seen.value(3), QByteArray("true"));
    QCOMPARE(seen.value(4), QByteArray("/srv/fw/cam.img"));
    // Nothing was written beside the executable.
    QCOMPARE(QFileInfo(dir).isDir(), existed);
    if (QFile::exists(dir + fileName)) {
        QFile f(dir + fileName);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
    if (QFileInfo(dir).isDir())
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
                 before.isNull() ? QStringList() : QStringList{fileName});
}

// A read-only config.ini shipped beside an installed executable (for example with a language
// chosen by hand) is where the user's own file starts.
void TestConfigFallback::readOnlyFileStartsTheFallback()
{
    const QString dir = top.filePath(QStringLiteral("shipped/config/"));
    QVERIFY(QDir().mkpath(dir));
    QFile shipped(dir + fileName);
    QVERIFY(shipped.open(QIODevice::WriteOnly));
    shipped.write("[General]\nLang=zh_CN\n");
    shipped.close();
    QVERIFY(setMode(dir + fileName, 0444));
    QVERIFY(setMode(dir, 0555));

    QByteArray output;
    RUN_UNPRIVILEGED([&] { return restart(dir); }, output);
    const QList<QByteArray> seen = output.split('\n');
    QVERIFY2(seen.size() >= 4, output.constData());
    QCOMPARE(seen.value(1), QByteArray("zh_CN"));
    QCOMPARE(seen.value(2), QByteArray("true"));
    QCOMPARE(seen.value(3), QByteArray("/srv/fw/cam.img"));
    QFile copied(QString::fromUtf8(seen.value(0)));
    QVERIFY(copied.open(QIODevice::ReadOnly));
    const QByteArray contents = copied.readAll();
    QVERIFY2(contents.contains("Lang=zh_CN") && contents.contains("FWPath=/srv/fw/cam.img"),
             contents.constData());
    QVERIFY(setMode(dir, 0755));
}

QTEST_GUILESS_MAIN(TestConfigFallback)
#include "tst_configfallback.moc"
