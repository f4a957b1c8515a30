#include "hexparser.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `pos`; false when they are missing or not hex.
bool readHex(const QByteArray& text, int pos, int digits, uint32_t& value)
{
    if (pos < 0 || pos + digits > text.size())
        return false;
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexDigit(text.at(pos + i));
        if (d < 0)
            return false;
        value = value << 4 | uint32_t(d);
    }
    return true;
}

HexParseResult failed(HexParseResult result, HexParseError error, int line)
{
    result.error = error;
    result.line = line;
    result.startAddress = 0;
    result.image.clear();
    return result;
}

} // namespace

HexParseResult parseHexData(const QByteArray& contents)
{
    HexParseResult result;
    int lineNumber = 0;
    bool endOfFile = false;
    int extendedAddressRecords = 0;
    int imageSize = 0;
    const int size = contents.size();
    for (int pos = 0; pos < size;) {
        ++lineNumber;
        // One line without its LF or CR LF; a final line end makes no further line.
        int end = contents.indexOf('\n', pos);
        const int next = end < 0 ? size : end + 1;
        if (end < 0)
            end = size;
        else if (end > pos && contents.at(end - 1) == '\r')
            --end;
        const QByteArray line = QByteArray::fromRawData(contents.constData() + pos, end - pos);
        pos = next;
        if (endOfFile)
            return failed(std::move(result), HexParseError::EndLineError, lineNumber);

        HexRecord record;
        uint32_t length = 0, address = 0, type = 0, checksum = 0;
        if (!line.startsWith(':') || !readHex(line, 1, 2, length) || !readHex(line, 3, 4, address) ||
            !readHex(line, 7, 2, type))
            return failed(std::move(result), HexParseError::FormatError, lineNumber);
        if (type == 0x01)
            endOfFile = true;
        else if (type == 0x04)
            ++extendedAddressRecords;

        // The checksum is the last two characters; what lies between is the data text.
        const int dataStart = 9;
        const int checksumPos = line.size() - 2;
        if (checksumPos < dataStart || !readHex(line, checksumPos, 2, checksum))
            return failed(std::move(result), HexParseError::FormatError, lineNumber);
        const int dataChars = checksumPos - dataStart;
        if (dataChars % 2 != 0 || dataChars / 2 != int(length))
            return failed(std::move(result), HexParseError::DataLengthError, lineNumber);

        record.length = uint8_t(length);
        record.address = uint16_t(address);
        record.type = uint8_t(type);
        record.checksum = uint8_t(checksum);
        record.line = lineNumber;
        record.data.resize(int(length));
        uint8_t sum = uint8_t(length + (address >> 8) + (address & 0xFF) + type);
        for (int i = 0; i < int(length); ++i) {
            uint32_t byte = 0;
            if (!readHex(line, dataStart + 2 * i, 2, byte))
                return failed(std::move(result), HexParseError::FormatError, lineNumber);
            record.data[i] = char(byte);
            sum = uint8_t(sum + byte);
        }
        if (uint8_t(256 - sum) != record.checksum)
            return failed(std::move(result), HexParseError::ChecksumError, lineNumber);

        if (record.type == 0x00)
            imageSize += record.length;
        result.records.append(std::move(record));
    }

    // Exactly one type-04 record, and it must be the first one, carry the upper address half and be
    // followed by the record that gives the lower half.
    const QVector<HexRecord>& records = result.records;
    if (extendedAddressRecords != 1 || records.size() < 2 || records.first().type != 0x04 ||
        records.first().data.size() < 2)
        return failed(std::move(result), HexParseError::ImageError, 0);

    const auto* upper = reinterpret_cast<const uint8_t*>(records.first().data.constData());
    result.startAddress = uint32_t(upper[0]) << 24 | uint32_t(upper[1]) << 16 | records.at(1).address;
    result.image.reserve(imageSize);
    for (int i = 1; i < records.size(); ++i) {
        if (records.at(i).type == 0x00)
            result.image.append(records.at(i).data);
    }
    return result;
}

HexParseResult parseHexFile(const QString& path)
{
    HexParseResult result;
    // Only a regular file: opening a FIFO can block, and a device may never end.
    const QFileInfo info(path);
    if (!info.isFile())
        return failed(std::move(result), HexParseError::OpenError, 0);
    if (info.size() > MaxHexFileSize) {
        result.fileSize = info.size();
        return failed(std::move(result), HexParseError::FileTooLarge, 0);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(std::move(result), HexParseError::OpenError, 0);
    // One byte past the limit is enough to refuse a file that grew since its size was taken.
    const QByteArray contents = file.read(MaxHexFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(std::move(result), HexParseError::OpenError, 0);
    if (contents.size() > MaxHexFileSize) {
        result.fileSize = qMax(file.size(), qint64(contents.size()));
        return failed(std::move(result), HexParseError::FileTooLarge, 0);
    }
    file.close();
    return parseHexData(contents);
}

QString hexParseLogText(const HexParseResult& result)
{
    switch (result.error) {
    case HexParseError::None:
        return QCoreApplication::translate("MainWindow", "Parse firmware file OK!");
    case HexParseError::OpenError:
        return QCoreApplication::translate("MainWindow", "Parse firmware file error: PARSE_OPEN_ERROR!!!");
    case HexParseError::EndLineError:
        return QCoreApplication::translate("MainWindow",
                                           "Parse firmware file error: PARSE_ENDLINE_ERROR!!! Code: %1")
            .arg(result.line);
    case HexParseError::FormatError:
        return QCoreApplication::translate("MainWindow",
                                           "Parse firmware file error: PARSE_FORMAT_ERROR!!! Code: %1")
            .arg(result.line);
    case HexParseError::DataLengthError:
        return QCoreApplication::translate("MainWindow",
                                           "Parse firmware file error: PARSE_DATA_LEN_ERROR!!! Code: %1")
            .arg(result.line);
    case HexParseError::ChecksumError:
        return QCoreApplication::translate("MainWindow",
                                           "Parse firmware file error: PARSE_CHECKSUM_ERROR!!! Code: %1")
            .arg(result.line);
    case HexParseError::ImageError:
        return QCoreApplication::translate("MainWindow",
                                           "Parse firmware file errorr: PARSE_FORMAT_ERROR!!! Code: 04");
    case HexParseError::FileTooLarge:
        return QCoreApplication::translate(
                   "MainWindow",
                   "Parse firmware file error: PARSE_SIZE_ERROR!!! The file has %1 bytes, a wheel firmware "
                   "file has at most %2 bytes.")
            .arg(result.fileSize)
            .arg(MaxHexFileSize);
    }
    return QString();
}
