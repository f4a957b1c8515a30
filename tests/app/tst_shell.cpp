// Start-up, settings store and the main window frame.
#include "aboutdialog.h"
#include "appinfo.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "needtoknowdialog.h"
#include "readwriteconfig.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QToolButton>
#include <QtTest>

using A = MainWindowTestAccess;

class TestShell : public QObject
{
    Q_OBJECT

private:
    // The file's text with "\n" line ends (QSettings writes the platform's).
    static QString readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Groups in file order, the keys of each sorted: the order of keys within a group is the
    // settings object's (sorted on Linux, as set on Windows).
    static QString keysSorted(const QString& text)
    {
        QStringList groups = text.split(QStringLiteral("\n\n"));
        for (QString& group : groups) {
            QStringList lines = group.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            if (lines.size() > 1)
                std::sort(lines.begin() + 1, lines.end());
            group = lines.join(QLatin1Char('\n'));
        }
        return groups.join(QStringLiteral("\n\n"));
    }
    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // The file an earlier version wrote: QSettings without a codec, non-ASCII as \xNNNN escapes.
    static QByteArray escapedByQt(const QString& path)
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("old.ini"));
        {
            QSettings old(name, QSettings::IniFormat);
            old.setValue(QStringLiteral("Theme"), QStringLiteral("Dark"));
            old.setValue(QStringLiteral("PATH/FWPath"), path + ".img");
            old.setValue(QStringLiteral("PATH/FPGAPath"), path + ".bit");
            old.setValue(QStringLiteral("PATH/ZW_FWPath"), path + "_v3.1.hex");
        }
        QFile f(name);
        f.open(QIODevice::ReadOnly);
        const QByteArray bytes = f.readAll();
        const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
        if (!ascii || !bytes.contains("\\x"))
            qFatal("not an ASCII file with escapes");
        return bytes;
    }

private slots:
    void init() { currentLanguage = QStringLiteral("auto"); }

    void firstStartDefaultsAndFileWrittenAtClose()
    {
        TestSettings settings;
        {
            MainWindow w;
            QVERIFY(A::actionLight(w)->isChecked());
            QVERIFY(!A::actionDark(w)->isChecked());
            QVERIFY(!A::notShowWarning(w));
            QVERIFY(!A::notShowWarningZW(w));
            for (const char* name : {"lineEditFWFilePath", "lineEditFPGAFilePath", "lineEditFWFilePath_ZW"}) {
                auto* edit = w.findChild<QLineEdit*>(QLatin1String(name));
                QVERIFY(edit);
                QCOMPARE(edit->text(), QString());
                QCOMPARE(edit->toolTip(), QString());
            }
            QVERIFY(!QFile::exists(settings.filePath()));
            w.close();
        }
        settings.sync();
        QCOMPARE(keysSorted(readFile(settings.filePath())),
                 QStringLiteral(
                     "[General]\nNotShowNeedToKnow=false\nNotShowWarning=false\nNotShowWarning_ZW=false\n"
                     "Theme=Light\n\n[PATH]\nFPGAPath=\nFWPath=\nZW_FWPath="));
    }

    void storedValuesLoadAndSaveBack()
    {
        TestSettings settings;
        writeFile(settings.filePath(),
                  "[General]\nLang=en\nNotShowWarning=true\nNotShowWarning_ZW=true\nTheme=Blue\n\n"
                  "[PATH]\nFWPath=/tmp/a b/fw.img\nFPGAPath=/tmp/fpga.bit\nZW_FWPath=/tmp/zw_v3.1.hex\n");
        settings.reopen();
        {
            MainWindow w;
            QVERIFY(A::notShowWarning(w));
            QVERIFY(A::notShowWarningZW(w));
            QVERIFY(A::actionLight(w)->isChecked());
            const QList<QPair<const char*, QString>> paths = {
                {"lineEditFWFilePath", QStringLiteral("/tmp/a b/fw.img")},
                {"lineEditFPGAFilePath", QStringLiteral("/tmp/fpga.bit")},
                {"lineEditFWFilePath_ZW", QStringLiteral("/tmp/zw_v3.1.hex")}};
            for (const auto& p : paths) {
                auto* edit = w.findChild<QLineEdit*>(QLatin1String(p.first));
                QCOMPARE(edit->text(), p.second);
                QCOMPARE(edit->toolTip(), p.second);
            }
            // A path changed while running is what gets saved.
            w.findChild<QLineEdit*>(QStringLiteral("lineEditFPGAFilePath"))
                ->setText(QStringLiteral("/x/new.bit"));
            w.close();
        }
        settings.sync();
        const QString text = readFile(settings.filePath());
        QVERIFY2(text.contains(QLatin1String("Theme=Blue\n")), qPrintable(text)); // unknown theme kept
        QVERIFY(text.contains(QLatin1String("Lang=en\n")));                       // never rewritten
        QVERIFY(text.contains(QLatin1String("FPGAPath=/x/new.bit\n")));
        QVERIFY(text.contains(QLatin1String("NotShowWarning=true\n")));
    }

    // Non-ASCII paths in the three kinds of file a user may have: saved by an editor in UTF-8, the
    // same with a byte-order mark, and written by an earlier version in ASCII with \xNNNN escapes;
    // also a legacy Latin-1 file. Each path shows in its field, and the file written at close
    // gives the same paths at the next start (a fresh file, so nothing cached is read).
    void nonAsciiPathsSurviveRestart_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("path");
        const QString chinese =
            QString::fromUtf8("/home/user/\xE6\x95\xB0\xE6\x8D\xAE \xE7\x9B\xAE\xE5\xBD\x95/"
                              "\xE5\x9B\xBA\xE4\xBB\xB6\xC3\xBC");
        const QString accented = QString::fromUtf8("/home/ren\xC3\xA9"
                                                   "e/Donn\xC3\xA9"
                                                   "es cam\xC3\xA9ra/\xC3\xBC\xC3\x9F");
        const auto file = [](const QByteArray& fw, const QByteArray& fpga, const QByteArray& zw) {
            return "[General]\nTheme=Dark\n\n[PATH]\nFWPath=" + fw + "\nFPGAPath=" + fpga +
                   "\nZW_FWPath=" + zw + "\n";
        };
        const QList<QPair<const char*, QString>> paths = {{"Chinese", chinese}, {"accented", accented}};
        for (const auto& named : paths) {
            const QString p = named.second;
            const QByteArray utf8 =
                file((p + ".img").toUtf8(), (p + ".bit").toUtf8(), (p + "_v3.1.hex").toUtf8());
            QTest::addRow("%s, UTF-8", named.first) << utf8 << p;
            QTest::addRow("%s, UTF-8 with BOM", named.first) << "\xEF\xBB\xBF" + utf8 << p;
            QTest::addRow("%s, Qt escapes", named.first) << escapedByQt(p) << p;
        }
        QTest::addRow("accented, Latin-1")
            << file((accented + ".img").toLatin1(), (accented + ".bit").toLatin1(),
                    (accented + "_v3.1.hex").toLatin1())
            << accented;
    }
    void nonAsciiPathsSurviveRestart()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, path);
        const QList<QPair<const char*, QString>> fields = {{"lineEditFWFilePath", path + ".img"},
                                                           {"lineEditFPGAFilePath", path + ".bit"},
                                                           {"lineEditFWFilePath_ZW", path + "_v3.1.hex"}};
        QByteArray written = content;
        for (int start = 0; start < 2; ++start) {
            TestSettings settings;
            writeFile(settings.filePath(), written);
            settings.reopen();
            {
                MainWindow w;
                QVERIFY(A::actionDark(w)->isChecked());
                for (const auto& f : fields) {
                    auto* edit = w.findChild<QLineEdit*>(QLatin1String(f.first));
                    QCOMPARE(edit->text(), f.second);
                    QCOMPARE(edit->toolTip(), f.second);
                }
                w.close();
            }
            settings.sync();
            QFile file(settings.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            written = file.readAll();
        }
    }

    void badConfigGivesDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[[[=\x01\n=\n", 12);
        QTest::newRow("broken groups") << QByteArray("[General\nTheme\n=Dark\n[PATH]]]\nFWPath");
        QTest::newRow("empty values") << QByteArray("[General]\nNotShowWarning=\nTheme=\n");
    }
    void badConfigGivesDefaults()
    {
        QFETCH(QByteArray, content);
        TestSettings settings;
        writeFile(settings.filePath(), content);
        settings.reopen();
        MainWindow w;
        QVERIFY(!A::notShowWarning(w));
        QVERIFY(A::actionLight(w)->isChecked());
        w.close();
    }

    // A store that cannot be written where it was asked for (here a folder in the file's place,
    // which stops root too) moves to the user's configuration location and keeps the settings.
    void unwritableStoreCrashesNothing()
    {
        QStandardPaths::setTestModeEnabled(true);
        TestSettings settings;
        QVERIFY(QDir().mkpath(settings.filePath()));
        settings.reopen();
        {
            MainWindow w;
            A::actionDark(w)->trigger();
            w.close();
        }
        settings.sync();
        const QString used = ReadWriteConfig::instance()->filePath;
        QStandardPaths::setTestModeEnabled(false);
        QCOMPARE(ReadWriteConfig::instance()->settings->status(), QSettings::NoError);
        QVERIFY(QFileInfo(settings.filePath()).isDir());
        QVERIFY2(used.contains(QLatin1String("qttest/")), qPrintable(used)); // the test-mode location
        QVERIFY(readFile(used).contains(QLatin1String("Theme=Dark")));
        QFile::remove(used);
    }

    void languageRule_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("zh_CN") << "zh_CN" << true;
        QTest::newRow("other case") << "zh_cn" << false;
        QTest::newRow("upper case") << "ZH_CN" << false;
        QTest::newRow("english") << "en" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("Auto") << "Auto" << false;
    }
    void languageRule()
    {
        QFETCH(QString, lang);
        QFETCH(bool, chinese);
        QCOMPARE(isChineseLanguage(lang), chinese);
    }

    // "auto" follows the system locale, which is fixed at process start: check it in child processes.
    void autoLanguageFollowsSystemLocale_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("China") << "zh_CN.UTF-8" << true;
        QTest::newRow("Taiwan") << "zh_TW.UTF-8" << false;
        QTest::newRow("United States") << "en_US.UTF-8" << false;
    }
    void autoLanguageFollowsSystemLocale()
    {
        QFETCH(QString, lang);
        QFETCH(bool, chinese);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("LC_MESSAGES"));
        env.insert(QStringLiteral("LANG"), lang);
        env.insert(QStringLiteral("FLASHWICK_EXPECT_CHINESE"),
                   chinese ? QStringLiteral("1") : QStringLiteral("0"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("autoLanguageInThisProcess")});
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
    }
    void autoLanguageInThisProcess()
    {
        const QByteArray expected = qgetenv("FLASHWICK_EXPECT_CHINESE");
        if (expected.isEmpty())
            QSKIP("runs as a child of autoLanguageFollowsSystemLocale");
        QCOMPARE(isChineseLanguage(QStringLiteral("auto")), expected == "1");
        currentLanguage = QStringLiteral("auto");
        TestSettings settings;
        MainWindow w;
        QCOMPARE(w.windowTitle(), localizedAppName(QStringLiteral("auto")) + QStringLiteral("_V1.2.0"));
    }

    void titleAndHeaderLink_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("title");
        QTest::newRow("english") << "en"
                                 << "Flashwick_V1.2.0";
        QTest::newRow("chinese without catalogue")
            << "zh_CN"
            << QString::fromUtf8(
                   "\xE5\x9B\xBA\xE4\xBB\xB6\xE5\x8D\x87\xE7\xBA\xA7\xE8\xBD\xAF\xE4\xBB\xB6_V1.2.0");
    }
    void titleAndHeaderLink()
    {
        QFETCH(QString, lang);
        QFETCH(QString, title);
        currentLanguage = lang;
        TestSettings settings;
        MainWindow w;
        QCOMPARE(w.windowTitle(), title);
        auto* link = w.findChild<QLabel*>(QStringLiteral("label_GotoDownloadPage"));
        QVERIFY(link->openExternalLinks());
        QCOMPARE(link->text(),
                 QStringLiteral("<a style='color: #1a8cff;' href=\"https://quenvor.example/firmware\">"
                                "firmwares download page..."));
    }

    void menuStructure()
    {
        TestSettings settings;
        MainWindow w;
        auto* button = w.findChild<QToolButton*>(QStringLiteral("toolButton_About"));
        QCOMPARE(button->popupMode(), QToolButton::InstantPopup);
        QMenu* menu = button->menu();
        QVERIFY(menu);
        const QList<QAction*> entries = menu->actions();
        QCOMPARE(entries.size(), 7);
        QVERIFY(entries[0]->menu());
        QCOMPARE(entries[0]->text(), QStringLiteral("Theme"));
        QVERIFY(entries[1]->isSeparator());
        QCOMPARE(entries[2], A::actionNeedToKnow(w));
        QCOMPARE(entries[3], A::actionCheckUpdate(w));
        QCOMPARE(entries[4], A::actionAbout(w));
        QCOMPARE(entries[2]->text(), QStringLiteral("Need To Know"));
        QCOMPARE(entries[3]->text(), QStringLiteral("Check Update"));
        QCOMPARE(entries[4]->text(), QStringLiteral("About..."));
        QVERIFY(entries[5]->isSeparator());
        QCOMPARE(entries[6], A::actionRecoverCamera(w));
        QCOMPARE(entries[6]->text(), QStringLiteral("Recover Camera..."));
        const QList<QAction*> themes = entries[0]->menu()->actions();
        QCOMPARE(themes, (QList<QAction*>{A::actionLight(w), A::actionDark(w)}));
        QCOMPARE(themes[0]->objectName(), QStringLiteral("Light"));
        QCOMPARE(themes[1]->objectName(), QStringLiteral("Dark"));
        QVERIFY(themes[0]->actionGroup() && themes[0]->actionGroup()->isExclusive());
        QCOMPARE(themes[0]->actionGroup(), themes[1]->actionGroup());

        A::actionDark(w)->trigger();
        QVERIFY(A::actionDark(w)->isChecked());
        QVERIFY(!A::actionLight(w)->isChecked());
        QCOMPARE(A::currentTheme(w), QStringLiteral("Dark"));
    }

    void themePersistsAcrossRestart()
    {
        TestSettings settings;
        {
            MainWindow w;
            A::actionDark(w)->trigger();
            w.close();
        }
        settings.sync();
        settings.reopen();
        MainWindow w;
        QVERIFY(A::actionDark(w)->isChecked());
        QCOMPARE(A::currentTheme(w), QStringLiteral("Dark"));
    }

    void dialogsShownOnceFromMenu()
    {
        TestSettings settings;
        MainWindow w;
        A::actionAbout(w)->trigger();
        A::actionAbout(w)->trigger();
        QVERIFY(A::aboutDialog(w)->isVisible());
        QCOMPARE(w.findChildren<AboutDialog*>().size(), 1);
        A::actionNeedToKnow(w)->trigger();
        QVERIFY(A::needToKnowDialog(w)->isVisible());
        QCOMPARE(w.findChildren<NeedToKnowDialog*>().size(), 1);
    }

    void needToKnowAtStart_data()
    {
        QTest::addColumn<bool>("suppressed");
        QTest::newRow("first start") << false;
        QTest::newRow("don't show again") << true;
    }
    void needToKnowAtStart()
    {
        QFETCH(bool, suppressed);
        TestSettings settings;
        writeFile(settings.filePath(), suppressed ? "[General]\nNotShowNeedToKnow=true\n" : "");
        settings.reopen();
        MainWindow w;
        w.show();
        NeedToKnowDialog* dialog = A::needToKnowDialog(w);
        QCOMPARE(dialog->isDoNotShowChecked(), suppressed);
        QTest::qWait(500);
        QVERIFY(!dialog->isVisible());
        QTest::qWait(1000);
        QCOMPARE(dialog->isVisible(), !suppressed);
    }

    // "Don't Show Again" ticked and OK pressed: stored at close, and the notice stays away next start.
    void needToKnowChoiceSurvivesRestart()
    {
        TestSettings settings;
        {
            MainWindow w;
            NeedToKnowDialog* dialog = A::needToKnowDialog(w);
            dialog->show();
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("checkBox_DoNotShowAgain"));
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("btn_OK1"));
            QVERIFY(box && ok);
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::mouseClick(ok, Qt::LeftButton);
            QVERIFY(!dialog->isVisible());
            w.close();
        }
        settings.sync();
        settings.reopen();
        MainWindow w;
        w.show();
        QVERIFY(A::needToKnowDialog(w)->isDoNotShowChecked());
        QTest::qWait(1300);
        QVERIFY(!A::needToKnowDialog(w)->isVisible());
    }

    // Every on_<object>_<signal> slot must find a child of that name with that signal; a misspelt
    // object name in the form would leave the slot silently unconnected.
    void byNameSlotsResolve()
    {
        TestSettings settings;
        MainWindow w;
        const QMetaObject* mo = w.metaObject();
        int checked = 0;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
            const QMetaMethod slot = mo->method(i);
            const QString name = QString::fromLatin1(slot.name());
            if (slot.methodType() != QMetaMethod::Slot || !name.startsWith(QLatin1String("on_")))
                continue;
            const int split = name.lastIndexOf(QLatin1Char('_'));
            const QString object = name.mid(3, split - 3);
            const QString signal = name.mid(split + 1);
            QObject* child = w.findChild<QObject*>(object);
            QVERIFY2(child, qPrintable(QStringLiteral("no child named ") + object));
            const QByteArray signature =
                signal.toLatin1() + slot.methodSignature().mid(slot.methodSignature().indexOf('('));
            const int index = child->metaObject()->indexOfSignal(signature.constData());
            QVERIFY2(index >= 0,
                     qPrintable(object + QStringLiteral(" has no signal ") + QString::fromLatin1(signature)));
            ++checked;
        }
        QCOMPARE(checked, 19);
    }

    void metaTypesRegistered()
    {
        TestSettings settings;
        MainWindow w;
        for (const char* name : {"QTextCursor", "WriteItems", "WriteFWItems", "WriteFWItemsResult"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    }

    void busyStateProperty()
    {
        TestSettings settings;
        MainWindow w;
        for (const char* name : {"labelMsg", "labelMsg_ZW"})
            QCOMPARE(w.findChild<QLabel*>(QLatin1String(name))->property("res").toString(),
                     QStringLiteral("normal"));
    }

    void timersCreatedNotStarted()
    {
        TestSettings settings;
        MainWindow w;
        const QList<QPair<QTimer*, int>> timers = {{A::progressTimer(w), 100},
                                                   {A::runningTimer(w), 500},
                                                   {A::selfTestTimer(w), 500},
                                                   {A::writePercentTimer(w), 500}};
        for (const auto& t : timers) {
            QCOMPARE(t.first->interval(), t.second);
            QVERIFY(!t.first->isActive());
        }
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
