// Intel HEX text for tests and benchmarks.
#ifndef HEXRECORD_H
#define HEXRECORD_H

#include <QByteArray>
#include <cstdint>

// One record line without its line end, in upper case, checksum computed; `tweak` is added to the
// checksum to make it wrong.
inline QByteArray hexRecord(uint8_t type, uint16_t address, const QByteArray& data, int tweak = 0)
{
    uint8_t sum = uint8_t(data.size() + (address >> 8) + (address & 0xFF) + type);
    for (char c : data)
        sum = uint8_t(sum + uint8_t(c));
    const uint8_t checksum = uint8_t(0x100 - sum + tweak);
    QByteArray line = ":";
    line += QByteArray::number(data.size(), 16).rightJustified(2, '0');
    line += QByteArray::number(address, 16).rightJustified(4, '0');
    line += QByteArray::number(type, 16).rightJustified(2, '0');
    line += data.toHex();
    line += QByteArray::number(checksum, 16).rightJustified(2, '0');
    return line.toUpper();
}

#endif
