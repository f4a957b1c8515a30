// flashwick-cli against an emulated camera that is never busy, in one run:
//  - "camera backup" of both areas (firmware area, header record, largest bitstream: 705 read
//    requests) against the same 705 read requests sent bare through QVRUsb;
//  - "camera write-fpga" of the largest bitstream against the floor of one 20 ms pause per chunk,
//    beside the device layer's own write of the same file.
// The command's start (process, enumeration, opening, identification) is measured with "camera
// info" and reported apart.
//   umockdev-wrapper build/bin/bench_cli [repetitions]
#include "emulator.h"
#include "flashlayout.h"
#include "qvrusb.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace flashwick::emu;
using namespace FlashLayout;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Command
{
    QString program;
    QProcessEnvironment environment;
    // Wall time of one run, or -1 when it failed.
    double run(const QStringList& args) const
    {
        QProcess p;
        p.setProcessEnvironment(environment);
        const Clock::time_point start = Clock::now();
        p.start(program, args);
        if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "%s %s failed:\n%s\n", qPrintable(program), qPrintable(args.join(' ')),
                         p.readAllStandardError().constData());
            return -1;
        }
        return seconds(start);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    Testbed testbed;
    if (!testbed.isValid() || !testbed.preloadActive()) {
        std::fprintf(stderr, "needs the umockdev preload: run under umockdev-wrapper (%s)\n",
                     testbed.errorString().c_str());
        return 2;
    }
    const DeviceId id = testbed.addCamera(); // zero busy time
    QTemporaryDir dir;

    // The largest bitstream, written in the FPGA area with its header record, so a backup reads it all.
    std::vector<uint8_t> bitstream(FpgaLimit - FpgaFront);
    for (size_t i = 0; i < bitstream.size(); ++i)
        bitstream[i] = uint8_t(i * 7 + (i >> 9));
    const HeaderRecord header = fpgaHeaderRecord(FpgaLimit);
    testbed.setFlash(id, HeaderStart, std::vector<uint8_t>(header.begin(), header.end()));
    testbed.setFlash(id, FpgaStart, std::vector<uint8_t>(FpgaFront, 0xFF));
    testbed.setFlash(id, FpgaStart + FpgaFront, bitstream);
    const QString bitFile = dir.filePath(QStringLiteral("largest.bit"));
    {
        QFile f(bitFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char*>(bitstream.data()),
                                                     qint64(bitstream.size())) != qint64(bitstream.size()))
            return 2;
    }

    int found = 0;
    for (int i = 0; i < 250 && found != 1; ++i) {
        found = QVRUsb::enumerateCameras();
        if (found != 1)
            QThread::msleep(20);
    }
    if (found != 1) {
        std::fprintf(stderr, "emulated camera not found\n");
        return 2;
    }

    Command cli;
    cli.program = QCoreApplication::applicationDirPath() + QStringLiteral("/flashwick-cli");
    cli.environment = QProcessEnvironment::systemEnvironment();
    for (const std::string& e : testbed.environmentForChild()) {
        const size_t eq = e.find('=');
        cli.environment.insert(QString::fromStdString(e.substr(0, eq)),
                               QString::fromStdString(e.substr(eq + 1)));
    }

    // The read requests of a backup of both areas, in its order.
    struct Read
    {
        uint32_t address;
        int length;
    };
    std::vector<Read> reads{{HeaderStart, int(HeaderSize)}};
    for (uint32_t a = 0; a < FirmwareLimit; a += ChunkSize)
        reads.push_back({FirmwareStart + a, int(ChunkSize)});
    for (uint32_t a = 0; a < FpgaLimit; a += ChunkSize)
        reads.push_back({FpgaStart + a, int(ChunkSize)});

    std::vector<double> bare, backup, info;
    std::vector<uint8_t> buffer(ChunkSize);
    for (int rep = 0; rep < repetitions; ++rep) {
        {
            QVRUsb camera;
            if (!camera.open(QVRUsb::cameraList().indices.at(0)))
                return 2;
            const Clock::time_point start = Clock::now();
            for (const Read& r : reads)
                if (!camera.sendVendorRequest(QVRUsb::ReqReadPage, 0, uint16_t(r.address / PageSize), 1,
                                              buffer.data(), r.length))
                    return 2;
            bare.push_back(seconds(start));
        }
        const QString fw = dir.filePath(QStringLiteral("b%1.img").arg(rep));
        const QString bit = dir.filePath(QStringLiteral("b%1.bit").arg(rep));
        const double b = cli.run({QStringLiteral("camera"), QStringLiteral("backup"), QStringLiteral("--fw"),
                                  fw, QStringLiteral("--fpga"), bit});
        const double i = cli.run({QStringLiteral("camera"), QStringLiteral("info")});
        if (b < 0 || i < 0 || QFile(bit).size() != qint64(bitstream.size()))
            return 1;
        backup.push_back(b);
        info.push_back(i);
    }
    const double bareS = median(bare), backupS = median(backup), infoS = median(info);
    std::printf("camera backup of both areas, %zu read requests, median of %d:\n"
                "  bare read requests %.3f s\n"
                "  command %.3f s, of which its start (camera info) %.3f s\n"
                "  backup part %.3f s: %+.1f %% against the bare requests (whole command %+.1f %%)\n",
                reads.size(), repetitions, bareS, backupS, infoS, backupS - infoS,
                100.0 * (backupS - infoS - bareS) / bareS, 100.0 * (backupS - bareS) / bareS);

    // Writes: the command and, in the same run, the device layer alone.
    testbed.clearRequests(id);
    const double writeS =
        cli.run({QStringLiteral("camera"), QStringLiteral("write-fpga"), QStringLiteral("--yes"), bitFile});
    unsigned pageWrites = 0;
    for (const ControlRequest& r : testbed.requests(id))
        pageWrites += r.vendor() && r.request == QVRUsb::ReqWritePage;
    const double floor = pageWrites * ChunkPauseMs / 1000.0;
    double layerS = 0;
    {
        QVRUsb camera;
        if (writeS < 0 || !camera.open(QVRUsb::cameraList().indices.at(0)))
            return 1;
        std::atomic<uint8_t> progress{0};
        const QByteArray name = QFile::encodeName(bitFile);
        const Clock::time_point start = Clock::now();
        if (camera.writeFpga(name.constData(), &progress) != 0)
            return 1;
        layerS = seconds(start);
    }
    std::printf("camera write-fpga of the largest bitstream, %u chunks, floor %.3f s:\n"
                "  command %.3f s, its start %.3f s: the write %.3f s, %.2f %% above the floor\n"
                "  device layer alone %.3f s, %.2f %% above the floor\n",
                pageWrites, floor, writeS, infoS, writeS - infoS, 100.0 * (writeS - infoS - floor) / floor,
                layerS, 100.0 * (layerS - floor) / floor);
    return 0;
}
