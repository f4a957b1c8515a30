// Finding the device nodes behind a camera path and the Quenvor hidraw devices, against emulated
// devices seen through the real libusb and libudev.
#include "emulator.h"
#include "permissionhint.h"
#include "qvrusb.h"
#include "usbdriverdevice.h"
#include "wheelbootloadermodel.h"
#include "wheelmodel.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <libusb.h>
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
    void onlyCameraClassDevices_data();
    void onlyCameraClassDevices();

private:
    bool waitForCameras(int count);
    bool libusbSees(const QList<QPair<uint16_t, uint16_t>>& devices);

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

// True once libusb lists every vendor:product pair (libusb learns of devices from uevents).
bool TestDeviceNodes::libusbSees(const QList<QPair<uint16_t, uint16_t>>& devices)
{
    static libusb_context* context = [] {
        libusb_context* c = nullptr;
        return libusb_init(&c) == 0 ? c : nullptr;
    }();
    if (!context)
        return false;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context, &list);
        int found = 0;
        for (const auto& wanted : devices) {
            for (ssize_t i = 0; i < n; ++i) {
                libusb_device_descriptor d;
                if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == wanted.first &&
                    d.idProduct == wanted.second) {
                    ++found;
                    break;
                }
            }
        }
        libusb_free_device_list(list, 1);
        if (found == devices.size())
            return true;
        if (timer.elapsed() > 5000)
            return false;
        QThread::msleep(20);
    }
}

void TestDeviceNodes::onlyCameraClassDevices_data()
{
    QTest::addColumn<bool>("camera");
    QTest::addColumn<bool>("wheel");
    QTest::addColumn<bool>("bootloader");
    QTest::addColumn<bool>("fx3");
    QTest::newRow("wheel") << false << true << false << false;
    QTest::newRow("bootloader") << false << false << true << false;
    QTest::newRow("camera, wheel and bootloader") << true << true << true << false;
    QTest::newRow("FX3 without camera firmware, wheel") << false << true << false << true;
}

// A wheel and its bootloader share the cameras' vendor id and sit on the USB bus too, but offer HID
// interfaces only: the camera enumeration, the transport's device count and the permission hint
// leave them out without sending them anything. An FX3 that has not loaded camera firmware
// (0x04B4, vendor-specific interface) is still in the transport's class.
void TestDeviceNodes::onlyCameraClassDevices()
{
    QFETCH(bool, camera);
    QFETCH(bool, wheel);
    QFETCH(bool, bootloader);
    QFETCH(bool, fx3);
    WheelModel::Options options;
    options.hidrawIndex = 20;
    WheelModel wheelModel(testbed->raw(), options, &testbed->rawMutex());
    QList<QPair<uint16_t, uint16_t>> expected;
    if (wheel) {
        QVERIFY(wheelModel.plug());
        expected << qMakePair(uint16_t(0xA0A0), uint16_t(0xF001));
    }
    if (bootloader) {
        QVERIFY(wheelModel.bootloader().plug());
        expected << qMakePair(uint16_t(0xA0A0), uint16_t(0xF000));
    }
    QStringList cameraNodes;
    if (camera) {
        const DeviceId id = testbed->addCamera();
        plugged << id;
        cameraNodes << QString::fromStdString(testbed->devNode(id));
        expected << qMakePair(uint16_t(0xA0A0), uint16_t(CameraProductId));
    }
    if (fx3) {
        plugged << testbed->addForeignDevice(0x04B4, 0x00F3, "FX3");
        expected << qMakePair(uint16_t(0x04B4), uint16_t(0x00F3));
    }
    QVERIFY(libusbSees(expected));

    QVERIFY(waitForCameras(camera ? 1 : 0));
    QCOMPARE(QVRUsb::enumerateCameras(), camera ? 1 : 0);
    UsbDriverDevice transport;
    const int classCount = transport.deviceCount();
    QCOMPARE(classCount, (camera ? 1 : 0) + (fx3 ? 1 : 0));
    for (int i = 0; i < classCount; ++i) {
        QVERIFY(transport.open(i));
        QVERIFY(transport.productId() != 0xF000 && transport.productId() != 0xF001);
        transport.close();
    }
    QCOMPARE(cameraDeviceNodes(), cameraNodes);
    QCOMPARE(cameraScanPermissionHint(), QString());
    QCOMPARE(wheelModel.usbNodeAccesses(), 0);
    QCOMPARE(wheelModel.bootloader().usbNodeAccesses(), 0);
}

QTEST_GUILESS_MAIN(TestDeviceNodes)
#include "tst_devicenodes.moc"
