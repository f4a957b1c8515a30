// Wheel firmware file checks of the main window: the file-name version rule and the parse log line.
#include "mainwindowtestaccess.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

using A = MainWindowTestAccess;

class TestWheelFile : public QObject
{
    Q_OBJECT

    static QStringList log(MainWindow& w)
    {
        return w.findChild<QTextEdit*>(QStringLiteral("textEditLog"))->toPlainText().split(QLatin1Char('\n'));
    }

private slots:
    void versionRule_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("wheelVersion");
        QTest::addColumn<QString>("fileVersion");
        QTest::addColumn<bool>("compatible");
        QTest::newRow("same major") << "/fw/wheel_v2.1.3.hex"
                                    << "2.0.7"
                                    << "2.1.3" << true;
        QTest::newRow("other major") << "/fw/wheel_v2.1.3.hex"
                                     << "1.4"
                                     << "2.1.3" << false;
        QTest::newRow("dash v") << "/fw/wheel-v3.hex"
                                << "3.1.2"
                                << "3" << true;
        QTest::newRow("upper V") << "/fw/wheel_V3.hex"
                                 << "3.1.2"
                                 << "" << false;
        QTest::newRow("upper HEX") << "/fw/wheel_v3.HEX"
                                   << "3.1.2"
                                   << "" << false;
        QTest::newRow("no version") << "/fw/wheel.hex"
                                    << "3.1.2"
                                    << "" << false;
        QTest::newRow("wheel version unknown") << "/fw/wheel_v3.1.hex"
                                               << ""
                                               << "3.1" << false;
        QTest::newRow("folder not consulted") << "/fw_v3/wheel_v4.0.hex"
                                              << "4.2"
                                              << "4.0" << true;
        QTest::newRow("first _v wins") << "/fw/a_v5_b_v3.1.hex"
                                       << "3.1"
                                       << "5_b_v3.1" << false;
    }
    void versionRule()
    {
        QFETCH(QString, file);
        QFETCH(QString, wheelVersion);
        QFETCH(QString, fileVersion);
        QFETCH(bool, compatible);
        TestSettings settings;
        MainWindow w;
        w.findChild<QLineEdit*>(QStringLiteral("lineEditFWFilePath_ZW"))->setText(file);
        A::wheelFirmwareVersion(w) = wheelVersion;
        w.findChild<QTextEdit*>(QStringLiteral("textEditLog"))->clear();
        QString title, text;
        answerNextModal([&title, &text](QWidget* m) {
            title = m->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(m))
                text = box->text();
            pressButton(m, QMessageBox::Ok);
        });
        QCOMPARE(A::checkZWFirmwareVersion(w), compatible);
        const QString name = QFileInfo(file).fileName();
        QCOMPARE(
            log(w),
            (QStringList{QStringLiteral("fwName:") + name, QStringLiteral("fwName version:") + fileVersion,
                         compatible ? QStringLiteral("wheel firmware version compatibilty!")
                                    : QStringLiteral("wheel firmware version NOT compatibilty!")}));
        if (!compatible) {
            QTRY_COMPARE(title, QStringLiteral("Version Compatibility"));
            QCOMPARE(text,
                     QStringLiteral(
                         "The firmware version is incompatible!\nPlease select the v%1.x version firmware")
                         .arg(wheelVersion.left(1)));
        }
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void parseLogsOneLineAndKeepsTheImage()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good_v1.hex"));
        QFile f(good);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(":020000040800F2\n:0440000001020304B2\n:024004000506AF\n:00000001FF\n");
        f.close();
        TestSettings settings;
        MainWindow w;
        auto* edit = w.findChild<QLineEdit*>(QStringLiteral("lineEditFWFilePath_ZW"));
        auto* logPane = w.findChild<QTextEdit*>(QStringLiteral("textEditLog"));

        edit->setText(good);
        logPane->clear();
        QVERIFY(A::parseZWFirmwareFile(w));
        QCOMPARE(log(w), QStringList{QStringLiteral("Parse firmware file OK!")});
        QCOMPARE(A::fwStartAddress(w), 0x08004000u);
        QCOMPARE(A::fwSize(w), 6u);
        QCOMPARE(A::fwData(w), QByteArray("\x01\x02\x03\x04\x05\x06", 6));

        // A failed parse leaves no image behind from the previous one.
        edit->setText(dir.filePath(QStringLiteral("missing.hex")));
        logPane->clear();
        QVERIFY(!A::parseZWFirmwareFile(w));
        QCOMPARE(log(w), QStringList{QStringLiteral("Parse firmware file error: PARSE_OPEN_ERROR!!!")});
        QCOMPARE(A::fwSize(w), 0u);
        QVERIFY(A::fwData(w).isEmpty());
    }
};

QTEST_MAIN(TestWheelFile)
#include "tst_wheelfile.moc"
