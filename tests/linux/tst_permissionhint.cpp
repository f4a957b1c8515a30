// The permission hint: which nodes count as closed to the user, and the line that names the fix.
#include "permissionhint.h"
#include "unprivileged.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
QString expectedHint(const QString& node)
{
    return QStringLiteral(
               "Permission denied on %1: install 60-flashwick.rules (see README) and re-plug the device.")
        .arg(node);
}
} // namespace

class TestPermissionHint : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void hintForNode_data();
    void hintForNode();
    void firstClosedNodeOfList();
    void cameraPathsThatNameNoDevice_data();
    void cameraPathsThatNameNoDevice();

private:
    // A file only root (when we are root) or nobody at all (otherwise) may open.
    QString makeClosedNode(const QString& name);
    QString makeOpenNode(const QString& name);

    QTemporaryDir dir;
};

void TestPermissionHint::initTestCase()
{
    QVERIFY(dir.isValid());
    // The unprivileged user must reach the nodes; only their own modes may stop it.
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                                  QFileDevice::ExeGroup));
}

void TestPermissionHint::cleanupTestCase()
{
    ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("closedbus"))).constData(), 0700);
}

QString TestPermissionHint::makeClosedNode(const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.close();
    // Owned by root with 0600 when we are root (checked as nobody); mode 0 otherwise.
    ::chmod(QFile::encodeName(path).constData(), unprivileged::isRoot() ? 0600 : 0);
    return path;
}

QString TestPermissionHint::makeOpenNode(const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.close();
    if (unprivileged::isRoot() &&
        ::chown(QFile::encodeName(path).constData(), unprivileged::NobodyId, unprivileged::NobodyId) != 0)
        return QString();
    ::chmod(QFile::encodeName(path).constData(), 0600);
    return path;
}

void TestPermissionHint::hintForNode_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<bool>("hinted");

    QTest::newRow("closed node") << makeClosedNode(QStringLiteral("hidraw7")) << true;
    QTest::newRow("node of the user") << makeOpenNode(QStringLiteral("hidraw8")) << false;
    QTest::newRow("missing node") << dir.filePath(QStringLiteral("hidraw9")) << false;
    QTest::newRow("no node") << QString() << false;

    // A folder on the way that the user may not enter is as closed as the node itself.
    QDir(dir.path()).mkdir(QStringLiteral("closedbus"));
    const QString inside = dir.filePath(QStringLiteral("closedbus/003"));
    QFile(inside).open(QIODevice::WriteOnly);
    ::chmod(QFile::encodeName(inside).constData(), 0666);
    ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("closedbus"))).constData(),
            unprivileged::isRoot() ? 0700 : 0);
    QTest::newRow("closed folder on the way") << inside << true;

    // Readable but not writable still cannot be used.
    const QString readOnly = makeOpenNode(QStringLiteral("readonly"));
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    QTest::newRow("read-only node") << readOnly << true;
}

void TestPermissionHint::hintForNode()
{
    QFETCH(QString, node);
    QFETCH(bool, hinted);
    QByteArray output;
    RUN_UNPRIVILEGED([&] { return permissionHintForNode(node).toUtf8(); }, output);
    QCOMPARE(QString::fromUtf8(output), hinted ? expectedHint(node) : QString());
}

void TestPermissionHint::firstClosedNodeOfList()
{
    const QString open = makeOpenNode(QStringLiteral("list-open"));
    const QString closedA = makeClosedNode(QStringLiteral("list-closed-a"));
    const QString closedB = makeClosedNode(QStringLiteral("list-closed-b"));
    const QString missing = dir.filePath(QStringLiteral("list-missing"));
    QByteArray output;
    RUN_UNPRIVILEGED(
        [&] {
            return permissionHintForNodes({missing, open, closedA, closedB}).toUtf8() + '\n' +
                   permissionHintForNodes({open, missing}).toUtf8() + '\n' +
                   permissionHintForNodes({}).toUtf8();
        },
        output);
    QCOMPARE(QString::fromUtf8(output), expectedHint(closedA) + QStringLiteral("\n\n"));
}

// Paths that do not name a present USB device give no node and so no hint.
void TestPermissionHint::cameraPathsThatNameNoDevice_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << QString();
    QTest::newRow("not usb") << QStringLiteral("hid:1-2");
    QTest::newRow("no port") << QStringLiteral("usb:3");
    QTest::newRow("bus not a number") << QStringLiteral("usb:x-1");
    QTest::newRow("address not a number") << QStringLiteral("usb:1-addrX");
    QTest::newRow("absent bus") << QStringLiteral("usb:250-1.2.3.4");
    QTest::newRow("absent address") << QStringLiteral("usb:250-addr127");
}

void TestPermissionHint::cameraPathsThatNameNoDevice()
{
    QFETCH(QString, path);
    QCOMPARE(usbDeviceNode(path), QString());
    QCOMPARE(cameraPermissionHint(path), QString());
}

QTEST_GUILESS_MAIN(TestPermissionHint)
#include "tst_permissionhint.moc"
