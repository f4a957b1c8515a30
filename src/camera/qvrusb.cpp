// QVRUsb: camera list, connection and the vendor command set on endpoint 0.
#include "qvrusb.h"

#include "deviceusers.h"
#include "fx3.h"
#include "usbdriverdevice.h"

#include <QMutexLocker>
#include <chrono>

namespace {
std::function<void(const QVRUsb::RequestTrace&)>& requestTrace()
{
    static std::function<void(const QVRUsb::RequestTrace&)> trace;
    return trace;
}
} // namespace

QVRUsb::QVRUsb() : device(new UsbDriverDevice(CameraInterfaceGuid)) {}

QVRUsb::~QVRUsb()
{
    QMutexLocker lock(&mutex);
    if (opened) {
        device->close();
        opened = false;
    }
}

CameraList& QVRUsb::cameraList()
{
    static CameraList list;
    return list;
}

BootLoaderList& QVRUsb::bootLoaderList()
{
    static BootLoaderList list;
    return list;
}

int QVRUsb::enumerateCameras()
{
    return findDevices(cameraList(), &bootLoaderList());
}

int QVRUsb::findDevices(CameraList& list, BootLoaderList* bootLoaders)
{
    list.clear();
    if (bootLoaders)
        bootLoaders->clear();
    UsbDriverDevice probe(CameraInterfaceGuid);
    const int count = probe.deviceCount();
    for (int i = 0; i < count; ++i) {
        if (!probe.open(i))
            continue;
        if (probe.vendorId() == CameraVendorId) {
            list.paths.append(QByteArray::fromStdString(probe.devicePath()));
            list.names.append(QByteArray::fromStdString(probe.deviceName()));
            list.indices.append(i);
        } else if (bootLoaders && Fx3::isBootLoader(probe.vendorId(), probe.productId())) {
            bootLoaders->paths.append(QByteArray::fromStdString(probe.devicePath()));
            bootLoaders->indices.append(i);
        }
        probe.close();
    }
    return list.indices.size();
}

bool QVRUsb::open(int index)
{
    QMutexLocker lock(&mutex);
    if (opened)
        return true;
    if (device->deviceCount() == 0) {
        error = device->lastError();
        return false;
    }
    opened = device->open(index);
    gone = false;
    if (!opened)
        error = device->lastError();
    openNode = opened ? QString::fromStdString(device->deviceNode()) : QString();
    return opened;
}

void QVRUsb::close()
{
    QMutexLocker lock(&mutex);
    if (opened) {
        device->close();
        opened = false;
    }
    gone = false;
    openNode.clear();
}

void QVRUsb::deviceRemoved(const QString& node)
{
    if (opened && !openNode.isEmpty() && node == openNode)
        gone = true;
}

QVRUsb::Claim QVRUsb::claimExclusive()
{
    QMutexLocker lock(&mutex);
    users.clear();
    if (!opened)
        return ClaimFailed;
    switch (device->claimExclusive()) {
    case UsbDriverDevice::ClaimResult::Claimed:
        return ClaimOk;
    case UsbDriverDevice::ClaimResult::Busy:
        error = device->lastError();
        for (const DeviceUser& user : otherDeviceUsers(device->deviceNode()))
            users
                << QStringLiteral("%1, pid %2").arg(QString::fromLocal8Bit(user.name.c_str())).arg(user.pid);
        return ClaimInUse;
    case UsbDriverDevice::ClaimResult::Failed:
        break;
    }
    error = device->lastError();
    if (UsbDriverDevice::isNoDeviceError(error))
        gone = true;
    return ClaimFailed;
}

void QVRUsb::releaseExclusive()
{
    QMutexLocker lock(&mutex);
    device->releaseExclusive();
}

bool QVRUsb::isClaimed() const
{
    QMutexLocker lock(&mutex);
    return device->isClaimed();
}

QStringList QVRUsb::cameraUsers() const
{
    QMutexLocker lock(&mutex);
    return users;
}

bool QVRUsb::isUsb3() const
{
    return opened && device->isSuperSpeed();
}

bool QVRUsb::sendVendorRequest(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t toHost,
                               uint8_t* buffer, int length)
{
    return transfer(bRequest, wValue, wIndex, toHost, buffer, length, nullptr);
}

bool QVRUsb::transfer(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t toHost, uint8_t* buffer,
                      int length, int* moved)
{
    QMutexLocker lock(&mutex);
    if (moved)
        *moved = 0;
    if (!opened)
        return false;
    CCyControlEndPoint* ep = device->controlEndPoint();
    if (!ep)
        return false;
    ep->target = CCyControlEndPoint::TargetDevice;
    ep->requestType = CCyControlEndPoint::RequestVendor;
    ep->direction = toHost ? CCyControlEndPoint::DirectionFromDevice : CCyControlEndPoint::DirectionToDevice;
    ep->requestCode = bRequest;
    ep->value = wValue;
    ep->index = wIndex;
    ep->timeoutMs = RequestTimeoutMs;
    int count = length;
    bool ok;
    if (requestObserver || requestTrace()) {
        const auto start = std::chrono::steady_clock::now();
        ok = ep->transferData(buffer, count);
        const int64_t ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                .count();
        if (requestObserver)
            requestObserver(bRequest, ns);
        if (requestTrace())
            requestTrace()({bRequest, wValue, wIndex, toHost != 0, length, ok ? count : 0, ok,
                            ok ? 0 : ep->lastError, buffer, ns});
    } else {
        ok = ep->transferData(buffer, count);
    }
    if (!ok) {
        error = ep->lastError;
        if (UsbDriverDevice::isNoDeviceError(error))
            gone = true;
    }
    if (moved)
        *moved = count;
    return ok;
}

void QVRUsb::setRequestTrace(std::function<void(const RequestTrace&)> trace)
{
    requestTrace() = std::move(trace);
}

void QVRUsb::setRequestObserver(std::function<void(uint8_t, int64_t)> observer)
{
    QMutexLocker lock(&mutex);
    requestObserver = std::move(observer);
}

bool QVRUsb::readFirmwareVersion(uint8_t& version)
{
    uint8_t byte = 0;
    if (!sendVendorRequest(ReqFirmwareVersion, 0, 0, 1, &byte, 1))
        return false;
    version = byte;
    return true;
}

bool QVRUsb::readFpgaVersion(uint8_t& a, int& b, uint8_t& c)
{
    uint8_t r[5] = {0, 0, 0, 0, 0};
    bool ok = sendVendorRequest(ReqFpgaVersion, 0, 0x2B, 1, r, 5);
    a = r[1];
    b = r[2] + 256 * r[3] + 65536 * r[4];
    c = r[0];
    return ok;
}

bool QVRUsb::readSerialNumber(uint8_t* buffer)
{
    return sendVendorRequest(ReqSerialNumber, 0, 0, 1, buffer, 20);
}

bool QVRUsb::resetFX3()
{
    // The controller reboots and comes back as a new device: this handle is done with.
    const bool ok = sendVendorRequest(ReqResetFX3, 0, 0, 0, nullptr, 0);
    if (ok)
        gone = true;
    return ok;
}

int QVRUsb::lastError() const
{
    QMutexLocker lock(&mutex);
    return error;
}

QString QVRUsb::lastErrorText() const
{
    QMutexLocker lock(&mutex);
    return QString::fromStdString(UsbDriverDevice::errorText(error));
}

bool QVRUsb::lastErrorIsAccessDenied() const
{
    QMutexLocker lock(&mutex);
    return UsbDriverDevice::isAccessDeniedError(error);
}

// Display forms.

namespace {
QString digitsJoined(unsigned value)
{
    QString digits = QString::number(value);
    QString out;
    for (int i = 0; i < digits.size(); ++i) {
        if (i)
            out += QLatin1Char('.');
        out += digits.at(i);
    }
    return out;
}
} // namespace

QString firmwareVersionText(uint8_t version)
{
    return QLatin1String("V") + digitsJoined(version);
}

QString fpgaVersionText(uint8_t a, int b, uint8_t c)
{
    return QLatin1String("V") + QString::fromLatin1("%1.%2.").arg(a).arg(b) + digitsJoined(c);
}

QString serialNumberText(const uint8_t* buffer)
{
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(buffer));
}

QString connectionText(bool usb3)
{
    return usb3 ? QStringLiteral("USB3.0") : QStringLiteral("USB2.0");
}
