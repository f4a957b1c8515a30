// Intel HEX reader for the wheel firmware files.
//
// The accepted format is narrower than general Intel HEX: the first record must be the one
// extended-linear-address record (type 04), which gives the upper half of the start address; the
// second record's address gives the lower half. The image is the type-00 payloads back to back in file
// order; record addresses are not consulted, so gaps close up.
#ifndef HEXPARSER_H
#define HEXPARSER_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <cstdint>

// Largest wheel firmware file taken (1 MiB); a real wheel image in HEX is about 130 KB. A larger
// file is refused from its size, before anything is read.
constexpr qint64 MaxHexFileSize = 1048576;

struct HexRecord
{
    uint8_t length = 0;
    uint16_t address = 0;
    uint8_t type = 0;
    QByteArray data; // empty when length is 0
    uint8_t checksum = 0;
    int line = 0; // the file's line it came from, counted from 1
};

enum class HexParseError
{
    None,
    OpenError,       // the file cannot be opened
    EndLineError,    // a line follows the end-of-file record
    FormatError,     // missing colon, missing or non-hex field
    DataLengthError, // data text of odd length or not twice the byte count
    ChecksumError,   // checksum mismatch
    ImageError,      // not exactly one leading type-04 record, or nothing to build an image from
    FileTooLarge     // the file holds more than MaxHexFileSize bytes; nothing of it was parsed
};

struct HexParseResult
{
    HexParseError error = HexParseError::None;
    int line = 0;               // line of a per-line error, counted from 1
    QVector<HexRecord> records; // every accepted record in file order (also those before an error)
    uint32_t startAddress = 0;  // 0 on failure
    QByteArray image;           // empty on failure
    qint64 fileSize = 0;        // size of a file refused as too large

    bool ok() const { return error == HexParseError::None; }
};

// Checks HEX text held in memory and builds the flat image. Stops at the first error. Lines end with
// LF or CR LF.
HexParseResult parseHexData(const QByteArray& contents);

// Opens a HEX file, refuses it when it is larger than MaxHexFileSize or not a regular file, reads it
// and parses it with parseHexData.
HexParseResult parseHexFile(const QString& path);

// The one log line that reports a parse result (translated in the "MainWindow" context).
QString hexParseLogText(const HexParseResult& result);

#endif
