#include "devicetrace.h"

#include "devizuvezloader.h"
#include "devizuvezwritefwobject.h"
#include "fx3bootloader.h"
#include "output.h"
#include "qvrusb.h"
#include "usbdriverdevice.h"

#include <QtGlobal>

namespace {

constexpr int ShownBytes = 12;         // of a request's data or a report
constexpr int64_t SlowNs = 10'000'000; // requests slower than this show their time

Output* traced = nullptr;
QtMessageHandler previousHandler = nullptr;

QString bytesText(const uint8_t* data, int length)
{
    QStringList bytes;
    for (int i = 0; data && i < qMin(length, ShownBytes); ++i)
        bytes << QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0'));
    if (length > ShownBytes)
        bytes << QStringLiteral("...");
    return bytes.join(QLatin1Char(' '));
}

void request(const char* device, const QVRUsb::RequestTrace& r)
{
    QString line = QStringLiteral("%1 request 0x%2 %3 value 0x%4 index 0x%5 length %6: ")
                       .arg(QLatin1String(device))
                       .arg(r.request, 2, 16, QLatin1Char('0'))
                       .arg(r.toHost ? QStringLiteral("in") : QStringLiteral("out"))
                       .arg(r.value, 4, 16, QLatin1Char('0'))
                       .arg(r.index, 4, 16, QLatin1Char('0'))
                       .arg(r.length);
    if (!r.ok)
        line +=
            QStringLiteral("failed (%1)").arg(QString::fromStdString(UsbDriverDevice::errorText(r.error)));
    else if (r.toHost)
        line += QStringLiteral("%1 byte(s): %2").arg(r.moved).arg(bytesText(r.data, r.moved));
    else
        line += QStringLiteral("ok");
    if (r.nanoseconds >= SlowNs || !r.ok)
        line += QStringLiteral(" after %1 ms").arg(double(r.nanoseconds) / 1e6, 0, 'f', 1);
    traced->trace(line);
}

void cameraRequest(const QVRUsb::RequestTrace& r)
{
    request("camera", r);
}

void bootLoaderRequest(const QVRUsb::RequestTrace& r)
{
    request("boot loader", r);
}

void wheelCall(const char* call, const std::string& arguments, int status)
{
    traced->trace(QStringLiteral("wheel library %1(%2) = %3")
                      .arg(QLatin1String(call), QString::fromStdString(arguments))
                      .arg(status));
}

void bootloaderExchange(const uint8_t* command, int commandLength, const uint8_t* reply, int replyLength,
                        int result)
{
    // The report number first, then the frame; the command code is its fourth byte.
    QString line = QStringLiteral("wheel bootloader command %1 (%2 bytes): ")
                       .arg(bytesText(command, commandLength))
                       .arg(commandLength);
    if (result < 0)
        line += reply ? QStringLiteral("failed or refused, reply %1").arg(bytesText(reply, replyLength))
                      : QStringLiteral("failed");
    else if (!reply)
        line += QStringLiteral("sent");
    else if (result == 0)
        line += QStringLiteral("no reply");
    else
        line += QStringLiteral("reply %1").arg(bytesText(reply, result));
    traced->trace(line);
}

void debugMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        traced->trace(message.trimmed());
    else if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

DeviceTrace::DeviceTrace(Output& out)
{
    traced = &out;
    QVRUsb::setRequestTrace(cameraRequest);
    Fx3BootLoader::setRequestTrace(bootLoaderRequest);
    devizuvezSetCallTrace(wheelCall);
    DevizuvEZWriteFWObject::setExchangeTrace(bootloaderExchange);
    previousHandler = qInstallMessageHandler(debugMessage);
}

DeviceTrace::~DeviceTrace()
{
    qInstallMessageHandler(previousHandler);
    DevizuvEZWriteFWObject::setExchangeTrace(nullptr);
    devizuvezSetCallTrace(nullptr);
    Fx3BootLoader::setRequestTrace(nullptr);
    QVRUsb::setRequestTrace(nullptr);
    traced = nullptr;
}
