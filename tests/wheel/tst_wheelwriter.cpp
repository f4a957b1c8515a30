// DevizuvEZWriteFWObject through hidapi-hidraw against the emulated bootloader.
// glib first: its headers use "signals" as a field name, which Qt defines as a keyword.
#include <umockdev.h>

#include "devizuvezwritefwobject.h"
#include "wheelbootloadermodel.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>
#include <hidapi.h>
#include <memory>

class TestWheelWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void smoke();

private:
    UMockdevTestbed* testbed = nullptr;
    std::unique_ptr<WheelBootloaderModel> model;
};

void TestWheelWriter::initTestCase()
{
    testbed = umockdev_testbed_new();
    QVERIFY(testbed);
}

void TestWheelWriter::cleanupTestCase()
{
    g_object_unref(testbed);
}

void TestWheelWriter::init()
{
    model.reset(new WheelBootloaderModel(testbed));
}

void TestWheelWriter::cleanup()
{
    model.reset();
}

void TestWheelWriter::smoke()
{
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 0);
    QVERIFY(model->plug());
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
    DevizuvEZWriteFWObject writer(0);
    QCOMPARE(writer.GetBootloadPath(), QByteArray("/dev/hidraw0"));
    QCOMPARE(writer.GetBootloadName(), QByteArray("ZW Bootloader"));
    QCOMPARE(writer.GetBootloadVersion(), QByteArray("1.2"));
}

QTEST_GUILESS_MAIN(TestWheelWriter)
#include "tst_wheelwriter.moc"
