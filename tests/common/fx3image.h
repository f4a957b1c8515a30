// FX3 boot images for tests: valid ones of an exact size, and the pieces to build broken ones.
#ifndef FX3IMAGE_H
#define FX3IMAGE_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <cstdint>
#include <random>

inline void fx3PutU32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(uint8_t(value >> (8 * i))));
}

inline uint32_t fx3WordSum(const QByteArray& data)
{
    uint32_t sum = 0;
    for (int i = 0; i + 4 <= data.size(); i += 4)
        sum += uint32_t(uint8_t(data[i])) | uint32_t(uint8_t(data[i + 1])) << 8 |
               uint32_t(uint8_t(data[i + 2])) << 16 | uint32_t(uint8_t(data[i + 3])) << 24;
    return sum;
}

using Fx3Sections = QList<QPair<uint32_t, QByteArray>>; // load address, data

// "CY", control, type, the sections, the terminator with `entry` and the checksum of the data.
inline QByteArray fx3Assemble(const Fx3Sections& sections, uint32_t entry = 0x40003000,
                              const QByteArray& header = QByteArray("CY\x1C\xB0", 4))
{
    QByteArray image = header;
    uint32_t sum = 0;
    for (const auto& section : sections) {
        fx3PutU32(image, uint32_t(section.second.size() / 4));
        fx3PutU32(image, section.first);
        image += section.second;
        sum += fx3WordSum(section.second);
    }
    fx3PutU32(image, 0);
    fx3PutU32(image, entry);
    fx3PutU32(image, sum);
    return image;
}

// A valid image of exactly `size` bytes (a multiple of 4, at least 28): pseudo-random data from
// `seed` in sections of at most 64 KiB loading one after the other from 0x40003000. With a version
// of 0 to 255 the data start with the emulator's version tag "QVFW" and that byte.
inline QByteArray fx3Image(int size, uint32_t seed = 1, int version = -1)
{
    const int overhead = 4 + 8 + 4; // header, terminator, checksum
    int sectionCount = 1;
    while (size - overhead - 8 * sectionCount > 65536 * sectionCount)
        ++sectionCount;
    int data = size - overhead - 8 * sectionCount;
    std::mt19937 random(seed);
    Fx3Sections sections;
    uint32_t address = 0x40003000;
    for (int i = 0; i < sectionCount; ++i) {
        const int length = i + 1 < sectionCount ? 65536 : data;
        QByteArray bytes(length, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(random());
        sections.append({address, bytes});
        address += uint32_t(length);
        data -= length;
    }
    if (version >= 0 && !sections.isEmpty() && sections[0].second.size() >= 8)
        sections[0].second.replace(0, 8, QByteArray("QVFW") + char(version) + QByteArray(3, '\0'));
    return fx3Assemble(sections);
}

#endif
