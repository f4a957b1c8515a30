// Lists the wheels the DevizuvEZ stand-in library finds, one line each; run inside flashwick-emulator.
// With "update" it then sends the first wheel that opens to its bootloader, writes a small image
// through the bootloader and lists the wheels again once the wheel is back.
#include "devizuvez.h"
#include "devizuvezwritefwobject.h"

#include <QByteArray>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Prints every wheel; returns the id of the first one that opens, or -1.
int list()
{
    const int count = QVRGetZWCount();
    printf("count=%d\n", count);
    int first = -1;
    for (int i = 0; i < count; ++i) {
        WheelInfo info{};
        const int status = QVRGetZWProperties(i, &info);
        if (status != 0) {
            printf("wheel %d: properties failed: %s\n", i, QVRGetZWErrorString(status));
            continue;
        }
        const int open = QVROpenZW(info.ID);
        char version[32] = {};
        const int versionStatus = open == 0 ? QVRGetZWFirmwareVer(info.ID, version, sizeof version) : open;
        int position = -1;
        if (open == 0)
            QVRGetCurrentPosition(info.ID, &position);
        printf("wheel %d: name=%s slots=%d sn=%s open=%s fw=%s position=%d\n", i, info.Name, info.SlotNum,
               info.SN, QVRGetZWErrorString(open), versionStatus == 0 ? version : "-", position);
        if (open == 0 && first < 0)
            first = info.ID;
    }
    return first;
}

} // namespace

int main(int argc, char** argv)
{
    const int id = list();
    if (argc < 2 || strcmp(argv[1], "update") != 0)
        return 0;
    if (id < 0)
        return 1;
    const int status = QVRBacktoBootload(id);
    printf("bootloader request: %s\n", QVRGetZWErrorString(status));
    if (status != 0 || !waitFor([] { return DevizuvEZWriteFWObject::GetZWBootloadCount() == 1; }, 10000))
        return 1;
    DevizuvEZWriteFWObject writer(0);
    const QByteArray image(2048, char(0x5A));
    const bool written =
        writer.Open() &&
        writer.SetFirmwareData(0x08004000, reinterpret_cast<const uint8_t*>(image.constData()),
                               uint32_t(image.size())) &&
        writer.EraseFlash() && writer.WriteFlash() && writer.RunProgram();
    writer.Close();
    printf("update: %s\n", written ? "written" : "failed");
    if (!written || !waitFor([] { return QVRGetZWCount() > 0; }, 10000))
        return 1;
    printf("back:\n");
    list();
    return 0;
}
