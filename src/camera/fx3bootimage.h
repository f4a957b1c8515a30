// FX3 boot images (*.img): the structure the chip's ROM loads from flash or takes from the USB boot
// loader, checked before anything is written, and the sections a RAM load sends.
//
// Layout (all 32-bit fields little-endian): "CY", bImageCTL, bImageType, then sections of
// dLength (32-bit words), dAddress and the data, then a terminator (dLength 0, dAddress = entry
// point) and the wrapping 32-bit sum of all section data words. Nothing follows the sum.
#ifndef FX3BOOTIMAGE_H
#define FX3BOOTIMAGE_H

#include "flashlayout.h"
#include "fx3.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <cstdint>
#include <vector>

struct Fx3Section
{
    uint32_t address = 0; // load address in the chip's memory
    int offset = 0;       // where the data start in the image
    int length = 0;       // bytes (4 times dLength)
};

class Fx3BootImage
{
    Q_DECLARE_TR_FUNCTIONS(Fx3BootImage)

public:
    // One rule per way an image can be unusable.
    enum Problem
    {
        NoProblem,
        Unreadable,           // the file cannot be opened or read
        Empty,                // no bytes at all
        TooLarge,             // larger than the firmware area
        Signature,            // does not start with "CY"
        ControlReserved,      // bImageCTL bits 7:6 not zero
        ControlData,          // bImageCTL bit 0 set: a data image, not executable
        ImageType,            // bImageType not 0xB0
        SectionTruncated,     // a section claims more data than the file holds
        SectionAlignment,     // a section address that is not a multiple of 4
        SectionOutsideMemory, // a section that does not lie inside ITCM or SYSMEM
        NoSections,           // a terminator right after the header: no firmware
        NoTerminator,         // the file ends where a section header or terminator should be
        EntryPoint,           // the entry point lies outside ITCM and SYSMEM
        NoChecksum,           // the file ends inside the checksum after the terminator
        ChecksumMismatch,     // the sum of the section data differs from the stored one
        TrailingBytes,        // bytes after the checksum
    };

    // Checks an image held in memory against every rule; `limit` is the area it must fit.
    static Fx3BootImage check(const QByteArray& image, uint32_t limit = FlashLayout::FirmwareLimit);
    // Reads at most limit + 1 bytes of the file into `data` and checks them (a larger file is
    // refused by its size, without reading it).
    static Fx3BootImage checkFile(const QString& path, QByteArray& data,
                                  uint32_t limit = FlashLayout::FirmwareLimit);
    // The image a firmware area read from the flash holds: the same rules, but whatever follows the
    // checksum is not the image's (the chip reads no further).
    static Fx3BootImage checkFlash(const QByteArray& area);

    // The wrapping 32-bit sum of the little-endian words of `length` bytes (a multiple of 4).
    static uint32_t wordSum(const uint8_t* bytes, size_t length, uint32_t sum = 0);

    bool isValid() const { return problem == NoProblem; }
    // What is wrong, in one phrase without a final full stop (translated with the context
    // "Fx3BootImage" when a translator is installed); empty for a valid image.
    QString problemText() const;

    Problem problem = NoProblem;
    std::vector<Fx3Section> sections; // as far as they were read
    uint32_t entryPoint = 0;
    uint32_t storedChecksum = 0;
    uint32_t computedChecksum = 0;
    int dataBytes = 0;  // section data bytes in all
    int imageBytes = 0; // up to and with the checksum, for a valid image

private:
    // Facts for the problem's text.
    int sectionNumber = 0; // from 1
    qint64 offset = 0;
    qint64 size = 0;
    qint64 claimed = 0;
    uint32_t value = 0;
    QString reason;
};

#endif
