// Facts of the FX3 chip that both the camera transport and the image check use. Plain C++, so the
// Windows check compiles it without Qt.
#ifndef FX3_H
#define FX3_H

#include <cstdint>

namespace Fx3 {
// The chip's own USB boot loader, which a chip without a usable flash image starts. It is no camera:
// it answers the standard requests and vendor request 0xA0 (RAM) only.
constexpr uint16_t BootLoaderVendorId = 0x04B4;
constexpr uint16_t BootLoaderProductId = 0x00F3;
inline bool isBootLoader(uint16_t vendorId, uint16_t productId)
{
    return vendorId == BootLoaderVendorId && productId == BootLoaderProductId;
}
// Memory a section may load into (end exclusive).
constexpr uint32_t ItcmStart = 0x00000000;
constexpr uint32_t ItcmEnd = 0x00004000;
constexpr uint32_t SysmemStart = 0x40000000;
constexpr uint32_t SysmemEnd = 0x40080000;

// True when [address, address + length) lies inside ITCM or inside SYSMEM.
inline bool inRam(uint64_t address, uint64_t length)
{
    const uint64_t end = address + length;
    return (address >= ItcmStart && end <= ItcmEnd) || (address >= SysmemStart && end <= SysmemEnd);
}
} // namespace Fx3

#endif
