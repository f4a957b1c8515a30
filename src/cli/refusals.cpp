#include "refusals.h"

#include "cli.h"
#include "fpgafilekind.h"
#include "fx3bootimage.h"
#include "imagefile.h"
#include "wheelimagerules.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

QString hex2(uint value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// Line `number` (from 1) of `contents`, without its line end.
QByteArray lineOf(const QByteArray& contents, int number)
{
    QByteArray line = contents.split('\n').value(number - 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

int hexValue(const QByteArray& text, int at, int digits)
{
    bool ok = false;
    const int v = text.mid(at, digits).toInt(&ok, 16);
    return ok && text.size() >= at + digits ? v : -1;
}

QString hexProblem(const QString& path, const QByteArray& contents, const HexParseResult& r)
{
    const QString name = QFileInfo(path).fileName();
    const QByteArray line = lineOf(contents, r.line);
    switch (r.error) {
    case HexParseError::None:
        return QString();
    case HexParseError::OpenError:
        return QStringLiteral("%1 cannot be read").arg(path);
    case HexParseError::FileTooLarge:
        return QStringLiteral("%1 has %2 bytes; a wheel firmware file has at most %3")
            .arg(path)
            .arg(r.fileSize)
            .arg(MaxHexFileSize);
    case HexParseError::EndLineError:
        return QStringLiteral("%1, line %2: it comes after the end-of-file record (type 01) of line %3")
            .arg(name)
            .arg(r.line)
            .arg(r.line - 1);
    case HexParseError::FormatError:
        if (line.trimmed().isEmpty())
            return QStringLiteral("%1, line %2: the line is empty").arg(name).arg(r.line);
        if (!line.startsWith(':'))
            return QStringLiteral("%1, line %2: it does not start with \":\", so it is not a HEX record")
                .arg(name)
                .arg(r.line);
        return QStringLiteral("%1, line %2: not a complete HEX record (a field is missing or holds a "
                              "character that is not a hexadecimal digit)")
            .arg(name)
            .arg(r.line);
    case HexParseError::DataLengthError: {
        const int digits = line.size() - 11;
        if (digits % 2)
            return QStringLiteral("%1, line %2: its data has an odd number of hex digits (%3)")
                .arg(name)
                .arg(r.line)
                .arg(digits);
        return QStringLiteral("%1, line %2: the record says it holds %3 data bytes, but it holds %4")
            .arg(name)
            .arg(r.line)
            .arg(hexValue(line, 1, 2))
            .arg(digits / 2);
    }
    case HexParseError::ChecksumError: {
        uint sum = 0;
        for (int at = 1; at + 2 < line.size(); at += 2)
            sum += uint(hexValue(line, at, 2));
        return QStringLiteral("%1, line %2: checksum %3, but the record's bytes give %4: the line is "
                              "damaged")
            .arg(name)
            .arg(r.line)
            .arg(hex2(uint(hexValue(line, line.size() - 2, 2))), hex2((256 - sum % 256) % 256));
    }
    case HexParseError::ImageError: {
        if (contents.trimmed().isEmpty())
            return QStringLiteral("%1 is empty").arg(path);
        int addressRecords = 0;
        for (const HexRecord& record : r.records)
            addressRecords += record.type == 0x04;
        if (addressRecords == 0)
            return QStringLiteral("%1 has no extended linear address record (type 04), so the firmware's "
                                  "start address is unknown")
                .arg(name);
        if (addressRecords > 1)
            return QStringLiteral("%1 has %2 extended linear address records (type 04); a wheel firmware "
                                  "file has one, as its first record")
                .arg(name)
                .arg(addressRecords);
        if (r.records.first().type != 0x04)
            return QStringLiteral("the first record of %1 is not its extended linear address record "
                                  "(type 04)")
                .arg(name);
        if (r.records.first().data.size() < 2)
            return QStringLiteral("the extended linear address record of %1 holds %2 byte(s), not 2")
                .arg(name)
                .arg(r.records.first().data.size());
        return QStringLiteral("%1 holds no data records").arg(name);
    }
    }
    return QString();
}

} // namespace

QString backupTargetProblem(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return QStringLiteral("%1 exists already; backups never overwrite a file").arg(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        return QStringLiteral("cannot save to %1: the folder %2 does not exist").arg(path, folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("cannot save to %1: %2 is not a folder").arg(path, folder.filePath());
    QTemporaryFile probe(folder.absoluteFilePath() + QStringLiteral("/.flashwick-cli-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot save to %1: the folder %2 takes no new file (%3)")
            .arg(path, folder.filePath(), probe.errorString());
    return QString();
}

QString cameraImageProblem(const QString& path, const ImageFile& image, bool fpga, bool force,
                           QString& warning)
{
    if (!image.problem.isEmpty())
        return image.problem;
    const Fx3BootImage boot = fpga ? Fx3BootImage() : Fx3BootImage::check(image.data);
    if (!boot.isValid()) {
        // The chip could not start such a file: after the next reset it would come up in its boot
        // loader instead of as a camera.
        if (!force)
            return QStringLiteral("%1 is not an FX3 firmware image the camera can start: %2 (--force writes "
                                  "it anyway)")
                .arg(path, boot.problemText());
        warning = QStringLiteral("%1 is not an FX3 firmware image the camera can start: %2; writing it "
                                 "anyway (--force).")
                      .arg(path, boot.problemText());
    }
    const FpgaFileKind kind = fpga ? fpgaFileKind(image.data) : FpgaFileKind::Other;
    if (kind != FpgaFileKind::Other) {
        const QString what = kind == FpgaFileKind::BootImage
                                 ? QStringLiteral("an FX3 boot image (\"CY\", image type 0x%1)")
                                       .arg(uchar(image.data.at(3)), 0, 16)
                                 : QStringLiteral("Intel HEX text");
        if (!force)
            return QStringLiteral("%1 is %2, not an FPGA bitstream (--force writes it anyway)")
                .arg(path, what);
        warning =
            QStringLiteral("%1 is %2, not an FPGA bitstream; writing it anyway (--force).").arg(path, what);
    }
    return QString();
}

bool parseVersion(const QString& text, QVector<qint64>& parts)
{
    parts.clear();
    if (text.isEmpty())
        return false;
    for (const QString& part : text.split(QLatin1Char('.'))) {
        if (part.isEmpty() || part.size() > 9)
            return false;
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        parts << part.toLongLong();
    }
    return true;
}

int compareVersions(const QVector<qint64>& a, const QVector<qint64>& b)
{
    for (int i = 0; i < qMax(a.size(), b.size()); ++i) {
        const qint64 x = a.value(i), y = b.value(i);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

WheelFile checkWheelFile(const QString& path)
{
    WheelFile f;
    f.path = path;
    const QFileInfo info(path);
    if (!info.exists()) {
        f.problem = QStringLiteral("%1: no such file").arg(path);
        return f;
    }
    if (!info.isFile()) {
        f.problem = QStringLiteral("%1: not a regular file").arg(path);
        return f;
    }
    const QString name = info.fileName();
    f.version = wheelFirmwareFileVersion(name);
    QVector<qint64> parts;
    if (f.version.isEmpty()) {
        f.problem = QStringLiteral("the file name \"%1\" carries no version: a wheel firmware file is named "
                                   "like ZW_firmware_v3.2.0.hex (the version between \"_v\" or \"-v\" and "
                                   "\".hex\", case-sensitive)")
                        .arg(name);
        return f;
    }
    if (!parseVersion(f.version, parts)) {
        f.problem = QStringLiteral("the version \"%1\" in the file name \"%2\" is not a dotted number such "
                                   "as 3.2.0")
                        .arg(f.version, name);
        return f;
    }
    f.parsed = parseHexFile(path);
    f.parserText = hexParseLogText(f.parsed);
    if (!f.parsed.ok()) {
        QByteArray contents;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            contents = file.read(MaxHexFileSize + 1);
        f.problem = hexProblem(path, contents, f.parsed);
        return f;
    }
    if (f.parsed.image.isEmpty()) {
        f.problem = QStringLiteral("%1 holds no data records: there is nothing to write").arg(name);
        return f;
    }
    QString imageProblem = wheelImageProblem(f.parsed.startAddress, uint32_t(f.parsed.image.size()));
    if (imageProblem.isEmpty())
        imageProblem = wheelRecordSequenceProblem(f.parsed.records, f.parsed.startAddress);
    if (!imageProblem.isEmpty()) {
        if (imageProblem.startsWith(QLatin1String("ERROR: ")))
            imageProblem.remove(0, 7);
        if (imageProblem.endsWith(QLatin1Char('!')))
            imageProblem.chop(1);
        f.problem = QStringLiteral("%1: %2").arg(name, imageProblem);
    }
    return f;
}

QString wheelVersionProblem(const QString& file, const QString& fileVersion, const QString& wheelVersion,
                            bool allowReinstall, bool allowOlder, int& code)
{
    QVector<qint64> ours, theirs;
    parseVersion(fileVersion, ours);
    if (!parseVersion(wheelVersion, theirs)) {
        code = ExitFailed;
        return QStringLiteral("the wheel reports firmware version \"%1\", which is not a dotted number, so "
                              "the version of %2 cannot be checked against it")
            .arg(wheelVersion, file);
    }
    code = ExitFileRefused;
    if (ours.value(0) != theirs.value(0))
        return QStringLiteral("%1 holds firmware %2, but the wheel runs %3: only a version %4.x suits it "
                              "(a file named like ZW_firmware_v%4.y.z.hex)")
            .arg(file, fileVersion, wheelVersion)
            .arg(theirs.value(0));
    const int order = compareVersions(ours, theirs);
    if (order == 0 && !allowReinstall)
        return QStringLiteral("the wheel runs %1 already, the version of %2: nothing to update "
                              "(--allow-reinstall writes it again)")
            .arg(wheelVersion, file);
    if (order < 0 && !allowOlder)
        return QStringLiteral("%1 holds %2, older than the %3 the wheel runs (--allow-older writes it)")
            .arg(file, fileVersion, wheelVersion);
    code = ExitOk;
    return QString();
}
