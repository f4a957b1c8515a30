// Decoding of the descriptors the Windows backend reads at open.
#include "usbdescriptors.h"

#include <QtTest>

class TestUsbDescriptors : public QObject
{
    Q_OBJECT

private slots:
    void device_data();
    void device();
    void language_data();
    void language();
    void string_data();
    void string();
    void configuration_data();
    void configuration();
    void configurationEndpoints_data();
    void configurationEndpoints();
    void bos();
};

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const uint8_t* u8(const QByteArray& bytes)
{
    return reinterpret_cast<const uint8_t*>(bytes.constData());
}

// One configuration: interface 0 alternate 0 (bulk in 0x81 and bulk out 0x01, 1024 bytes, each with
// a SuperSpeed companion), a class-specific descriptor, interface 0 alternate 1 (isochronous in 0x83
// with a companion, interrupt in 0x84). 78 bytes.
QByteArray sampleConfiguration()
{
    return hex("09 02 4e00 01 01 00 80 32"
               "09 04 00 00 02 ff 00 00 00"
               "07 05 81 02 0004 00"
               "06 30 0f 00 0000"
               "07 05 01 02 0004 00"
               "06 30 03 00 0000"
               "05 24 01 02 03"
               "09 04 00 01 02 ff 01 02 00"
               "07 05 83 01 0014 01"
               "06 30 02 01 000c"
               "07 05 84 03 4000 08");
}

} // namespace

void TestUsbDescriptors::device_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::newRow("USB 3.2 camera") << hex("12 01 2003 ef 02 01 09 a0a0 3412 0001 01 02 03 01") << true;
    QTest::newRow("one byte short") << hex("12 01 2003 ef 02 01 09 a0a0 3412 0001 01 02 03") << false;
    QTest::newRow("not a device descriptor")
        << hex("12 02 2003 ef 02 01 09 a0a0 3412 0001 01 02 03 01") << false;
}

void TestUsbDescriptors::device()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    UsbDeviceDescriptor d;
    QCOMPARE(UsbDescriptors::decodeDevice(u8(bytes), size_t(bytes.size()), d), ok);
    if (!ok) {
        QCOMPARE(d.idVendor, uint16_t(0)); // untouched
        return;
    }
    QCOMPARE(d.bcdUSB, uint16_t(0x0320));
    QCOMPARE(d.bDeviceClass, uint8_t(0xEF));
    QCOMPARE(d.bDeviceSubClass, uint8_t(2));
    QCOMPARE(d.bDeviceProtocol, uint8_t(1));
    QCOMPARE(d.bMaxPacketSize0, uint8_t(9));
    QCOMPARE(d.idVendor, uint16_t(0xA0A0));
    QCOMPARE(d.idProduct, uint16_t(0x1234));
    QCOMPARE(d.bcdDevice, uint16_t(0x0100));
    QCOMPARE(d.iManufacturer, uint8_t(1));
    QCOMPARE(d.iProduct, uint8_t(2));
    QCOMPARE(d.iSerialNumber, uint8_t(3));
    QCOMPARE(d.bNumConfigurations, uint8_t(1));
}

void TestUsbDescriptors::language_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");
    QTest::newRow("English only") << hex("04 03 0904") << 0x0409;
    QTest::newRow("English listed second") << hex("06 03 0704 0904") << 0x0409;
    QTest::newRow("no English: the first") << hex("06 03 0704 0c04") << 0x0407;
    QTest::newRow("bLength shorter than the reply") << hex("04 03 0704 0904") << 0x0407;
    QTest::newRow("empty list") << hex("02 03") << 0;
    QTest::newRow("not a string descriptor") << hex("04 02 0904") << 0;
}

void TestUsbDescriptors::language()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);
    QCOMPARE(int(UsbDescriptors::chooseLanguage(u8(bytes), size_t(bytes.size()))), expected);
}

void TestUsbDescriptors::string_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("utf8");
    QTest::newRow("ASCII") << hex("0a 03 5100 5600 5200 3100") << true << QByteArray("QVR1");
    QTest::newRow("Latin-1 and CJK") << hex("08 03 e900 2000 7876") << true
                                     << QByteArray("\xc3\xa9 \xe7\x99\xb8");
    QTest::newRow("surrogate pair") << hex("06 03 3dd8 00de") << true << QByteArray("\xf0\x9f\x98\x80");
    QTest::newRow("bLength cuts the reply") << hex("04 03 4100 4200") << true << QByteArray("A");
    QTest::newRow("odd bLength drops the half unit") << hex("05 03 4100 4200") << true << QByteArray("A");
    QTest::newRow("bLength 2: empty, not stored") << hex("02 03") << false << QByteArray();
    QTest::newRow("wrong type") << hex("04 02 4100") << false << QByteArray();
}

void TestUsbDescriptors::string()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QByteArray, utf8);
    std::string text = "unchanged";
    QCOMPARE(UsbDescriptors::decodeString(u8(bytes), size_t(bytes.size()), text), ok);
    QCOMPARE(QByteArray::fromStdString(text), ok ? utf8 : QByteArray("unchanged"));
}

void TestUsbDescriptors::configuration_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("interfaces");
    QTest::addColumn<int>("firstEndpoints");
    QTest::addColumn<int>("lastEndpoints");

    const QByteArray whole = sampleConfiguration();
    QTest::newRow("whole") << whole << true << 2 << 2 << 2;
    QByteArray zeroLength = whole;
    zeroLength[44] = 0; // the class-specific descriptor
    QTest::newRow("zero-length descriptor ends the walk") << zeroLength << true << 1 << 2 << 2;
    QByteArray pastEnd = whole;
    pastEnd[44] = char(0x40);
    QTest::newRow("descriptor running past the end") << pastEnd << true << 1 << 2 << 2;
    QTest::newRow("reply shorter than wTotalLength") << whole.left(50) << true << 1 << 2 << 2;
    QByteArray shortTotal = whole;
    shortTotal[2] = 31; // up to the first endpoint's companion
    QTest::newRow("wTotalLength shorter than the reply") << shortTotal << true << 1 << 1 << 1;
    QTest::newRow("header only") << whole.left(9) << true << 0 << 0 << 0;
    QByteArray device = whole;
    device[1] = 1;
    QTest::newRow("not a configuration") << device << false << 0 << 0 << 0;
}

void TestUsbDescriptors::configuration()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(int, interfaces);
    QFETCH(int, firstEndpoints);
    QFETCH(int, lastEndpoints);
    UsbConfigInfo config;
    QCOMPARE(UsbDescriptors::parseConfiguration(u8(bytes), size_t(bytes.size()), true, nullptr, config), ok);
    QCOMPARE(int(config.interfaces.size()), interfaces);
    if (!ok)
        return;
    QCOMPARE(config.configurationValue, uint8_t(1));
    QCOMPARE(config.attributes, uint8_t(0x80));
    QCOMPARE(config.maxPower, uint8_t(0x32));
    if (interfaces) {
        QCOMPARE(int(config.interfaces.front().endpoints.size()), firstEndpoints);
        QCOMPARE(int(config.interfaces.back().endpoints.size()), lastEndpoints);
    }
}

void TestUsbDescriptors::configurationEndpoints_data()
{
    QTest::addColumn<bool>("withCompanions");
    QTest::newRow("SuperSpeed device: companions applied") << true;
    QTest::newRow("high-speed device: companions ignored") << false;
}

void TestUsbDescriptors::configurationEndpoints()
{
    QFETCH(bool, withCompanions);
    const QByteArray bytes = sampleConfiguration();
    int handle = 0; // any handle value: the endpoints keep it
    UsbConfigInfo config;
    QVERIFY(
        UsbDescriptors::parseConfiguration(u8(bytes), size_t(bytes.size()), withCompanions, &handle, config));
    QCOMPARE(int(config.interfaces.size()), 2);

    const UsbInterfaceInfo& alt0 = config.interfaces[0];
    QCOMPARE(alt0.number, uint8_t(0));
    QCOMPARE(alt0.alternateSetting, uint8_t(0));
    QCOMPARE(alt0.interfaceClass, uint8_t(0xFF));
    const UsbInterfaceInfo& alt1 = config.interfaces[1];
    QCOMPARE(alt1.alternateSetting, uint8_t(1));
    QCOMPARE(alt1.interfaceSubClass, uint8_t(1));
    QCOMPARE(alt1.interfaceProtocol, uint8_t(2));

    const CCyUSBEndPoint* bulkIn = alt0.endpoints[0].get();
    QVERIFY(dynamic_cast<const CCyBulkEndPoint*>(bulkIn));
    QCOMPARE(bulkIn->address, uint8_t(0x81));
    QVERIFY(bulkIn->directionIn);
    QCOMPARE(int(bulkIn->maxPacketSize), 1024);
    QCOMPARE(bulkIn->deviceHandle, static_cast<void*>(&handle));
    QCOMPARE(int(bulkIn->ssMaxBurst), withCompanions ? 15 : 0);

    const CCyUSBEndPoint* bulkOut = alt0.endpoints[1].get();
    QVERIFY(dynamic_cast<const CCyBulkEndPoint*>(bulkOut));
    QCOMPARE(bulkOut->address, uint8_t(0x01));
    QVERIFY(!bulkOut->directionIn);
    QCOMPARE(int(bulkOut->ssMaxBurst), withCompanions ? 3 : 0);

    const CCyUSBEndPoint* iso = alt1.endpoints[0].get();
    QVERIFY(dynamic_cast<const CCyIsocEndPoint*>(iso));
    QCOMPARE(int(iso->maxPacketSize), 3072);
    QCOMPARE(int(iso->interval), 1);
    QCOMPARE(int(iso->ssMaxBurst), withCompanions ? 2 : 0);
    QCOMPARE(int(iso->ssAttributes), withCompanions ? 1 : 0);
    QCOMPARE(int(iso->ssBytesPerInterval), withCompanions ? 0x0C00 : 0);

    const CCyUSBEndPoint* interrupt = alt1.endpoints[1].get();
    QVERIFY(dynamic_cast<const CCyInterruptEndPoint*>(interrupt));
    QCOMPARE(interrupt->address, uint8_t(0x84));
    QCOMPARE(int(interrupt->maxPacketSize), 64);
    QCOMPARE(int(interrupt->interval), 8);
    QCOMPARE(int(interrupt->ssMaxBurst), 0); // no companion follows it
}

void TestUsbDescriptors::bos()
{
    const QByteArray usb20 = hex("07 10 02 06000000");
    const QByteArray superSpeed = hex("0a 10 03 00 0e00 01 0a ff07");
    const QByteArray containerId = hex("14 10 04 00 00112233445566778899aabbccddeeff");
    const QByteArray platform = hex("08 10 05 00 01020304"); // not kept
    const QByteArray body = usb20 + platform + superSpeed + containerId;
    QByteArray bytes = hex("05 0f 0000 04") + body;
    bytes[2] = char(bytes.size());

    auto raw = [](const std::vector<uint8_t>& v) {
        return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
    };
    UsbDescriptors::BosCapabilities caps;
    QVERIFY(UsbDescriptors::parseBos(u8(bytes), size_t(bytes.size()), caps));
    QCOMPARE(raw(caps.usb20Extension), usb20);
    QCOMPARE(raw(caps.superSpeed), superSpeed);
    QCOMPARE(raw(caps.containerId), containerId);

    // wTotalLength covering only the first two capabilities.
    bytes[2] = char(5 + usb20.size() + platform.size());
    QVERIFY(UsbDescriptors::parseBos(u8(bytes), size_t(bytes.size()), caps));
    QCOMPARE(raw(caps.usb20Extension), usb20);
    QVERIFY(caps.superSpeed.empty());
    QVERIFY(caps.containerId.empty());

    QVERIFY(!UsbDescriptors::parseBos(u8(usb20), size_t(usb20.size()), caps));
}

QTEST_APPLESS_MAIN(TestUsbDescriptors)
#include "tst_usbdescriptors.moc"
