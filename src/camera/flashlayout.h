// Camera flash layout, the FPGA header record and the progress arithmetic of an image write.
#ifndef FLASHLAYOUT_H
#define FLASHLAYOUT_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace FlashLayout {

constexpr uint32_t FirmwareStart = 0x000000;
constexpr uint32_t FirmwareLimit = 0x40000; // 262,144 bytes
constexpr uint32_t HeaderStart = 0x041000;  // alone in its 4 KiB sector
constexpr uint32_t FpgaStart = 0x180000;
constexpr uint32_t FpgaLimit = 0x280000; // ends at 0x400000
constexpr uint32_t FpgaFront = 256;      // 0xFF bytes in front of the bitstream
constexpr uint32_t FlashEnd = 0x400000;  // 4 MiB
constexpr uint32_t BlockSize = 65536;
constexpr uint32_t SectorSize = 4096;
constexpr uint32_t PageSize = 256;
constexpr uint32_t ChunkSize = 4096;
constexpr unsigned ChunkPauseMs = 20; // after each page write, before the first status read

constexpr uint32_t HeaderSize = 64;
using HeaderRecord = std::array<uint8_t, HeaderSize>;

// The 64-byte record that tells the camera where the bitstream lies: "FPGA:" NUL, the area start
// and the written length (file size + 256) as little-endian u32 at 8 and 12, and at 20 the u16 sum
// of all record bytes taken while that field is 0.
inline HeaderRecord fpgaHeaderRecord(uint32_t writtenLength)
{
    HeaderRecord r{};
    const char tag[] = "FPGA:";
    for (int i = 0; i < 6; ++i)
        r[std::size_t(i)] = uint8_t(tag[i]);
    auto putU32 = [&r](std::size_t at, uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i)
            r[at + i] = uint8_t(v >> (8 * i));
    };
    putU32(8, FpgaStart);
    putU32(12, writtenLength);
    uint32_t sum = 0;
    for (uint8_t b : r)
        sum += b;
    r[20] = uint8_t(sum);
    r[21] = uint8_t(sum >> 8);
    return r;
}

inline uint16_t headerChecksum(const HeaderRecord& r)
{
    return uint16_t(r[20] | (r[21] << 8));
}

// The written length (front + bitstream) that a record read back from the flash names, or 0 when the
// record is not one that an FPGA write leaves: wrong text, area start or checksum, or a length that
// holds no bitstream or leaves the area.
inline uint32_t fpgaHeaderLength(const HeaderRecord& r)
{
    const char tag[] = "FPGA:";
    for (std::size_t i = 0; i < 6; ++i)
        if (r[i] != uint8_t(tag[i]))
            return 0;
    auto u32 = [&r](std::size_t at) {
        return uint32_t(r[at]) | uint32_t(r[at + 1]) << 8 | uint32_t(r[at + 2]) << 16 |
               uint32_t(r[at + 3]) << 24;
    };
    uint32_t sum = 0;
    for (std::size_t i = 0; i < HeaderSize; ++i)
        sum += (i == 20 || i == 21) ? 0 : r[i];
    if (u32(8) != FpgaStart || uint16_t(sum) != headerChecksum(r))
        return 0;
    const uint32_t length = u32(12);
    return length > FpgaFront && length <= FpgaLimit ? length : 0;
}

inline uint32_t blockCount(uint32_t length)
{
    return (length + BlockSize - 1) / BlockSize;
}

inline uint32_t chunkCount(uint32_t length)
{
    return length / ChunkSize + (length % ChunkSize ? 1 : 0);
}

// Progress after erasing block k (0-based) of blocks: 0 to 50.
inline uint8_t eraseProgress(uint32_t k, uint32_t blocks)
{
    return uint8_t((k + 1) * 50 / blocks);
}

// Progress after chunk j (1-based) of chunks: counts the chunks finished before this one.
inline uint8_t chunkProgress(uint32_t j, uint32_t chunks)
{
    return uint8_t(50 + (j - 1) * 50 / chunks);
}

} // namespace FlashLayout

#endif
