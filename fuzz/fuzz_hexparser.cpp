// The wheel firmware file parser on arbitrary file contents. Besides crashes, leaks and hangs it
// checks what every result must hold: an accepted file re-serialised parses to the same image, every
// accepted record passes the checksum rule, and a refused file leaves no image behind.
#include "hexparser.h"

#include <QByteArray>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "HEX parser invariant broken: %s\n", what);
        std::abort();
    }
}

HexParseResult parse(const uint8_t* data, size_t size)
{
    return parseHexData(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));
}

QByteArray hexLine(const HexRecord& r)
{
    QByteArray line = ":" + QByteArray::number(r.length, 16).rightJustified(2, '0') +
                      QByteArray::number(r.address, 16).rightJustified(4, '0') +
                      QByteArray::number(r.type, 16).rightJustified(2, '0') + r.data.toHex() +
                      QByteArray::number(r.checksum, 16).rightJustified(2, '0');
    return line.toUpper() + "\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const HexParseResult result = parse(data, size);
    check(!hexParseLogText(result).isEmpty(), "every result has its log line");
    check(result.error != HexParseError::OpenError && result.error != HexParseError::FileTooLarge,
          "text in memory is neither opened nor measured");

    int typeFour = 0;
    int imageSize = 0;
    for (const HexRecord& r : result.records) {
        check(r.data.size() == r.length, "record data as long as its byte count");
        uint8_t sum = uint8_t(r.length + (r.address >> 8) + (r.address & 0xFF) + r.type + r.checksum);
        for (char b : r.data)
            sum = uint8_t(sum + uint8_t(b));
        check(sum == 0, "accepted record passes the checksum rule");
        typeFour += r.type == 0x04;
        imageSize += r.type == 0x00 ? r.length : 0;
    }

    if (!result.ok()) {
        check(result.image.isEmpty() && result.startAddress == 0, "a refused file leaves no image");
        const bool perLine = result.error != HexParseError::ImageError;
        check(perLine == (result.line > 0), "per-line errors carry their line, the image error none");
        check(!perLine || result.records.size() < result.line, "no record taken from the failing line on");
        return 0;
    }

    check(typeFour == 1 && result.records.size() >= 2, "one type-04 record and a second record");
    const HexRecord& upper = result.records.first();
    check(upper.type == 0x04 && upper.length >= 2, "the first record gives the upper address half");
    const uint32_t start = uint32_t(uint8_t(upper.data[0])) << 24 | uint32_t(uint8_t(upper.data[1])) << 16 |
                           result.records.at(1).address;
    check(result.startAddress == start, "start address from the first two records");
    check(result.image.size() == imageSize, "image is every data record's payload");

    // The records written out again in canonical form parse to the same result.
    QByteArray again;
    for (const HexRecord& r : result.records)
        again += hexLine(r);
    const HexParseResult second =
        parse(reinterpret_cast<const uint8_t*>(again.constData()), size_t(again.size()));
    check(second.ok(), "re-serialised file parses");
    check(second.image == result.image && second.startAddress == result.startAddress,
          "re-serialised file gives the same image");
    check(second.records.size() == result.records.size(), "re-serialised file gives the same records");
    return 0;
}
