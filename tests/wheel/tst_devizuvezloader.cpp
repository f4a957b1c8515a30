// Where the wheel-library loader looks, which copy it takes and what it reports. Each case runs
// devizuvez_probe as a child (the loader loads once per process), copied into a folder of its own
// so that "beside the executable" can be arranged.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString NotFound =
    QStringLiteral("Filter wheel library DevizuvEZ not found (looked for %1): wheels cannot "
                   "be controlled. Install the maker's library (see README).");
const QString Lacks = QStringLiteral("Filter wheel library %1 lacks the function(s) %2: wheels cannot be "
                                     "controlled. Install the maker's library (see README).");
const QString Unloadable =
    QStringLiteral("Filter wheel library %1 cannot be loaded (%ANY%): wheels cannot be "
                   "controlled. Install the maker's library (see README).");
const QString System = QStringLiteral("libDevizuvEZ.so in the system's library folders");

bool copy(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

QMap<QString, QString> parse(const QByteArray& output)
{
    QMap<QString, QString> values;
    for (const QByteArray& line : output.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return values;
}

} // namespace

class TestDevizuvezLoader : public QObject
{
    Q_OBJECT

private slots:
    void lookUp_data()
    {
        // variable: empty = not set, "missing", "text" (a file that is no library), "relative" (a
        // bare file name in the working folder, which holds copy A), or a copy: "a", "incomplete".
        // beside: the copy placed beside the program. system: the copy in LD_LIBRARY_PATH.
        // count: the wheel count the loaded copy reports (A 11, B 22, C 33), 0 when none is used.
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("beside");
        QTest::addColumn<QString>("system");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("problem");

        QTest::newRow("nothing anywhere") << ""
                                          << ""
                                          << "" << 0 << NotFound.arg("%APP%/libDevizuvEZ.so, " + System);
        QTest::newRow("variable names a missing file: nothing else is tried")
            << "missing"
            << "b"
            << "c" << 0 << NotFound.arg("%TMP%/none/libDevizuvEZ.so");
        QTest::newRow("variable first") << "a"
                                        << "b"
                                        << "c" << 11 << "";
        QTest::newRow("beside the program before the system") << ""
                                                              << "b"
                                                              << "c" << 22 << "";
        QTest::newRow("system search") << ""
                                       << ""
                                       << "c" << 33 << "";
        QTest::newRow("relative variable is a path, not a search") << "relative"
                                                                   << ""
                                                                   << "c" << 11 << "";
        QTest::newRow("an entry point missing") << "incomplete"
                                                << ""
                                                << "" << 0 << Lacks.arg("%INCOMPLETE%", "QVRSetMotorPower");
        QTest::newRow("an incomplete copy beside the program ends the search")
            << ""
            << "incomplete"
            << "c" << 0 << Lacks.arg("%APP%/libDevizuvEZ.so", "QVRSetMotorPower");
        QTest::newRow("not a library") << "text"
                                       << "b"
                                       << "" << 0 << Unloadable.arg("%TMP%/notalib.so");
    }

    void lookUp()
    {
        QFETCH(QString, variable);
        QFETCH(QString, beside);
        QFETCH(QString, system);
        QFETCH(int, count);
        QFETCH(QString, problem);

        const QMap<QString, QString> copies{
            {"a", FAKE_A}, {"b", FAKE_B}, {"c", FAKE_C}, {"incomplete", FAKE_INCOMPLETE}};
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString root = QFileInfo(tmp.path()).canonicalFilePath(); // as the program sees itself
        const QString app = root + QStringLiteral("/app");
        const QString work = root + QStringLiteral("/work");
        QVERIFY(QDir().mkpath(app) && QDir().mkpath(work));
        const QString probe = app + QStringLiteral("/devizuvez_probe");
        QVERIFY(copy(QStringLiteral(PROBE), probe));
        QVERIFY(QFile::setPermissions(probe, QFile::permissions(probe) | QFile::ExeOwner));
        if (!beside.isEmpty())
            QVERIFY(copy(copies[beside], app + QStringLiteral("/libDevizuvEZ.so")));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("FLASHWICK_DEVIZUVEZ"));
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        if (variable == QLatin1String("missing")) {
            env.insert(QStringLiteral("FLASHWICK_DEVIZUVEZ"), root + QStringLiteral("/none/libDevizuvEZ.so"));
        } else if (variable == QLatin1String("text")) {
            QFile text(root + QStringLiteral("/notalib.so"));
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a library\n") > 0);
            text.close();
            env.insert(QStringLiteral("FLASHWICK_DEVIZUVEZ"), text.fileName());
        } else if (variable == QLatin1String("relative")) {
            QVERIFY(copy(copies["a"], work + QStringLiteral("/libDevizuvEZ.so")));
            env.insert(QStringLiteral("FLASHWICK_DEVIZUVEZ"), QStringLiteral("libDevizuvEZ.so"));
        } else if (!variable.isEmpty()) {
            env.insert(QStringLiteral("FLASHWICK_DEVIZUVEZ"), copies[variable]);
        }
        if (!system.isEmpty())
            env.insert(QStringLiteral("LD_LIBRARY_PATH"), QFileInfo(copies[system]).absolutePath());

        QProcess child;
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(work);
        child.start(probe, QStringList());
        QVERIFY(child.waitForFinished(30000));
        const QByteArray output = child.readAllStandardOutput();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output + child.readAllStandardError());
        const QMap<QString, QString> got = parse(output);

        if (count == 0 && got.value("loaded") == QLatin1String("1") &&
            got.value("file") == QLatin1String("libDevizuvEZ.so"))
            QSKIP("a DevizuvEZ library is installed on this machine");

        QCOMPARE(got.value("loaded"), QString::number(count > 0 ? 1 : 0));
        QCOMPARE(got.value("count"), QString::number(count));
        // A forwarded call reaches the copy loaded; without one it fails and leaves its out argument.
        QCOMPARE(got.value("state"),
                 count > 0 ? QStringLiteral("%1 status=0").arg(5 + count) : QStringLiteral("77 status=-1"));
        QCOMPARE(got.value("error"),
                 count > 0 ? QStringLiteral("fake") : QStringLiteral("Filter wheel library not loaded"));

        problem.replace(QStringLiteral("%APP%"), app)
            .replace(QStringLiteral("%TMP%"), root)
            .replace(QStringLiteral("%INCOMPLETE%"), QStringLiteral(FAKE_INCOMPLETE));
        const QString expected = QRegularExpression::escape(problem).replace(
            QRegularExpression::escape(QStringLiteral("%ANY%")), QStringLiteral(".+"));
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected));
        QVERIFY2(pattern.match(got.value("problem")).hasMatch(), qPrintable(got.value("problem")));
    }
};

QTEST_GUILESS_MAIN(TestDevizuvezLoader)
#include "tst_devizuvezloader.moc"
