// Pure parts of the camera code: display forms of the camera's replies, the FPGA header record,
// the progress arithmetic of an image write and the FX3 boot-image rules.
#include "flashlayout.h"
#include "fx3bootimage.h"
#include "fx3image.h"
#include "qvrusb.h"

#include <QTest>
#include <cstring>

using namespace FlashLayout;

class TestCameraForms : public QObject
{
    Q_OBJECT

private slots:
    void firmwareVersion_data();
    void firmwareVersion();
    void fpgaVersion_data();
    void fpgaVersion();
    void serialNumber_data();
    void serialNumber();
    void connection();
    void headerRecord_data();
    void headerRecord();
    void headerChecksumIsSumOfBytes();
    void headerReadBack_data();
    void headerReadBack();
    void areaArithmetic_data();
    void areaArithmetic();
    void progressSequence_data();
    void progressSequence();
    void bootImageRules_data();
    void bootImageRules();
};

void TestCameraForms::firmwareVersion_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "V0";
    QTest::newRow("one digit") << 7 << "V7";
    QTest::newRow("two digits") << 45 << "V4.5";
    QTest::newRow("three digits") << 123 << "V1.2.3";
    QTest::newRow("largest") << 255 << "V2.5.5";
    QTest::newRow("inner zero") << 105 << "V1.0.5";
}

void TestCameraForms::firmwareVersion()
{
    QFETCH(int, version);
    QFETCH(QString, text);
    QCOMPARE(firmwareVersionText(uint8_t(version)), text);
}

void TestCameraForms::fpgaVersion_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<QString>("text");
    QTest::newRow("example") << 1 << 2301 << 12 << "V1.2301.1.2";
    QTest::newRow("zeros") << 0 << 0 << 0 << "V0.0.0";
    QTest::newRow("largest") << 255 << 0xFFFFFF << 255 << "V255.16777215.2.5.5";
    QTest::newRow("one digit c") << 3 << 70 << 9 << "V3.70.9";
}

void TestCameraForms::fpgaVersion()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(QString, text);
    QCOMPARE(fpgaVersionText(uint8_t(a), b, uint8_t(c)), text);
}

void TestCameraForms::serialNumber_data()
{
    QTest::addColumn<QByteArray>("buffer"); // the 64-byte buffer the caller zeroes
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray(64, '\0') << "";
    QByteArray twenty("QV2024ABCDEFGHIJKLMN");
    QTest::newRow("exactly 20 bytes") << twenty + QByteArray(44, '\0') << "QV2024ABCDEFGHIJKLMN";
    QTest::newRow("stops at first NUL") << QByteArray("12345\0"
                                                      "678",
                                                      9) +
                                               QByteArray(55, '\0')
                                        << "12345";
}

void TestCameraForms::serialNumber()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QString, text);
    QCOMPARE(serialNumberText(reinterpret_cast<const uint8_t*>(buffer.constData())), text);
}

void TestCameraForms::connection()
{
    QCOMPARE(connectionText(true), QString("USB3.0"));
    QCOMPARE(connectionText(false), QString("USB2.0"));
}

void TestCameraForms::headerRecord_data()
{
    QTest::addColumn<uint>("fileSize");
    QTest::addColumn<uint>("length");
    QTest::addColumn<int>("checksum");
    QTest::newRow("1 byte") << 1u << 257u << 370;
    QTest::newRow("1,000,000 bytes") << 1000000u << 1000256u << 514;
    QTest::newRow("largest") << 2621184u << 2621440u << (344 + 24 + 0x28); // 0x00280000
}

void TestCameraForms::headerRecord()
{
    QFETCH(uint, fileSize);
    QFETCH(uint, length);
    QFETCH(int, checksum);
    const HeaderRecord r = fpgaHeaderRecord(fileSize + FpgaFront);
    QCOMPARE(std::memcmp(r.data(), "FPGA:\0", 6), 0);
    auto u32 = [&r](int at) {
        return uint32_t(r[at]) | uint32_t(r[at + 1]) << 8 | uint32_t(r[at + 2]) << 16 |
               uint32_t(r[at + 3]) << 24;
    };
    QCOMPARE(u32(8), uint32_t(0x00180000));
    QCOMPARE(u32(12), uint32_t(length));
    QCOMPARE(int(headerChecksum(r)), checksum);
    QCOMPARE(int(r[20] | r[21] << 8), checksum);
    for (int i : {6, 7, 16, 17, 18, 19, 22, 23})
        QCOMPARE(int(r[i]), 0);
    for (int i = 24; i < 64; ++i)
        QCOMPARE(int(r[i]), 0);
}

void TestCameraForms::headerChecksumIsSumOfBytes()
{
    // The sum wraps at 16 bits and does not include the checksum field itself.
    for (uint32_t length : {257u, 0xFFFFFFFFu, 0x00FFFF00u, 1234567u}) {
        HeaderRecord r = fpgaHeaderRecord(length);
        const uint16_t stored = headerChecksum(r);
        r[20] = r[21] = 0;
        uint32_t sum = 0;
        for (uint8_t b : r)
            sum += b;
        QCOMPARE(stored, uint16_t(sum));
    }
}

// A record read back from the flash locates a bitstream only when it is one a write leaves.
void TestCameraForms::headerReadBack_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<uint>("length");
    auto bytes = [](const HeaderRecord& r) {
        return QByteArray(reinterpret_cast<const char*>(r.data()), 64);
    };
    // A record with one field changed and its checksum made right again.
    auto changed = [&](uint32_t written, int at, uint8_t value) {
        HeaderRecord r = fpgaHeaderRecord(written);
        r[size_t(at)] = value;
        r[20] = r[21] = 0;
        uint32_t sum = 0;
        for (uint8_t b : r)
            sum += b;
        r[20] = uint8_t(sum);
        r[21] = uint8_t(sum >> 8);
        return bytes(r);
    };
    HeaderRecord badSum = fpgaHeaderRecord(1000256);
    badSum[20] ^= 1;
    QTest::newRow("1-byte bitstream") << bytes(fpgaHeaderRecord(257)) << 257u;
    QTest::newRow("largest") << bytes(fpgaHeaderRecord(FpgaLimit)) << FpgaLimit;
    QTest::newRow("checksum off by one") << bytes(badSum) << 0u;
    QTest::newRow("text") << changed(1000256, 4, 0) << 0u;
    QTest::newRow("area start") << changed(1000256, 10, 0x19) << 0u;
    QTest::newRow("no bitstream behind the front") << bytes(fpgaHeaderRecord(FpgaFront)) << 0u;
    QTest::newRow("past the area") << bytes(fpgaHeaderRecord(FpgaLimit + 1)) << 0u;
    QTest::newRow("erased sector") << QByteArray(64, char(0xFF)) << 0u;
}

void TestCameraForms::headerReadBack()
{
    QFETCH(QByteArray, record);
    QFETCH(uint, length);
    HeaderRecord r{};
    std::memcpy(r.data(), record.constData(), r.size());
    QCOMPARE(fpgaHeaderLength(r), uint32_t(length));
}

void TestCameraForms::areaArithmetic_data()
{
    QTest::addColumn<uint>("length");
    QTest::addColumn<uint>("blocks");
    QTest::addColumn<uint>("chunks");
    QTest::newRow("1 byte") << 1u << 1u << 1u;
    QTest::newRow("5000") << 5000u << 1u << 2u;
    QTest::newRow("one chunk") << 4096u << 1u << 1u;
    QTest::newRow("one block") << 65536u << 1u << 16u;
    QTest::newRow("block and a byte") << 65537u << 2u << 17u;
    QTest::newRow("firmware limit") << 262144u << 4u << 64u;
    QTest::newRow("FPGA limit") << 2621440u << 40u << 640u;
}

void TestCameraForms::areaArithmetic()
{
    QFETCH(uint, length);
    QFETCH(uint, blocks);
    QFETCH(uint, chunks);
    QCOMPARE(blockCount(length), uint32_t(blocks));
    QCOMPARE(chunkCount(length), uint32_t(chunks));
}

void TestCameraForms::progressSequence_data()
{
    QTest::addColumn<uint>("length");
    QTest::addColumn<QList<int>>("sequence"); // after each block, 50, after each chunk, 100
    QTest::newRow("5000") << 5000u << QList<int>{50, 50, 50, 75, 100};
    QTest::newRow("3 blocks 33 chunks")
        << 131073u << QList<int>{16, 33, 50, 50, 50, 51, 53, 54, 56, 57, 59, 60, 62, 63, 65, 66, 68, 69, 71,
                                 72, 74, 75, 77, 78, 80, 81, 83, 84, 86, 87, 89, 90, 92, 93, 95, 96, 98, 100};
}

void TestCameraForms::progressSequence()
{
    QFETCH(uint, length);
    QFETCH(QList<int>, sequence);
    QList<int> seen;
    const uint32_t blocks = blockCount(length), chunks = chunkCount(length);
    for (uint32_t k = 0; k < blocks; ++k)
        seen << eraseProgress(k, blocks);
    seen << 50;
    for (uint32_t j = 1; j <= chunks; ++j)
        seen << chunkProgress(j, chunks);
    seen << 100;
    QCOMPARE(seen, sequence);
}

// One row per rule a firmware image must meet, each with the exact text that names what is wrong.
void TestCameraForms::bootImageRules_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("problem");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sections");

    QByteArray first(16, '\0');
    first.replace(0, 4, QByteArray("\xCD\xAB\x34\x12", 4)); // the data sum to 0x1234ABCD
    const Fx3Sections two{{0x40003000, first}, {0x00000100, QByteArray(8, '\0')}};
    const QByteArray good = fx3Assemble(two); // 56 bytes: sections at 4 and 28, terminator at 44
    auto withHeader = [&](const char* header) { return fx3Assemble(two, 0x40003000, QByteArray(header, 4)); };
    auto oneSection = [](uint32_t address, int length) {
        return fx3Assemble({{address, QByteArray(length, 'a')}});
    };
    QByteArray badSum = good;
    badSum[52] = char(0xCE);
    const QByteArray wrapping = fx3Assemble({{0x40003000, QByteArray("\xFF\xFF\xFF\xFF\x02\0\0\0", 8)}});

    using B = Fx3BootImage;
    QTest::newRow("valid: SYSMEM and ITCM") << good << int(B::NoProblem) << QString() << 2;
    QTest::newRow("valid: the whole area") << fx3Image(262144) << int(B::NoProblem) << QString() << 4;
    QTest::newRow("valid: the sum wraps") << wrapping << int(B::NoProblem) << QString() << 1;
    QTest::newRow("valid: up to the last SYSMEM word")
        << oneSection(0x4007FFF0, 16) << int(B::NoProblem) << QString() << 1;
    QTest::newRow("empty") << QByteArray() << int(B::Empty) << "the file is empty" << 0;
    QTest::newRow("too large") << fx3Image(262148) << int(B::TooLarge)
                               << "the file holds 262148 bytes; the firmware area takes at most 262144" << 0;
    QTest::newRow("signature") << withHeader("CX\x1C\xB0") << int(B::Signature)
                               << "it does not start with the FX3 boot-image signature \"CY\"" << 0;
    QTest::newRow("shorter than the header")
        << QByteArray("CY") << int(B::Signature)
        << "it does not start with the FX3 boot-image signature \"CY\"" << 0;
    QTest::newRow("control bits 7:6") << withHeader("CY\x5C\xB0") << int(B::ControlReserved)
                                      << "bImageCTL is 0x5C: its bits 7:6 must be 0" << 0;
    QTest::newRow("control bit 0") << withHeader("CY\x1D\xB0") << int(B::ControlData)
                                   << "bImageCTL is 0x1D: bit 0 marks a data image, not executable firmware"
                                   << 0;
    QTest::newRow("image type") << withHeader("CY\x1C\xB2") << int(B::ImageType)
                                << "bImageType is 0xB2, not 0xB0 (firmware with checksum)" << 0;
    QTest::newRow("section past the end") << good.left(20) << int(B::SectionTruncated)
                                          << "section 1 at offset 4 claims 16 bytes, but only 8 follow" << 0;
    QTest::newRow("section alignment") << oneSection(0x40003002, 8) << int(B::SectionAlignment)
                                       << "section 1 loads to 0x40003002, which is not a multiple of 4" << 0;
    QTest::newRow("section past SYSMEM")
        << oneSection(0x4007FFF8, 16) << int(B::SectionOutsideMemory)
        << "section 1 (16 bytes at 0x4007FFF8) lies outside ITCM (0x00000000-0x00003FFF) and SYSMEM "
           "(0x40000000-0x4007FFFF)"
        << 0;
    QTest::newRow("section between ITCM and SYSMEM")
        << oneSection(0x00003FFC, 8) << int(B::SectionOutsideMemory)
        << "section 1 (8 bytes at 0x00003FFC) lies outside ITCM (0x00000000-0x00003FFF) and SYSMEM "
           "(0x40000000-0x4007FFFF)"
        << 0;
    QTest::newRow("no section") << fx3Assemble({}) << int(B::NoSections)
                                << "it holds no section: there is no firmware to load" << 0;
    QTest::newRow("no terminator")
        << good.left(44) << int(B::NoTerminator)
        << "it ends at offset 44 without a terminator (a section of length 0 naming the entry point)" << 2;
    QTest::newRow("entry point") << fx3Assemble(two, 0x20000000) << int(B::EntryPoint)
                                 << "the entry point 0x20000000 lies outside ITCM and SYSMEM" << 2;
    QTest::newRow("no checksum") << good.left(52) << int(B::NoChecksum)
                                 << "it ends at offset 52, where the checksum should follow the terminator"
                                 << 2;
    QTest::newRow("checksum") << badSum << int(B::ChecksumMismatch)
                              << "checksum 0x1234ABCD, the image says 0x1234ABCE" << 2;
    QTest::newRow("bytes after the checksum") << good + QByteArray(4, '\0') << int(B::TrailingBytes)
                                              << "4 bytes follow the checksum at offset 56" << 2;
}

void TestCameraForms::bootImageRules()
{
    QFETCH(QByteArray, image);
    QFETCH(int, problem);
    QFETCH(QString, text);
    QFETCH(int, sections);
    const Fx3BootImage check = Fx3BootImage::check(image);
    QCOMPARE(int(check.problem), problem);
    QCOMPARE(check.problemText(), text);
    QCOMPARE(check.isValid(), problem == Fx3BootImage::NoProblem);
    QCOMPARE(int(check.sections.size()), sections);
    if (check.isValid()) {
        int data = 0;
        for (const Fx3Section& s : check.sections) {
            QCOMPARE(s.length % 4, 0);
            QVERIFY(s.offset + s.length <= image.size());
            data += s.length;
        }
        QCOMPARE(check.dataBytes, data);
        QCOMPARE(image.size(), 4 + 8 * (sections + 1) + data + 4);
    }
}

QTEST_APPLESS_MAIN(TestCameraForms)
#include "tst_cameraforms.moc"
