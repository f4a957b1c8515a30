// DevizuvEZWriteFWObject through hidapi-hidraw against the emulated bootloader.
// glib first: its headers use "signals" as a field name, which Qt defines as a keyword.
#include <umockdev.h>

#include "devizuvezwritefwobject.h"
#include "wheelbootloadermodel.h"

#include "hidrawevents.h"
#include <QRandomGenerator>

#include <QtTest>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using Fault = WheelBootloaderModel::Fault;
Q_DECLARE_METATYPE(Fault)

namespace {

constexpr uint32_t Base = WheelBootloaderModel::DefaultFlashBase;

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

const uint8_t* bytesOf(const QByteArray& bytes)
{
    return reinterpret_cast<const uint8_t*>(bytes.constData());
}

QByteArray padded(const QByteArray& image)
{
    return image + QByteArray(int(WheelBootloaderModel::FlashSize) - image.size(), char(0xFF));
}

// The fault sweep: faults it arms, and the commands of an update of a 256-byte image in order:
// name and version queries, 45 erases, 8 writes, run.
enum class SweepFault
{
    NoReply,
    Status1,
    Status2,
    Refused, // reply byte 3: 0x01 for erase and write, 0xFF for run
    Unplug,  // the bootloader leaves the bus after taking the command, before answering it
};

constexpr int SweepImageSize = 256;
constexpr int SweepErases = 45;
constexpr int SweepWrites = SweepImageSize / 32;
constexpr int SweepCommands = 2 + SweepErases + SweepWrites + 1;

uint8_t sweepCode(int position)
{
    return position == 1                 ? 0x12
           : position == 2               ? 0x11
           : position <= 2 + SweepErases ? 0x20
           : position < SweepCommands    ? 0x21
                                         : 0x30;
}

} // namespace

class TestWheelWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void noBootloader();
    void identification_data();
    void identification();
    void identificationWithoutReply();
    void setFirmwareDataLimits_data();
    void setFirmwareDataLimits();
    void stepsNeedOpenDeviceAndData();
    void eraseSends45Pages();
    void writeSplitsIntoPaddedBlocks_data();
    void writeSplitsIntoPaddedBlocks();
    void failingCommandEndsStep_data();
    void failingCommandEndsStep();
    void runSucceedsWhenBootloaderLeaves_data();
    void runSucceedsWhenBootloaderLeaves();
    void runFailsOnRefusal_data();
    void runFailsOnRefusal();
    void blankImageSum();
    void unplugDuringWrite();
    void faultSweep_data();
    void faultSweep();
    void fullImage();
    void bootloaderAppearsLater();
    void hotplugEvents();
    void nodeAnswersHidrawIoctls();

private:
    // Plugs the model, scans and constructs writer 0, opens it and clears the model's command log.
    std::unique_ptr<DevizuvEZWriteFWObject> openWriter(const WheelBootloaderModel::Options& options = {});

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

void TestWheelWriter::cleanup()
{
    model.reset();
}

std::unique_ptr<DevizuvEZWriteFWObject>
TestWheelWriter::openWriter(const WheelBootloaderModel::Options& options)
{
    model.reset(new WheelBootloaderModel(testbed, options));
    if (!model->plug() || DevizuvEZWriteFWObject::GetZWBootloadCount() != 1)
        return nullptr;
    std::unique_ptr<DevizuvEZWriteFWObject> writer(new DevizuvEZWriteFWObject(0));
    if (!writer->Open())
        return nullptr;
    model->clearCommands();
    return writer;
}

void TestWheelWriter::noBootloader()
{
    model.reset(new WheelBootloaderModel(testbed));
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 0);

    // A path from an earlier scan whose device has gone: nothing opens, nothing is sent.
    QVERIFY(model->plug());
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
    model->unplug();
    DevizuvEZWriteFWObject writer(0);
    QVERIFY(writer.GetBootloadName().isEmpty());
    QVERIFY(writer.GetBootloadVersion().isEmpty());
    QCOMPARE(writer.GetCommandCount(), 0u);
    QVERIFY(!writer.Open());
    QVERIFY(writer.SetFirmwareData(Base, bytesOf(QByteArray(64, 'x')), 64));
    QVERIFY(!writer.EraseFlash());
    QVERIFY(!writer.WriteFlash());
    QVERIFY(!writer.RunProgram());
    QCOMPARE(writer.GetCommandCount(), 0u);
}

void TestWheelWriter::identification_data()
{
    QTest::addColumn<int>("versionByte");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("usbParent");
    QTest::addColumn<QByteArray>("version");

    QTest::newRow("0") << 0 << QByteArray("ZW Bootloader") << true << QByteArray("0");
    QTest::newRow("7") << 7 << QByteArray("ZW Bootloader") << true << QByteArray("7");
    QTest::newRow("10") << 10 << QByteArray("ZW Bootloader") << true << QByteArray("1.0");
    QTest::newRow("45") << 45 << QByteArray("ZW-BL") << true << QByteArray("4.5");
    QTest::newRow("123") << 123 << QByteArray("ZW Bootloader") << false << QByteArray("1.2.3");
    QTest::newRow("255, 47-byte name") << 255 << QByteArray(47, 'N') << true << QByteArray("2.5.5");
}

void TestWheelWriter::identification()
{
    QFETCH(int, versionByte);
    QFETCH(QByteArray, name);
    QFETCH(bool, usbParent);
    QFETCH(QByteArray, version);

    WheelBootloaderModel::Options options;
    options.version = uint8_t(versionByte);
    options.name = name;
    options.withUsbParent = usbParent;
    model.reset(new WheelBootloaderModel(testbed, options));
    QVERIFY(model->plug());
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);

    DevizuvEZWriteFWObject writer(0);
    QCOMPARE(writer.GetBootloadPath(), QByteArray("/dev/hidraw0"));
    QCOMPARE(writer.GetBootloadName(), name);
    QCOMPARE(writer.GetBootloadVersion(), version);
    QCOMPARE(writer.GetCommandCount(), 2u);

    const auto commands = model->commands();
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].code, uint8_t(0x12));
    QCOMPARE(commands[0].reportLength, 4);
    QCOMPARE(commands[1].code, uint8_t(0x11));
    QCOMPARE(commands[1].reportLength, 4);

    // The device is closed again after identification.
    QVERIFY(writer.SetFirmwareData(Base, bytesOf(QByteArray(32, 'x')), 32));
    QVERIFY(!writer.EraseFlash());
    QCOMPARE(model->commands().size(), 2);
}

void TestWheelWriter::identificationWithoutReply()
{
    model.reset(new WheelBootloaderModel(testbed));
    model->setFault(Fault::NoReply);
    QVERIFY(model->plug());
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
    DevizuvEZWriteFWObject writer(0);
    QVERIFY(writer.GetBootloadName().isEmpty());
    QVERIFY(writer.GetBootloadVersion().isEmpty()); // not "0" read from an empty reply
    QCOMPARE(writer.GetCommandCount(), 2u);
}

void TestWheelWriter::setFirmwareDataLimits_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("46048 bytes at 0x08004000") << 0x08004000u << 46048 << true;
    QTest::newRow("46048 bytes at 0x00004000") << 0x00004000u << 46048 << true;
    QTest::newRow("46049 bytes") << 0x08004000u << 46049 << false;
    QTest::newRow("46080 bytes") << 0x08004000u << 46080 << false;
    QTest::newRow("low half 0x4100") << 0x08004100u << 16 << false;
    QTest::newRow("low half 0x0000") << 0x08000000u << 16 << false;
    QTest::newRow("empty image") << 0x08004000u << 0 << true;
}

void TestWheelWriter::setFirmwareDataLimits()
{
    QFETCH(uint, start);
    QFETCH(int, size);
    QFETCH(bool, accepted);

    WheelBootloaderModel::Options options;
    options.flashBase = (start & 0xFFFF0000u) | 0x4000u;
    auto writer = openWriter(options);
    QVERIFY(writer);
    const QByteArray image = randomBytes(size, 7);
    QCOMPARE(writer->SetFirmwareData(start, bytesOf(image), uint32_t(size)), accepted);

    int erase = 0, write = 0, run = 0;
    writer->GetCommandCounts(erase, write, run);
    if (!accepted) {
        // Nothing stored: no start address, so the steps refuse without sending anything.
        QCOMPARE(write, 0);
        QVERIFY(!writer->EraseFlash());
        QVERIFY(model->commands().isEmpty());
        return;
    }
    QCOMPARE(erase, 45);
    QCOMPARE(write, (size + 31) / 32);
    QCOMPARE(run, 1);
    QVERIFY(writer->EraseFlash());
    QVERIFY(writer->WriteFlash());
    QCOMPARE(model->flash(), padded(image));
    QCOMPARE(model->commands().first().address, start);
}

void TestWheelWriter::stepsNeedOpenDeviceAndData()
{
    auto writer = openWriter();
    QVERIFY(writer);
    QVERIFY(!writer->EraseFlash()); // no data set yet
    QVERIFY(!writer->WriteFlash());
    QVERIFY(!writer->RunProgram());
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(QByteArray(32, 'x')), 32));
    QVERIFY(writer->Close());
    QVERIFY(!writer->EraseFlash());
    QVERIFY(model->commands().isEmpty());
    QVERIFY(writer->Open());
    QVERIFY(writer->Open()); // already open
    QVERIFY(writer->EraseFlash());
}

void TestWheelWriter::eraseSends45Pages()
{
    auto writer = openWriter();
    QVERIFY(writer);
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(QByteArray(33, 'x')), 33));
    QVERIFY(writer->EraseFlash());

    const auto commands = model->commands();
    QCOMPARE(commands.size(), 45);
    for (int i = 0; i < commands.size(); ++i) {
        QCOMPARE(commands[i].code, uint8_t(0x20));
        QCOMPARE(commands[i].argument, uint8_t(0));
        QCOMPARE(commands[i].reportLength, 9);
        QCOMPARE(commands[i].address, Base + uint32_t(i) * 1024);
    }
    QCOMPARE(model->flash(), QByteArray(int(WheelBootloaderModel::FlashSize), char(0xFF)));
}

void TestWheelWriter::writeSplitsIntoPaddedBlocks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("blocks");
    QTest::newRow("1 byte") << 1 << 1;
    QTest::newRow("32 bytes") << 32 << 1;
    QTest::newRow("33 bytes") << 33 << 2;
    QTest::newRow("1000 bytes") << 1000 << 32;
}

void TestWheelWriter::writeSplitsIntoPaddedBlocks()
{
    QFETCH(int, size);
    QFETCH(int, blocks);

    auto writer = openWriter();
    QVERIFY(writer);
    const QByteArray image = randomBytes(size, uint32_t(size));
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(image), uint32_t(size)));
    QVERIFY(writer->EraseFlash());
    model->clearCommands();
    QVERIFY(writer->WriteFlash());

    const auto commands = model->commands();
    QCOMPARE(commands.size(), blocks);
    const QByteArray expected = padded(image);
    for (int i = 0; i < blocks; ++i) {
        QCOMPARE(commands[i].code, uint8_t(0x21));
        QCOMPARE(commands[i].argument, uint8_t(0x20));
        QCOMPARE(commands[i].reportLength, 41);
        QCOMPARE(commands[i].address, Base + uint32_t(i) * 32);
        QCOMPARE(commands[i].data, expected.mid(i * 32, 32));
    }
    QCOMPARE(model->flash(), expected);
}

void TestWheelWriter::failingCommandEndsStep_data()
{
    QTest::addColumn<bool>("erase");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("after"); // commands of the step that succeed first
    QTest::addColumn<int>("result");

    QTest::newRow("erase: no reply") << true << Fault::NoReply << 0 << 0;
    QTest::newRow("erase: no reply on page 11") << true << Fault::NoReply << 10 << 0;
    QTest::newRow("erase: status 1") << true << Fault::Status1 << 3 << 0;
    QTest::newRow("erase: status 2") << true << Fault::Status2 << 44 << 0;
    QTest::newRow("erase: result 1") << true << Fault::ResultNonZero << 5 << 1;
    QTest::newRow("write: no reply") << false << Fault::NoReply << 0 << 0;
    QTest::newRow("write: no reply on block 20") << false << Fault::NoReply << 19 << 0;
    QTest::newRow("write: status 2") << false << Fault::Status2 << 7 << 0;
    QTest::newRow("write: result 0x80") << false << Fault::ResultNonZero << 30 << 0x80;
}

void TestWheelWriter::failingCommandEndsStep()
{
    QFETCH(bool, erase);
    QFETCH(Fault, fault);
    QFETCH(int, after);
    QFETCH(int, result);

    auto writer = openWriter();
    QVERIFY(writer);
    const QByteArray image = randomBytes(2048, 3);
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(image), uint32_t(image.size())));
    if (!erase)
        QVERIFY(writer->EraseFlash());
    model->clearCommands();
    const uint8_t code = erase ? 0x20 : 0x21;
    model->setFault(fault, code, after, uint8_t(result));

    const uint32_t before = writer->GetCommandCount();
    QVERIFY(!(erase ? writer->EraseFlash() : writer->WriteFlash()));
    // The failing command is the last one sent.
    QCOMPARE(model->commands().size(), after + 1);
    QCOMPARE(writer->GetCommandCount() - before, uint32_t(after + 1));
}

void TestWheelWriter::runSucceedsWhenBootloaderLeaves_data()
{
    QTest::addColumn<bool>("replyFirst");
    QTest::addColumn<bool>("goneBeforeRun");
    QTest::newRow("answers, then leaves") << true << false;
    QTest::newRow("leaves without answering") << false << false;
    QTest::newRow("gone before the run command") << true << true;
}

void TestWheelWriter::runSucceedsWhenBootloaderLeaves()
{
    QFETCH(bool, replyFirst);
    QFETCH(bool, goneBeforeRun);

    auto writer = openWriter();
    QVERIFY(writer);
    const QByteArray image = randomBytes(5000, 11);
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(image), uint32_t(image.size())));
    QVERIFY(writer->EraseFlash());
    QVERIFY(writer->WriteFlash());
    model->setReplyBeforeRun(replyFirst);
    if (goneBeforeRun)
        model->unplug();

    const int sent = model->commands().size();
    QVERIFY(writer->RunProgram());
    QVERIFY(!model->isPresent());
    QCOMPARE(model->runningNewFirmware(), !goneBeforeRun);
    QCOMPARE(model->commands().size(), goneBeforeRun ? sent : sent + 1);
    if (!goneBeforeRun) {
        QCOMPARE(model->commands().last().code, uint8_t(0x30));
        QCOMPARE(model->commands().last().reportLength, 9);
        QCOMPARE(model->commands().last().address, WheelBootloaderModel::imageSum(padded(image)));
    }

    // Back in the bootloader later: one device again, and the flash kept what was written.
    QVERIFY(model->plug());
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
    DevizuvEZWriteFWObject again(0);
    QCOMPARE(again.GetBootloadName(), QByteArray("ZW Bootloader"));
    QCOMPARE(model->flash(), padded(image));
}

void TestWheelWriter::runFailsOnRefusal_data()
{
    QTest::addColumn<bool>("skipErase");
    QTest::addColumn<Fault>("fault");
    // Without an erase the flash keeps bits of the old firmware, so its sum differs from the image's.
    QTest::newRow("flash not erased: wrong sum") << true << Fault::None;
    QTest::newRow("result 0xFF") << false << Fault::ResultNonZero;
}

void TestWheelWriter::runFailsOnRefusal()
{
    QFETCH(bool, skipErase);
    QFETCH(Fault, fault);

    auto writer = openWriter();
    QVERIFY(writer);
    const QByteArray image = randomBytes(4096, 5);
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(image), uint32_t(image.size())));
    if (!skipErase)
        QVERIFY(writer->EraseFlash());
    QVERIFY(writer->WriteFlash());
    QCOMPARE(model->flash() == padded(image), !skipErase);
    model->setFault(fault, 0x30, 0, 0xFF);

    QVERIFY(!writer->RunProgram());
    QVERIFY(model->isPresent());
    QVERIFY(!model->runningNewFirmware());
}

void TestWheelWriter::blankImageSum()
{
    auto writer = openWriter();
    QVERIFY(writer);
    QVERIFY(writer->SetFirmwareData(Base, nullptr, 0));
    QVERIFY(writer->EraseFlash());
    model->clearCommands();
    QVERIFY(writer->WriteFlash()); // nothing to write
    QVERIFY(model->commands().isEmpty());
    QVERIFY(writer->RunProgram());
    QCOMPARE(model->commands().size(), 1);
    QCOMPARE(model->commands().first().address, 0xFFFFD300u);
    QVERIFY(model->runningNewFirmware());
}

void TestWheelWriter::unplugDuringWrite()
{
    auto writer = openWriter();
    QVERIFY(writer);
    const QByteArray image = randomBytes(10000, 13);
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(image), uint32_t(image.size())));
    model->setUnplugAfter(45 + 100); // leaves while taking the 100th block
    QVERIFY(writer->EraseFlash());
    QVERIFY(!writer->WriteFlash());
    QVERIFY(!model->isPresent());
    QCOMPARE(model->commands().size(), 145);
    const QByteArray flash = model->flash();
    QCOMPARE(flash.left(99 * 32), image.left(99 * 32));
    QCOMPARE(flash.mid(99 * 32), QByteArray(flash.size() - 99 * 32, char(0xFF)));
    // Nothing further reaches the device.
    QVERIFY(!writer->WriteFlash());
    QCOMPARE(model->commands().size(), 145);
}

// Each fault at commands of every kind of an update, as the worker runs it: identification at construction,
// then erase, write and run, stopping at the first step that fails. A failed query leaves its text
// empty; a failed erase or write command is the last command the bootloader sees. A run fails only on
// an answer with result 0xFF: no answer, a lost device or status 1 or 2 counts as started.
void TestWheelWriter::faultSweep_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("position"); // 1-based command of the update

    const struct
    {
        SweepFault fault;
        const char* name;
    } faults[] = {{SweepFault::NoReply, "no reply"},
                  {SweepFault::Status1, "status 1"},
                  {SweepFault::Status2, "status 2"},
                  {SweepFault::Refused, "refused"},
                  {SweepFault::Unplug, "unplug"}};
    // Both queries and the run; of the erases and writes the first, the second, one in the middle and
    // the last (each row costs a plug and an identification; the rest repeat the same steps).
    const int positions[] = {1,
                             2,
                             3,
                             4,
                             25,
                             2 + SweepErases,
                             3 + SweepErases,
                             4 + SweepErases,
                             6 + SweepErases,
                             SweepCommands - 1,
                             SweepCommands};
    for (const auto& f : faults) {
        for (int position : positions) {
            const uint8_t code = sweepCode(position);
            if (f.fault == SweepFault::Refused && (code == 0x11 || code == 0x12))
                continue; // the queries have no result byte
            QTest::addRow("%s at %d (%02X)", f.name, position, code) << int(f.fault) << position;
        }
    }
}

void TestWheelWriter::faultSweep()
{
    QFETCH(int, fault);
    QFETCH(int, position);
    const SweepFault kind = SweepFault(fault);
    const uint8_t code = sweepCode(position);

    model.reset(new WheelBootloaderModel(testbed));
    switch (kind) {
    case SweepFault::NoReply:
        model->setFault(Fault::NoReply, code, position - 1);
        break;
    case SweepFault::Status1:
        model->setFault(Fault::Status1, code, position - 1);
        break;
    case SweepFault::Status2:
        model->setFault(Fault::Status2, code, position - 1);
        break;
    case SweepFault::Refused:
        model->setFault(Fault::ResultNonZero, code, position - 1, code == 0x30 ? 0xFF : 0x01);
        break;
    case SweepFault::Unplug:
        model->setUnplugAfter(position);
        break;
    }
    QVERIFY(model->plug());
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
    const QByteArray image = randomBytes(SweepImageSize, 29);

    QElapsedTimer t;
    t.start();
    DevizuvEZWriteFWObject writer(0);
    const bool opened = writer.Open();
    QVERIFY(writer.SetFirmwareData(Base, bytesOf(image), uint32_t(image.size())));
    const bool query = code == 0x11 || code == 0x12;
    const bool erased = !query && opened && writer.EraseFlash();
    const bool written = erased && writer.WriteFlash();
    const bool run = written && writer.RunProgram();
    const qint64 elapsed = t.elapsed();

    const auto commands = model->commands();
    if (query) {
        // The failing query's text is empty; the other query still goes out unless the device left.
        const bool gone = kind == SweepFault::Unplug;
        QCOMPARE(writer.GetBootloadName(), code == 0x12 ? QByteArray() : QByteArray("ZW Bootloader"));
        QCOMPARE(writer.GetBootloadVersion(), code == 0x11 || gone ? QByteArray() : QByteArray("1.2"));
        QCOMPARE(opened, !gone);
        QCOMPARE(commands.size(), gone ? position : 2);
    } else {
        QVERIFY(opened);
        QCOMPARE(commands.size(), position);
        QCOMPARE(commands.last().code, code);
        QCOMPARE(writer.GetCommandCount(), uint32_t(position));
        if (code == 0x20) {
            QVERIFY(!erased);
            QCOMPARE(commands.last().address, Base + uint32_t(position - 3) * 1024);
        } else if (code == 0x21) {
            QVERIFY(erased);
            QVERIFY(!written);
            const int block = position - 3 - SweepErases;
            QCOMPARE(commands.last().address, Base + uint32_t(block) * 32);
            // The blocks before the failing one are in flash; nothing from it on.
            const QByteArray flash = model->flash();
            QCOMPARE(flash.left(block * 32), image.left(block * 32));
            QCOMPARE(flash.mid(block * 32), QByteArray(flash.size() - block * 32, char(0xFF)));
        } else {
            QVERIFY(written);
            const bool started = kind != SweepFault::Refused;
            QCOMPARE(run, started);
            QVERIFY(!model->runningNewFirmware());
        }
    }
    // One reply time-out at most (the failing command); every other exchange is answered at once.
    QVERIFY2(elapsed < 200 + 1500, QByteArray::number(elapsed).constData());
}

void TestWheelWriter::fullImage()
{
    auto writer = openWriter();
    QVERIFY(writer);
    const QByteArray image = randomBytes(46048, 17);
    QVERIFY(writer->SetFirmwareData(Base, bytesOf(image), uint32_t(image.size())));
    int erase = 0, write = 0, run = 0;
    writer->GetCommandCounts(erase, write, run);
    QCOMPARE(erase + write + run, 45 + 1439 + 1);

    QVERIFY(writer->EraseFlash());
    QVERIFY(writer->WriteFlash());
    QCOMPARE(model->flash(), padded(image));
    QVERIFY(writer->RunProgram());
    QVERIFY(model->runningNewFirmware());
    QVERIFY(!model->isPresent());
    QCOMPARE(model->commands().size(), erase + write + run);
    QCOMPARE(writer->GetCommandCount(), uint32_t(2 + erase + write + run)); // with the two queries
    QVERIFY(writer->Close());
}

void TestWheelWriter::bootloaderAppearsLater()
{
    model.reset(new WheelBootloaderModel(testbed));
    model->plugAfter(300);
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1, 5000);
    DevizuvEZWriteFWObject writer(0);
    QCOMPARE(writer.GetBootloadName(), QByteArray("ZW Bootloader"));
}

void TestWheelWriter::hotplugEvents()
{
    udev* context = udev_new();
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    QVERIFY(monitor);
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    QCOMPARE(udev_monitor_enable_receiving(monitor), 0);

    model.reset(new WheelBootloaderModel(testbed));
    QVERIFY(model->plug());
    const QByteArray added = nextEvent(monitor);
    model->unplug();
    const QByteArray removed = nextEvent(monitor);
    udev_monitor_unref(monitor);
    udev_unref(context);
    QCOMPARE(added, QByteArray("add /dev/hidraw0"));
    QCOMPARE(removed, QByteArray("remove /dev/hidraw0"));
}

void TestWheelWriter::nodeAnswersHidrawIoctls()
{
    model.reset(new WheelBootloaderModel(testbed));
    QVERIFY(model->plug());
    const int fd = ::open("/dev/hidraw0", O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    int size = 0;
    hidraw_report_descriptor descriptor{};
    hidraw_devinfo info{};
    char name[8] = {};
    const bool sizeOk = ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0;
    descriptor.size = uint32_t(size);
    const bool descriptorOk = ioctl(fd, HIDIOCGRDESC, &descriptor) == 0;
    const bool infoOk = ioctl(fd, HIDIOCGRAWINFO, &info) == 0;
    const int nameLength = ioctl(fd, HIDIOCGRAWNAME(sizeof name), name);
    const bool featureRefused = ioctl(fd, HIDIOCGFEATURE(4), name) == -1 && errno == ENOTTY;
    ::close(fd);

    QVERIFY(sizeOk);
    QVERIFY(size > 0);
    QVERIFY(descriptorOk);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(descriptor.value), 3), QByteArray("\x06\x00\xFF", 3));
    QVERIFY(infoOk);
    QCOMPARE(info.bustype, 3u);
    QCOMPARE(uint16_t(info.vendor), uint16_t(0xA0A0));
    QCOMPARE(uint16_t(info.product), uint16_t(0xF000));
    QCOMPARE(nameLength, 8);
    QCOMPARE(QByteArray(name), QByteArray("ZW Boot")); // cut to the caller's buffer
    QVERIFY(featureRefused);
}

QTEST_GUILESS_MAIN(TestWheelWriter)
#include "tst_wheelwriter.moc"
