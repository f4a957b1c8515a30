// The DevizuvEZ stand-in library through hidapi-hidraw against emulated wheels.
// glib first: its headers use "signals" as a field name, which Qt defines as a keyword.
#include <umockdev.h>

#include "devizuvez.h"
#include "devizuvezwritefwobject.h"
#include "wheelmodel.h"
#include "zwprotocol.h"

#include "hidrawevents.h"
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <QtTest>
#include <cstring>
#include <functional>
#include <hidapi.h>
#include <libudev.h>
#include <memory>
#include <poll.h>
#include <thread>

namespace {

// One library call with sentinel presets in its outs; `untouched` tells whether they all stand.
struct LibraryCall
{
    const char* name;
    uint8_t code; // the wheel command it sends
    std::function<int(int id, bool& untouched)> run;
};

const std::vector<LibraryCall>& libraryCalls()
{
    static const std::vector<LibraryCall> calls = {
        {"QVRGetZWState", ZW_CMD_GET_STATE,
         [](int id, bool& u) {
             int s = 77;
             const int r = QVRGetZWState(id, &s);
             u = s == 77;
             return r;
         }},
        {"QVRGetCurrentPosition", ZW_CMD_GET_POSITION,
         [](int id, bool& u) {
             int p = -1;
             const int r = QVRGetCurrentPosition(id, &p);
             u = p == -1;
             return r;
         }},
        {"QVRGotoPosition", ZW_CMD_GOTO,
         [](int id, bool& u) {
             u = true;
             return QVRGotoPosition(id, 1);
         }},
        {"QVRGetOneWay", ZW_CMD_GET_ONEWAY,
         [](int id, bool& u) {
             int f = 55;
             const int r = QVRGetOneWay(id, &f);
             u = f == 55;
             return r;
         }},
        {"QVRSetOneWay", ZW_CMD_SET_ONEWAY,
         [](int id, bool& u) {
             u = true;
             return QVRSetOneWay(id, 1);
         }},
        {"QVRResetZW", ZW_CMD_RESET,
         [](int id, bool& u) {
             u = true;
             return QVRResetZW(id);
         }},
        {"QVRZWSelfTest", ZW_CMD_SELFTEST,
         [](int id, bool& u) {
             u = true;
             return QVRZWSelfTest(id);
         }},
        {"QVRGetSelfTestState", ZW_CMD_GET_SELFTEST,
         [](int id, bool& u) {
             int s = -1, e = -1;
             const int r = QVRGetSelfTestState(id, &s, &e);
             u = s == -1 && e == -1;
             return r;
         }},
        {"QVRGetSensorValues", ZW_CMD_GET_SENSORS,
         [](int id, bool& u) {
             unsigned char sensor = 99, moving = 99;
             int value = 99, r1 = 99, r2 = 99;
             const int r = QVRGetSensorValues(id, &sensor, &moving, &value, &r1, &r2);
             u = sensor == 99 && moving == 99 && value == 99 && r1 == 99 && r2 == 99;
             return r;
         }},
        {"QVRGetErrorCode", ZW_CMD_GET_ERROR,
         [](int id, bool& u) {
             int e = -1;
             const int r = QVRGetErrorCode(id, &e);
             u = e == -1;
             return r;
         }},
        {"QVRGetMotorState", ZW_CMD_GET_MOTOR_STATE,
         [](int id, bool& u) {
             unsigned char m = 200, c = 201;
             const int r = QVRGetMotorState(id, &m, &c);
             u = m == 200 && c == 201;
             return r;
         }},
        {"QVRGetMotorSpeed", ZW_CMD_GET_MOTOR_SPEED,
         [](int id, bool& u) {
             unsigned short a = 1111, b = 2222;
             const int r = QVRGetMotorSpeed(id, &a, &b);
             u = a == 1111 && b == 2222;
             return r;
         }},
        {"QVRSetMotorSpeed", ZW_CMD_SET_MOTOR_SPEED,
         [](int id, bool& u) {
             u = true;
             return QVRSetMotorSpeed(id, 25, 250);
         }},
        {"QVRGetMotorPower", ZW_CMD_GET_MOTOR_POWER,
         [](int id, bool& u) {
             unsigned short a = 1111, b = 2222;
             const int r = QVRGetMotorPower(id, &a, &b);
             u = a == 1111 && b == 2222;
             return r;
         }},
        {"QVRSetMotorPower", ZW_CMD_SET_MOTOR_POWER,
         [](int id, bool& u) {
             u = true;
             return QVRSetMotorPower(id, 30, 4);
         }},
        {"QVRSaveSystemConfig", ZW_CMD_SAVE_CONFIG,
         [](int id, bool& u) {
             u = true;
             return QVRSaveSystemConfig(id);
         }},
        {"QVRGetZWFirmwareVer", ZW_CMD_GET_FW_VERSION,
         [](int id, bool& u) {
             char buffer[32];
             memset(buffer, 'x', sizeof buffer);
             const int r = QVRGetZWFirmwareVer(id, buffer, sizeof buffer);
             u = std::all_of(buffer, buffer + sizeof buffer, [](char c) { return c == 'x'; });
             return r;
         }},
        {"QVRBacktoBootload", ZW_CMD_BOOTLOADER,
         [](int id, bool& u) {
             u = true;
             return QVRBacktoBootload(id);
         }},
    };
    return calls;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

int hidCount(uint16_t product)
{
    hid_device_info* list = hid_enumerate(ZW_VENDOR_ID, product);
    int n = 0;
    for (hid_device_info* d = list; d; d = d->next)
        ++n;
    hid_free_enumeration(list);
    return n;
}

} // namespace

class TestDevizuvEZ : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void noWheel();
    void unmarkedWheelLeftAlone();
    void twoWheelsOneFailsToOpen();
    void idsStableWhilePlugged();
    void longNameCut();
    void propertiesFailureLeavesInfo_data();
    void propertiesFailureLeavesInfo();
    void openAndClose();
    void nodeCannotBeOpened();
    void callsOnClosedOrUnknownId_data();
    void callsOnClosedOrUnknownId();
    void callSucceeds_data();
    void callSucceeds();
    void callRefused_data();
    void callRefused();
    void callNotAnswered_data();
    void callNotAnswered();
    void motion();
    void motionDirection_data();
    void motionDirection();
    void gotoLimits();
    void oneWay();
    void reset();
    void selfTest_data();
    void selfTest();
    void wheelErrorCode_data();
    void wheelErrorCode();
    void motorStateAndSettings();
    void firmwareVersion_data();
    void firmwareVersion();
    void errorStrings();
    void unplugWhileOpen();
    void foundAtItsAddEvent();
    void backToBootloaderAndReturn();
    void concurrentCallers();

private:
    // Plugs wheel number k (nodes 16+2k, 17+2k) and returns it.
    WheelModel* addWheel(int k, WheelModel::Options options = {});
    // Plugs one more wheel, enumerates and opens it (it must be the only one present); returns its id
    // or -1.
    int openOne(WheelModel::Options options = {});

    UMockdevTestbed* testbed = nullptr;
    std::vector<std::unique_ptr<WheelModel>> models;
};

void TestDevizuvEZ::initTestCase()
{
    testbed = umockdev_testbed_new();
    QVERIFY(testbed);
}

void TestDevizuvEZ::cleanupTestCase()
{
    g_object_unref(testbed);
}

void TestDevizuvEZ::cleanup()
{
    models.clear();
    QCOMPARE(QVRGetZWCount(), 0); // forgets every wheel
}

WheelModel* TestDevizuvEZ::addWheel(int k, WheelModel::Options options)
{
    options.hidrawIndex = 16 + 2 * k;
    models.push_back(std::make_unique<WheelModel>(testbed, options));
    if (!models.back()->plug())
        return nullptr;
    return models.back().get();
}

int TestDevizuvEZ::openOne(WheelModel::Options options)
{
    if (!addWheel(int(models.size()), options) || QVRGetZWCount() != 1)
        return -1;
    WheelInfo info{};
    if (QVRGetZWProperties(0, &info) != 0 || QVROpenZW(info.ID) != 0)
        return -1;
    models.back()->clearCalls();
    return info.ID;
}

void TestDevizuvEZ::noWheel()
{
    QCOMPARE(QVRGetZWCount(), 0);
    WheelInfo info;
    memset(&info, 0x5A, sizeof info);
    QCOMPARE(QVRGetZWProperties(0, &info), int(ZW_ERROR_INVALID_INDEX));
    QCOMPARE(QVRGetZWProperties(-1, &info), int(ZW_ERROR_INVALID_INDEX));
    QCOMPARE(info.ID, 0x5A5A5A5A);
    QCOMPARE(QVROpenZW(0), int(ZW_ERROR_INVALID_ID));
    QCOMPARE(QVRCloseZW(0), int(ZW_ERROR_INVALID_ID));

    // A bootloader (product f000) is not a wheel.
    WheelBootloaderModel::Options options;
    options.hidrawIndex = 3;
    WheelBootloaderModel bootloader(testbed, options);
    QVERIFY(bootloader.plug());
    QCOMPARE(hidCount(ZW_BOOTLOADER_PRODUCT_ID), 1);
    QCOMPARE(QVRGetZWCount(), 0);
}

// A wheel without the emulator's mark stands for a real one: not listed, and not one report sent.
void TestDevizuvEZ::unmarkedWheelLeftAlone()
{
    WheelModel::Options real;
    real.emulatedMark = false;
    real.serial = "111111111111111111111111";
    WheelModel::Options emulated;
    emulated.serial = "222222222222222222222222";
    WheelModel* unmarked = addWheel(0, real);
    QVERIFY(unmarked && addWheel(1, emulated));
    QCOMPARE(hidCount(WheelModel::DefaultProductId), 2);

    QCOMPARE(QVRGetZWCount(), 1);
    WheelInfo info{};
    QCOMPARE(QVRGetZWProperties(0, &info), 0);
    QCOMPARE(QByteArray(info.SN), QByteArray("222222222222222222222222"));
    QCOMPARE(QVROpenZW(info.ID), 0);
    WheelInfo none{};
    QCOMPARE(QVRGetZWProperties(1, &none), int(ZW_ERROR_INVALID_INDEX));
    QVERIFY(unmarked->calls().isEmpty());
}

void TestDevizuvEZ::twoWheelsOneFailsToOpen()
{
    WheelModel::Options first;
    first.name = "Quenvor ZW 5x2in";
    first.slotCount = 5;
    first.serial = "0123456789ABCDEF01234567";
    WheelModel::Options second;
    second.slotCount = 8;
    second.faults.refuse = {ZW_CMD_OPEN};
    QVERIFY(addWheel(0, first));
    QVERIFY(addWheel(1, second));

    QCOMPARE(QVRGetZWCount(), 2);
    WheelInfo a{}, b{};
    QCOMPARE(QVRGetZWProperties(0, &a), 0);
    QCOMPARE(QVRGetZWProperties(1, &b), 0);
    QVERIFY(a.ID != b.ID);
    // Either order of the two; match by slot count.
    if (a.SlotNum != 5)
        std::swap(a, b);
    QCOMPARE(QByteArray(a.Name), QByteArray("Quenvor ZW 5x2in"));
    QCOMPARE(a.SlotNum, 5);
    QCOMPARE(QByteArray(a.SN), QByteArray("0123456789ABCDEF01234567"));
    QCOMPARE(QByteArray(b.Name), QByteArray("Quenvor ZW 7x36"));
    QCOMPARE(b.SlotNum, 8);
    QCOMPARE(QByteArray(b.SN), WheelModel::serialFor(18));
    QCOMPARE(strlen(b.SN), size_t(24));

    QCOMPARE(QVROpenZW(a.ID), 0);
    QCOMPARE(QVROpenZW(a.ID), 0); // already open
    QCOMPARE(QVROpenZW(b.ID), int(ZW_ERROR_REFUSED));
    int state = 9;
    QCOMPARE(QVRGetZWState(b.ID, &state), 0);
    QCOMPARE(state, int(ZW_STATE_CLOSED));
    QCOMPARE(QVRGetZWState(a.ID, &state), 0);
    QCOMPARE(state, int(ZW_STATE_IDLE));
}

void TestDevizuvEZ::idsStableWhilePlugged()
{
    QVERIFY(addWheel(0));
    WheelModel* second = addWheel(1);
    QVERIFY(second);
    QCOMPARE(QVRGetZWCount(), 2);
    WheelInfo a{}, b{};
    QCOMPARE(QVRGetZWProperties(0, &a), 0);
    QCOMPARE(QVRGetZWProperties(1, &b), 0);
    QCOMPARE(QVROpenZW(a.ID), 0);

    for (int round = 0; round < 3; ++round) {
        QCOMPARE(QVRGetZWCount(), 2);
        WheelInfo again{};
        QCOMPARE(QVRGetZWProperties(0, &again), 0);
        QCOMPARE(again.ID, a.ID);
        QCOMPARE(QVRGetZWProperties(1, &again), 0);
        QCOMPARE(again.ID, b.ID);
    }
    // The open wheel stays open across enumerations.
    int state = 0;
    QCOMPARE(QVRGetZWState(a.ID, &state), 0);
    QCOMPARE(state, int(ZW_STATE_IDLE));

    second->unplug();
    QCOMPARE(QVRGetZWCount(), 1);
    WheelInfo left{};
    QCOMPARE(QVRGetZWProperties(0, &left), 0);
    QCOMPARE(left.ID, a.ID);
    QCOMPARE(QVROpenZW(b.ID), int(ZW_ERROR_INVALID_ID));

    // Back on the bus: a new id.
    QVERIFY(second->plug());
    QCOMPARE(QVRGetZWCount(), 2);
    WheelInfo back{};
    QCOMPARE(QVRGetZWProperties(1, &back), 0);
    QCOMPARE(QByteArray(back.SN), QByteArray(b.SN));
    QVERIFY(back.ID != a.ID && back.ID != b.ID);
}

void TestDevizuvEZ::longNameCut()
{
    WheelModel::Options options;
    options.name = QByteArray(70, 'N');
    QVERIFY(addWheel(0, options));
    QCOMPARE(QVRGetZWCount(), 1);
    WheelInfo info;
    memset(&info, 'x', sizeof info);
    QCOMPARE(QVRGetZWProperties(0, &info), 0);
    QCOMPARE(QByteArray(info.Name), QByteArray(63, 'N'));
    QCOMPARE(QByteArray(info.SN), WheelModel::serialFor(16));
}

void TestDevizuvEZ::propertiesFailureLeavesInfo_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("noReply");
    QTest::addColumn<int>("status");
    QTest::newRow("name refused") << int(ZW_CMD_GET_NAME) << false << int(ZW_ERROR_REFUSED);
    QTest::newRow("serial refused") << int(ZW_CMD_GET_SERIAL) << false << int(ZW_ERROR_REFUSED);
    QTest::newRow("slots refused") << int(ZW_CMD_GET_SLOTS) << false << int(ZW_ERROR_REFUSED);
    QTest::newRow("slots not answered") << int(ZW_CMD_GET_SLOTS) << true << int(ZW_ERROR_TIMEOUT);
}

void TestDevizuvEZ::propertiesFailureLeavesInfo()
{
    QFETCH(int, code);
    QFETCH(bool, noReply);
    QFETCH(int, status);
    WheelModel::Options options;
    (noReply ? options.faults.noReply : options.faults.refuse).insert(uint8_t(code));
    QVERIFY(addWheel(0, options));
    QCOMPARE(QVRGetZWCount(), 1);
    WheelInfo info;
    memset(&info, 0x5A, sizeof info);
    WheelInfo before = info;
    QCOMPARE(QVRGetZWProperties(0, &info), status);
    QCOMPARE(memcmp(&info, &before, sizeof info), 0);
    QCOMPARE(QVRGetZWProperties(0, nullptr), int(ZW_ERROR_INVALID_ARGUMENT));
}

void TestDevizuvEZ::openAndClose()
{
    const int id = openOne();
    QVERIFY(id >= 0);
    int position = -1;
    QCOMPARE(QVRGetCurrentPosition(id, &position), 0);
    QCOMPARE(QVRCloseZW(id), 0);
    QCOMPARE(QVRCloseZW(id), 0); // closing a closed wheel changes nothing
    position = -1;
    QCOMPARE(QVRGetCurrentPosition(id, &position), int(ZW_ERROR_NOT_OPEN));
    QCOMPARE(position, -1);
    int state = 5;
    QCOMPARE(QVRGetZWState(id, &state), 0);
    QCOMPARE(state, int(ZW_STATE_CLOSED));
    // Properties work on a closed wheel (the device is opened for the query only).
    WheelInfo info{};
    QCOMPARE(QVRGetZWProperties(0, &info), 0);
    QCOMPARE(info.ID, id);
    QCOMPARE(QVROpenZW(id), 0);
    QCOMPARE(QVRGetCurrentPosition(id, &position), 0);
}

void TestDevizuvEZ::nodeCannotBeOpened()
{
    WheelModel::Options options;
    options.faults.unopenable = true;
    WheelModel* wheel = addWheel(0, options);
    QVERIFY(wheel);
    QCOMPARE(QVRGetZWCount(), 1);
    WheelInfo info;
    memset(&info, 0x33, sizeof info);
    QCOMPARE(QVRGetZWProperties(0, &info), int(ZW_ERROR_OPEN_FAILED));
    QCOMPARE(info.SlotNum, 0x33333333);

    wheel->setFaults({});
    QCOMPARE(QVRGetZWProperties(0, &info), 0);
    WheelModel::Faults faults;
    faults.unopenable = true;
    wheel->setFaults(faults);
    wheel->clearCalls();
    QCOMPARE(QVROpenZW(info.ID), int(ZW_ERROR_OPEN_FAILED));
    int state = 1;
    QCOMPARE(QVRGetZWState(info.ID, &state), 0);
    QCOMPARE(state, int(ZW_STATE_CLOSED));
    QVERIFY(wheel->calls().isEmpty());
}

void TestDevizuvEZ::callsOnClosedOrUnknownId_data()
{
    QTest::addColumn<int>("call");
    for (size_t i = 0; i < libraryCalls().size(); ++i)
        QTest::newRow(libraryCalls()[i].name) << int(i);
}

void TestDevizuvEZ::callsOnClosedOrUnknownId()
{
    QFETCH(int, call);
    const LibraryCall& c = libraryCalls()[size_t(call)];
    const int id = openOne();
    QVERIFY(id >= 0);
    QCOMPARE(QVRCloseZW(id), 0);

    bool untouched = false;
    if (c.code == ZW_CMD_GET_STATE) {
        QCOMPARE(c.run(id, untouched), 0); // a closed wheel has state 0
    } else {
        QCOMPARE(c.run(id, untouched), int(ZW_ERROR_NOT_OPEN));
        QVERIFY(untouched);
    }
    untouched = false;
    QCOMPARE(c.run(id + 1000, untouched), int(ZW_ERROR_INVALID_ID));
    QVERIFY(untouched);
    QCOMPARE(c.run(-1, untouched), int(ZW_ERROR_INVALID_ID));
    QVERIFY(untouched);
    QVERIFY(models.back()->calls().isEmpty());
}

void TestDevizuvEZ::callSucceeds_data()
{
    callsOnClosedOrUnknownId_data();
}

void TestDevizuvEZ::callSucceeds()
{
    QFETCH(int, call);
    const LibraryCall& c = libraryCalls()[size_t(call)];
    const int id = openOne();
    QVERIFY(id >= 0);
    bool untouched = true;
    QCOMPARE(c.run(id, untouched), 0);
    const auto calls = models.back()->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].code, c.code);
    QCOMPARE(calls[0].status, uint8_t(ZW_DEV_OK));
    // Every call with outs writes them.
    const bool hasOuts = c.code != ZW_CMD_GOTO && c.code != ZW_CMD_SET_ONEWAY && c.code != ZW_CMD_RESET &&
                         c.code != ZW_CMD_SELFTEST && c.code != ZW_CMD_SET_MOTOR_SPEED &&
                         c.code != ZW_CMD_SET_MOTOR_POWER && c.code != ZW_CMD_SAVE_CONFIG &&
                         c.code != ZW_CMD_BOOTLOADER;
    if (hasOuts)
        QVERIFY(!untouched);
}

void TestDevizuvEZ::callRefused_data()
{
    callsOnClosedOrUnknownId_data();
}

void TestDevizuvEZ::callRefused()
{
    QFETCH(int, call);
    const LibraryCall& c = libraryCalls()[size_t(call)];
    const int id = openOne();
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();
    wheel->setRefused(c.code);
    bool untouched = false;
    QCOMPARE(c.run(id, untouched), int(ZW_ERROR_REFUSED));
    QVERIFY(untouched);
    // Only this call fails; the wheel stays open and usable.
    wheel->setRefused(c.code, false);
    QCOMPARE(c.run(id, untouched), 0);
    QCOMPARE(wheel->calls().size(), 2);
    QCOMPARE(wheel->calls()[0].status, uint8_t(ZW_DEV_FAILED));
}

void TestDevizuvEZ::callNotAnswered_data()
{
    callsOnClosedOrUnknownId_data();
}

void TestDevizuvEZ::callNotAnswered()
{
    QFETCH(int, call);
    const LibraryCall& c = libraryCalls()[size_t(call)];
    const int id = openOne();
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();
    wheel->setNoReply(c.code);
    bool untouched = false;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(c.run(id, untouched), int(ZW_ERROR_TIMEOUT));
    QVERIFY(untouched);
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    wheel->setNoReply(c.code, false);
    QCOMPARE(c.run(id, untouched), 0);
}

void TestDevizuvEZ::motion()
{
    WheelModel::Options options;
    options.slotMs = 100;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();

    QCOMPARE(QVRGotoPosition(id, 3), 0);
    int state = 1;
    QCOMPARE(QVRGetZWState(id, &state), 0);
    QCOMPARE(state, int(ZW_STATE_MOVING));
    unsigned char sensor = 0, moving = 0;
    int value = 0, r1 = 0, r2 = 0;
    QCOMPARE(QVRGetSensorValues(id, &sensor, &moving, &value, &r1, &r2), 0);
    QCOMPARE(moving, (unsigned char)1);
    unsigned char motor = 0, comm = 9;
    QCOMPARE(QVRGetMotorState(id, &motor, &comm), 0);
    QCOMPARE(int(motor), int(ZW_MOTOR_RUNNING));
    QCOMPARE(QVRGotoPosition(id, 1), int(ZW_ERROR_BUSY));

    QTRY_VERIFY_WITH_TIMEOUT(QVRGetZWState(id, &state) == 0 && state == ZW_STATE_IDLE, 3000);
    int position = -1;
    QCOMPARE(QVRGetCurrentPosition(id, &position), 0);
    QCOMPARE(position, 3);
    QCOMPARE(wheel->position(), 3);
    QCOMPARE(QVRGetSensorValues(id, &sensor, &moving, &value, &r1, &r2), 0);
    QCOMPARE(moving, (unsigned char)0);
    QCOMPARE(wheel->gotoCommands(), (QVector<int>{3, 1}));

    // To the current slot: no motion.
    QCOMPARE(QVRGotoPosition(id, 3), 0);
    QCOMPARE(QVRGetZWState(id, &state), 0);
    QCOMPARE(state, int(ZW_STATE_IDLE));
}

void TestDevizuvEZ::motionDirection_data()
{
    QTest::addColumn<bool>("oneWay");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("longWay");
    QTest::newRow("both ways, one slot back") << false << 3 << 2 << false;
    QTest::newRow("one way, one slot back is six ahead") << true << 3 << 2 << true;
    QTest::newRow("both ways, across slot 0") << false << 6 << 0 << false;
    QTest::newRow("one way, one slot ahead") << true << 2 << 3 << false;
}

void TestDevizuvEZ::motionDirection()
{
    QFETCH(bool, oneWay);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, longWay);
    WheelModel::Options options;
    options.slotMs = 400;
    options.position = from;
    options.oneWay = oneWay;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    QCOMPARE(QVRGotoPosition(id, to), 0);
    QTest::qWait(1200); // one slot takes 400 ms, six take 2400 ms
    int state = 0;
    QCOMPARE(QVRGetZWState(id, &state), 0);
    QCOMPARE(state == ZW_STATE_MOVING, longWay);
    QTRY_VERIFY_WITH_TIMEOUT(!models.back()->isMoving(), 5000);
    QCOMPARE(models.back()->position(), to);
}

void TestDevizuvEZ::gotoLimits()
{
    const int id = openOne();
    QVERIFY(id >= 0);
    QCOMPARE(QVRGotoPosition(id, 7), int(ZW_ERROR_OUT_OF_RANGE)); // 7 slots: 0..6
    QCOMPARE(QVRGotoPosition(id, -1), int(ZW_ERROR_INVALID_ARGUMENT));
    QCOMPARE(QVRGotoPosition(id, 256), int(ZW_ERROR_INVALID_ARGUMENT));
    QCOMPARE(models.back()->position(), 0);
    QCOMPARE(models.back()->gotoCommands(), QVector<int>{7});
    QCOMPARE(QVRGotoPosition(id, 6), 0);
    QCOMPARE(models.back()->position(), 6);
}

void TestDevizuvEZ::oneWay()
{
    const int id = openOne();
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();
    int flag = 7;
    QCOMPARE(QVRGetOneWay(id, &flag), 0);
    QCOMPARE(flag, 0);
    QCOMPARE(QVRSetOneWay(id, 1), 0);
    QVERIFY(wheel->oneWay());
    QCOMPARE(QVRGetOneWay(id, &flag), 0);
    QCOMPARE(flag, 1);
    QCOMPARE(QVRSetOneWay(id, 2), int(ZW_ERROR_INVALID_ARGUMENT));
    QVERIFY(wheel->oneWay());
    QCOMPARE(QVRSetOneWay(id, 0), 0);
    QVERIFY(!wheel->oneWay());
    QCOMPARE(QVRGetOneWay(id, nullptr), int(ZW_ERROR_INVALID_ARGUMENT));
}

void TestDevizuvEZ::reset()
{
    WheelModel::Options options;
    options.slotMs = 30;
    options.position = 4;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();
    QCOMPARE(QVRResetZW(id), 0);
    int state = 0;
    QCOMPARE(QVRGetZWState(id, &state), 0);
    QCOMPARE(state, int(ZW_STATE_MOVING));
    QCOMPARE(QVRResetZW(id), int(ZW_ERROR_BUSY));
    QTRY_VERIFY_WITH_TIMEOUT(QVRGetZWState(id, &state) == 0 && state == ZW_STATE_IDLE, 3000);
    int position = -1;
    QCOMPARE(QVRGetCurrentPosition(id, &position), 0);
    QCOMPARE(position, 0);
    QCOMPARE(wheel->resetCount(), 1);
    QVERIFY(wheel->gotoCommands().isEmpty());
}

void TestDevizuvEZ::selfTest_data()
{
    QTest::addColumn<int>("selfTestError");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<int>("finalCode");
    QTest::newRow("passes") << 0 << int(ZW_SELFTEST_PASSED) << 0;
    QTest::newRow("fails with 5") << 5 << int(ZW_SELFTEST_FAILED) << 5;
    QTest::newRow("fails with 0x2c") << 0x2c << int(ZW_SELFTEST_FAILED) << 0x2c;
}

void TestDevizuvEZ::selfTest()
{
    QFETCH(int, selfTestError);
    QFETCH(int, finalState);
    QFETCH(int, finalCode);
    WheelModel::Options options;
    options.selfTestMs = 600;
    options.selfTestError = selfTestError;
    options.position = 3;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();

    int state = -1, code = -1;
    QCOMPARE(QVRGetSelfTestState(id, &state, &code), 0);
    QCOMPARE(state, 0); // never run
    QCOMPARE(QVRZWSelfTest(id), 0);
    QCOMPARE(wheel->selfTestCount(), 1);
    QCOMPARE(QVRGetSelfTestState(id, &state, &code), 0);
    QVERIFY2(state >= ZW_SELFTEST_RUNNING_FIRST && state <= ZW_SELFTEST_RUNNING_LAST,
             qPrintable(QString::number(state)));
    // A running self test is not a motion, and the wheel takes no other work meanwhile.
    unsigned char sensor = 0, moving = 9;
    int value = 0, r1 = 0, r2 = 0;
    QCOMPARE(QVRGetSensorValues(id, &sensor, &moving, &value, &r1, &r2), 0);
    QCOMPARE(moving, (unsigned char)0);
    QCOMPARE(QVRGotoPosition(id, 1), int(ZW_ERROR_BUSY));
    QCOMPARE(QVRZWSelfTest(id), int(ZW_ERROR_BUSY));

    QTRY_VERIFY_WITH_TIMEOUT(QVRGetSelfTestState(id, &state, &code) == 0 &&
                                 (state < ZW_SELFTEST_RUNNING_FIRST || state > ZW_SELFTEST_RUNNING_LAST),
                             3000);
    QCOMPARE(state, finalState);
    QCOMPARE(code, finalCode);
    int position = -1;
    QCOMPARE(QVRGetCurrentPosition(id, &position), 0);
    QCOMPARE(position, 0);
    QCOMPARE(QVRGetSelfTestState(id, nullptr, &code), int(ZW_ERROR_INVALID_ARGUMENT));
}

void TestDevizuvEZ::wheelErrorCode_data()
{
    QTest::addColumn<int>("code");
    for (int code = 0; code <= 6; ++code)
        QTest::newRow(qPrintable(QString::number(code))) << code;
    QTest::newRow("9") << 9;
}

void TestDevizuvEZ::wheelErrorCode()
{
    QFETCH(int, code);
    WheelModel::Options options;
    options.errorCode = code;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    int value = -1;
    QCOMPARE(QVRGetErrorCode(id, &value), 0);
    QCOMPARE(value, code);
    models.back()->setErrorCode(0);
    QCOMPARE(QVRGetErrorCode(id, &value), 0);
    QCOMPARE(value, 0);
}

void TestDevizuvEZ::motorStateAndSettings()
{
    WheelModel::Options options;
    options.motorState = ZW_MOTOR_STOP;
    options.commState = 2;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();

    unsigned char motor = 0, comm = 0;
    QCOMPARE(QVRGetMotorState(id, &motor, &comm), 0);
    QCOMPARE(int(motor), int(ZW_MOTOR_STOP));
    QCOMPARE(int(comm), 2);

    unsigned short a = 0, b = 0;
    QCOMPARE(QVRGetMotorSpeed(id, &a, &b), 0);
    QCOMPARE(int(a), 400);
    QCOMPARE(int(b), 6000);
    QCOMPARE(QVRGetMotorPower(id, &a, &b), 0);
    QCOMPARE(int(a), 25);
    QCOMPARE(int(b), 4);

    QCOMPARE(QVRSetMotorPower(id, 30, 4), 0);
    QCOMPARE(QVRSetMotorSpeed(id, 25, 65000), 0);
    QCOMPARE(int(wheel->motorSettings().runningPower), 30);
    QCOMPARE(int(wheel->motorSettings().stopPower), 4);
    QCOMPARE(int(wheel->motorSettings().startSpeed), 25);
    QCOMPARE(int(wheel->motorSettings().runningSpeed), 65000);
    QVERIFY(wheel->savedSettings() == WheelModel::MotorSettings());
    QCOMPARE(QVRGetMotorSpeed(id, &a, &b), 0);
    QCOMPARE(int(a), 25);
    QCOMPARE(int(b), 65000);
    QCOMPARE(QVRGetMotorPower(id, &a, &b), 0);
    QCOMPARE(int(a), 30);

    QCOMPARE(wheel->saveCount(), 0);
    QCOMPARE(QVRSaveSystemConfig(id), 0);
    QCOMPARE(wheel->saveCount(), 1);
    QVERIFY(wheel->savedSettings() == wheel->motorSettings());

    // A refused save stores nothing.
    QCOMPARE(QVRSetMotorPower(id, 28, 4), 0);
    wheel->setRefused(ZW_CMD_SAVE_CONFIG);
    QCOMPARE(QVRSaveSystemConfig(id), int(ZW_ERROR_REFUSED));
    QCOMPARE(int(wheel->savedSettings().runningPower), 30);
    QCOMPARE(wheel->saveCount(), 1);
    QCOMPARE(QVRGetMotorState(id, nullptr, &comm), int(ZW_ERROR_INVALID_ARGUMENT));
    QCOMPARE(QVRGetMotorPower(id, &a, nullptr), int(ZW_ERROR_INVALID_ARGUMENT));
}

void TestDevizuvEZ::firmwareVersion_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("status");
    QTest::newRow("3.1.2 in 32") << QByteArray("3.1.2") << 32 << 0;
    QTest::newRow("3.1.2 in 6") << QByteArray("3.1.2") << 6 << 0;
    QTest::newRow("3.1.2 in 5") << QByteArray("3.1.2") << 5 << int(ZW_ERROR_BUFFER_TOO_SMALL);
    QTest::newRow("1.0.10") << QByteArray("1.0.10") << 32 << 0;
    QTest::newRow("31 characters") << QByteArray(31, '9') << 32 << 0;
    QTest::newRow("size 0") << QByteArray("3.1.2") << 0 << int(ZW_ERROR_INVALID_ARGUMENT);
}

void TestDevizuvEZ::firmwareVersion()
{
    QFETCH(QByteArray, version);
    QFETCH(int, size);
    QFETCH(int, status);
    WheelModel::Options options;
    options.firmwareVersion = version;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    char buffer[40];
    memset(buffer, 'x', sizeof buffer);
    QCOMPARE(QVRGetZWFirmwareVer(id, buffer, size), status);
    if (status == 0) {
        QCOMPARE(QByteArray(buffer), version);
        QCOMPARE(buffer[version.size() + 1], 'x'); // nothing written past the NUL
    } else {
        QVERIFY(std::all_of(buffer, buffer + sizeof buffer, [](char c) { return c == 'x'; }));
    }
    QCOMPARE(QVRGetZWFirmwareVer(id, nullptr, 32), int(ZW_ERROR_INVALID_ARGUMENT));
}

void TestDevizuvEZ::errorStrings()
{
    QSet<QByteArray> texts;
    for (int code = 0; code <= ZW_ERROR_LAST; ++code) {
        const char* text = QVRGetZWErrorString(code);
        QVERIFY(text);
        QVERIFY(*text);
        texts.insert(QByteArray(text));
    }
    QCOMPARE(texts.size(), ZW_ERROR_LAST + 1); // a text of its own for each code
    for (int code : {-1, ZW_ERROR_LAST + 1, 1000}) {
        QVERIFY(QVRGetZWErrorString(code));
        QVERIFY(!texts.contains(QByteArray(QVRGetZWErrorString(code))));
    }
}

void TestDevizuvEZ::unplugWhileOpen()
{
    const int id = openOne();
    QVERIFY(id >= 0);
    models.back()->unplug();
    int position = -1;
    const int status = QVRGetCurrentPosition(id, &position);
    QVERIFY2(status == ZW_ERROR_COMMUNICATION || status == ZW_ERROR_TIMEOUT, QVRGetZWErrorString(status));
    QCOMPARE(position, -1);
    QCOMPARE(QVRGetZWCount(), 0);
    QCOMPARE(QVRGetCurrentPosition(id, &position), int(ZW_ERROR_INVALID_ID));

    // Leaving in the middle of a call: that call fails and the wheel is gone.
    const int second = openOne();
    QVERIFY(second >= 0 && second != id);
    models.back()->setUnplugAfter(1);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(QVRGotoPosition(second, 2) != 0);
    QVERIFY(timer.elapsed() < 3000);
    QTRY_COMPARE(QVRGetZWCount(), 0);

    // Plugged again, the wheel works (the fault struck once).
    QVERIFY(models.back()->plug());
    QCOMPARE(QVRGetZWCount(), 1);
    WheelInfo info{};
    QCOMPARE(QVRGetZWProperties(0, &info), 0);
    QVERIFY(info.ID != second);
    QCOMPARE(QVROpenZW(info.ID), 0);
    QCOMPARE(QVRGotoPosition(info.ID, 2), 0);
    QCOMPARE(models.back()->position(), 2);
}

// A scan run on the hidraw "add" event (what the program does on a device change) finds the device.
void TestDevizuvEZ::foundAtItsAddEvent()
{
    udev* context = udev_new();
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    QVERIFY(monitor);
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    udev_monitor_enable_receiving(monitor);
    auto release = qScopeGuard([&] {
        udev_monitor_unref(monitor);
        udev_unref(context);
    });
    models.push_back(std::make_unique<WheelModel>(testbed, WheelModel::Options()));
    WheelModel* wheel = models.back().get();
    for (int round = 0; round < 20; ++round) {
        std::thread plugging([wheel] { wheel->plug(); });
        const QByteArray event = nextEvent(monitor);
        const int count = QVRGetZWCount();
        const int bootloaders = DevizuvEZWriteFWObject::GetZWBootloadCount();
        plugging.join();
        QCOMPARE(event, QByteArray("add /dev/hidraw16"));
        QCOMPARE(count, 1);
        QCOMPARE(bootloaders, 0);
        wheel->unplug();
        QCOMPARE(nextEvent(monitor), QByteArray("remove /dev/hidraw16"));
        QCOMPARE(QVRGetZWCount(), 0);

        // The bootloader's record is built the same way.
        std::thread bootloader([wheel] { wheel->bootloader().plug(); });
        QCOMPARE(nextEvent(monitor), QByteArray("add /dev/hidraw17"));
        QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
        bootloader.join();
        wheel->bootloader().unplug();
        QCOMPARE(nextEvent(monitor), QByteArray("remove /dev/hidraw17"));
    }
}

void TestDevizuvEZ::backToBootloaderAndReturn()
{
    WheelModel::Options options;
    options.firmwareVersion = "3.1.2";
    options.newFirmwareVersion = "3.2.0";
    options.bootloaderMs = 200;
    options.returnMs = 200;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    WheelModel* wheel = models.back().get();
    WheelInfo before{};
    QCOMPARE(QVRGetZWProperties(0, &before), 0);

    udev* context = udev_new();
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    QVERIFY(monitor);
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    udev_monitor_enable_receiving(monitor);
    auto release = qScopeGuard([&] {
        udev_monitor_unref(monitor);
        udev_unref(context);
    });

    // A refused request changes nothing.
    wheel->setRefused(ZW_CMD_BOOTLOADER);
    QCOMPARE(QVRBacktoBootload(id), int(ZW_ERROR_REFUSED));
    QVERIFY(wheel->isPresent());
    int state = 0;
    QCOMPARE(QVRGetZWState(id, &state), 0);
    QCOMPARE(state, int(ZW_STATE_IDLE));
    wheel->setRefused(ZW_CMD_BOOTLOADER, false);

    QCOMPARE(QVRBacktoBootload(id), 0);
    QVERIFY(wheel->inBootloader());
    QCOMPARE(nextEvent(monitor), QByteArray("remove /dev/hidraw16"));
    QCOMPARE(nextEvent(monitor), QByteArray("add /dev/hidraw17"));
    QCOMPARE(QVRGetZWState(id, &state), int(ZW_ERROR_INVALID_ID)); // handle closed, id forgotten
    QTRY_COMPARE(QVRGetZWCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(hidCount(ZW_BOOTLOADER_PRODUCT_ID), 1, 3000);
    QCOMPARE(hidCount(WheelModel::DefaultProductId), 0);

    // The update through the bootloader.
    QCOMPARE(DevizuvEZWriteFWObject::GetZWBootloadCount(), 1);
    {
        DevizuvEZWriteFWObject writer(0);
        QVERIFY(writer.Open());
        const QByteArray image = randomBytes(4096, 7);
        QVERIFY(writer.SetFirmwareData(WheelBootloaderModel::DefaultFlashBase,
                                       reinterpret_cast<const uint8_t*>(image.constData()), 4096));
        QVERIFY(writer.EraseFlash());
        QVERIFY(writer.WriteFlash());
        QVERIFY(writer.RunProgram());
        writer.Close();
    }
    QCOMPARE(nextEvent(monitor), QByteArray("remove /dev/hidraw17"));
    QCOMPARE(nextEvent(monitor), QByteArray("add /dev/hidraw16"));
    QCOMPARE(hidCount(ZW_BOOTLOADER_PRODUCT_ID), 0);
    QCOMPARE(QVRGetZWCount(), 1);
    QVERIFY(!wheel->inBootloader());
    QCOMPARE(wheel->returnCount(), 1);

    WheelInfo after{};
    QCOMPARE(QVRGetZWProperties(0, &after), 0);
    QCOMPARE(QByteArray(after.SN), QByteArray(before.SN));
    QVERIFY(after.ID != before.ID);
    QCOMPARE(QVROpenZW(after.ID), 0);
    char version[32] = {};
    QCOMPARE(QVRGetZWFirmwareVer(after.ID, version, sizeof version), 0);
    QCOMPARE(QByteArray(version), QByteArray("3.2.0"));
}

void TestDevizuvEZ::concurrentCallers()
{
    WheelModel::Options options;
    const int id = openOne(options);
    QVERIFY(id >= 0);
    std::atomic<int> failures{0};
    auto work = [&](int salt) {
        for (int i = 0; i < 200; ++i) {
            int position = -1;
            unsigned short a = 0, b = 0;
            if (QVRGetCurrentPosition(id, &position) != 0 || position < 0)
                ++failures;
            if (QVRGetMotorPower(id, &a, &b) != 0 || a != 25)
                ++failures;
            if ((i + salt) % 50 == 0 && QVRGetZWCount() != 1)
                ++failures;
        }
    };
    std::thread first(work, 0);
    std::thread second(work, 25);
    first.join();
    second.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(models.back()->calls().size(), 2 * 2 * 200);
}

QTEST_GUILESS_MAIN(TestDevizuvEZ)
#include "tst_devizuvez.moc"
