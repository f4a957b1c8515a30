#include "wheelimagerules.h"

#include "devizuvezwritefwobject.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString hexText(uint32_t value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}
} // namespace

QString wheelFirmwareFileVersion(const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    int match = name.indexOf(QLatin1String("_v"));
    if (match < 0)
        match = name.indexOf(QLatin1String("-v"));
    if (match < 0)
        return QString();
    const int end = name.indexOf(QLatin1String(".hex"), match + 2);
    if (end < 0)
        return QString();
    return name.mid(match + 2, end - match - 2);
}

bool isWheelFirmwareCompatible(const QString& fileVersion, const QString& wheelVersion)
{
    return !fileVersion.isEmpty() && !wheelVersion.isEmpty() && fileVersion.at(0) == wheelVersion.at(0);
}

QString wheelImageProblem(uint32_t startAddress, uint32_t size)
{
    using Writer = DevizuvEZWriteFWObject;
    if (size == 0)
        return QCoreApplication::translate(
            "MainWindow", "ERROR: the firmware file(*.hex) holds no data to write to the wheel!");
    if (size > Writer::MaxImageSize)
        return QCoreApplication::translate(
                   "MainWindow", "ERROR: the firmware image has %1 bytes, the wheel takes at most %2 bytes!")
            .arg(size)
            .arg(Writer::MaxImageSize);
    if ((startAddress & 0xFFFF) != Writer::StartAddressLowHalf)
        return QCoreApplication::translate(
                   "MainWindow",
                   "ERROR: the firmware image starts at 0x%1, the wheel's firmware must start at an address "
                   "ending in %2!")
            .arg(hexText(startAddress, 8), hexText(Writer::StartAddressLowHalf, 4));
    return QString();
}

QString wheelRecordSequenceProblem(const QVector<HexRecord>& records, uint32_t startAddress)
{
    const uint64_t upper = startAddress & 0xFFFF0000u;
    uint64_t expected = startAddress;
    for (const HexRecord& record : records) {
        if (record.type != 0x00 || record.length == 0)
            continue;
        const uint64_t address = upper | record.address;
        if (address != expected)
            return QCoreApplication::translate("MainWindow",
                                               "ERROR: line %1 of the firmware file(*.hex) holds data for "
                                               "address 0x%2, expected 0x%3: "
                                               "its records must follow each other without gaps or overlaps!")
                .arg(record.line)
                .arg(hexText(uint32_t(address), 8), hexText(uint32_t(expected), 8));
        expected += record.length;
    }
    return QString();
}
