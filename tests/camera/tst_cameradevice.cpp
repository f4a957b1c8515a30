// QVRUsb and the image writes against emulated cameras, through the real libusb.
#include "emulator.h"
#include "flashlayout.h"
#include "qvrusb.h"
#include "usbdriverdevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

using namespace flashwick::emu;
using namespace FlashLayout;

Q_DECLARE_METATYPE(std::vector<uint8_t>)

namespace {

struct Chunk
{
    uint16_t page;
    uint16_t length;
    bool operator==(const Chunk& o) const { return page == o.page && length == o.length; }
};

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(gen.bounded(256));
    return bytes;
}

QByteArray toBytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

// Requests with one bRequest code, in order.
std::vector<ControlRequest> only(const std::vector<ControlRequest>& log, uint8_t request)
{
    std::vector<ControlRequest> out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [request](const ControlRequest& r) { return r.vendor() && r.request == request; });
    return out;
}

std::vector<Chunk> chunksOf(const std::vector<ControlRequest>& log, uint8_t request)
{
    std::vector<Chunk> out;
    for (const ControlRequest& r : only(log, request))
        out.push_back({r.index, r.length});
    return out;
}

// Records every progress value a write stores.
struct ProgressLog
{
    std::mutex lock;
    QList<int> values;
    std::function<void(uint8_t)> extra;
    void attach(QVRUsb& camera)
    {
        camera.setProgressObserver([this](uint8_t v) {
            {
                std::lock_guard<std::mutex> g(lock);
                values << v;
            }
            if (extra)
                extra(v);
        });
    }
};

// The fault sweep: the writes it covers, the faults it arms, and each write's requests as the camera
// should see them.
enum class SweepWrite
{
    Firmware,  // the largest firmware image: 4 erase blocks, 64 chunks
    Fpga,      // a 1-byte bitstream: one chunk of 257 bytes, then the header step
    TwoChunks, // a 5000-byte firmware image: one erase block, chunks of 4096 and 904 bytes
};

enum class SweepFault
{
    Stall,
    NoAnswer,
    Unplug,  // the camera leaves the bus before the request
    Corrupt, // the read-back differs in its last byte
    Busy,    // the flash stays busy from this request on
};

struct ExpectedRequest
{
    uint8_t request;
    uint16_t value;
    uint16_t index;
    int chunk;    // 1-based chunk of the area; 0 for the erase blocks and the header step
    int result;   // what the write returns when this request fails
    int progress; // progress the write has stored before this request
    int pauses;   // 20 ms pauses the write has taken before this request
};

int sweepFileSize(SweepWrite write)
{
    return write == SweepWrite::Firmware ? 262144 : write == SweepWrite::Fpga ? 1 : 5000;
}

std::vector<ExpectedRequest> expectedRequests(SweepWrite write)
{
    const bool fpga = write == SweepWrite::Fpga;
    const uint32_t start = fpga ? FpgaStart : FirmwareStart;
    const uint32_t length = uint32_t(sweepFileSize(write)) + (fpga ? 256 : 0);
    const int blocks = int((length + 65535) / 65536);
    const int chunks = int((length + 4095) / 4096);
    std::vector<ExpectedRequest> out;
    int progress = 0;
    int pauses = 0;
    for (int k = 0; k < blocks; ++k) {
        out.push_back({0xD2, 0, uint16_t(start / 65536 + uint32_t(k)), 0, 5, progress, pauses});
        out.push_back({0xD3, 0, 0, 0, 5, progress, pauses});
        progress = (k + 1) * 50 / blocks;
    }
    progress = 50;
    for (int j = 1; j <= chunks; ++j) {
        const uint16_t page = uint16_t(start / 256 + uint32_t(j - 1) * 16);
        out.push_back({0xD0, 0, page, j, 3, progress, pauses});
        ++pauses;
        out.push_back({0xD3, 0, 0, j, 3, progress, pauses});
        out.push_back({0xD1, 0, page, j, 4, progress, pauses});
        progress = 50 + (j - 1) * 50 / chunks;
    }
    if (fpga) {
        out.push_back({0xD2, 1, 0x41, 0, 5, 100, pauses});
        out.push_back({0xD3, 0, 0, 0, 5, 100, pauses});
        out.push_back({0xD0, 0, 0x410, 0, 3, 100, pauses});
        ++pauses;
        out.push_back({0xD3, 0, 0, 0, 3, 100, pauses});
        out.push_back({0xD1, 0, 0x410, 0, 4, 100, pauses});
    }
    return out;
}

} // namespace

class TestCameraDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void enumeration();
    void deviceWhoseOpenFailsIsNotListed_data();
    void deviceWhoseOpenFailsIsNotListed();
    void transportFacts();
    void openOnOpenObjectSendsNothing();
    void closedObjectSendsNothing();
    void readings_data();
    void readings();

    void firmwareWrite_data();
    void firmwareWrite();
    void fpgaWrite_data();
    void fpgaWrite();
    void fileRejected_data();
    void fileRejected();
    void faults_data();
    void faults();
    void busyForeverIsBounded_data();
    void busyForeverIsBounded();
    void unplugMidWrite_data();
    void unplugMidWrite();
    void faultSweep_data();
    void faultSweep();
    void realisticTimings();
    void requestsFromTwoThreads();
    void writeWhileAnotherHoldsTheCamera_data();
    void writeWhileAnotherHoldsTheCamera();

private:
    DeviceId plugCamera(const CameraConfig& config = CameraConfig());
    DeviceId plugForeign(uint16_t vendor, uint16_t product);
    bool waitForCameras(int count);
    int indexOf(DeviceId id);
    QByteArray makeFile(const QString& name, const QByteArray& content);
    // Opens the camera `id` in `camera` and clears its request log.
    void openCamera(QVRUsb& camera, DeviceId id);

    std::unique_ptr<Testbed> testbed;
    QList<DeviceId> plugged;
    QList<DeviceId> cameras; // plugged cameras, for waitForCameras
    QTemporaryDir dir;
};

void TestCameraDevice::initTestCase()
{
    testbed.reset(new Testbed);
    QVERIFY2(testbed->isValid(), testbed->errorString().c_str());
    QVERIFY2(testbed->preloadActive(), "run under umockdev-wrapper");
    QVERIFY(dir.isValid());
}

void TestCameraDevice::cleanup()
{
    for (DeviceId id : plugged)
        testbed->unplug(id);
    plugged.clear();
    cameras.clear();
    QVERIFY(waitForCameras(0));
}

DeviceId TestCameraDevice::plugCamera(const CameraConfig& config)
{
    DeviceId id = testbed->addCamera(config);
    if (id >= 0) {
        plugged << id;
        if (config.faults.openFailure == OpenFailure::None)
            cameras << id;
    }
    return id;
}

DeviceId TestCameraDevice::plugForeign(uint16_t vendor, uint16_t product)
{
    DeviceId id = testbed->addForeignDevice(vendor, product, "Foreign");
    if (id >= 0)
        plugged << id;
    return id;
}

// libusb learns of added and removed devices from uevents, asynchronously.
bool TestCameraDevice::waitForCameras(int count)
{
    QElapsedTimer t;
    t.start();
    while (QVRUsb::enumerateCameras() != count) {
        if (t.elapsed() > 5000) {
            qWarning("expected %d cameras, found %d: %s", count, QVRUsb::cameraList().paths.size(),
                     QVRUsb::cameraList().paths.join(' ').constData());
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

// Driver index of a plugged device: its position among the devices of the driver's class.
int TestCameraDevice::indexOf(DeviceId id)
{
    UsbDriverDevice probe;
    const int count = probe.deviceCount();
    for (int i = 0; i < count; ++i) {
        if (!probe.open(i))
            continue;
        char expected[64];
        std::snprintf(expected, sizeof expected, "usb:%d-%d", testbed->busNumber(id),
                      testbed->portNumber(id));
        if (probe.devicePath() == expected)
            return i;
    }
    return -1;
}

QByteArray TestCameraDevice::makeFile(const QString& name, const QByteArray& content)
{
    QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    f.write(content);
    f.close();
    return QFile::encodeName(path);
}

void TestCameraDevice::openCamera(QVRUsb& camera, DeviceId id)
{
    QVERIFY(waitForCameras(cameras.size()));
    const CameraList& list = QVRUsb::cameraList();
    const QByteArray path = QByteArray("usb:") + QByteArray::number(testbed->busNumber(id)) + "-" +
                            QByteArray::number(testbed->portNumber(id));
    const int at = list.paths.indexOf(path);
    QVERIFY2(at >= 0, path.constData());
    QVERIFY(camera.open(list.indices.at(at)));
    testbed->clearRequests(id);
}

void TestCameraDevice::enumeration()
{
    CameraConfig a;
    a.name = "Quenvor QV294C";
    CameraConfig b;
    b.name = "Quenvor QV533M";
    const DeviceId camA = plugCamera(a);
    const DeviceId fx3 = plugForeign(0x04B4, 0x00F3);   // same driver class, not a camera
    const DeviceId mouse = plugForeign(0x046D, 0xC52B); // outside the driver's class
    const DeviceId camB = plugCamera(b);
    QVERIFY(camA >= 0 && fx3 >= 0 && mouse >= 0 && camB >= 0);
    QVERIFY(waitForCameras(2));

    UsbDriverDevice probe;
    QCOMPARE(int(probe.deviceCount()), 3);
    const int fx3Index = indexOf(fx3);
    QVERIFY(fx3Index >= 0);
    QCOMPARE(indexOf(mouse), -1);

    const CameraList& list = QVRUsb::cameraList();
    QCOMPARE(list.names.size(), 2);
    QCOMPARE(list.paths.size(), 2);
    QCOMPARE(list.indices.size(), 2);
    QVERIFY(!list.indices.contains(fx3Index));
    // Listed in driver index order, each index pointing at the camera with that name and path.
    QVERIFY(list.indices.at(0) < list.indices.at(1));
    QCOMPARE(QSet<int>({list.indices.at(0), list.indices.at(1), fx3Index}), QSet<int>({0, 1, 2}));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(probe.open(list.indices.at(i)));
        QCOMPARE(probe.vendorId(), QVRUsb::CameraVendorId);
        QCOMPARE(QByteArray::fromStdString(probe.devicePath()), list.paths.at(i));
        QCOMPARE(QByteArray::fromStdString(probe.deviceName()), list.names.at(i));
    }
    QCOMPARE(QSet<QByteArray>({list.names.at(0), list.names.at(1)}),
             QSet<QByteArray>({"Quenvor QV294C", "Quenvor QV533M"}));
    QVERIFY(list.paths.at(0) != list.paths.at(1));
    QCOMPARE(list.indices.at(list.names.indexOf("Quenvor QV294C")), indexOf(camA));
    QCOMPARE(list.indices.at(list.names.indexOf("Quenvor QV533M")), indexOf(camB));

    // The enumeration opened nothing it did not need: no request reached the foreign devices.
    QVERIFY(testbed->requests(mouse).empty());

    // A camera that leaves is gone from the next list; the other keeps its path.
    const QByteArray pathB = list.paths.at(list.names.indexOf("Quenvor QV533M"));
    testbed->unplug(camA);
    cameras.removeAll(camA);
    QVERIFY(waitForCameras(1));
    QCOMPARE(QVRUsb::cameraList().paths, QList<QByteArray>{pathB});
}

void TestCameraDevice::deviceWhoseOpenFailsIsNotListed_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("no node") << int(OpenFailure::NoNode);
    QTest::newRow("denied") << int(OpenFailure::Denied); // as root: a node that cannot be opened
}

void TestCameraDevice::deviceWhoseOpenFailsIsNotListed()
{
    QFETCH(int, failure);
    CameraConfig broken;
    broken.name = "Broken";
    broken.faults.openFailure = OpenFailure(failure);
    const DeviceId bad = plugCamera(broken);
    CameraConfig good;
    good.name = "Good";
    const DeviceId ok = plugCamera(good);
    QVERIFY(bad >= 0 && ok >= 0);
    QVERIFY(waitForCameras(1));
    QCOMPARE(QVRUsb::cameraList().names, QList<QByteArray>{"Good"});

    // libusb may drop a device whose node vanished after the failed open; any index that is still
    // there besides the good camera must fail to open.
    UsbDriverDevice probe;
    const int count = probe.deviceCount();
    QVERIFY(count >= 1 && count <= 2);
    for (int i = 0; i < count; ++i) {
        if (i == QVRUsb::cameraList().indices.at(0))
            continue;
        QVERIFY(!probe.open(i));
        QVERIFY(!probe.isOpen());
        QVERIFY(probe.lastError() != 0);
        QVRUsb camera;
        QVERIFY(!camera.open(i));
        QVERIFY(!camera.isOpen());
        // The caller can tell a refused open from a missing device (root is never refused).
        if (OpenFailure(failure) == OpenFailure::Denied && geteuid() != 0)
            QVERIFY(camera.lastErrorIsAccessDenied());
        else
            QVERIFY(!camera.lastErrorIsAccessDenied());
    }
    QVRUsb camera;
    QVERIFY(!camera.open(count)); // out of range
    QVERIFY(!camera.isOpen());
    QVERIFY(camera.open(QVRUsb::cameraList().indices.at(0)));
}

void TestCameraDevice::transportFacts()
{
    UsbDriverDevice probe;
    QVERIFY(waitForCameras(0));
    QCOMPARE(int(probe.deviceCount()), 0);
    QVERIFY(!probe.open(0));
    QVERIFY(UsbDriverDevice::isNoDeviceError(probe.lastError()));
    QVERIFY(!probe.controlEndPoint());

    CameraConfig config;
    config.speed = UsbSpeed::Super;
    const DeviceId id = plugCamera(config);
    QVERIFY(waitForCameras(1));
    QVERIFY(probe.open(0));
    QVERIFY(probe.isSuperSpeed());
    QVERIFY(!probe.isHighSpeed());
    CCyControlEndPoint* ep = probe.controlEndPoint();
    QVERIFY(ep);
    QCOMPARE(int(ep->maxPacketSize), 512);
    QVERIFY(!probe.configurations().empty());

    // A vendor request through the bare endpoint, with every setup field as set.
    testbed->clearRequests(id);
    ep->direction = CCyControlEndPoint::DirectionFromDevice;
    ep->requestCode = QVRUsb::ReqFpgaVersion;
    ep->value = 0x1234;
    ep->index = 0x2B;
    ep->timeoutMs = 500;
    uint8_t reply[5] = {};
    int length = 5;
    QVERIFY(ep->transferData(reply, length));
    QCOMPARE(length, 5);
    QCOMPARE(int(reply[1]), 1);
    auto log = testbed->requests(id);
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(int(log[0].requestType), 0xC0);
    QCOMPARE(int(log[0].request), 0xC2);
    QCOMPARE(int(log[0].value), 0x1234);
    QCOMPARE(int(log[0].index), 0x2B);
    QCOMPARE(int(log[0].length), 5);

    // A request the camera never answers fails after its time-out, and the pipe is usable again.
    testbed->setNoAnswer(id, QVRUsb::ReqFirmwareVersion);
    ep->requestCode = QVRUsb::ReqFirmwareVersion;
    ep->value = 0;
    ep->index = 0;
    QElapsedTimer t;
    t.start();
    length = 1;
    QVERIFY(!ep->transferData(reply, length));
    QVERIFY2(t.elapsed() >= 450 && t.elapsed() < 2000, QByteArray::number(t.elapsed()).constData());
    testbed->setNoAnswer(id, QVRUsb::ReqFirmwareVersion, false);
    length = 1;
    QVERIFY(ep->transferData(reply, length));
    QCOMPARE(int(reply[0]), 123);

    probe.close();
    QVERIFY(!probe.isOpen());
    QVERIFY(!probe.controlEndPoint());
}

void TestCameraDevice::openOnOpenObjectSendsNothing()
{
    const DeviceId first = plugCamera();
    const DeviceId second = plugCamera();
    QVRUsb camera;
    openCamera(camera, first);
    testbed->clearRequests(second);
    QVERIFY(camera.open(0));
    QVERIFY(camera.open(1));
    QVERIFY(camera.open(7));
    QVERIFY(testbed->requests(first).empty());
    QVERIFY(testbed->requests(second).empty());
    // Still talking to the first camera.
    uint8_t v = 0;
    QVERIFY(camera.readFirmwareVersion(v));
    QCOMPARE(int(testbed->requests(first).size()), 1);
    QVERIFY(testbed->requests(second).empty());
    // The removal of the other camera's node leaves this one be; its own marks it gone.
    camera.deviceRemoved(QString::fromStdString(testbed->devNode(second)));
    QVERIFY(!camera.isGone());
    camera.deviceRemoved(QString::fromStdString(testbed->devNode(first)));
    QVERIFY(camera.isGone());
}

void TestCameraDevice::closedObjectSendsNothing()
{
    const DeviceId id = plugCamera();
    QVERIFY(waitForCameras(1));
    const QByteArray file = makeFile("closed.img", randomBytes(5000, 1));

    QVRUsb camera;
    for (int round = 0; round < 2; ++round) {
        if (round == 1) { // opened once, then closed
            openCamera(camera, id);
            camera.close();
        }
        testbed->clearRequests(id);
        QVERIFY(!camera.isOpen());
        QVERIFY(!camera.isUsb3());
        uint8_t v = 77;
        QVERIFY(!camera.readFirmwareVersion(v));
        QCOMPARE(int(v), 77);
        uint8_t a = 9, c = 9;
        int b = 9;
        QVERIFY(!camera.readFpgaVersion(a, b, c));
        QCOMPARE(fpgaVersionText(a, b, c), QString("V0.0.0"));
        uint8_t sn[64] = {};
        QVERIFY(!camera.readSerialNumber(sn));
        QVERIFY(!camera.resetFX3());
        QVERIFY(!camera.sendVendorRequest(QVRUsb::ReqStatus, 0, 0, 1, &v, 1));
        std::atomic<uint8_t> progress{33};
        QCOMPARE(camera.writeFirmware(file.constData(), &progress), int(QVRUsb::WriteEraseFailed));
        QCOMPARE(int(progress), 0);
        QCOMPARE(camera.writeFpga(file.constData(), &progress), int(QVRUsb::WriteEraseFailed));
        QVERIFY(testbed->requests(id).empty());
    }
}

void TestCameraDevice::readings_data()
{
    QTest::addColumn<int>("firmware");
    QTest::addColumn<QByteArray>("fpga");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<bool>("super");
    QTest::addColumn<QString>("fwText");
    QTest::addColumn<QString>("fpgaText");
    QTest::addColumn<QString>("connection");
    QTest::newRow("usb3") << 123 << QByteArray("\x0c\x01\xfd\x08\x00", 5)
                          << QByteArray("QV294C-0000000000001") << true << "V1.2.3"
                          << "V1.2301.1.2"
                          << "USB3.0";
    QTest::newRow("usb2, short serial")
        << 45 << QByteArray("\x00\x00\x00\x00\x00", 5) << QByteArray("SN42") << false << "V4.5"
        << "V0.0.0"
        << "USB2.0";
    QTest::newRow("24-bit b") << 0 << QByteArray("\x07\x02\x01\x02\x03", 5)
                              << QByteArray("ABCDEFGHIJKLMNOPQRST") << true << "V0"
                              << QString("V2.%1.7").arg(0x030201) << "USB3.0";
}

void TestCameraDevice::readings()
{
    QFETCH(int, firmware);
    QFETCH(QByteArray, fpga);
    QFETCH(QByteArray, serial);
    QFETCH(bool, super);
    QFETCH(QString, fwText);
    QFETCH(QString, fpgaText);
    QFETCH(QString, connection);
    CameraConfig config;
    config.firmwareVersion = uint8_t(firmware);
    std::copy(fpga.begin(), fpga.end(), config.fpgaVersion.begin());
    config.serial = serial.toStdString();
    config.speed = super ? UsbSpeed::Super : UsbSpeed::High;
    const DeviceId id = plugCamera(config);
    QVRUsb camera;
    openCamera(camera, id);
    uint8_t v = 99;
    QVERIFY(camera.readFirmwareVersion(v));
    QCOMPARE(firmwareVersionText(v), fwText);
    uint8_t a = 0, c = 0;
    int b = 0;
    QVERIFY(camera.readFpgaVersion(a, b, c));
    QCOMPARE(fpgaVersionText(a, b, c), fpgaText);
    uint8_t sn[64] = {};
    QVERIFY(camera.readSerialNumber(sn));
    QCOMPARE(serialNumberText(sn), QString::fromLatin1(serial));
    QCOMPARE(connectionText(camera.isUsb3()), connection);

    const auto log = testbed->requests(id);
    QCOMPARE(int(log.size()), 3);
    QCOMPARE(int(log[0].requestType), 0xC0);
    QCOMPARE(int(log[0].length), 1);
    QCOMPARE(int(log[1].request), 0xC2);
    QCOMPARE(int(log[1].index), 0x2B);
    QCOMPARE(int(log[1].length), 5);
    QCOMPARE(int(log[2].request), 0xA3);
    QCOMPARE(int(log[2].length), 20);

    // A failed read leaves zeros in the FPGA values and the firmware byte untouched.
    testbed->setStall(id, QVRUsb::ReqFpgaVersion);
    testbed->setStall(id, QVRUsb::ReqFirmwareVersion);
    a = c = 5;
    b = 5;
    QVERIFY(!camera.readFpgaVersion(a, b, c));
    QCOMPARE(fpgaVersionText(a, b, c), QString("V0.0.0"));
    v = 99;
    QVERIFY(!camera.readFirmwareVersion(v));
    QCOMPARE(int(v), 99);

    QVERIFY(camera.resetFX3());
    QCOMPARE(testbed->resetCount(id), 1);
    // The controller reboots: the camera leaves and comes back as a new device.
    QTRY_VERIFY_WITH_TIMEOUT(testbed->isPlugged(id), 5000);
    QVERIFY(!camera.readFirmwareVersion(v)); // the old handle is gone
    QVERIFY(waitForCameras(1));
}

void TestCameraDevice::firmwareWrite_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<QList<int>>("progress"); // empty: check only the shape
    QTest::newRow("5000 bytes") << 5000 << 1 << 2 << QList<int>{0, 50, 50, 50, 75, 100};
    QTest::newRow("1 byte") << 1 << 1 << 1 << QList<int>{0, 50, 50, 50, 100};
    QTest::newRow("65537 bytes") << 65537 << 2 << 17 << QList<int>();
    QTest::newRow("262,144 bytes") << 262144 << 4 << 64 << QList<int>();
}

void TestCameraDevice::firmwareWrite()
{
    QFETCH(int, size);
    QFETCH(int, blocks);
    QFETCH(int, chunks);
    QFETCH(QList<int>, progress);
    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    // Old contents with bits cleared everywhere: a skipped erase cannot go unnoticed on NOR flash.
    QVERIFY(testbed->fillFlash(id, 0x00));
    const QByteArray content = randomBytes(size, quint32(size));
    const QByteArray file = makeFile("fw.img", content);
    ProgressLog seen;
    seen.attach(camera);
    std::vector<std::pair<uint8_t, std::chrono::steady_clock::time_point>> finished;
    bool claimedThroughout = true;
    camera.setRequestObserver([&](uint8_t request, int64_t) {
        finished.emplace_back(request, std::chrono::steady_clock::now());
        claimedThroughout = claimedThroughout && testbed->claimedInterfaces(id) == 1;
    });
    std::atomic<uint8_t> value{0};

    QCOMPARE(camera.writeFirmware(file.constData(), &value), int(QVRUsb::WriteOk));
    QVERIFY(claimedThroughout);
    QCOMPARE(testbed->claimedInterfaces(id), 0);
    // The camera gets its 20 ms after each page write before the first status read.
    int pauses = 0;
    for (size_t i = 0; i + 1 < finished.size(); ++i) {
        if (finished[i].first != QVRUsb::ReqWritePage)
            continue;
        QCOMPARE(int(finished[i + 1].first), int(QVRUsb::ReqStatus));
        const auto gap = finished[i + 1].second - finished[i].second;
        QVERIFY(gap >= std::chrono::milliseconds(20));
        ++pauses;
    }
    QCOMPARE(pauses, chunks);
    QCOMPARE(int(value), 100);
    QCOMPARE(toBytes(testbed->flash(id, 0, uint32_t(size))), content);
    // The rest of the erased blocks is erased flash; the next block is untouched.
    const uint32_t erasedEnd = uint32_t(blocks) * BlockSize;
    const std::vector<uint8_t> tail = testbed->flash(id, uint32_t(size), erasedEnd - uint32_t(size));
    QVERIFY(std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0xFF; }));
    QCOMPARE(int(testbed->flash(id, erasedEnd, 1).at(0)), 0x00);

    const auto log = testbed->requests(id);
    const auto erases = only(log, QVRUsb::ReqErase);
    QCOMPARE(int(erases.size()), blocks);
    for (int k = 0; k < blocks; ++k) {
        QCOMPARE(int(erases[size_t(k)].value), 0);
        QCOMPARE(int(erases[size_t(k)].index), k);
        QCOMPARE(int(erases[size_t(k)].length), 0);
    }
    std::vector<Chunk> expected;
    for (int j = 0; j < chunks; ++j)
        expected.push_back({uint16_t(j * 16), uint16_t(std::min(4096, size - j * 4096))});
    QVERIFY(chunksOf(log, QVRUsb::ReqWritePage) == expected);
    QVERIFY(chunksOf(log, QVRUsb::ReqReadPage) == expected);
    for (const ControlRequest& r : log)
        QVERIFY(r.status == 0);
    // Order: all erases before the first page write; each write followed by status, then read-back.
    const auto firstWrite = std::find_if(log.begin(), log.end(), [](auto& r) { return r.request == 0xD0; });
    QVERIFY(std::none_of(firstWrite, log.end(), [](auto& r) { return r.request == 0xD2; }));
    for (auto it = firstWrite; it != log.end(); ++it)
        if (it->request == 0xD0)
            QCOMPARE(int((it + 1)->request), 0xD3);

    if (!progress.isEmpty()) {
        QCOMPARE(seen.values, progress);
    } else {
        QCOMPARE(seen.values.size(), 1 + blocks + 1 + chunks + 1);
        QCOMPARE(seen.values.at(blocks), 50);
        QCOMPARE(seen.values.last(), 100);
        QVERIFY(std::is_sorted(seen.values.begin(), seen.values.end()));
    }
}

void TestCameraDevice::fpgaWrite_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("checksum");
    QTest::newRow("1 byte") << 1 << 370;
    QTest::newRow("1,000,000 bytes") << 1000000 << 514;
}

void TestCameraDevice::fpgaWrite()
{
    QFETCH(int, size);
    QFETCH(int, checksum);
    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    QVERIFY(testbed->fillFlash(id, 0x00));
    const QByteArray content = randomBytes(size, 7);
    const QByteArray file = makeFile("fpga.bit", content);
    ProgressLog seen;
    seen.attach(camera);
    std::atomic<uint8_t> value{0};

    QCOMPARE(camera.writeFpga(file.constData(), &value), int(QVRUsb::WriteOk));
    QCOMPARE(int(value), 100);
    QCOMPARE(seen.values.last(), 100);
    QCOMPARE(toBytes(testbed->flash(id, FpgaStart, 256)), QByteArray(256, '\xff'));
    QCOMPARE(toBytes(testbed->flash(id, FpgaStart + 256, uint32_t(size))), content);
    QCOMPARE(int(testbed->flash(id, 0, 1).at(0)), 0x00); // firmware area untouched

    const std::vector<uint8_t> header = testbed->flash(id, HeaderStart, 64);
    const HeaderRecord expected = fpgaHeaderRecord(uint32_t(size) + 256);
    QCOMPARE(toBytes(header), QByteArray(reinterpret_cast<const char*>(expected.data()), 64));
    QCOMPARE(int(header[20] | header[21] << 8), checksum);
    QCOMPARE(int(header[12] | header[13] << 8 | header[14] << 16 | header[15] << 24), size + 256);
    // The header sector was erased alone: the rest of it is erased flash, its neighbours untouched.
    const std::vector<uint8_t> sector = testbed->flash(id, HeaderStart + 64, SectorSize - 64);
    QVERIFY(std::all_of(sector.begin(), sector.end(), [](uint8_t b) { return b == 0xFF; }));
    QCOMPARE(int(testbed->flash(id, HeaderStart - 1, 1).at(0)), 0x00);
    QCOMPARE(int(testbed->flash(id, HeaderStart + SectorSize, 1).at(0)), 0x00);

    const auto log = testbed->requests(id);
    const auto erases = only(log, QVRUsb::ReqErase);
    const int blocks = int(blockCount(uint32_t(size) + 256));
    QCOMPARE(int(erases.size()), blocks + 1);
    QCOMPARE(int(erases.front().index), 0x18);
    QCOMPARE(int(erases.back().value), 1);
    QCOMPARE(int(erases.back().index), 0x41);
    const auto writes = chunksOf(log, QVRUsb::ReqWritePage);
    QCOMPARE(int(writes.size()), int(chunkCount(uint32_t(size) + 256)) + 1);
    QCOMPARE(int(writes.front().page), 0x1800);
    QCOMPARE(int(writes.front().length), std::min(4096, size + 256));
    QCOMPARE(int(writes.back().page), 0x410);
    QCOMPARE(int(writes.back().length), 64);
    QVERIFY(chunksOf(log, QVRUsb::ReqReadPage) == writes);
}

void TestCameraDevice::fileRejected_data()
{
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<int>("size"); // -1: no file at all
    QTest::addColumn<int>("result");
    QTest::newRow("firmware one byte too large") << false << 262145 << 2;
    QTest::newRow("FPGA one byte too large") << true << 2621185 << 2;
    QTest::newRow("empty firmware") << false << 0 << 7;
    QTest::newRow("empty FPGA") << true << 0 << 7;
    QTest::newRow("missing firmware") << false << -1 << 7;
    QTest::newRow("missing FPGA") << true << -1 << 7;
}

void TestCameraDevice::fileRejected()
{
    QFETCH(bool, fpga);
    QFETCH(int, size);
    QFETCH(int, result);
    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    const QByteArray file = size < 0 ? QFile::encodeName(dir.filePath("does-not-exist"))
                                     : makeFile("rejected", QByteArray(size, 'x'));
    std::atomic<uint8_t> value{42};
    const int got =
        fpga ? camera.writeFpga(file.constData(), &value) : camera.writeFirmware(file.constData(), &value);
    QCOMPARE(got, result);
    QCOMPARE(int(value), 0);
    QVERIFY(testbed->requests(id).empty());
}

void TestCameraDevice::faults_data()
{
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<QString>("fault"); // stall:<hex>, noanswer:<hex>, corrupt:<page>
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("progress"); // value left in the progress byte
    QTest::newRow("corrupt last byte of last chunk") << false << "corrupt:16" << 6 << 50;
    QTest::newRow("corrupt first chunk") << false << "corrupt:0" << 6 << 50;
    QTest::newRow("corrupt FPGA header") << true << "corrupt:1040" << 6 << 100;
    QTest::newRow("stalled program") << false << "stall:d0" << 3 << 50;
    QTest::newRow("unanswered program") << false << "noanswer:d0" << 3 << 50;
    QTest::newRow("stalled read-back") << false << "stall:d1" << 4 << 50;
    QTest::newRow("stalled erase") << false << "stall:d2" << 5 << 0;
    QTest::newRow("stalled status") << false << "stall:d3" << 5 << 0;
    QTest::newRow("unanswered status") << true << "noanswer:d3" << 5 << 0;
}

void TestCameraDevice::faults()
{
    QFETCH(bool, fpga);
    QFETCH(QString, fault);
    QFETCH(int, result);
    QFETCH(int, progress);
    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    const QStringList parts = fault.split(':');
    const int arg = parts.at(1).toInt(nullptr, parts.at(0) == "corrupt" ? 10 : 16);
    if (parts.at(0) == "stall")
        testbed->setStall(id, uint8_t(arg));
    else if (parts.at(0) == "noanswer")
        testbed->setNoAnswer(id, uint8_t(arg));
    else
        testbed->setCorruptPage(id, uint16_t(arg));
    const QByteArray file = makeFile("fault", randomBytes(fpga ? 1 : 5000, 3));
    std::atomic<uint8_t> value{0};
    QElapsedTimer t;
    t.start();
    const int got =
        fpga ? camera.writeFpga(file.constData(), &value) : camera.writeFirmware(file.constData(), &value);
    QCOMPARE(got, result);
    QCOMPARE(int(value), progress);
    QVERIFY(t.elapsed() < 3000);
    QVERIFY(!camera.isGone()); // a refused or unanswered request is no departure
    // Nothing after the failing request.
    const auto log = testbed->requests(id);
    QVERIFY(!log.empty());
    if (parts.at(0) != "corrupt")
        QVERIFY(log.back().request == uint8_t(arg) && log.back().status != 0);
    else
        QCOMPARE(int(log.back().request), 0xD1);
}

// The flash refuses commands while busy, so a camera that stays busy is one whose erase or
// programming never ends (here: ten minutes). The status waits give up after their bounds.
void TestCameraDevice::busyForeverIsBounded_data()
{
    QTest::addColumn<bool>("erase");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("boundMs");
    QTest::newRow("erase") << true << 5 << int(QVRUsb::EraseStatusBoundMs);
    QTest::newRow("program") << false << 3 << int(QVRUsb::ProgramStatusBoundMs);
}

void TestCameraDevice::busyForeverIsBounded()
{
    QFETCH(bool, erase);
    QFETCH(int, result);
    QFETCH(int, boundMs);
    CameraConfig config;
    if (erase)
        config.timings.eraseBlockMs = 600000;
    else
        config.timings.programPageUs = 600000000 / 16;
    const DeviceId id = plugCamera(config);
    QVRUsb camera; // default bounds
    openCamera(camera, id);
    const QByteArray file = makeFile("busy.img", randomBytes(5000, 5));
    std::atomic<uint8_t> value{0};
    QElapsedTimer t;
    t.start();
    QCOMPARE(camera.writeFirmware(file.constData(), &value), result);
    const qint64 elapsed = t.elapsed();
    QVERIFY2(elapsed >= boundMs && elapsed < boundMs + 1500, QByteArray::number(elapsed).constData());
    QCOMPARE(int(value), erase ? 0 : 50);
    const auto log = testbed->requests(id);
    QCOMPARE(int(log.back().request), 0xD3);
    QVERIFY(testbed->isBusy(id));
    QCOMPARE(int(only(log, erase ? 0xD2 : 0xD0).size()), 1);
}

void TestCameraDevice::unplugMidWrite_data()
{
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<int>("after");
    QTest::newRow("during erase") << false << 2;
    QTest::newRow("during programming") << false << 12;
    QTest::newRow("before the FPGA header") << true << 9;
}

void TestCameraDevice::unplugMidWrite()
{
    QFETCH(bool, fpga);
    QFETCH(int, after);
    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    testbed->setUnplugAfterRequests(id, after);
    const QByteArray file = makeFile("unplug", randomBytes(fpga ? 1 : 20000, 9));
    std::atomic<uint8_t> value{0};
    QElapsedTimer t;
    t.start();
    const int got =
        fpga ? camera.writeFpga(file.constData(), &value) : camera.writeFirmware(file.constData(), &value);
    QVERIFY2(got >= 3 && got <= 6, QByteArray::number(got).constData());
    QVERIFY(t.elapsed() < 3000);
    QVERIFY(!testbed->isPlugged(id));
    QVERIFY(camera.isOpen()); // stays open until the caller closes it
    QVERIFY(camera.isGone()); // the failed write's "no device" told so
    uint8_t v = 0;
    QVERIFY(!camera.readFirmwareVersion(v));
    QVERIFY(UsbDriverDevice::isNoDeviceError(camera.lastError()));
    camera.close();
    QVERIFY(!camera.isGone());
    cameras.removeAll(id);
}

// Every fault kind armed before each request of three writes (the largest firmware image sampled at
// its erase blocks and its first two chunks; its later chunks take 20 ms more each and repeat the
// second). A fault that cannot touch the request it is armed at (a corrupt read-back anywhere but at
// a read-back, a busy flash at a read-back) is left out: it would only repeat the row of the next
// request it touches.
void TestCameraDevice::faultSweep_data()
{
    QTest::addColumn<int>("write");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("position"); // 1-based request of the write the fault is armed before

    const struct
    {
        SweepWrite write;
        const char* name;
    } writes[] = {
        {SweepWrite::Firmware, "firmware"}, {SweepWrite::Fpga, "FPGA"}, {SweepWrite::TwoChunks, "2 chunks"}};
    const struct
    {
        SweepFault fault;
        const char* name;
    } faults[] = {{SweepFault::Stall, "stall"},
                  {SweepFault::NoAnswer, "no answer"},
                  {SweepFault::Unplug, "unplug"},
                  {SweepFault::Corrupt, "corrupt"},
                  {SweepFault::Busy, "busy"}};
    for (const auto& w : writes) {
        const std::vector<ExpectedRequest> requests = expectedRequests(w.write);
        for (const auto& f : faults) {
            for (size_t i = 0; i < requests.size(); ++i) {
                const ExpectedRequest& r = requests[i];
                if (w.write == SweepWrite::Firmware && r.chunk > 2)
                    continue;
                const bool touches = f.fault == SweepFault::Corrupt ? r.request == 0xD1
                                     : f.fault == SweepFault::Busy  ? r.request != 0xD1
                                                                    : true;
                if (!touches)
                    continue;
                QTest::addRow("%s, %s at %d (%02X %X)", w.name, f.name, int(i + 1), r.request, r.index)
                    << int(w.write) << int(f.fault) << int(i + 1);
            }
        }
    }
}

void TestCameraDevice::faultSweep()
{
    QFETCH(int, write);
    QFETCH(int, fault);
    QFETCH(int, position);
    const SweepFault kind = SweepFault(fault);
    const std::vector<ExpectedRequest> requests = expectedRequests(SweepWrite(write));
    const ExpectedRequest& at = requests[size_t(position - 1)];
    const bool fpga = SweepWrite(write) == SweepWrite::Fpga;

    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    // Short status bounds, different for erase and program, so a wait on the wrong one shows.
    const unsigned eraseBoundMs = 250, programBoundMs = 150;
    camera.setStatusBounds(eraseBoundMs, programBoundMs);
    const QByteArray file = makeFile("sweep", randomBytes(sweepFileSize(SweepWrite(write)), quint32(write)));

    CameraFaults faults;
    faults.faultsAfterRequests = position - 1;
    const std::set<uint8_t> flashRequests{0xD0, 0xD1, 0xD2, 0xD3};
    switch (kind) {
    case SweepFault::Stall:
        faults.stall = flashRequests;
        break;
    case SweepFault::NoAnswer:
        faults.noAnswer = flashRequests;
        break;
    case SweepFault::Unplug:
        faults.unplugAfterRequests = position - 1;
        cameras.removeAll(id);
        break;
    case SweepFault::Corrupt:
        faults.corruptPages = {at.index};
        break;
    case SweepFault::Busy:
        faults.busyForever = true;
        break;
    }
    testbed->setFaults(id, faults);

    std::atomic<uint8_t> value{0};
    QElapsedTimer t;
    t.start();
    const int got =
        fpga ? camera.writeFpga(file.constData(), &value) : camera.writeFirmware(file.constData(), &value);
    const qint64 elapsed = t.elapsed();

    QCOMPARE(got, kind == SweepFault::Corrupt ? int(QVRUsb::WriteVerifyFailed) : at.result);
    QCOMPARE(int(value), at.progress);

    // Every request before the fault was the expected one and went through.
    const auto log = testbed->requests(id);
    QVERIFY2(log.size() >= size_t(position - 1), QByteArray::number(int(log.size())).constData());
    for (size_t i = 0; i + 1 < size_t(position); ++i) {
        const ExpectedRequest& e = requests[i];
        QVERIFY2(log[i].request == e.request && log[i].value == e.value && log[i].index == e.index &&
                     log[i].status == 0,
                 QByteArray::number(int(i + 1)).constData());
    }
    // The failing request is the last one the camera saw (a busy status is read until the bound).
    const bool busyWait = kind == SweepFault::Busy && at.request == 0xD3;
    if (kind == SweepFault::Unplug) {
        QCOMPARE(int(log.size()), position - 1);
        QVERIFY(!testbed->isPlugged(id));
    } else if (busyWait) {
        QVERIFY(log.size() > size_t(position));
        for (size_t i = size_t(position - 1); i < log.size(); ++i)
            QVERIFY(log[i].request == 0xD3 && log[i].status == 0);
    } else {
        QCOMPARE(int(log.size()), position);
        const ControlRequest& last = log.back();
        QVERIFY(last.request == at.request && last.value == at.value && last.index == at.index);
        const int status = kind == SweepFault::NoAnswer ? -ENOENT : kind == SweepFault::Corrupt ? 0 : -EPIPE;
        QCOMPARE(last.status, status);
    }

    // Given back, whatever the failure.
    QVERIFY(!camera.isClaimed());
    QCOMPARE(testbed->claimedInterfaces(id), 0);

    // Within its bound: the pauses already taken plus the wait the fault costs (the request time-out,
    // or the status bound), with slack for a loaded machine.
    int waitMs = 0;
    if (kind == SweepFault::NoAnswer)
        waitMs = int(QVRUsb::RequestTimeoutMs);
    else if (busyWait)
        waitMs = int(at.result == QVRUsb::WriteEraseFailed ? eraseBoundMs : programBoundMs);
    const qint64 boundMs = qint64(at.pauses) * ChunkPauseMs + waitMs;
    QVERIFY2(
        elapsed >= waitMs && elapsed < boundMs + 1500,
        QByteArray::number(elapsed).append(" ms, bound ").append(QByteArray::number(boundMs)).constData());
}

void TestCameraDevice::realisticTimings()
{
    CameraConfig config;
    config.timings = CameraTimings::realistic();
    const DeviceId id = plugCamera(config);
    QVRUsb camera;
    openCamera(camera, id);
    const QByteArray fw = makeFile("real.img", randomBytes(70000, 11));
    const QByteArray bit = makeFile("real.bit", randomBytes(5000, 12));
    std::atomic<uint8_t> value{0};
    QCOMPARE(camera.writeFirmware(fw.constData(), &value), int(QVRUsb::WriteOk));
    QCOMPARE(camera.writeFpga(bit.constData(), &value), int(QVRUsb::WriteOk));
    QCOMPARE(toBytes(testbed->flash(id, 0, 70000)), randomBytes(70000, 11));
    QCOMPARE(toBytes(testbed->flash(id, FpgaStart + 256, 5000)), randomBytes(5000, 12));
}

// A write on a worker thread while another thread keeps reading the versions: each request is
// serialised, so neither thread sees the other's request fields.
void TestCameraDevice::requestsFromTwoThreads()
{
    const DeviceId id = plugCamera();
    QVRUsb camera;
    openCamera(camera, id);
    const QByteArray content = randomBytes(3 * 65536, 21);
    const QByteArray file = makeFile("threads.img", content);
    std::atomic<uint8_t> value{0};
    std::atomic<bool> done{false};
    int result = -1;
    std::thread writer([&] {
        result = camera.writeFirmware(file.constData(), &value);
        done = true;
    });
    int reads = 0;
    bool allRight = true;
    while (!done) {
        uint8_t v = 0;
        uint8_t a = 0, c = 0;
        int b = 0;
        allRight = allRight && camera.readFirmwareVersion(v) && v == 123;
        allRight = allRight && camera.readFpgaVersion(a, b, c) && fpgaVersionText(a, b, c) == "V1.2301.1.2";
        ++reads;
    }
    writer.join();
    QCOMPARE(result, int(QVRUsb::WriteOk));
    QVERIFY(allRight);
    QVERIFY(reads > 10);
    QCOMPARE(toBytes(testbed->flash(id, 0, uint32_t(content.size()))), content);
}

void TestCameraDevice::writeWhileAnotherHoldsTheCamera_data()
{
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<bool>("fromMemory");
    QTest::newRow("firmware file") << false << false;
    QTest::newRow("FPGA file") << true << false;
    QTest::newRow("firmware image in memory") << false << true;
    QTest::newRow("bitstream in memory") << true << true;
}

// Another handle of the camera holds it (as another program's write or a capture program would): the
// write is refused before its first request, and goes through once that handle is closed. A caller
// that holds the camera itself keeps it across the write.
void TestCameraDevice::writeWhileAnotherHoldsTheCamera()
{
    QFETCH(bool, fpga);
    QFETCH(bool, fromMemory);
    const DeviceId id = plugCamera();
    QVERIFY(testbed->fillFlash(id, 0x00));
    QVRUsb camera, other;
    openCamera(camera, id);
    openCamera(other, id);
    QCOMPARE(other.claimExclusive(), QVRUsb::ClaimOk);
    QCOMPARE(testbed->claimedInterfaces(id), 1);

    const QByteArray content = randomBytes(fpga ? 3000 : 70000, 31);
    const QByteArray file = makeFile(fpga ? "held.bit" : "held.img", content);
    std::atomic<uint8_t> value{0};
    auto write = [&] {
        if (fromMemory)
            return fpga ? camera.writeFpgaImage(content, &value) : camera.writeFirmwareImage(content, &value);
        return fpga ? camera.writeFpga(file.constData(), &value)
                    : camera.writeFirmware(file.constData(), &value);
    };
    testbed->clearRequests(id);
    QCOMPARE(write(), int(QVRUsb::WriteInUse));
    QVERIFY(testbed->requests(id).empty());
    QCOMPARE(int(value), 0);
    QVERIFY(camera.cameraUsers().isEmpty()); // this process is no other program
    QVERIFY(!camera.isClaimed());

    other.close(); // closing gives the camera back, as the end of a program does
    QCOMPARE(testbed->claimedInterfaces(id), 0);
    QCOMPARE(camera.claimExclusive(), QVRUsb::ClaimOk);
    QCOMPARE(write(), int(QVRUsb::WriteOk));
    QVERIFY(camera.isClaimed());
    QCOMPARE(toBytes(testbed->flash(id, fpga ? FpgaStart + 256 : 0, uint32_t(content.size()))), content);
    QVERIFY(other.open(indexOf(id)));
    QCOMPARE(other.claimExclusive(), QVRUsb::ClaimInUse);
    camera.releaseExclusive();
    QCOMPARE(testbed->claimedInterfaces(id), 0);
    QCOMPARE(other.claimExclusive(), QVRUsb::ClaimOk);
}

QTEST_GUILESS_MAIN(TestCameraDevice)
#include "tst_cameradevice.moc"
