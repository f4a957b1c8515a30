// The emulated camera seen through plain libusb and libudev, as the program sees it.
#include "emulator.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <libudev.h>
#include <libusb.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace flashwick::emu;

namespace {

constexpr unsigned TimeoutMs = 1000;

QByteArray bytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

QByteArray pattern(int length, int seed)
{
    QByteArray b(length, 0);
    for (int i = 0; i < length; ++i)
        b[i] = char((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    return b;
}

// A libudev monitor on subsystem usb, as the program's device-change watcher uses it.
class Monitor
{
public:
    Monitor()
    {
        udev = udev_new();
        mon = udev_monitor_new_from_netlink(udev, "udev");
        udev_monitor_filter_add_match_subsystem_devtype(mon, "usb", nullptr);
        udev_monitor_enable_receiving(mon);
    }
    ~Monitor()
    {
        udev_monitor_unref(mon);
        udev_unref(udev);
    }
    // Next event's "action devpath", or an empty string after timeoutMs.
    QString next(int timeoutMs = 3000)
    {
        pollfd p{udev_monitor_get_fd(mon), POLLIN, 0};
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (poll(&p, 1, int(timeoutMs - t.elapsed())) <= 0)
                continue;
            if (udev_device* dev = udev_monitor_receive_device(mon)) {
                QString s = QString("%1 %2").arg(udev_device_get_action(dev), udev_device_get_devpath(dev));
                udev_device_unref(dev);
                return s;
            }
        }
        return QString();
    }

private:
    struct udev* udev = nullptr;
    struct udev_monitor* mon = nullptr;
};

} // namespace

class TestEmulatorCamera : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumeration_data();
    void enumeration();
    void foreignDevice();
    void hotplugAdd();
    void readRequests_data();
    void readRequests();
    void flashSemantics();
    void erase_data();
    void erase();
    void programLimits_data();
    void programLimits();
    void busyStatus();
    void busyForever();
    void stallFault();
    void noAnswerFault();
    void corruptPageFault();
    void unplugAfterRequests();
    void unplugAndReplug();
    void openFailure_data();
    void openFailure();
    void reset();
    void unplugDuringResetStaysAway();
    void requestLog();
    void parallelCameras();
    void manyDevices();
    void romStart_data();
    void romStart();
    void bootLoader();

private:
    libusb_device_handle* open(DeviceId id);
    int vendorIn(libusb_device_handle* h, uint8_t request, uint16_t value, uint16_t index, QByteArray& data,
                 unsigned timeout = TimeoutMs);
    int vendorOut(libusb_device_handle* h, uint8_t request, uint16_t value, uint16_t index,
                  const QByteArray& data);
    void program(libusb_device_handle* h, uint16_t page, const QByteArray& data);
    QByteArray readPage(libusb_device_handle* h, uint16_t page, int length);
    bool waitUntilReady(libusb_device_handle* h, int limitMs);

    std::unique_ptr<Testbed> testbed;
    libusb_context* ctx = nullptr;
    QList<libusb_device_handle*> handles;
};

void TestEmulatorCamera::init()
{
    testbed.reset(new Testbed);
    QVERIFY2(testbed->isValid(), testbed->errorString().c_str());
    QVERIFY2(testbed->preloadActive(), "run under umockdev-wrapper");
    QCOMPARE(libusb_init(&ctx), 0);
}

void TestEmulatorCamera::cleanup()
{
    for (libusb_device_handle* h : handles)
        libusb_close(h);
    handles.clear();
    if (ctx)
        libusb_exit(ctx);
    ctx = nullptr;
    testbed.reset();
}

// Opens the device at the emulated bus address; libusb may learn of it a moment after the uevent.
libusb_device_handle* TestEmulatorCamera::open(DeviceId id)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        libusb_device_handle* h = nullptr;
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_bus_number(list[i]) == testbed->busNumber(id) &&
                libusb_get_device_address(list[i]) == testbed->deviceAddress(id)) {
                if (libusb_open(list[i], &h) != 0)
                    h = nullptr;
                break;
            }
        }
        libusb_free_device_list(list, 1);
        if (h) {
            handles << h;
            return h;
        }
        QThread::msleep(10);
    }
    return nullptr;
}

int TestEmulatorCamera::vendorIn(libusb_device_handle* h, uint8_t request, uint16_t value, uint16_t index,
                                 QByteArray& data, unsigned timeout)
{
    int r =
        libusb_control_transfer(h, 0xC0, request, value, index, reinterpret_cast<unsigned char*>(data.data()),
                                uint16_t(data.size()), timeout);
    if (r >= 0)
        data.truncate(r);
    return r;
}

int TestEmulatorCamera::vendorOut(libusb_device_handle* h, uint8_t request, uint16_t value, uint16_t index,
                                  const QByteArray& data)
{
    QByteArray copy = data;
    return libusb_control_transfer(h, 0x40, request, value, index,
                                   reinterpret_cast<unsigned char*>(copy.data()), uint16_t(copy.size()),
                                   TimeoutMs);
}

void TestEmulatorCamera::program(libusb_device_handle* h, uint16_t page, const QByteArray& data)
{
    QCOMPARE(vendorOut(h, ReqWritePage, 0, page, data), data.size());
}

QByteArray TestEmulatorCamera::readPage(libusb_device_handle* h, uint16_t page, int length)
{
    QByteArray data(length, 0);
    if (vendorIn(h, ReqReadPage, 0, page, data) != length)
        return QByteArray();
    return data;
}

bool TestEmulatorCamera::waitUntilReady(libusb_device_handle* h, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < limitMs) {
        QByteArray status(1, 0);
        if (vendorIn(h, ReqStatus, 0, 0, status) != 1)
            return false;
        if (status.at(0) == 0)
            return true;
        QThread::msleep(1);
    }
    return false;
}

void TestEmulatorCamera::enumeration_data()
{
    QTest::addColumn<bool>("superSpeed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("serial");
    QTest::newRow("SuperSpeed") << true << "Quenvor QV294C"
                                << "QV294C-0000000000001";
    QTest::newRow("high speed") << false << "Quenvor QV183M"
                                << "QV183M-9999999999999";
}

// Two cameras and a foreign device: ids, speed, descriptors and strings as libusb reports them.
void TestEmulatorCamera::enumeration()
{
    QFETCH(bool, superSpeed);
    QFETCH(QString, name);
    QFETCH(QString, serial);

    CameraConfig other;
    other.speed = superSpeed ? UsbSpeed::High : UsbSpeed::Super;
    other.name = "Quenvor Other";
    CameraConfig config;
    config.speed = superSpeed ? UsbSpeed::Super : UsbSpeed::High;
    config.name = name.toStdString();
    config.serial = serial.toStdString();
    const DeviceId first = testbed->addCamera(other);
    const DeviceId foreign = testbed->addForeignDevice(0x046D, 0xC52B);
    const DeviceId cam = testbed->addCamera(config);
    QVERIFY(first >= 0 && foreign >= 0 && cam >= 0);

    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    QCOMPARE(int(n), 3);
    int quenvor = 0;
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor desc;
        QCOMPARE(libusb_get_device_descriptor(list[i], &desc), 0);
        if (desc.idVendor == QuenvorVendorId)
            ++quenvor;
        else
            QCOMPARE(desc.idVendor, uint16_t(0x046D));
        if (libusb_get_bus_number(list[i]) == testbed->busNumber(cam) &&
            libusb_get_device_address(list[i]) == testbed->deviceAddress(cam))
            found = list[i];
    }
    QCOMPARE(quenvor, 2);
    QVERIFY(found);

    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(found, &desc), 0);
    QCOMPARE(desc.idProduct, CameraProductId);
    QCOMPARE(desc.bcdUSB, uint16_t(superSpeed ? 0x0300 : 0x0200));
    QCOMPARE(libusb_get_device_speed(found), superSpeed ? int(LIBUSB_SPEED_SUPER) : int(LIBUSB_SPEED_HIGH));
    uint8_t ports[8];
    QCOMPARE(libusb_get_port_numbers(found, ports, 8), 1);
    QCOMPARE(int(ports[0]), testbed->portNumber(cam));
    libusb_config_descriptor* cfg = nullptr;
    QCOMPARE(libusb_get_active_config_descriptor(found, &cfg), 0);
    QCOMPARE(int(cfg->bNumInterfaces), 1);
    QCOMPARE(int(cfg->interface[0].altsetting[0].bNumEndpoints), 1);
    libusb_free_config_descriptor(cfg);

    libusb_device_handle* h = nullptr;
    QCOMPARE(libusb_open(found, &h), 0);
    handles << h;
    libusb_free_device_list(list, 1);
    unsigned char text[256];
    QVERIFY(libusb_get_string_descriptor_ascii(h, desc.iManufacturer, text, sizeof text) > 0);
    QCOMPARE(QString(reinterpret_cast<char*>(text)), QString("Quenvor"));
    QVERIFY(libusb_get_string_descriptor_ascii(h, desc.iProduct, text, sizeof text) > 0);
    QCOMPARE(QString(reinterpret_cast<char*>(text)), name);
    QVERIFY(libusb_get_string_descriptor_ascii(h, desc.iSerialNumber, text, sizeof text) > 0);
    QCOMPARE(QString(reinterpret_cast<char*>(text)), serial);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    QCOMPARE(libusb_release_interface(h, 0), 0);
}

// A device of another maker answers the standard requests and stalls the camera's.
void TestEmulatorCamera::foreignDevice()
{
    const DeviceId dev = testbed->addForeignDevice(0x1234, 0x5678, "Other Thing");
    libusb_device_handle* h = open(dev);
    QVERIFY(h);
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(libusb_get_device(h), &desc), 0);
    QCOMPARE(desc.idVendor, uint16_t(0x1234));
    QCOMPARE(desc.idProduct, uint16_t(0x5678));
    unsigned char text[256];
    QVERIFY(libusb_get_string_descriptor_ascii(h, desc.iProduct, text, sizeof text) > 0);
    QCOMPARE(QString(reinterpret_cast<char*>(text)), QString("Other Thing"));
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_PIPE));
    QVERIFY(testbed->flash(dev, 0, 16).empty());
}

// Adding a device sends one "add" uevent after its sysfs entry and node are complete.
void TestEmulatorCamera::hotplugAdd()
{
    Monitor monitor;
    const DeviceId cam = testbed->addCamera();
    QCOMPARE(monitor.next(), "add " + QString::fromStdString(testbed->sysfsPath(cam)).mid(4));
    QCOMPARE(monitor.next(300), QString());
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), 1);
}

void TestEmulatorCamera::readRequests_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("result"); // byte count or libusb error
    QTest::addColumn<QByteArray>("reply");

    const QByteArray serial("QV294C20261207000042");
    QTest::newRow("firmware version") << 0xA2 << 0 << 1 << 1 << QByteArray("\xC8", 1);
    QTest::newRow("serial number") << 0xA3 << 0 << 20 << 20 << serial;
    QTest::newRow("serial number, longer buffer") << 0xA3 << 0 << 64 << 20 << serial;
    QTest::newRow("FPGA version") << 0xC2 << 0x2B << 5 << 5 << QByteArray("\x0C\x01\xFD\x08\x00", 5);
    QTest::newRow("FPGA version, wrong index") << 0xC2 << 0 << 5 << int(LIBUSB_ERROR_PIPE) << QByteArray();
    QTest::newRow("status when idle") << 0xD3 << 0 << 1 << 1 << QByteArray(1, 0);
    QTest::newRow("page read, erased flash") << 0xD1 << 0x10 << 300 << 300 << QByteArray(300, char(0xFF));
    QTest::newRow("page read past the end")
        << 0xD1 << 0x3FFF << 512 << int(LIBUSB_ERROR_PIPE) << QByteArray();
    QTest::newRow("unknown request") << 0x55 << 0 << 4 << int(LIBUSB_ERROR_PIPE) << QByteArray();
}

void TestEmulatorCamera::readRequests()
{
    QFETCH(int, request);
    QFETCH(int, index);
    QFETCH(int, length);
    QFETCH(int, result);
    QFETCH(QByteArray, reply);

    CameraConfig config;
    config.firmwareVersion = 200;
    config.serial = "QV294C20261207000042";
    libusb_device_handle* h = open(testbed->addCamera(config));
    QVERIFY(h);
    QByteArray data(length, 0);
    QCOMPARE(vendorIn(h, uint8_t(request), 0, uint16_t(index), data), result);
    if (result >= 0)
        QCOMPARE(data, reply);
}

// Programming clears bits only; erasing sets them again; the inspection API sees the same bytes.
void TestEmulatorCamera::flashSemantics()
{
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    const QByteArray a = pattern(4096, 1);
    const QByteArray b = pattern(4096, 2);
    QByteArray both = a;
    for (int i = 0; i < both.size(); ++i)
        both[i] = char(a[i] & b[i]);
    QVERIFY(a != both);

    QCOMPARE(vendorOut(h, ReqErase, 0, 0, QByteArray()), 0);
    program(h, 0x10, a);
    QCOMPARE(readPage(h, 0x10, 4096), a);
    QCOMPARE(bytes(testbed->flash(cam, 0x1000, 4096)), a);
    program(h, 0x10, b); // no erase between
    QCOMPARE(readPage(h, 0x10, 4096), both);
    QCOMPARE(bytes(testbed->flash(cam, 0x1000, 4096)), both);

    // A short program touches only its own bytes.
    QCOMPARE(vendorOut(h, ReqErase, 1, 1, QByteArray()), 0);
    program(h, 0x10, QByteArray("\x12\x34\x56", 3));
    QCOMPARE(readPage(h, 0x10, 4), QByteArray("\x12\x34\x56\xFF", 4));

    // The last 4 KiB of the 4 MiB flash.
    program(h, 0x3FF0, b);
    QCOMPARE(bytes(testbed->flash(cam, FlashSize - 4096, 4096)), b);
}

void TestEmulatorCamera::erase_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("size");
    QTest::newRow("block 0") << 0 << 0 << 0 << 0x10000;
    QTest::newRow("block 24 (FPGA area)") << 0 << 24 << 0x180000 << 0x10000;
    QTest::newRow("last block") << 0 << 63 << 0x3F0000 << 0x10000;
    QTest::newRow("sector 0x41 (FPGA header)") << 1 << 0x41 << 0x41000 << 0x1000;
    QTest::newRow("last sector") << 1 << 1023 << 0x3FF000 << 0x1000;
}

// An erase sets exactly its block or sector to 0xFF.
void TestEmulatorCamera::erase()
{
    QFETCH(int, mode);
    QFETCH(int, number);
    QFETCH(int, start);
    QFETCH(int, size);

    const DeviceId cam = testbed->addCamera();
    QVERIFY(testbed->fillFlash(cam, 0x00));
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    QCOMPARE(vendorOut(h, ReqErase, uint16_t(mode), uint16_t(number), QByteArray()), 0);
    QCOMPARE(bytes(testbed->flash(cam, uint32_t(start), uint32_t(size))), QByteArray(size, char(0xFF)));
    if (start > 0)
        QCOMPARE(bytes(testbed->flash(cam, uint32_t(start - 1), 1)), QByteArray(1, 0));
    if (uint32_t(start + size) < FlashSize)
        QCOMPARE(bytes(testbed->flash(cam, uint32_t(start + size), 1)), QByteArray(1, 0));
}

void TestEmulatorCamera::programLimits_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("result");
    QTest::newRow("one byte") << 0 << 0 << 1 << 1;
    QTest::newRow("4096 bytes") << 0 << 0 << 4096 << 4096;
    QTest::newRow("no data") << 0 << 0 << 0 << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("past the end") << 0 << 0x3FFF << 257 << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("erase, bad mode") << 2 << 0 << 0 << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("erase, block 64") << 0 << 64 << 0 << int(LIBUSB_ERROR_PIPE);
    QTest::newRow("erase, sector 1024") << 1 << 1024 << 0 << int(LIBUSB_ERROR_PIPE);
}

// Length and address limits of 0xD0 (with data) and 0xD2 (without).
void TestEmulatorCamera::programLimits()
{
    QFETCH(int, value);
    QFETCH(int, page);
    QFETCH(int, length);
    QFETCH(int, result);
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    const bool erase = QByteArray(QTest::currentDataTag()).startsWith("erase");
    const QByteArray before = bytes(testbed->flash(cam, 0, 4096));
    const QByteArray data(length, 0x5A);
    QCOMPARE(vendorOut(h, erase ? ReqErase : ReqWritePage, uint16_t(value), uint16_t(page), data),
             erase && result == 0 ? 0 : result);
    if (result < 0)
        QCOMPARE(bytes(testbed->flash(cam, 0, 4096)), before);
}

// The status reads busy after an erase and a program for the configured time, and commands sent
// while busy stall.
void TestEmulatorCamera::busyStatus()
{
    CameraConfig config;
    config.timings.eraseBlockMs = 150;
    config.timings.programPageUs = 5000; // 16 pages: 80 ms
    const DeviceId cam = testbed->addCamera(config);
    libusb_device_handle* h = open(cam);
    QVERIFY(h);

    QElapsedTimer t;
    t.start();
    QCOMPARE(vendorOut(h, ReqErase, 0, 0, QByteArray()), 0);
    QByteArray status(1, 0);
    QCOMPARE(vendorIn(h, ReqStatus, 0, 0, status), 1);
    QVERIFY(status.at(0) != 0);
    QVERIFY(testbed->isBusy(cam));
    QCOMPARE(vendorOut(h, ReqWritePage, 0, 0, QByteArray(16, 0)), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(vendorOut(h, ReqErase, 0, 1, QByteArray()), int(LIBUSB_ERROR_PIPE));
    QVERIFY(waitUntilReady(h, 5000));
    QVERIFY(t.elapsed() >= 150);

    t.restart();
    program(h, 0, QByteArray(4096, 0x11));
    QCOMPARE(vendorIn(h, ReqStatus, 0, 0, status), 1);
    QVERIFY(status.at(0) != 0);
    QVERIFY(waitUntilReady(h, 5000));
    QVERIFY(t.elapsed() >= 80);
    QCOMPARE(readPage(h, 0, 4096), QByteArray(4096, 0x11));
}

void TestEmulatorCamera::busyForever()
{
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    QVERIFY(waitUntilReady(h, 100));
    testbed->setBusyForever(cam);
    QVERIFY(!waitUntilReady(h, 300));
    testbed->setBusyForever(cam, false);
    QVERIFY(waitUntilReady(h, 100));
}

// A stalled request fails with a pipe error; the others keep working.
void TestEmulatorCamera::stallFault()
{
    CameraConfig config;
    config.faults.stall = {ReqReadPage};
    const DeviceId cam = testbed->addCamera(config);
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    QByteArray data(16, 0);
    QCOMPARE(vendorIn(h, ReqReadPage, 0, 0, data), int(LIBUSB_ERROR_PIPE));
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), 1);
    testbed->setStall(cam, ReqReadPage, false);
    testbed->setStall(cam, ReqFirmwareVersion);
    QCOMPARE(vendorIn(h, ReqReadPage, 0, 0, data), 16);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(testbed->requests(cam).back().status, -EPIPE);
}

// A request without answer times out on the client side; the discarded transfer does not disturb
// the next ones.
void TestEmulatorCamera::noAnswerFault()
{
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    testbed->setNoAnswer(cam, ReqStatus);
    QByteArray status(1, 0);
    QElapsedTimer t;
    t.start();
    QCOMPARE(vendorIn(h, ReqStatus, 0, 0, status, 200), int(LIBUSB_ERROR_TIMEOUT));
    QVERIFY(t.elapsed() >= 190);
    QVERIFY(t.elapsed() < 3000);
    QCOMPARE(testbed->requests(cam).back().status, -ENOENT);

    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), 1);
    QCOMPARE(int(uint8_t(fw[0])), 123);
    testbed->setNoAnswer(cam, ReqStatus, false);
    status = QByteArray(1, 0x7F);
    QCOMPARE(vendorIn(h, ReqStatus, 0, 0, status), 1);
    QCOMPARE(status, QByteArray(1, 0));
}

// The read-back of a chosen page comes back with its last byte changed; the flash itself is intact.
void TestEmulatorCamera::corruptPageFault()
{
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    const QByteArray data = pattern(4096, 3);
    program(h, 0x20, data);
    program(h, 0x30, data);
    testbed->setCorruptPage(cam, 0x30);
    QCOMPARE(readPage(h, 0x20, 4096), data);
    const QByteArray back = readPage(h, 0x30, 4096);
    QCOMPARE(back.left(4095), data.left(4095));
    QCOMPARE(uint8_t(back[4095]), uint8_t(~uint8_t(data[4095])));
    QCOMPARE(bytes(testbed->flash(cam, 0x3000, 4096)), data);
}

// After N answered requests the camera leaves the bus: a "remove" uevent, and the next request on
// the open handle fails as for an unplugged device.
void TestEmulatorCamera::unplugAfterRequests()
{
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    Monitor monitor;
    testbed->setUnplugAfterRequests(cam, 3);
    QByteArray fw(1, 0);
    for (int i = 0; i < 3; ++i) {
        fw = QByteArray(1, 0);
        QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), 1);
    }
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(monitor.next(), QString("remove ") + QString::fromStdString(testbed->sysfsPath(cam)).mid(4));
    QVERIFY(!testbed->isPlugged(cam));
    QCOMPARE(int(testbed->requests(cam).size()), 3);
}

// Unplug and replug send "remove" and "add"; a handle from before the unplug stays dead, a new one works.
void TestEmulatorCamera::unplugAndReplug()
{
    const DeviceId cam = testbed->addCamera();
    const DeviceId other = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    const QString devpath = QString::fromStdString(testbed->sysfsPath(cam)).mid(4); // without /sys
    Monitor monitor;

    QVERIFY(testbed->unplug(cam));
    QVERIFY(!testbed->unplug(cam));
    QCOMPARE(monitor.next(), "remove " + devpath);
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_NO_DEVICE));
    QVERIFY(testbed->isPlugged(other));

    QVERIFY(testbed->replug(cam));
    QCOMPARE(monitor.next(), "add " + devpath);
    QCOMPARE(monitor.next(300), QString()); // exactly one event per change
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_NO_DEVICE));
    libusb_device_handle* fresh = open(cam);
    QVERIFY(fresh);
    fw = QByteArray(1, 0);
    QCOMPARE(vendorIn(fresh, ReqFirmwareVersion, 0, 0, fw), 1);
}

void TestEmulatorCamera::openFailure_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("no node") << int(OpenFailure::NoNode);
    QTest::newRow("denied") << int(OpenFailure::Denied);
}

// The device is listed with its descriptors, but opening it fails; clearing the fault fixes it.
void TestEmulatorCamera::openFailure()
{
    QFETCH(int, failure);
    CameraConfig config;
    config.faults.openFailure = OpenFailure(failure);
    const DeviceId cam = testbed->addCamera(config);

    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    QCOMPARE(int(n), 1);
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(list[0], &desc), 0);
    QCOMPARE(desc.idVendor, QuenvorVendorId);
    libusb_device_handle* h = nullptr;
    const int r = libusb_open(list[0], &h);
    libusb_free_device_list(list, 1);
    QVERIFY(r != 0);
    QVERIFY(!h);

    // The fault survives unplugging and replugging.
    QVERIFY(testbed->unplug(cam));
    QVERIFY(testbed->replug(cam));
    libusb_exit(ctx);
    QCOMPARE(libusb_init(&ctx), 0);
    QCOMPARE(libusb_get_device_list(ctx, &list), ssize_t(1));
    QVERIFY(libusb_open(list[0], &h) != 0);
    libusb_free_device_list(list, 1);

    // libusb forgets a device whose node has vanished; a new context scans again.
    testbed->setOpenFailure(cam, OpenFailure::None);
    libusb_exit(ctx);
    QCOMPARE(libusb_init(&ctx), 0);
    QVERIFY(open(cam));
}

// 0xE0 answers, then the camera leaves the bus and comes back after the reset time.
void TestEmulatorCamera::reset()
{
    CameraConfig config;
    config.timings.resetMs = 200;
    const DeviceId cam = testbed->addCamera(config);
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    const QString devpath = QString::fromStdString(testbed->sysfsPath(cam)).mid(4);
    Monitor monitor;
    QElapsedTimer t;
    t.start();
    QCOMPARE(vendorOut(h, ReqResetFX3, 0, 0, QByteArray()), 0);
    QCOMPARE(testbed->resetCount(cam), 1);
    QCOMPARE(monitor.next(), "remove " + devpath);
    QVERIFY(!testbed->isPlugged(cam));
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(monitor.next(), "add " + devpath);
    QVERIFY(t.elapsed() >= 200);
    QVERIFY(testbed->isPlugged(cam));
    libusb_device_handle* again = open(cam);
    QVERIFY(again);
    fw = QByteArray(1, 0);
    QCOMPARE(vendorIn(again, ReqFirmwareVersion, 0, 0, fw), 1);
}

// An unplug between the two halves of a reset cancels the camera's return.
void TestEmulatorCamera::unplugDuringResetStaysAway()
{
    CameraConfig config;
    config.timings.resetMs = 300;
    const DeviceId cam = testbed->addCamera(config);
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    Monitor monitor;
    QCOMPARE(vendorOut(h, ReqResetFX3, 0, 0, QByteArray()), 0);
    QVERIFY(monitor.next().startsWith("remove "));
    testbed->unplug(cam);
    QTest::qWait(600);
    QVERIFY(!testbed->isPlugged(cam));
    QVERIFY(monitor.next(200).isEmpty());
}

// Every control transfer is logged with its setup fields and outcome.
void TestEmulatorCamera::requestLog()
{
    const DeviceId cam = testbed->addCamera();
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    testbed->clearRequests(cam);
    QByteArray fpga(5, 0);
    QCOMPARE(vendorIn(h, ReqFpgaVersion, 0, 0x2B, fpga), 5);
    program(h, 0x1234, QByteArray(100, 0));
    QCOMPARE(vendorOut(h, ReqErase, 1, 0x41, QByteArray()), 0);
    QByteArray junk(3, 0);
    QCOMPARE(vendorIn(h, 0x99, 7, 8, junk), int(LIBUSB_ERROR_PIPE));

    const std::vector<ControlRequest> log = testbed->requests(cam);
    QCOMPARE(int(log.size()), 4);
    const int expected[4][7] = {
        // type, request, value, index, length, in, status
        {0xC0, 0xC2, 0, 0x2B, 5, 1, 0},
        {0x40, 0xD0, 0, 0x1234, 100, 0, 0},
        {0x40, 0xD2, 1, 0x41, 0, 0, 0},
        {0xC0, 0x99, 7, 8, 3, 1, -EPIPE},
    };
    for (int i = 0; i < 4; ++i) {
        const ControlRequest& r = log[size_t(i)];
        QCOMPARE(int(r.requestType), expected[i][0]);
        QCOMPARE(int(r.request), expected[i][1]);
        QCOMPARE(int(r.value), expected[i][2]);
        QCOMPARE(int(r.index), expected[i][3]);
        QCOMPARE(int(r.length), expected[i][4]);
        QCOMPARE(int(r.in()), expected[i][5]);
        QCOMPARE(r.status, expected[i][6]);
        QVERIFY(r.vendor());
    }
}

// Two cameras driven from two threads at once keep their flash contents apart.
void TestEmulatorCamera::parallelCameras()
{
    const DeviceId a = testbed->addCamera();
    const DeviceId b = testbed->addCamera();
    QVERIFY(testbed->fillFlash(a, 0xFF) && testbed->fillFlash(b, 0xFF)); // no firmware in the way
    libusb_device_handle* ha = open(a);
    libusb_device_handle* hb = open(b);
    QVERIFY(ha && hb);
    std::atomic<int> failures{0};
    auto work = [&](libusb_device_handle* h, int seed) {
        for (int page = 0; page < 64 * 16; page += 16) {
            QByteArray data = pattern(4096, seed + page);
            if (vendorOut(h, ReqWritePage, 0, uint16_t(page), data) != 4096 ||
                readPage(h, uint16_t(page), 4096) != data)
                ++failures;
        }
    };
    std::thread ta(work, ha, 1);
    std::thread tb(work, hb, 2);
    ta.join();
    tb.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(bytes(testbed->flash(a, 0x3000, 4096)), pattern(4096, 1 + 0x30));
    QCOMPARE(bytes(testbed->flash(b, 0x3000, 4096)), pattern(4096, 2 + 0x30));
}

// Past 126 devices on a bus the emulator opens a new bus; every device keeps its own node.
void TestEmulatorCamera::manyDevices()
{
    QSet<QString> nodes;
    DeviceId last = -1;
    for (int i = 0; i < 130; ++i) {
        last = testbed->addCamera();
        QVERIFY(last >= 0);
        QVERIFY(testbed->deviceAddress(last) >= 2 && testbed->deviceAddress(last) <= 127);
        nodes.insert(QString::fromStdString(testbed->devNode(last)));
    }
    QCOMPARE(nodes.size(), 130);
    QVERIFY(testbed->busNumber(last) != testbed->busNumber(0));
    libusb_device_handle* h = open(last);
    QVERIFY(h);
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), 1);
}

// After a reset the chip's ROM starts the camera only from a valid image in the firmware area, with
// the image's version; otherwise the USB boot loader comes up instead.
void TestEmulatorCamera::romStart_data()
{
    QTest::addColumn<QByteArray>("flash"); // empty: as the camera was made
    QTest::addColumn<int>("version");      // -1: the boot loader comes up
    std::vector<uint8_t> badSum = bootImage(45);
    badSum.back() ^= 1;
    std::vector<uint8_t> noSignature = bootImage(45);
    noSignature[1] = 'X';
    QTest::newRow("firmware of a new camera") << QByteArray() << 123;
    QTest::newRow("image with version 45") << bytes(bootImage(45)) << 45;
    QTest::newRow("erased") << QByteArray(64, char(0xFF)) << -1;
    QTest::newRow("checksum wrong") << bytes(badSum) << -1;
    QTest::newRow("no signature") << bytes(noSignature) << -1;
}

void TestEmulatorCamera::romStart()
{
    QFETCH(QByteArray, flash);
    QFETCH(int, version);
    const DeviceId cam = testbed->addCamera();
    if (!flash.isEmpty())
        QVERIFY(testbed->setFlash(cam, 0, std::vector<uint8_t>(flash.begin(), flash.end())));
    libusb_device_handle* h = open(cam);
    QVERIFY(h);
    QCOMPARE(vendorOut(h, ReqResetFX3, 0, 0, QByteArray()), 0);
    QTRY_VERIFY(testbed->isPlugged(cam) || testbed->bootLoaderOf(cam) >= 0);
    const DeviceId loader = testbed->bootLoaderOf(cam);
    QCOMPARE(loader >= 0 && testbed->isPlugged(loader), version < 0);
    QCOMPARE(testbed->isPlugged(cam), version >= 0);
    if (version < 0) {
        QCOMPARE(testbed->cameraOf(loader), cam);
        return;
    }
    libusb_device_handle* again = open(cam);
    QVERIFY(again);
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(again, ReqFirmwareVersion, 0, 0, fw), 1);
    QCOMPARE(int(uint8_t(fw.at(0))), version);
}

// The boot loader: 04b4:00f3, RAM writes and reads inside ITCM and SYSMEM only, nothing but 0xA0;
// a start from RAM that was not loaded brings nothing up, a start of loaded firmware brings up the
// camera with that firmware's version while its flash stays as it was.
void TestEmulatorCamera::bootLoader()
{
    CameraConfig config;
    config.startInBootLoader = true;
    const DeviceId cam = testbed->addCamera(config);
    QVERIFY(!testbed->isPlugged(cam));
    const DeviceId loader = testbed->bootLoaderOf(cam);
    QVERIFY(loader >= 0 && testbed->isPlugged(loader));
    libusb_device_handle* h = open(loader);
    QVERIFY(h);
    libusb_device_descriptor desc;
    QCOMPARE(libusb_get_device_descriptor(libusb_get_device(h), &desc), 0);
    QCOMPARE(desc.idVendor, BootLoaderVendorId);
    QCOMPARE(desc.idProduct, BootLoaderProductId);

    const QByteArray firmware = QByteArray("QVFW") + char(77) + QByteArray(4091, 'f');
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x3000, 0x4000, firmware), 4096);
    QByteArray back(4096, 0);
    QCOMPARE(vendorIn(h, ReqBootLoaderRam, 0x3000, 0x4000, back), 4096);
    QCOMPARE(back, firmware);
    QCOMPARE(bytes(testbed->ram(loader, 0x40003000, 4096)), firmware);
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x0000, 0x0000, QByteArray(16, 'i')), 16); // ITCM
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0xFFF8, 0x4007, QByteArray(16, 'x')), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x3002, 0x4000, QByteArray(4, 'x')), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x0000, 0x1000, QByteArray(4, 'x')), int(LIBUSB_ERROR_PIPE));
    QByteArray fw(1, 0);
    QCOMPARE(vendorIn(h, ReqFirmwareVersion, 0, 0, fw), int(LIBUSB_ERROR_PIPE));

    // Entry point in RAM that nothing was loaded to: the chip leaves and stays away.
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x0000, 0x4001, QByteArray()), 0);
    QTRY_VERIFY(!testbed->isPlugged(loader));
    QTest::qWait(100);
    QVERIFY(!testbed->isPlugged(cam));
    QCOMPARE(testbed->startCount(loader), 1);

    QVERIFY(testbed->replug(cam)); // the erased flash: the boot loader again, with cleared RAM
    QVERIFY(testbed->isPlugged(loader));
    QCOMPARE(bytes(testbed->ram(loader, 0x40003000, 4)), QByteArray(4, '\0'));
    h = open(loader);
    QVERIFY(h);
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x3000, 0x4000, firmware), 4096);
    QCOMPARE(vendorOut(h, ReqBootLoaderRam, 0x3000, 0x4000, QByteArray()), 0);
    QTRY_VERIFY(testbed->isPlugged(cam));
    QVERIFY(!testbed->isPlugged(loader));
    libusb_device_handle* c = open(cam);
    QVERIFY(c);
    QCOMPARE(vendorIn(c, ReqFirmwareVersion, 0, 0, fw), 1);
    QCOMPARE(int(uint8_t(fw.at(0))), 77);
    QCOMPARE(bytes(testbed->flash(cam, 0, 4)), QByteArray(4, char(0xFF)));
    // Running from RAM only: a reset finds the flash still without an image.
    QCOMPARE(vendorOut(c, ReqResetFX3, 0, 0, QByteArray()), 0);
    QTRY_VERIFY(testbed->isPlugged(loader));
    QVERIFY(!testbed->isPlugged(cam));
}

QTEST_GUILESS_MAIN(TestEmulatorCamera)
#include "tst_emulatorcamera.moc"
