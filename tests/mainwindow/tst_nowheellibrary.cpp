// The window without the wheel-control library: the camera side works in full, the Filter Wheel
// tab stays without wheels even with a wheel plugged in, and the log explains it once.
#include "emulator.h"
#include "fx3image.h"
#include "mainwindowtestaccess.h"
#include "wheelmodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

using namespace flashwick::emu;

class TestNoWheelLibrary : public QObject
{
    Q_OBJECT

    QTemporaryDir files;
    QString missingLibrary;

    QString problemLine() const
    {
        return QStringLiteral("Filter wheel library DevizuvEZ not found (looked for %1): wheels cannot be "
                              "controlled. Install the maker's library (see README).")
            .arg(missingLibrary);
    }
    static void checkNoWheel(MainWindow& w)
    {
        QCOMPARE(child<QComboBox>(w, "comboBoxZWList")->count(), 0);
        for (const char* name : {"pushButtonResetZW", "pushButtonWriteFW_ZW", "comboBoxGotoPosition",
                                 "checkBoxOneWay", "pushButton_ReadMotorInfo", "pushButton_SetMaxPower"})
            QVERIFY2(!child<QWidget>(w, name)->isEnabled(), name);
        QVERIFY(child<QPushButton>(w, "pushButtonRefreshZW")->isEnabled());
    }

private slots:
    void initTestCase()
    {
        // Before the first wheel-library call of the process: no library at the one place named.
        missingLibrary = files.filePath(QStringLiteral("none/libDevizuvEZ.so"));
        qputenv("FLASHWICK_DEVIZUVEZ", QFile::encodeName(missingLibrary));
    }

    void cameraWorksWheelTabExplainsOnce()
    {
        Testbed bed;
        QVERIFY2(bed.isValid(), bed.errorString().c_str());
        const DeviceId camera = bed.addCamera();
        WheelModel::Options options;
        options.hidrawIndex = 16;
        WheelModel wheel(bed.raw(), options, &bed.rawMutex());
        QVERIFY(wheel.plug());

        TestSettings settings;
        MainWindow w;
        w.show();
        MainWindowTestAccess::notShowWarning(w) = true;
        QVERIFY2(logLines(w).count(problemLine()) == 1, qPrintable(logLines(w).join('\n')));
        QVERIFY(logLines(w).contains(QStringLiteral("Detect 0 Wheel(s)...")));
        checkNoWheel(w);
        QVERIFY(wheel.calls().isEmpty());

        // Device changes rescan both sides; the explanation is not repeated.
        const DeviceId other = bed.addForeignDevice();
        QTRY_COMPARE(logLines(w).count(QStringLiteral("Get Connnected Wheel...")), 2);
        bed.unplug(other);
        QTRY_COMPARE(logLines(w).count(QStringLiteral("Get Connnected Wheel...")), 3);
        QCOMPARE(logLines(w).count(problemLine()), 1);
        checkNoWheel(w);

        // The camera write goes through and lands in the flash.
        const QByteArray image = fx3Image(70000, 7);
        QFile file(files.filePath(QStringLiteral("fw.img")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        child<QLineEdit>(w, "lineEditFWFilePath")->setText(file.fileName());
        QString title;
        answerNextBox(QMessageBox::Ok, &title, 60000);
        QTest::mouseClick(child<QPushButton>(w, "pushButtonWriteFW"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w, "labelMsg")->property("res").toString(),
                                  QStringLiteral("ok"), 60000);
        QTRY_COMPARE(title, QStringLiteral("Write Successfully"));
        const std::vector<uint8_t> flash = bed.flash(camera, 0, uint32_t(image.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()), int(flash.size())), image);

        // The tab's Refresh clears the log, so the explanation comes back, once.
        QTest::mouseClick(child<QPushButton>(w, "pushButtonRefreshZW"), Qt::LeftButton);
        QCOMPARE(logLines(w), (QStringList{QStringLiteral("Get Connnected Wheel..."), problemLine(),
                                           QStringLiteral("Detect 0 Wheel(s)...")}));
        checkNoWheel(w);
        QVERIFY(wheel.calls().isEmpty());
    }
};

QTEST_MAIN(TestNoWheelLibrary)
#include "tst_nowheellibrary.moc"
