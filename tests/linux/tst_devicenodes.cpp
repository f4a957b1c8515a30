// Finding the device nodes behind a camera path and the Quenvor hidraw devices, against emulated
// devices seen through the real libusb and libudev.
#include "emulator.h"
#include "permissionhint.h"
#include "qvrusb.h"
#include "wheelbootloadermodel.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <unistd.h>

using namespace flashwick::emu;

class TestDeviceNodes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cameraNodeFromListPath();
    void hidrawNodesByVendorAndProduct();
    void deniedCameraGetsScanHint();

private:
    bool waitForCameras(int count);

    std::unique_ptr<Testbed> testbed;
    QList<DeviceId> plugged;
};

void TestDeviceNodes::initTestCase()
{
    testbed.reset(new Testbed);
    QVERIFY2(testbed->isValid(), testbed->errorString().c_str());
    QVERIFY2(testbed->preloadActive(), "run under umockdev-wrapper");
}

void TestDeviceNodes::cleanup()
{
    for (DeviceId id : plugged)
        testbed->unplug(id);
    plugged.clear();
    QVERIFY(waitForCameras(0));
}

// libusb learns of devices from uevents, asynchronously.
bool TestDeviceNodes::waitForCameras(int count)
{
    QElapsedTimer timer;
    timer.start();
    while (QVRUsb::enumerateCameras() != count) {
        if (timer.elapsed() > 5000)
            return false;
        QThread::msleep(20);
    }
    return true;
}

void TestDeviceNodes::cameraNodeFromListPath()
{
    const DeviceId first = testbed->addCamera();
    const DeviceId second = testbed->addCamera();
    const DeviceId foreign = testbed->addForeignDevice();
    QVERIFY(first >= 0 && second >= 0 && foreign >= 0);
    plugged << first << second << foreign;
    QVERIFY(waitForCameras(2));

    QStringList nodes;
    for (const QByteArray& path : QVRUsb::cameraList().paths)
        nodes << usbDeviceNode(QString::fromLocal8Bit(path));
    nodes.sort();
    QStringList expected{QString::fromStdString(testbed->devNode(first)),
                         QString::fromStdString(testbed->devNode(second))};
    expected.sort();
    QCOMPARE(nodes, expected);
    QVERIFY(expected.first().startsWith(QLatin1String("/dev/bus/usb/")));
    QCOMPARE(usbDeviceNodes(0xA0A0), expected); // the foreign device is not listed
    QCOMPARE(usbDeviceNodes(0x046D), QStringList{QString::fromStdString(testbed->devNode(foreign))});

    // The same node by bus and address, the form libusb gives for a device without a port path.
    const QString byAddress =
        QStringLiteral("usb:%1-addr%2").arg(testbed->busNumber(first)).arg(testbed->deviceAddress(first));
    QCOMPARE(usbDeviceNode(byAddress), QString::fromStdString(testbed->devNode(first)));

    // Emulated nodes are ours: no hint for any of them.
    QCOMPARE(cameraScanPermissionHint(), QString());
    for (const QByteArray& path : QVRUsb::cameraList().paths)
        QCOMPARE(cameraPermissionHint(QString::fromLocal8Bit(path)), QString());
}

void TestDeviceNodes::hidrawNodesByVendorAndProduct()
{
    WheelBootloaderModel::Options options;
    options.hidrawIndex = 3;
    WheelBootloaderModel bootloader(testbed->raw(), options, &testbed->rawMutex());
    QVERIFY(bootloader.plug());
    const DeviceId camera = testbed->addCamera(); // a USB device of the same vendor, not hidraw
    QVERIFY(camera >= 0);
    plugged << camera;

    const QStringList expected{bootloader.devicePath()};
    QCOMPARE(expected.first(), QStringLiteral("/dev/hidraw3"));
    QCOMPARE(hidrawNodes(0xA0A0), expected);
    QCOMPARE(hidrawNodes(0xA0A0, 0xF000), expected);
    QCOMPARE(hidrawNodes(0xA0A0, 0xF001), QStringList());
    QCOMPARE(hidrawNodes(0x046D), QStringList());
    QCOMPARE(wheelPermissionHint(), QString());
    QCOMPARE(bootloaderPermissionHint(bootloader.devicePath()), QString());

    bootloader.unplug();
    QCOMPARE(hidrawNodes(0xA0A0), QStringList());
}

// A camera the user may not open: the enumeration leaves it out of the camera list, so the scan
// hint is what tells the user. Root opens any node, so this needs a user without privileges.
void TestDeviceNodes::deniedCameraGetsScanHint()
{
    if (::geteuid() == 0)
        QSKIP("root may open any node; the access check as another user is covered by tst_permissionhint");
    CameraConfig config;
    config.faults.openFailure = OpenFailure::Denied;
    const DeviceId denied = testbed->addCamera(config);
    const DeviceId usable = testbed->addCamera();
    QVERIFY(denied >= 0 && usable >= 0);
    plugged << denied << usable;
    QVERIFY(waitForCameras(1));

    const QString node = QString::fromStdString(testbed->devNode(denied));
    QCOMPARE(QVRUsb::cameraList().paths.size(), 1);
    QCOMPARE(usbDeviceNode(QString::fromLocal8Bit(QVRUsb::cameraList().paths.value(0))),
             QString::fromStdString(testbed->devNode(usable)));
    QCOMPARE(cameraScanPermissionHint(),
             QStringLiteral(
                 "Permission denied on %1: install 60-flashwick.rules (see README) and re-plug the device.")
                 .arg(node));
}

QTEST_GUILESS_MAIN(TestDeviceNodes)
#include "tst_devicenodes.moc"
