#include "fpgafilekind.h"

#include <algorithm>

FpgaFileKind fpgaFileKind(const QByteArray& contents)
{
    if (contents.size() >= 4 && contents.startsWith("CY") && uchar(contents.at(3)) >= 0xB0 &&
        uchar(contents.at(3)) <= 0xB2)
        return FpgaFileKind::BootImage;
    if (contents.startsWith(':') && std::all_of(contents.begin(), contents.end(), [](char c) {
            const uchar u = uchar(c);
            return (u >= 0x20 && u < 0x7F) || u == '\t' || u == '\r' || u == '\n';
        }))
        return FpgaFileKind::IntelHex;
    return FpgaFileKind::Other;
}
