// Run by flashwick-emulator: finds the emulated bootloader, checks its identification and writes a
// 1000-byte image. Arguments: NAME VERSION [WAIT_MS]. Exit status 0 when everything matched.
#include "devizuvezwritefwobject.h"

#include <QByteArray>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const int waitMs = argc > 3 ? atoi(argv[3]) : 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (DevizuvEZWriteFWObject::GetZWBootloadCount() < 1) {
        if (std::chrono::steady_clock::now() >= deadline) {
            fprintf(stderr, "no bootloader\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    DevizuvEZWriteFWObject writer(0);
    if (writer.GetBootloadName() != argv[1] || writer.GetBootloadVersion() != argv[2]) {
        fprintf(stderr, "identification: \"%s\" %s\n", writer.GetBootloadName().constData(),
                writer.GetBootloadVersion().constData());
        return 1;
    }
    QByteArray image(1000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 13);
    if (!writer.Open() ||
        !writer.SetFirmwareData(0x08004000, reinterpret_cast<const uint8_t*>(image.constData()), 1000) ||
        !writer.EraseFlash() || !writer.WriteFlash() || !writer.RunProgram()) {
        fprintf(stderr, "update failed after %u commands\n", writer.GetCommandCount());
        return 1;
    }
    return 0;
}
