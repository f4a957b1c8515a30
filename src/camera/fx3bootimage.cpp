#include "fx3bootimage.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr uint8_t ImageTypeFirmware = 0xB0;
constexpr int HeaderBytes = 4;
constexpr int RecordBytes = 8; // dLength and dAddress

uint32_t u32(const QByteArray& bytes, qint64 at)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData()) + at;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

QString hexDigits(uint32_t value, int width)
{
    return QLatin1String("0x") + QString::number(value, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

QString hex8(uint32_t value)
{
    return hexDigits(value, 8);
}

QString hex2(uint32_t value)
{
    return hexDigits(value, 2);
}

} // namespace

uint32_t Fx3BootImage::wordSum(const uint8_t* bytes, size_t length, uint32_t sum)
{
    for (size_t i = 0; i + 4 <= length; i += 4)
        sum += uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 |
               uint32_t(bytes[i + 3]) << 24;
    return sum;
}

Fx3BootImage Fx3BootImage::check(const QByteArray& image, uint32_t limit)
{
    Fx3BootImage r;
    r.size = image.size();
    if (image.isEmpty()) {
        r.problem = Empty;
        return r;
    }
    if (uint64_t(image.size()) > limit) {
        r.problem = TooLarge;
        r.claimed = limit;
        return r;
    }
    if (image.size() < HeaderBytes || image.at(0) != 'C' || image.at(1) != 'Y') {
        r.problem = Signature;
        return r;
    }
    const uint8_t control = uint8_t(image.at(2));
    const uint8_t type = uint8_t(image.at(3));
    r.value = control;
    if (control & 0xC0) {
        r.problem = ControlReserved;
        return r;
    }
    if (control & 0x01) {
        r.problem = ControlData;
        return r;
    }
    if (type != ImageTypeFirmware) {
        r.problem = ImageType;
        r.value = type;
        return r;
    }

    const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
    qint64 at = HeaderBytes;
    uint32_t sum = 0;
    for (;;) {
        if (at + RecordBytes > image.size()) {
            r.problem = NoTerminator;
            r.offset = at;
            return r;
        }
        const uint32_t words = u32(image, at);
        const uint32_t address = u32(image, at + 4);
        if (words == 0) {
            r.entryPoint = address;
            at += RecordBytes;
            break;
        }
        r.sectionNumber = int(r.sections.size()) + 1;
        r.offset = at;
        r.claimed = qint64(words) * 4;
        r.value = address;
        if (at + RecordBytes + r.claimed > image.size()) {
            r.problem = SectionTruncated;
            r.size = image.size() - at - RecordBytes;
            return r;
        }
        if (address % 4) {
            r.problem = SectionAlignment;
            return r;
        }
        if (!Fx3::inRam(address, uint64_t(r.claimed))) {
            r.problem = SectionOutsideMemory;
            return r;
        }
        Fx3Section section;
        section.address = address;
        section.offset = int(at + RecordBytes);
        section.length = int(r.claimed);
        sum = wordSum(bytes + section.offset, size_t(section.length), sum);
        r.dataBytes += section.length;
        r.sections.push_back(section);
        at += RecordBytes + r.claimed;
    }
    if (r.sections.empty()) {
        r.problem = NoSections;
        return r;
    }
    if (!Fx3::inRam(r.entryPoint, 1)) {
        r.problem = EntryPoint;
        r.value = r.entryPoint;
        return r;
    }
    if (at + 4 > image.size()) {
        r.problem = NoChecksum;
        r.offset = at;
        return r;
    }
    r.computedChecksum = sum;
    r.storedChecksum = u32(image, at);
    if (r.computedChecksum != r.storedChecksum) {
        r.problem = ChecksumMismatch;
        return r;
    }
    at += 4;
    r.imageBytes = int(at);
    if (at < image.size()) {
        r.problem = TrailingBytes;
        r.offset = at;
        r.claimed = image.size() - at;
        return r;
    }
    return r;
}

Fx3BootImage Fx3BootImage::checkFlash(const QByteArray& area)
{
    Fx3BootImage r = check(area, uint32_t(qMax(area.size(), 0)));
    if (r.problem == TrailingBytes)
        r.problem = NoProblem;
    return r;
}

Fx3BootImage Fx3BootImage::checkFile(const QString& path, QByteArray& data, uint32_t limit)
{
    data.clear();
    const QFileInfo info(path);
    if (info.isFile() && info.size() > qint64(limit)) {
        Fx3BootImage r;
        r.problem = TooLarge;
        r.size = info.size();
        r.claimed = limit;
        return r;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        Fx3BootImage r;
        r.problem = Unreadable;
        r.reason = info.isFile() ? file.errorString() : tr("not a regular file");
        return r;
    }
    // One byte past the limit, so a file that grew since its size was taken is still refused.
    data = file.read(qint64(limit) + 1);
    if (file.error() != QFileDevice::NoError) {
        Fx3BootImage r;
        r.problem = Unreadable;
        r.reason = file.errorString();
        data.clear();
        return r;
    }
    return check(data, limit);
}

QString Fx3BootImage::problemText() const
{
    switch (problem) {
    case NoProblem:
        return QString();
    case Unreadable:
        return tr("the file cannot be read (%1)").arg(reason);
    case Empty:
        return tr("the file is empty");
    case TooLarge:
        return tr("the file holds %1 bytes; the firmware area takes at most %2").arg(size).arg(claimed);
    case Signature:
        return tr("it does not start with the FX3 boot-image signature \"CY\"");
    case ControlReserved:
        return tr("bImageCTL is %1: its bits 7:6 must be 0").arg(hex2(value));
    case ControlData:
        return tr("bImageCTL is %1: bit 0 marks a data image, not executable firmware").arg(hex2(value));
    case ImageType:
        return tr("bImageType is %1, not 0xB0 (firmware with checksum)").arg(hex2(value));
    case SectionTruncated:
        return tr("section %1 at offset %2 claims %3 bytes, but only %4 follow")
            .arg(sectionNumber)
            .arg(offset)
            .arg(claimed)
            .arg(size);
    case SectionAlignment:
        return tr("section %1 loads to %2, which is not a multiple of 4").arg(sectionNumber).arg(hex8(value));
    case SectionOutsideMemory:
        return tr("section %1 (%2 bytes at %3) lies outside ITCM (0x00000000-0x00003FFF) and SYSMEM "
                  "(0x40000000-0x4007FFFF)")
            .arg(sectionNumber)
            .arg(claimed)
            .arg(hex8(value));
    case NoSections:
        return tr("it holds no section: there is no firmware to load");
    case NoTerminator:
        return tr("it ends at offset %1 without a terminator (a section of length 0 naming the entry point)")
            .arg(offset);
    case EntryPoint:
        return tr("the entry point %1 lies outside ITCM and SYSMEM").arg(hex8(value));
    case NoChecksum:
        return tr("it ends at offset %1, where the checksum should follow the terminator").arg(offset);
    case ChecksumMismatch:
        return tr("checksum %1, the image says %2").arg(hex8(computedChecksum), hex8(storedChecksum));
    case TrailingBytes:
        return tr("%1 bytes follow the checksum at offset %2").arg(claimed).arg(offset);
    }
    return QString();
}
