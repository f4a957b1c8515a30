// The wheel firmware HEX parser: files from binutils objcopy and hand-made faulty files.
#include "devizuvezwritefwobject.h"
#include "hexparser.h"
#include "hexrecord.h"
#include "wheelimagerules.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

QByteArray upper0800()
{
    return hexRecord(0x04, 0, QByteArray::fromHex("0800"));
}
QByteArray data16(uint16_t address, char fill)
{
    return hexRecord(0x00, address, QByteArray(16, fill));
}
QByteArray endRecord()
{
    return hexRecord(0x01, 0, {});
}

QByteArray lines(const QList<QByteArray>& list)
{
    return list.join('\n') + '\n';
}

// Runs a program and waits for it; true when it exits with status 0. posix_spawn rather than
// QProcess: QProcess starts children with clone(CLONE_PIDFD), which qemu user-mode emulation refuses,
// and this test also runs there for the arm64 build.
bool runProgram(const QByteArray& program, const QStringList& arguments)
{
    QList<QByteArray> args{program};
    for (const QString& argument : arguments)
        args << QFile::encodeName(argument);
    std::vector<char*> argv;
    for (QByteArray& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.constData(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestHexParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void objcopyFiles_data();
    void objcopyFiles();
    void handMade_data();
    void handMade();
    void recordsKeptInFileOrder();
    void unopenableFile_data();
    void unopenableFile();
    void sizeLimit_data();
    void sizeLimit();
    void imageRules_data();
    void imageRules();
    void recordSequence_data();
    void recordSequence();

private:
    QString writeFile(const QString& name, const QByteArray& contents);
    QByteArray objcopyHex(const QByteArray& binary, uint32_t address);

    QTemporaryDir dir;
};

void TestHexParser::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(OBJCOPY_PROGRAM)).isExecutable(), "binutils objcopy is needed");
}

QString TestHexParser::writeFile(const QString& name, const QByteArray& contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        return QString();
    return path;
}

// The binary as an Intel HEX file made by binutils.
QByteArray TestHexParser::objcopyHex(const QByteArray& binary, uint32_t address)
{
    const QString in = writeFile("image.bin", binary);
    const QString out = dir.filePath("image.hex");
    if (!runProgram(OBJCOPY_PROGRAM, {"-I", "binary", "-O", "ihex", "--change-addresses",
                                      QStringLiteral("0x%1").arg(address, 0, 16), in, out}))
        return QByteArray();
    QFile file(out);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestHexParser::objcopyFiles_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<uint>("address");
    QTest::addColumn<QString>("variant");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("1 byte") << 1 << 0x08004000u << "" << true;
    QTest::newRow("33 bytes") << 33 << 0x08004000u << "" << true;
    QTest::newRow("1000 bytes") << 1000 << 0x08004000u << "" << true;
    QTest::newRow("46048 bytes") << 46048 << 0x08004000u << "" << true;
    QTest::newRow("46048 bytes, lower case") << 46048 << 0x08004000u << "lower" << true;
    // objcopy ends its lines with CR LF; the same file with LF only.
    QTest::newRow("1000 bytes, LF") << 1000 << 0x08004000u << "lf" << true;
    QTest::newRow("1000 bytes, no final line end") << 1000 << 0x08004000u << "noeol" << true;
    // objcopy leaves out the extended-address record when the upper half is 0.
    QTest::newRow("1000 bytes at 0x00004000") << 1000 << 0x00004000u << "" << false;
    // Crossing a 64 KiB boundary brings a second extended-address record.
    QTest::newRow("crossing 0x08010000") << 4096 << 0x0800F800u << "" << false;
}

void TestHexParser::objcopyFiles()
{
    QFETCH(int, size);
    QFETCH(uint, address);
    QFETCH(QString, variant);
    QFETCH(bool, accepted);

    const QByteArray binary = randomBytes(size, uint32_t(size));
    QByteArray hex = objcopyHex(binary, address);
    QVERIFY(hex.startsWith(':'));
    QVERIFY(hex.endsWith("\r\n"));
    if (variant == "lower")
        hex = hex.toLower();
    else if (variant == "lf")
        hex.replace("\r\n", "\n");
    else if (variant == "noeol")
        hex.chop(2);

    const HexParseResult result = parseHexFile(writeFile("fw.hex", hex));
    if (!accepted) {
        QCOMPARE(result.error, HexParseError::ImageError);
        QCOMPARE(hexParseLogText(result),
                 QStringLiteral("Parse firmware file errorr: PARSE_FORMAT_ERROR!!! Code: 04"));
        return;
    }
    QCOMPARE(hexParseLogText(result), QStringLiteral("Parse firmware file OK!"));
    QCOMPARE(result.startAddress, address);
    QCOMPARE(result.image, binary);
    QCOMPARE(result.records.size(), hex.count('\n') + (variant == "noeol" ? 1 : 0));
    QCOMPARE(wheelRecordSequenceProblem(result.records, result.startAddress), QString());
}

void TestHexParser::handMade_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("log");
    QTest::addColumn<uint>("start");
    QTest::addColumn<QByteArray>("image");

    const QByteArray a(16, 'a'), b(16, 'b');
    const QString ok = "Parse firmware file OK!";
    const QString code04 = "Parse firmware file errorr: PARSE_FORMAT_ERROR!!! Code: 04";
    auto format = [](int line) {
        return QString("Parse firmware file error: PARSE_FORMAT_ERROR!!! Code: %1").arg(line);
    };
    auto dataLen = [](int line) {
        return QString("Parse firmware file error: PARSE_DATA_LEN_ERROR!!! Code: %1").arg(line);
    };
    auto checksum = [](int line) {
        return QString("Parse firmware file error: PARSE_CHECKSUM_ERROR!!! Code: %1").arg(line);
    };
    auto endLine = [](int line) {
        return QString("Parse firmware file error: PARSE_ENDLINE_ERROR!!! Code: %1").arg(line);
    };

    QTest::newRow("gap closes up") << lines({upper0800(), data16(0x4000, 'a'), data16(0x4020, 'b'),
                                             endRecord()})
                                   << ok << 0x08004000u << a + b;
    QTest::newRow("records going backwards stay in file order")
        << lines({upper0800(), data16(0x4010, 'a'), data16(0x4000, 'b'), endRecord()}) << ok << 0x08004010u
        << a + b;
    QTest::newRow("no end record") << lines({upper0800(), data16(0x4000, 'a')}) << ok << 0x08004000u << a;
    QTest::newRow("other record types left out of the image")
        << lines({upper0800(), data16(0x4000, 'a'), hexRecord(0x05, 0, QByteArray::fromHex("08004000")),
                  data16(0x4010, 'b'), endRecord()})
        << ok << 0x08004000u << a + b;
    QTest::newRow("empty data record")
        << lines({upper0800(), hexRecord(0x00, 0x4000, {}), data16(0x4000, 'a')}) << ok << 0x08004000u << a;

    QTest::newRow("blank line in the middle")
        << lines({upper0800(), data16(0x4000, 'a'), "", data16(0x4010, 'b'), endRecord()}) << format(3) << 0u
        << QByteArray();
    QTest::newRow("CR LF blank line in the middle")
        << lines({upper0800(), data16(0x4000, 'a'), "", endRecord()}).replace("\n", "\r\n") << format(3) << 0u
        << QByteArray();
    QTest::newRow("no colon") << lines({upper0800(), data16(0x4000, 'a').mid(1)}) << format(2) << 0u
                              << QByteArray();
    QTest::newRow("line too short for the type")
        << lines({upper0800(), ":1040000"}) << format(2) << 0u << QByteArray();
    QTest::newRow("line without checksum")
        << lines({upper0800(), ":00000001"}) << format(2) << 0u << QByteArray();
    QTest::newRow("non-hex length") << lines({upper0800(), "G" + data16(0x4000, 'a')}) << format(2) << 0u
                                    << QByteArray();
    QTest::newRow("non-hex data byte")
        << lines({upper0800(), data16(0x4000, 'a').replace(13, 1, "Z")}) << format(2) << 0u << QByteArray();
    QTest::newRow("non-hex checksum")
        << lines({upper0800(), data16(0x4000, 'a').replace(41, 1, "x")}) << format(2) << 0u << QByteArray();
    QTest::newRow("sign in a field") << lines({upper0800(), ":+1" + data16(0x4000, 'a').mid(3)}) << format(2)
                                     << 0u << QByteArray();
    QTest::newRow("trailing spaces") << lines({upper0800(), data16(0x4000, 'a') + "  ", endRecord()})
                                     << format(2) << 0u << QByteArray();
    QTest::newRow("trailing space") << lines({upper0800(), data16(0x4000, 'a') + " ", endRecord()})
                                    << format(2) << 0u << QByteArray();

    QByteArray odd = data16(0x4000, 'a');
    odd.remove(20, 1);
    QTest::newRow("odd data length") << lines({upper0800(), odd}) << dataLen(2) << 0u << QByteArray();
    QByteArray shortData = data16(0x4000, 'a');
    shortData.remove(20, 2);
    QTest::newRow("one data byte missing")
        << lines({upper0800(), data16(0x4000, 'b'), shortData}) << dataLen(3) << 0u << QByteArray();
    QTest::newRow("one data byte too many")
        << lines({upper0800(), data16(0x4000, 'a').insert(9, "00")}) << dataLen(2) << 0u << QByteArray();

    QTest::newRow("bad checksum") << lines({upper0800(), data16(0x4000, 'a'), hexRecord(0x00, 0x4010, b, 1)})
                                  << checksum(3) << 0u << QByteArray();
    QTest::newRow("bad checksum on the address record")
        << lines({hexRecord(0x04, 0, QByteArray::fromHex("0800"), -1)}) << checksum(1) << 0u << QByteArray();

    QTest::newRow("blank line after the end record")
        << lines({upper0800(), data16(0x4000, 'a'), endRecord(), ""}) << endLine(4) << 0u << QByteArray();
    QTest::newRow("CR LF blank line after the end record")
        << lines({upper0800(), data16(0x4000, 'a'), endRecord(), ""}).replace("\n", "\r\n") << endLine(4)
        << 0u << QByteArray();
    QTest::newRow("record after the end record")
        << lines({upper0800(), endRecord(), data16(0x4000, 'a')}) << endLine(3) << 0u << QByteArray();
    QTest::newRow("CR LF after the end record")
        << lines({upper0800(), data16(0x4000, 'a'), endRecord()}).replace("\n", "\r\n") << ok << 0x08004000u
        << a;

    QTest::newRow("empty file") << QByteArray() << code04 << 0u << QByteArray();
    QTest::newRow("no address record")
        << lines({data16(0x4000, 'a'), endRecord()}) << code04 << 0u << QByteArray();
    QTest::newRow("second address record")
        << lines({upper0800(), data16(0x4000, 'a'), hexRecord(0x04, 0, QByteArray::fromHex("0801")),
                  data16(0, 'b')})
        << code04 << 0u << QByteArray();
    QTest::newRow("address record not first")
        << lines({data16(0x4000, 'a'), upper0800(), data16(0x4010, 'b')}) << code04 << 0u << QByteArray();
    QTest::newRow("address record alone") << lines({upper0800()}) << code04 << 0u << QByteArray();
    QTest::newRow("address record with one byte")
        << lines({hexRecord(0x04, 0, QByteArray::fromHex("08")), data16(0x4000, 'a')}) << code04 << 0u
        << QByteArray();
    QTest::newRow("address record without data")
        << lines({hexRecord(0x04, 0, {}), data16(0x4000, 'a')}) << code04 << 0u << QByteArray();
}

void TestHexParser::handMade()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, log);
    QFETCH(uint, start);
    QFETCH(QByteArray, image);

    const HexParseResult result = parseHexFile(writeFile("case.hex", contents));
    QCOMPARE(hexParseLogText(result), log);
    QCOMPARE(result.ok(), log == "Parse firmware file OK!");
    QCOMPARE(result.startAddress, start);
    QCOMPARE(result.image, image);
}

void TestHexParser::recordsKeptInFileOrder()
{
    // The records accepted before a failing line stay available, with their fields.
    const QByteArray contents = lines({upper0800(), hexRecord(0x00, 0x4010, "xyz"),
                                       hexRecord(0x00, 0x4000, {}), hexRecord(0x00, 0x4020, "q", 2)});
    const HexParseResult result = parseHexFile(writeFile("records.hex", contents));
    QCOMPARE(result.error, HexParseError::ChecksumError);
    QCOMPARE(result.line, 4);
    QCOMPARE(result.records.size(), 3);
    QCOMPARE(result.records[0].type, uint8_t(0x04));
    QCOMPARE(result.records[0].data, QByteArray::fromHex("0800"));
    QCOMPARE(result.records[0].checksum, uint8_t(0xF2));
    QCOMPARE(result.records[1].length, uint8_t(3));
    QCOMPARE(result.records[1].address, uint16_t(0x4010));
    QCOMPARE(result.records[1].data, QByteArray("xyz"));
    QCOMPARE(result.records[2].length, uint8_t(0));
    QVERIFY(result.records[2].data.isEmpty());
}

void TestHexParser::unopenableFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << "no-such-file.hex";
    QTest::newRow("folder") << ".";
    // Opening a FIFO without a writer would block for ever.
    QTest::newRow("fifo") << "fifo.hex";
}

void TestHexParser::unopenableFile()
{
    QFETCH(QString, path);
    if (path == "fifo.hex")
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(path)).constData(), 0600), 0);
    const HexParseResult result = parseHexFile(dir.filePath(path));
    QCOMPARE(hexParseLogText(result), QStringLiteral("Parse firmware file error: PARSE_OPEN_ERROR!!!"));
    QVERIFY(result.records.isEmpty());
}

void TestHexParser::sizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("largest taken") << int(MaxHexFileSize);
    QTest::newRow("one byte more") << int(MaxHexFileSize) + 1;
}

// A file up to the limit is read and parsed; one byte more is refused from its size alone.
void TestHexParser::sizeLimit()
{
    QFETCH(int, size);
    const HexParseResult result = parseHexFile(writeFile("big.hex", QByteArray(size, 'x')));
    if (size <= MaxHexFileSize) {
        QCOMPARE(result.error, HexParseError::FormatError);
        QCOMPARE(result.line, 1);
        return;
    }
    QCOMPARE(result.error, HexParseError::FileTooLarge);
    QCOMPARE(hexParseLogText(result),
             QStringLiteral("Parse firmware file error: PARSE_SIZE_ERROR!!! The file has 1048577 bytes, a "
                            "wheel firmware file has at most 1048576 bytes."));
    QVERIFY(result.records.isEmpty());
    QVERIFY(result.image.isEmpty());
}

void TestHexParser::imageRules_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<uint>("size");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<bool>("writerTakes");

    const QString tooLarge = "ERROR: the firmware image has %1 bytes, the wheel takes at most 46048 bytes!";
    const QString misplaced = "ERROR: the firmware image starts at 0x%1, the wheel's firmware must start at "
                              "an address ending in 4000!";
    const QString empty = "ERROR: the firmware file(*.hex) holds no data to write to the wheel!";
    QTest::newRow("1 byte") << 0x08004000u << 1u << "" << true;
    QTest::newRow("largest") << 0x08004000u << 46048u << "" << true;
    QTest::newRow("upper half 0") << 0x00004000u << 100u << "" << true;
    QTest::newRow("upper half FFFF") << 0xFFFF4000u << 100u << "" << true;
    // The writer itself takes an empty image and then writes nothing: the workflow refuses it.
    QTest::newRow("empty") << 0x08004000u << 0u << empty << true;
    QTest::newRow("one byte too many") << 0x08004000u << 46049u << tooLarge.arg(46049) << false;
    QTest::newRow("whole flash") << 0x08004000u << 46080u << tooLarge.arg(46080) << false;
    QTest::newRow("start 0x08004100") << 0x08004100u << 100u << misplaced.arg("08004100") << false;
    QTest::newRow("start 0x0800A000") << 0x0800A000u << 100u << misplaced.arg("0800A000") << false;
    QTest::newRow("start 0x08000000") << 0x08000000u << 46048u << misplaced.arg("08000000") << false;
    QTest::newRow("empty and misplaced") << 0x08000000u << 0u << empty << false;
}

// The rules checked before the wheel leaves its firmware, against the bootloader writer's own.
void TestHexParser::imageRules()
{
    QFETCH(uint, start);
    QFETCH(uint, size);
    QFETCH(QString, problem);
    QFETCH(bool, writerTakes);

    QCOMPARE(wheelImageProblem(start, size), problem);
    const QByteArray image(int(size), '\x5A');
    DevizuvEZWriteFWObject writer(0); // no bootloader: takes data without a device
    QCOMPARE(writer.SetFirmwareData(start, reinterpret_cast<const uint8_t*>(image.constData()), size),
             writerTakes);
}

void TestHexParser::recordSequence_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("line"); // of the first record out of sequence; 0: none
    QTest::addColumn<uint>("address");
    QTest::addColumn<uint>("expected");

    const QByteArray end = endRecord();
    const QByteArray five = hexRecord(0x05, 0, QByteArray::fromHex("08004001"));
    const QByteArray empty = hexRecord(0x00, 0x7000, {});
    const QByteArray odd = hexRecord(0x00, 0x4010, QByteArray(7, 'o'));
    QTest::newRow("contiguous") << lines({upper0800(), data16(0x4000, 'a'), data16(0x4010, 'b'), end}) << 0
                                << 0u << 0u;
    QTest::newRow("contiguous, other records and empty data between")
        << lines({upper0800(), data16(0x4000, 'a'), five, empty, odd, data16(0x4017, 'b'), end}) << 0 << 0u
        << 0u;
    QTest::newRow("contiguous, CR LF")
        << lines({upper0800(), data16(0x4000, 'a'), data16(0x4010, 'b')}).replace("\n", "\r\n") << 0 << 0u
        << 0u;
    QTest::newRow("gap") << lines({upper0800(), data16(0x4000, 'a'), data16(0x5000, 'b'), end}) << 3
                         << 0x08005000u << 0x08004010u;
    QTest::newRow("gap of one byte") << lines({upper0800(), data16(0x4000, 'a'), data16(0x4011, 'b')}) << 3
                                     << 0x08004011u << 0x08004010u;
    QTest::newRow("backwards") << lines({upper0800(), data16(0x4000, 'a'), data16(0x4010, 'b'),
                                         data16(0x3FF0, 'c')})
                               << 4 << 0x08003FF0u << 0x08004020u;
    QTest::newRow("overlap") << lines({upper0800(), data16(0x4000, 'a'), odd, data16(0x4010, 'b')}) << 4
                             << 0x08004010u << 0x08004017u;
    QTest::newRow("same record twice")
        << lines({upper0800(), data16(0x4000, 'a'), data16(0x4000, 'a')}) << 3 << 0x08004000u << 0x08004010u;
    // The start address comes from the second record; a data record elsewhere is the first out of line.
    QTest::newRow("second record no data")
        << lines({upper0800(), hexRecord(0x05, 0x4000, QByteArray::fromHex("08004001")), data16(0x4100, 'a')})
        << 3 << 0x08004100u << 0x08004000u;
    QTest::newRow("gap after empty lines of other kinds")
        << lines({upper0800(), data16(0x4000, 'a'), five, five, data16(0x4020, 'b')}) << 5 << 0x08004020u
        << 0x08004010u;
    // A record past the end of the 64 KiB window: with one address record it wraps to the window's start.
    QTest::newRow("past the window") << lines({hexRecord(0x04, 0, QByteArray::fromHex("0800")),
                                               hexRecord(0x00, 0xFFF0, QByteArray(16, 'a')),
                                               hexRecord(0x00, 0x0000, QByteArray(16, 'b'))})
                                     << 3 << 0x08000000u << 0x08010000u;
}

// The parser closes gaps; the rule refuses every file whose bytes would then land elsewhere than
// it says, and names the first record that does.
void TestHexParser::recordSequence()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, line);
    QFETCH(uint, address);
    QFETCH(uint, expected);

    const HexParseResult result = parseHexData(contents);
    QVERIFY2(result.ok(), qPrintable(hexParseLogText(result)));
    const QString problem = wheelRecordSequenceProblem(result.records, result.startAddress);
    if (!line) {
        QCOMPARE(problem, QString());
        return;
    }
    QCOMPARE(problem,
             QStringLiteral("ERROR: line %1 of the firmware file(*.hex) holds data for address 0x%2, "
                            "expected 0x%3: its records must follow each other without gaps or "
                            "overlaps!")
                 .arg(line)
                 .arg(QString::number(address, 16).rightJustified(8, QLatin1Char('0')).toUpper(),
                      QString::number(expected, 16).rightJustified(8, QLatin1Char('0')).toUpper()));
}

QTEST_GUILESS_MAIN(TestHexParser)
#include "tst_hexparser.moc"
