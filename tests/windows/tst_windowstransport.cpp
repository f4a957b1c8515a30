// QVRUsb over the Windows transport (usbdriverdevice_win.cpp) with a simulated chip-vendor driver
// in place of the system's: enumeration, open, the image writes, the driver's faults and the claim.
#include "flashlayout.h"
#include "fx3image.h"
#include "qvrusb.h"
#include "simulateddriver.h"
#include "transferwait.h"
#include "usbdriverdevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>
#include <algorithm>
#include <atomic>
#include <memory>

using namespace flashwick::emu;
using namespace FlashLayout;
using Fault = SimulatedDriver::Fault;
using Call = SimulatedDriver::Call;

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = char(gen.bounded(256));
    return bytes;
}

QByteArray toBytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

std::vector<Call> vendorRecords(const std::vector<Call>& log)
{
    std::vector<Call> out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out), [](const Call& c) { return c.vendor(); });
    return out;
}

// A write's requests as the camera should see them, with what the write returns when one fails, the
// progress stored before it and the 20 ms pauses taken before it.
struct ExpectedRequest
{
    uint8_t request;
    uint16_t value;
    uint16_t index;
    int result;
    int progress;
    int pauses;
};

std::vector<ExpectedRequest> expectedRequests(bool fpga, uint32_t fileSize)
{
    const uint32_t start = fpga ? FpgaStart : FirmwareStart;
    const uint32_t length = fileSize + (fpga ? FpgaFront : 0);
    const int blocks = int(blockCount(length));
    const int chunks = int(chunkCount(length));
    std::vector<ExpectedRequest> out;
    int progress = 0;
    int pauses = 0;
    for (int k = 0; k < blocks; ++k) {
        const uint16_t block = uint16_t(start / BlockSize + uint32_t(k));
        out.push_back({QVRUsb::ReqErase, 0, block, QVRUsb::WriteEraseFailed, progress, pauses});
        out.push_back({QVRUsb::ReqStatus, 0, 0, QVRUsb::WriteEraseFailed, progress, pauses});
        progress = (k + 1) * 50 / blocks;
    }
    progress = 50;
    for (int j = 1; j <= chunks; ++j) {
        const uint16_t page = uint16_t(start / PageSize + uint32_t(j - 1) * (ChunkSize / PageSize));
        out.push_back({QVRUsb::ReqWritePage, 0, page, QVRUsb::WriteProgramFailed, progress, pauses++});
        out.push_back({QVRUsb::ReqStatus, 0, 0, QVRUsb::WriteProgramFailed, progress, pauses});
        out.push_back({QVRUsb::ReqReadPage, 0, page, QVRUsb::WriteReadBackFailed, progress, pauses});
        progress = 50 + (j - 1) * 50 / chunks;
    }
    if (fpga) {
        const uint16_t page = uint16_t(HeaderStart / PageSize);
        out.push_back(
            {QVRUsb::ReqErase, 1, uint16_t(HeaderStart / SectorSize), QVRUsb::WriteEraseFailed, 100, pauses});
        out.push_back({QVRUsb::ReqStatus, 0, 0, QVRUsb::WriteEraseFailed, 100, pauses});
        out.push_back({QVRUsb::ReqWritePage, 0, page, QVRUsb::WriteProgramFailed, 100, pauses++});
        out.push_back({QVRUsb::ReqStatus, 0, 0, QVRUsb::WriteProgramFailed, 100, pauses});
        out.push_back({QVRUsb::ReqReadPage, 0, page, QVRUsb::WriteReadBackFailed, 100, pauses});
    }
    return out;
}

// Devices of the enumeration table.
enum DeviceKind
{
    SuperSpeedCamera,
    HighSpeedCamera,
    BootLoader,
    DeniedCamera, // its open fails with ERROR_ACCESS_DENIED
};

// Faults of the sweep.
enum SweepFault
{
    Late,         // answered 30 ms late: the write succeeds
    NoAnswer,     // kept until the abort
    UsbStatus,    // answered with the first status word set
    DriverStatus, // ... the second
    Stall,        // the camera stalls it
    Gone,         // the driver says the device is gone
    Short,        // an IN reply one byte short
};

} // namespace

class TestWindowsTransport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumerateAndOpen_data();
    void enumerateAndOpen();
    void writes_data();
    void writes();
    void faultSweep_data();
    void faultSweep();
    void claim();

private:
    QByteArray makeFile(const QString& name, const QByteArray& content);
    void checkWritten(int device, bool fpga, const QByteArray& content);

    std::unique_ptr<SimulatedDriver> sim;
    std::unique_ptr<QTemporaryDir> dir;
    int deviceCount = 0;
};

void TestWindowsTransport::init()
{
    sim.reset(); // one simulation at a time
    sim.reset(new SimulatedDriver);
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    deviceCount = 0;
}

void TestWindowsTransport::cleanup()
{
    // Every handle, device set and request the transport took is given back.
    QVector<int> handles;
    for (int d = 0; d < deviceCount; ++d)
        handles << sim->openHandles(d);
    const int sets = sim->deviceSets();
    const int pending = sim->pendingRequests();
    sim.reset();
    dir.reset();
    QCOMPARE(handles, QVector<int>(deviceCount, 0));
    QCOMPARE(sets, 0);
    QCOMPARE(pending, 0);
}

QByteArray TestWindowsTransport::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = dir->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return QByteArray();
    return QFile::encodeName(path);
}

// The flash after a write of `content`: the file in its area and, for the FPGA, the 256 bytes of 0xFF
// in front and the header record; the rest of the erased blocks erased, the flash around untouched
// (it was filled with 0x00 before).
void TestWindowsTransport::checkWritten(int device, bool fpga, const QByteArray& content)
{
    const uint32_t start = fpga ? FpgaStart : FirmwareStart;
    const uint32_t front = fpga ? FpgaFront : 0;
    const uint32_t length = uint32_t(content.size()) + front;
    QCOMPARE(toBytes(sim->flash(device, start, front)), QByteArray(int(front), '\xff'));
    QCOMPARE(toBytes(sim->flash(device, start + front, uint32_t(content.size()))), content);
    const uint32_t erasedEnd = start + blockCount(length) * BlockSize;
    const std::vector<uint8_t> tail = sim->flash(device, start + length, erasedEnd - start - length);
    QVERIFY(std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0xFF; }));
    if (erasedEnd < FlashEnd)
        QCOMPARE(int(sim->flash(device, erasedEnd, 1).at(0)), 0x00);
    if (fpga) {
        const HeaderRecord expected = fpgaHeaderRecord(length);
        QCOMPARE(toBytes(sim->flash(device, HeaderStart, HeaderSize)),
                 QByteArray(reinterpret_cast<const char*>(expected.data()), int(HeaderSize)));
        QCOMPARE(int(sim->flash(device, 0, 1).at(0)), 0x00); // firmware area untouched
    }
}

void TestWindowsTransport::enumerateAndOpen_data()
{
    QTest::addColumn<QList<int>>("devices"); // DeviceKind in driver index order
    QTest::addColumn<int>("pendingDelay");   // every request left pending this long; -1: answered at once
    QTest::newRow("one camera") << QList<int>{SuperSpeedCamera} << -1;
    QTest::newRow("camera, boot loader, camera")
        << QList<int>{SuperSpeedCamera, BootLoader, HighSpeedCamera} << -1;
    QTest::newRow("camera, boot loader, camera, answered late")
        << QList<int>{SuperSpeedCamera, BootLoader, HighSpeedCamera} << 3;
    QTest::newRow("camera that cannot be opened, camera") << QList<int>{DeniedCamera, HighSpeedCamera} << -1;
}

void TestWindowsTransport::enumerateAndOpen()
{
    QFETCH(QList<int>, devices);
    QFETCH(int, pendingDelay);
    struct Expected
    {
        int index;
        uint8_t firmware;
        QString serial;
        QString fpga;
        bool usb3;
    };
    QList<Expected> cameras;
    QList<int> bootLoaders, denied;
    for (int kind : devices) {
        CameraConfig config;
        int index;
        if (kind == BootLoader) {
            DeviceIdentity id;
            id.camera = false;
            id.bootLoader = true;
            id.vendorId = BootLoaderVendorId;
            id.productId = BootLoaderProductId;
            id.manufacturer = "Chip maker";
            id.product = "Boot loader";
            index = sim->addDevice(id, config);
            bootLoaders << index;
        } else {
            if (kind == HighSpeedCamera) {
                config.speed = UsbSpeed::High;
                config.firmwareVersion = 45;
                config.serial = "QVC00000000000004711";
                config.fpgaVersion = {{34, 2, 0x01, 0x00, 0x00}};
            }
            index = sim->addCamera(config);
            if (kind == DeniedCamera) {
                sim->setOpenError(index, ERROR_ACCESS_DENIED);
                denied << index;
            } else {
                cameras << Expected{index, config.firmwareVersion,
                                    kind == HighSpeedCamera
                                        ? QString::fromStdString(config.serial)
                                        : QStringLiteral("QVC%1").arg(1000 + index, 17, 10, QLatin1Char('0')),
                                    kind == HighSpeedCamera ? QStringLiteral("V2.1.3.4")
                                                            : QStringLiteral("V1.2301.1.2"),
                                    kind == SuperSpeedCamera};
            }
        }
    }
    deviceCount = devices.size();
    sim->setPendingDelay(pendingDelay);

    QCOMPARE(QVRUsb::enumerateCameras(), cameras.size());
    const CameraList& list = QVRUsb::cameraList();
    QCOMPARE(list.indices.size(), cameras.size());
    for (int i = 0; i < cameras.size(); ++i) {
        QCOMPARE(list.indices.at(i), cameras.at(i).index);
        QCOMPARE(list.paths.at(i), QByteArray::fromStdString(sim->devicePath(cameras.at(i).index)));
        QCOMPARE(list.names.at(i), QByteArray("Quenvor QV294C"));
    }
    QCOMPARE(QVRUsb::bootLoaderList().indices, bootLoaders);

    for (const Expected& e : cameras) {
        QVRUsb camera;
        QVERIFY(camera.open(e.index));
        QCOMPARE(camera.isUsb3(), e.usb3);
        uint8_t version = 0;
        QVERIFY(camera.readFirmwareVersion(version));
        QCOMPARE(int(version), int(e.firmware));
        uint8_t serial[21] = {};
        QVERIFY(camera.readSerialNumber(serial));
        QCOMPARE(serialNumberText(serial), e.serial);
        uint8_t a = 0, c = 0;
        int b = 0;
        QVERIFY(camera.readFpgaVersion(a, b, c));
        QCOMPARE(fpgaVersionText(a, b, c), e.fpga);
    }
    for (int index : denied) {
        QVRUsb camera;
        QVERIFY(!camera.open(index));
        QVERIFY(camera.lastErrorIsAccessDenied());
    }

    const std::vector<Call> log = sim->calls();
    QVERIFY(!log.empty());
    for (const Call& call : log) {
        // No camera request reaches a boot loader; every request went the way the driver chose.
        QVERIFY(!(bootLoaders.contains(call.device) && call.vendor()));
        QCOMPARE(call.pended, pendingDelay >= 0);
        QVERIFY(call.completed);
    }
}

void TestWindowsTransport::writes_data()
{
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("pendingDelay");
    QTest::newRow("firmware, 5000 bytes") << false << 5000 << -1;
    QTest::newRow("firmware, 262,144 bytes") << false << 262144 << -1;
    QTest::newRow("firmware, 5000 bytes, answered late") << false << 5000 << 2;
    QTest::newRow("FPGA, 1 byte") << true << 1 << -1;
    QTest::newRow("FPGA, 100,001 bytes") << true << 100001 << -1;
    QTest::newRow("FPGA, 1 byte, answered late") << true << 1 << 2;
}

void TestWindowsTransport::writes()
{
    QFETCH(bool, fpga);
    QFETCH(int, size);
    QFETCH(int, pendingDelay);
    const int d = sim->addCamera();
    deviceCount = 1;
    sim->setPendingDelay(pendingDelay);
    // Old contents with bits cleared everywhere: a skipped erase cannot go unnoticed on NOR flash.
    sim->withModel(d, [](UsbDeviceModel& m) { std::fill(m.flash().begin(), m.flash().end(), uint8_t(0)); });
    const QByteArray content = fpga ? randomBytes(size, quint32(size)) : fx3Image(size, quint32(size), 77);
    const QByteArray file = makeFile(QStringLiteral("image"), content);
    QVERIFY(!file.isEmpty());

    QVRUsb camera;
    QVERIFY(camera.open(d));
    sim->clearCalls();
    std::atomic<uint8_t> progress{0};
    const int result = fpga ? camera.writeFpga(file.constData(), &progress)
                            : camera.writeFirmware(file.constData(), &progress);
    QCOMPARE(result, int(QVRUsb::WriteOk));
    QCOMPARE(int(progress), 100);
    checkWritten(d, fpga, content);

    // The requests in order, each answered, the flash ones on the unshared handle of the claim.
    const std::vector<Call> records = vendorRecords(sim->calls());
    const std::vector<ExpectedRequest> expected = expectedRequests(fpga, uint32_t(size));
    QCOMPARE(records.size(), expected.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const Call& r = records[i];
        QVERIFY2(r.request == expected[i].request && r.value == expected[i].value &&
                     r.index == expected[i].index,
                 QByteArray::number(int(i + 1)).constData());
        QVERIFY(r.completed && r.error == 0);
        QVERIFY(r.unshared);
        QCOMPARE(r.pended, pendingDelay >= 0);
    }
    QVERIFY(!camera.isClaimed());
    QCOMPARE(sim->unsharedHandles(d), 0);
    QCOMPARE(sim->openHandles(d), 1);
}

// Each fault at each request of two small writes: a 5000-byte firmware image (one erase block, two
// chunks) and a 1-byte bitstream (one chunk, then the header step). A short reply is given only to
// requests that read (a write's byte count is not checked; its read-back is).
void TestWindowsTransport::faultSweep_data()
{
    QTest::addColumn<bool>("fpga");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("position"); // 1-based request of the write

    const char* const names[] = {"late",  "no answer", "usb status", "driver status",
                                 "stall", "gone",      "short"};
    for (bool fpga : {false, true}) {
        const std::vector<ExpectedRequest> requests = expectedRequests(fpga, fpga ? 1 : 5000);
        for (int fault = Late; fault <= Short; ++fault) {
            for (size_t i = 0; i < requests.size(); ++i) {
                const ExpectedRequest& r = requests[i];
                if (fault == Short && r.request != QVRUsb::ReqStatus && r.request != QVRUsb::ReqReadPage)
                    continue;
                QTest::addRow("%s, %s at %d (%02X %X)", fpga ? "FPGA" : "firmware", names[fault], int(i + 1),
                              r.request, r.index)
                    << fpga << fault << int(i + 1);
            }
        }
    }
}

void TestWindowsTransport::faultSweep()
{
    QFETCH(bool, fpga);
    QFETCH(int, fault);
    QFETCH(int, position);
    const int fileSize = fpga ? 1 : 5000;
    const std::vector<ExpectedRequest> requests = expectedRequests(fpga, uint32_t(fileSize));
    const ExpectedRequest& at = requests[size_t(position - 1)];
    const int d = sim->addCamera();
    deviceCount = 1;
    sim->withModel(d, [](UsbDeviceModel& m) { std::fill(m.flash().begin(), m.flash().end(), uint8_t(0)); });
    const QByteArray content = fpga ? randomBytes(fileSize, 5) : fx3Image(fileSize, 5, 9);
    const QByteArray file = makeFile(QStringLiteral("image"), content);
    QVRUsb camera;
    QVERIFY(camera.open(d));
    sim->clearCalls();

    Fault f;
    f.skip = position - 1;
    switch (SweepFault(fault)) {
    case Late:
        f.kind = Fault::Late;
        f.delayMs = 30;
        break;
    case NoAnswer:
        f.kind = Fault::NoAnswer;
        break;
    case UsbStatus:
        f.kind = Fault::UsbStatus;
        break;
    case DriverStatus:
        f.kind = Fault::DriverStatus;
        f.status = 0x00000001;
        break;
    case Stall:
        sim->withModel(d, [position](UsbDeviceModel& m) {
            m.config().faults.stall = {QVRUsb::ReqErase, QVRUsb::ReqWritePage, QVRUsb::ReqReadPage,
                                       QVRUsb::ReqStatus};
            m.config().faults.faultsAfterRequests = position - 1;
        });
        break;
    case Gone:
        f.kind = Fault::Fail;
        f.error = ERROR_DEVICE_NOT_CONNECTED;
        break;
    case Short:
        f.kind = Fault::Short;
        break;
    }
    sim->setFault(d, f);

    std::atomic<uint8_t> progress{0};
    QElapsedTimer t;
    t.start();
    const int result = fpga ? camera.writeFpga(file.constData(), &progress)
                            : camera.writeFirmware(file.constData(), &progress);
    const qint64 elapsed = t.elapsed();
    sim->withModel(d, [](UsbDeviceModel& m) { m.config().faults = CameraFaults(); });

    // A status read that comes back without its byte is read again; every other fault ends the write.
    const bool succeeds = fault == Late || (fault == Short && at.request == QVRUsb::ReqStatus);
    const std::vector<Call> log = sim->calls();
    const std::vector<Call> records = vendorRecords(log);
    QCOMPARE(result, succeeds ? int(QVRUsb::WriteOk) : at.result);
    QCOMPARE(int(records.size()), succeeds ? int(requests.size()) + (fault == Short) : position);
    if (succeeds) {
        QCOMPARE(int(progress), 100);
        checkWritten(d, fpga, content);
    } else {
        QCOMPARE(int(progress), at.progress);
    }
    // The requests up to the fault are the write's own, in order.
    for (int i = 0; i < position; ++i) {
        const Call& r = records[size_t(i)];
        QVERIFY2(r.request == requests[size_t(i)].request && r.value == requests[size_t(i)].value &&
                     r.index == requests[size_t(i)].index,
                 QByteArray::number(i + 1).constData());
    }
    const Call& faulted = records[size_t(position - 1)];
    QVERIFY(faulted.completed);
    QCOMPARE(faulted.pended, fault == Late || fault == NoAnswer);

    // An unanswered request costs the request time-out, then the abort of endpoint 0 brings it back.
    const auto abortAt =
        std::find_if(log.begin(), log.end(), [](const Call& c) { return c.code == AbortPipeRequest; });
    if (fault == NoAnswer) {
        QCOMPARE(faulted.error, DWORD(ERROR_OPERATION_ABORTED));
        QVERIFY(abortAt != log.end());
        QCOMPARE(int(abortAt->endpoint), 0);
        QCOMPARE(abortAt->device, d);
        // Right after the unanswered request, and once.
        auto faultedAt = log.begin();
        for (int seen = 0; faultedAt != log.end(); ++faultedAt)
            if (faultedAt->vendor() && ++seen == position)
                break;
        QVERIFY(faultedAt != log.end() && faultedAt + 1 == abortAt);
        QCOMPARE(
            std::count_if(log.begin(), log.end(), [](const Call& c) { return c.code == AbortPipeRequest; }),
            std::ptrdiff_t(1));
        QCOMPARE(camera.lastError(), int(ERROR_TIMEOUT));
        const qint64 boundMs = qint64(at.pauses) * ChunkPauseMs + QVRUsb::RequestTimeoutMs + AbortGraceMs;
        QVERIFY2(elapsed >= QVRUsb::RequestTimeoutMs && elapsed < boundMs + 1500,
                 QByteArray::number(elapsed).append(" ms").constData());
    } else {
        QVERIFY(abortAt == log.end());
    }
    if (fault == UsbStatus || fault == DriverStatus || fault == Stall)
        QCOMPARE(camera.lastError(), int(ERROR_GEN_FAILURE));
    QCOMPARE(camera.isGone(), fault == Gone);

    // Given back, and the camera still answers on the handle that came back.
    QVERIFY(!camera.isClaimed());
    QCOMPARE(sim->unsharedHandles(d), 0);
    QCOMPARE(sim->openHandles(d), 1);
    uint8_t version = 0;
    QVERIFY(camera.readFirmwareVersion(version));
}

void TestWindowsTransport::claim()
{
    const int d = sim->addCamera();
    deviceCount = 1;
    const QByteArray file = makeFile(QStringLiteral("image"), fx3Image(5000, 3, 12));
    QVRUsb first, second;
    QVERIFY(first.open(d));
    QVERIFY(second.open(d));
    QCOMPARE(sim->openHandles(d), 2);
    sim->clearCalls();

    // Both hold shared handles: neither gets the camera alone, and neither sends a flash request.
    QCOMPARE(first.claimExclusive(), QVRUsb::ClaimInUse);
    QVERIFY(first.lastErrorIsAccessDenied());
    QCOMPARE(first.lastError(), int(ERROR_SHARING_VIOLATION));
    QCOMPARE(sim->openHandles(d), 2);
    QCOMPARE(sim->unsharedHandles(d), 0);
    std::atomic<uint8_t> progress{0};
    QCOMPARE(second.writeFirmware(file.constData(), &progress), int(QVRUsb::WriteInUse));
    uint8_t version = 0;
    QVERIFY(first.readFirmwareVersion(version)); // on the shared handle that came back
    QVERIFY(second.readFirmwareVersion(version));
    const std::vector<Call> records = vendorRecords(sim->calls());
    QVERIFY(std::none_of(records.begin(), records.end(), [](const Call& c) {
        return c.request == QVRUsb::ReqErase || c.request == QVRUsb::ReqWritePage;
    }));

    // Alone, the claim holds the only handle: a third open is refused until it is given back.
    second.close();
    QCOMPARE(first.claimExclusive(), QVRUsb::ClaimOk);
    QCOMPARE(sim->unsharedHandles(d), 1);
    QCOMPARE(sim->openHandles(d), 1);
    QVRUsb third;
    QVERIFY(!third.open(d));
    QVERIFY(third.lastErrorIsAccessDenied());
    QVERIFY(first.readFirmwareVersion(version));
    first.releaseExclusive();
    QCOMPARE(sim->unsharedHandles(d), 0);
    QVERIFY(third.open(d));
    QCOMPARE(sim->openHandles(d), 2);
}

QTEST_GUILESS_MAIN(TestWindowsTransport)
#include "tst_windowstransport.moc"
