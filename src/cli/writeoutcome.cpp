#include "writeoutcome.h"

#include "flashlayout.h"
#include "qvrusb.h"

using namespace FlashLayout;

QString writeFailureReason(int result)
{
    switch (result) {
    case QVRUsb::WriteBadStart:
        return QStringLiteral("the flash area does not start on a 64 KiB boundary");
    case QVRUsb::WriteTooLarge:
        return QStringLiteral("the image is larger than its flash area");
    case QVRUsb::WriteProgramFailed:
        return QStringLiteral("programming a chunk failed (not accepted, or the flash did not become ready)");
    case QVRUsb::WriteReadBackFailed:
        return QStringLiteral("reading a chunk back failed");
    case QVRUsb::WriteEraseFailed:
        return QStringLiteral("erasing the flash failed (not accepted, or the flash did not become ready)");
    case QVRUsb::WriteVerifyFailed:
        return QStringLiteral("a chunk read back differs from what was written");
    case QVRUsb::WriteFileError:
        return QStringLiteral("the image is empty");
    default:
        return QStringLiteral("unknown result");
    }
}

QString transportNote(const QVRUsb& camera)
{
    return camera.lastError() ? QStringLiteral(" [%1]").arg(camera.lastErrorText()) : QString();
}

QString cameraInUseText(const QStringList& users)
{
    return QStringLiteral("the camera is in use by another program: close it and try again") +
           (users.isEmpty() ? QString()
                            : QStringLiteral(" (open in: %1)").arg(users.join(QLatin1String("; "))));
}

AreaOutcome areaOutcome(bool fpga, int result, uint8_t progress, uint32_t programmed, qint64 fileBytes)
{
    const QString area = fpga ? QStringLiteral("FPGA area") : QStringLiteral("firmware area");
    const qint64 areaBytes = fileBytes + (fpga ? FpgaFront : 0);
    AreaOutcome o;
    o.writtenBytes = qMax<qint64>(0, qint64(programmed) - (fpga ? FpgaFront : 0));
    if (result == QVRUsb::WriteOk) {
        o.state = QStringLiteral("written");
        o.writtenBytes = fileBytes;
        o.text = QStringLiteral("The %1 holds the whole file, read back and compared.").arg(area);
    } else if (fpga && programmed >= areaBytes) {
        // The bitstream is in; the header record after it failed.
        o.state = QStringLiteral("header not written");
        o.text = QStringLiteral("The FPGA area holds the whole bitstream, but the header record that "
                                "locates it is not written, so the camera does not find it.");
    } else if (result == QVRUsb::WriteEraseFailed) {
        o.state = QStringLiteral("partly erased");
        o.text = QStringLiteral("The %1 is partly erased (%2 % of its blocks): what it held is damaged and "
                                "nothing of the file is written.")
                     .arg(area)
                     .arg(progress * 2);
    } else if (result == QVRUsb::WriteProgramFailed || result == QVRUsb::WriteReadBackFailed ||
               result == QVRUsb::WriteVerifyFailed) {
        if (programmed == 0) {
            o.state = QStringLiteral("erased");
            o.text = QStringLiteral("The %1 is erased: nothing of the file is written.").arg(area);
        } else {
            o.state = QStringLiteral("partly written");
            o.text = QStringLiteral("The %1 is erased and holds only the first %2 of the file's %3 bytes.")
                         .arg(area)
                         .arg(o.writtenBytes)
                         .arg(fileBytes);
        }
    } else {
        o.state = QStringLiteral("unchanged");
        o.writtenBytes = 0;
        o.text = QStringLiteral("Nothing was sent to the %1.").arg(area);
    }
    return o;
}
