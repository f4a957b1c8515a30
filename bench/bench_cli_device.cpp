// Helper of bench_cli, run inside its testbed: "bare" sends the read requests of a backup of both
// areas with the largest bitstream (header record, firmware area, FPGA area: 705 requests) through
// QVRUsb; "write FILE" writes FILE into the FPGA area with the device layer alone. Prints the
// seconds the work took (without the process start, enumeration and opening).
#include "flashlayout.h"
#include "qvrusb.h"

#include <QCoreApplication>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace FlashLayout;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    QVRUsb camera;
    if (QVRUsb::enumerateCameras() != 1 || !camera.open(QVRUsb::cameraList().indices.at(0)))
        return 2;
    const Clock::time_point start = Clock::now();
    if (args.value(0) == QLatin1String("bare")) {
        std::vector<std::pair<uint32_t, int>> reads{{HeaderStart, int(HeaderSize)}};
        for (uint32_t a = 0; a < FirmwareLimit; a += ChunkSize)
            reads.emplace_back(FirmwareStart + a, int(ChunkSize));
        for (uint32_t a = 0; a < FpgaLimit; a += ChunkSize)
            reads.emplace_back(FpgaStart + a, int(ChunkSize));
        std::vector<uint8_t> buffer(ChunkSize);
        for (const auto& r : reads)
            if (!camera.sendVendorRequest(QVRUsb::ReqReadPage, 0, uint16_t(r.first / PageSize), 1,
                                          buffer.data(), r.second))
                return 1;
    } else if (args.value(0) == QLatin1String("write")) {
        std::atomic<uint8_t> progress{0};
        if (camera.writeFpga(QFile::encodeName(args.value(1)).constData(), &progress) != 0)
            return 1;
    } else {
        return 2;
    }
    std::printf("%.6f\n", std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}
