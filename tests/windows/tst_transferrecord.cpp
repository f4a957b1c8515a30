// The Windows driver's request record and the USB field encodings around it.
#include "transferrecord.h"
#include "usbdriverdevice.h"

#include <QtTest>

class TestTransferRecord : public QObject
{
    Q_OBJECT

private slots:
    void recordBytes_data();
    void recordBytes();
    void timeoutField_data();
    void timeoutField();
    void requestTypeByte_data();
    void requestTypeByte();
    void bytesMoved_data();
    void bytesMoved();
    void statusWords();
    void endpointZeroPacketSize_data();
    void endpointZeroPacketSize();
    void endpointPacketSize_data();
    void endpointPacketSize();
};

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
} // namespace

void TestTransferRecord::recordBytes_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("requestType");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("length");
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<QByteArray>("data"); // null: no buffer given
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("dataArea");

    //  bmRT bReq wValue wIndex wLength timeout  res ep status A  status B  iso off  iso len  buf off  buf len
    QTest::newRow("vendor in 0xC0, caller's buffer carried")
        << 0 << 2 << 1 << 0xD1 << 0x1234 << 0xABCD << 8u << 500u << hex("0102030405060708")
        << hex("c0 d1 3412 cdab 0800 01000000 00 00 00000000 00000000 00000000 00000000 26000000 08000000")
        << hex("0102030405060708");
    QTest::newRow("vendor out 0x40")
        << 0 << 2 << 0 << 0xD0 << 0x0102 << 0x0304 << 5u << 10000u << QByteArray("hello")
        << hex("40 d0 0201 0403 0500 0a000000 00 00 00000000 00000000 00000000 00000000 26000000 05000000")
        << QByteArray("hello");
    QTest::newRow("vendor out without data")
        << 0 << 2 << 0 << 0xE0 << 0 << 0 << 0u << 0u << QByteArray()
        << hex("40 e0 0000 0000 0000 00000000 00 00 00000000 00000000 00000000 00000000 26000000 00000000")
        << QByteArray();
    QTest::newRow("standard device descriptor read")
        << 0 << 0 << 1 << 6 << 0x0100 << 0 << 18u << 5000u << QByteArray()
        << hex("80 06 0001 0000 1200 05000000 00 00 00000000 00000000 00000000 00000000 26000000 12000000")
        << QByteArray(18, '\0');
    QTest::newRow("length over 16 bits: wLength keeps the low bits")
        << 0 << 2 << 0 << 0xD0 << 0xFFFF << 0x8000 << 0x10005u << 999u << QByteArray()
        << hex("40 d0 ffff 0080 0500 01000000 00 00 00000000 00000000 00000000 00000000 26000000 05000100")
        << QByteArray(0x10005, '\0');
}

void TestTransferRecord::recordBytes()
{
    QFETCH(int, target);
    QFETCH(int, requestType);
    QFETCH(int, direction);
    QFETCH(int, request);
    QFETCH(int, value);
    QFETCH(int, index);
    QFETCH(uint, length);
    QFETCH(uint, timeoutMs);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, dataArea);
    QCOMPARE(header.size(), 38);

    ControlSetup setup;
    setup.target = uint8_t(target);
    setup.requestType = uint8_t(requestType);
    setup.direction = uint8_t(direction);
    setup.request = uint8_t(request);
    setup.value = uint16_t(value);
    setup.index = uint16_t(index);
    setup.length = length;
    setup.timeoutMs = timeoutMs;
    const std::vector<uint8_t> record = buildTransferRecord(
        setup, data.isNull() ? nullptr : reinterpret_cast<const uint8_t*>(data.constData()));

    QCOMPARE(record.size(), size_t(38 + length));
    const QByteArray bytes(reinterpret_cast<const char*>(record.data()), int(record.size()));
    // Byte by byte, so a failure names the offset.
    for (int i = 0; i < 38; ++i) {
        if (bytes.at(i) != header.at(i))
            QFAIL(qPrintable(QString("header byte %1: 0x%2, expected 0x%3")
                                 .arg(i)
                                 .arg(uint8_t(bytes.at(i)), 2, 16, QChar('0'))
                                 .arg(uint8_t(header.at(i)), 2, 16, QChar('0'))));
    }
    QVERIFY(bytes.mid(38) == dataArea);
}

void TestTransferRecord::timeoutField_data()
{
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<uint>("seconds");
    QTest::newRow("0: driver default") << 0u << 0u;
    QTest::newRow("1") << 1u << 1u;
    QTest::newRow("500") << 500u << 1u;
    QTest::newRow("999") << 999u << 1u;
    QTest::newRow("1000") << 1000u << 1u;
    QTest::newRow("1999 rounds down") << 1999u << 1u;
    QTest::newRow("10000") << 10000u << 10u;
    QTest::newRow("largest") << 0xFFFFFFFFu << 4294967u;
}

void TestTransferRecord::timeoutField()
{
    QFETCH(uint, timeoutMs);
    QFETCH(uint, seconds);
    QCOMPARE(recordTimeoutSeconds(timeoutMs), uint32_t(seconds));
    // And where it lands in the record: u32 little-endian at offset 8.
    ControlSetup setup;
    setup.timeoutMs = timeoutMs;
    const std::vector<uint8_t> record = buildTransferRecord(setup, nullptr);
    const uint32_t field = record[8] | record[9] << 8 | record[10] << 16 | uint32_t(record[11]) << 24;
    QCOMPARE(field, uint32_t(seconds));
}

void TestTransferRecord::requestTypeByte_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("requestType");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("expected");
    QTest::newRow("vendor out, device") << 0 << 2 << 0 << 0x40;
    QTest::newRow("vendor in, device") << 1 << 2 << 0 << 0xC0;
    QTest::newRow("standard in, device") << 1 << 0 << 0 << 0x80;
    QTest::newRow("standard out, device") << 0 << 0 << 0 << 0x00;
    QTest::newRow("class in, interface") << 1 << 1 << 1 << 0xA1;
    QTest::newRow("vendor out, endpoint") << 0 << 2 << 2 << 0x42;
    QTest::newRow("vendor in, other") << 1 << 2 << 3 << 0xC3;
    QTest::newRow("target keeps 5 bits") << 0 << 2 << 0x3F << 0x5F;
    QTest::newRow("type keeps 2 bits") << 0 << 6 << 0 << 0x40;
}

void TestTransferRecord::requestTypeByte()
{
    QFETCH(int, direction);
    QFETCH(int, requestType);
    QFETCH(int, target);
    QFETCH(int, expected);
    QCOMPARE(int(::requestTypeByte(uint8_t(direction), uint8_t(requestType), uint8_t(target))), expected);

    // The control endpoint's own encoding (used by the libusb backend) agrees with the record's.
    CCyControlEndPoint ep(nullptr, 64);
    ep.direction = uint8_t(direction);
    ep.requestType = uint8_t(requestType);
    ep.target = uint8_t(target);
    QCOMPARE(int(ep.bmRequestType()), expected);
}

void TestTransferRecord::bytesMoved_data()
{
    QTest::addColumn<uint>("returned");
    QTest::addColumn<uint>("moved");
    QTest::addColumn<uint>("capacity"); // the caller's room, also the record's data area
    QTest::addColumn<uint>("taken");    // what the caller may take from the record
    QTest::newRow("nothing returned") << 0u << 0u << 5u << 0u;
    QTest::newRow("header only") << 38u << 0u << 5u << 0u;
    QTest::newRow("one byte") << 39u << 1u << 5u << 1u;
    QTest::newRow("FPGA version reply") << 43u << 5u << 5u << 5u;
    QTest::newRow("page") << 38u + 4096u << 4096u << 4096u << 4096u;
    QTest::newRow("shorter than the header") << 10u << 0u << 5u << 0u;
    QTest::newRow("count past the record") << 38u + 4097u << 4097u << 4096u << 4096u;
    QTest::newRow("largest count") << 0xFFFFFFFFu << 0xFFFFFFFFu - 38u << 20u << 20u;
}

void TestTransferRecord::bytesMoved()
{
    QFETCH(uint, returned);
    QFETCH(uint, moved);
    QFETCH(uint, capacity);
    QFETCH(uint, taken);
    QCOMPARE(recordBytesMoved(returned), uint32_t(moved));

    ControlSetup setup;
    setup.length = capacity;
    std::vector<uint8_t> record = buildTransferRecord(setup, nullptr);
    record[14] = 0x01; // completion status A as the driver writes it
    const TransferReply reply = readTransferReply(record.data(), record.size(), returned, capacity);
    QCOMPARE(reply.moved, uint32_t(taken));
    QCOMPARE(reply.usbStatus, 1u);
    QCOMPARE(reply.driverStatus, 0u);
    // The caller may name more room than the record holds; the record's data area still bounds it.
    QCOMPARE(readTransferReply(record.data(), record.size(), returned, capacity + 100).moved,
             uint32_t(taken));
    // A record cut short of its header reports nothing.
    const TransferReply cut = readTransferReply(record.data(), 37, returned, capacity);
    QCOMPARE(cut.moved, 0u);
    QCOMPARE(cut.usbStatus, 0u);
}

void TestTransferRecord::statusWords()
{
    std::vector<uint8_t> record = buildTransferRecord(ControlSetup(), nullptr);
    QCOMPARE(recordUsbStatus(record.data()), 0u);
    QCOMPARE(recordDriverStatus(record.data()), 0u);
    // As the driver writes them: little-endian at offsets 14 and 18.
    const uint8_t a[4] = {0x04, 0x03, 0x02, 0xC0};
    const uint8_t b[4] = {0x11, 0x22, 0x33, 0x44};
    std::copy(a, a + 4, record.begin() + 14);
    std::copy(b, b + 4, record.begin() + 18);
    QCOMPARE(recordUsbStatus(record.data()), 0xC0020304u);
    QCOMPARE(recordDriverStatus(record.data()), 0x44332211u);
}

void TestTransferRecord::endpointZeroPacketSize_data()
{
    QTest::addColumn<int>("bcdUSB");
    QTest::addColumn<int>("bMaxPacketSize0");
    QTest::addColumn<int>("expected");
    QTest::newRow("USB 2.0: bytes") << 0x0200 << 64 << 64;
    QTest::newRow("USB 2.1: bytes") << 0x0210 << 64 << 64;
    QTest::newRow("USB 2.x, largest") << 0x02FF << 64 << 64;
    QTest::newRow("USB 3.0: power of two") << 0x0300 << 9 << 512;
    QTest::newRow("USB 3.2: power of two") << 0x0320 << 9 << 512;
    QTest::newRow("exponent too large") << 0x0300 << 16 << 0;
}

void TestTransferRecord::endpointZeroPacketSize()
{
    QFETCH(int, bcdUSB);
    QFETCH(int, bMaxPacketSize0);
    QFETCH(int, expected);
    QCOMPARE(int(::endpointZeroPacketSize(uint16_t(bcdUSB), uint8_t(bMaxPacketSize0))), expected);
    CCyControlEndPoint ep(nullptr, ::endpointZeroPacketSize(uint16_t(bcdUSB), uint8_t(bMaxPacketSize0)));
    QCOMPARE(int(ep.maxPacketSize), expected);
    QCOMPARE(int(ep.address), 0);
    QVERIFY(!ep.directTransfer);
}

void TestTransferRecord::endpointPacketSize_data()
{
    QTest::addColumn<int>("wMaxPacketSize");
    QTest::addColumn<int>("expected");
    QTest::newRow("512, one transaction") << 0x0200 << 512;
    QTest::newRow("1024, one transaction") << 0x0400 << 1024;
    QTest::newRow("1024, two transactions") << 0x0C00 << 2048;
    QTest::newRow("1024, three transactions") << 0x1400 << 3072;
    QTest::newRow("1023, two transactions") << 0x0BFF << 2046;
    QTest::newRow("bits above 12 ignored") << 0xE040 << 64;
}

void TestTransferRecord::endpointPacketSize()
{
    QFETCH(int, wMaxPacketSize);
    QFETCH(int, expected);
    QCOMPARE(int(::endpointPacketSize(uint16_t(wMaxPacketSize))), expected);
    // The endpoint objects decode it the same way.
    UsbEndpointDescriptor d;
    d.bEndpointAddress = 0x81;
    d.bmAttributes = 2;
    d.wMaxPacketSize = uint16_t(wMaxPacketSize);
    CCyBulkEndPoint ep(nullptr, d);
    QCOMPARE(int(ep.maxPacketSize), expected);
    QVERIFY(ep.directionIn);
}

QTEST_APPLESS_MAIN(TestTransferRecord)
#include "tst_transferrecord.moc"
