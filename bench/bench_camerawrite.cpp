// Wall time of the largest FPGA and firmware writes to an emulated camera that is never busy,
// against the floor the protocol sets (one 20 ms pause per chunk).
#include "emulator.h"
#include "flashlayout.h"
#include "qvrusb.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <random>

using namespace flashwick::emu;
using namespace FlashLayout;

namespace {

bool writeFile(const QString& path, int size)
{
    std::mt19937 gen{uint32_t(size)};
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(gen() & 0xFF);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == size;
}

struct Run
{
    const char* what;
    bool fpga;
    int size;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Testbed testbed;
    if (!testbed.isValid() || !testbed.preloadActive()) {
        std::fprintf(stderr, "needs the umockdev preload: run under umockdev-wrapper (%s)\n",
                     testbed.errorString().c_str());
        return 2;
    }
    const DeviceId id = testbed.addCamera(); // zero busy time
    QTemporaryDir dir;
    int found = 0;
    for (int i = 0; i < 250 && found != 1; ++i) {
        found = QVRUsb::enumerateCameras();
        if (found != 1)
            QThread::msleep(20);
    }
    QVRUsb camera;
    if (found != 1 || !camera.open(QVRUsb::cameraList().indices.at(0))) {
        std::fprintf(stderr, "emulated camera not found\n");
        return 2;
    }

    // Time spent inside the transport (libusb, umockdev and the emulated camera answering).
    // Pause overshoot: from the end of each page write to the start of the next request, beyond 20 ms.
    double inTransport = 0;
    double overshoot = 0;
    using Clock = std::chrono::steady_clock;
    Clock::time_point writeEnded;
    bool afterWrite = false;
    camera.setRequestObserver([&](uint8_t request, int64_t ns) {
        const Clock::time_point end = Clock::now();
        const Clock::time_point start = end - std::chrono::nanoseconds(ns);
        inTransport += double(ns) * 1e-9;
        if (afterWrite)
            overshoot += std::chrono::duration<double>(start - writeEnded).count() - ChunkPauseMs / 1000.0;
        afterWrite = request == QVRUsb::ReqWritePage;
        writeEnded = end;
    });

    const Run runs[] = {{"FPGA bitstream", true, int(FpgaLimit - FpgaFront)},
                        {"firmware image", false, int(FirmwareLimit)}};
    int status = 0;
    for (const Run& run : runs) {
        const QString path = dir.filePath(run.fpga ? "largest.bit" : "largest.img");
        if (!writeFile(path, run.size))
            return 2;
        const QByteArray name = QFile::encodeName(path);
        testbed.clearRequests(id);
        inTransport = 0;
        overshoot = 0;
        std::atomic<uint8_t> progress{0};
        const auto start = std::chrono::steady_clock::now();
        const int result = run.fpga ? camera.writeFpga(name.constData(), &progress)
                                    : camera.writeFirmware(name.constData(), &progress);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::vector<ControlRequest> log = testbed.requests(id);
        unsigned writes = 0;
        for (const ControlRequest& r : log)
            writes += r.vendor() && r.request == QVRUsb::ReqWritePage;
        const double floor = writes * ChunkPauseMs / 1000.0;
        const double device = inTransport;
        const double own = wall - floor - device;
        std::printf(
            "%s, %d bytes: result %d, %u chunks, %zu requests\n"
            "  wall %.3f s, floor %.3f s: %.3f s above the floor (%.2f %%)\n"
            "  inside the transport %.3f s; the program's own overhead %.3f s (%.2f %% of the floor),\n"
            "  of which pauses beyond 20 ms %.3f s\n",
            run.what, run.size, result, writes, log.size(), wall, floor, wall - floor,
            100.0 * (wall - floor) / floor, device, own, 100.0 * own / floor, overshoot);
        if (result != 0)
            status = 1;
    }
    camera.close();
    return status;
}
