// Files that are plainly not an FPGA bitstream, refused for the FPGA area before anything is erased.
// The bitstream's own format is the camera's business: only other kinds of file are recognised.
#ifndef FPGAFILEKIND_H
#define FPGAFILEKIND_H

#include <QByteArray>

enum class FpgaFileKind
{
    Other,     // not recognised as another kind: written as a bitstream
    BootImage, // an FX3 boot image: "CY", then an image type 0xB0 to 0xB2 at offset 3
    IntelHex,  // Intel HEX text: ':' first, then printable text and line ends only
};

// An empty file is Other here; the write refuses it as it refuses every empty file.
FpgaFileKind fpgaFileKind(const QByteArray& contents);

#endif
