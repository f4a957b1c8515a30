// flashwick-cli against an emulated camera that is never busy, in one run:
//  - "camera backup" of both areas (firmware area, header record, largest bitstream: 705 read
//    requests) against a process that sends the same 705 read requests bare through QVRUsb;
//  - "camera write-fpga" of the largest bitstream against the floor of one 20 ms pause per chunk,
//    beside a process that runs the device layer's write of the same file alone.
// Every measured program runs in a process of its own that links the device layer only, as the
// command does (bench_cli_device does the bare requests and the layer's write), so all of them
// reach the emulated camera the same way. The command's start (process, enumeration, opening, identification)
// is measured with "camera info" and reported apart.
//   umockdev-wrapper build/bin/bench_cli [repetitions]
#include "emulator.h"
#include "flashlayout.h"
#include "qvrusb.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
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

struct Program
{
    QString path;
    QProcessEnvironment environment;
    QByteArray output;
    // Wall time of one run, or -1 when it failed.
    double run(const QStringList& args)
    {
        QProcess p;
        p.setProcessEnvironment(environment);
        const Clock::time_point start = Clock::now();
        p.start(path, args);
        if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "%s %s failed:\n%s\n", qPrintable(path), qPrintable(args.join(' ')),
                         p.readAllStandardError().constData());
            return -1;
        }
        const double wall = seconds(start);
        output = p.readAllStandardOutput();
        return wall;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const int repetitions = args.isEmpty() ? 5 : std::max(1, args.first().toInt());

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
    for (int i = 0; i < 250 && QVRUsb::enumerateCameras() != 1; ++i)
        QThread::msleep(20);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const std::string& e : testbed.environmentForChild()) {
        const size_t eq = e.find('=');
        environment.insert(QString::fromStdString(e.substr(0, eq)), QString::fromStdString(e.substr(eq + 1)));
    }
    Program cli{QCoreApplication::applicationDirPath() + QStringLiteral("/flashwick-cli"), environment, {}};
    Program self{
        QCoreApplication::applicationDirPath() + QStringLiteral("/bench_cli_device"), environment, {}};

    std::vector<double> bareWall, bareLoop, backup, reading, start;
    unsigned readRequests = 0;
    for (int rep = 0; rep < repetitions; ++rep) {
        // Alternate the order, so neither side always runs first.
        double bw = 0, bl = 0, b = 0, r = 0;
        const QString fw = dir.filePath(QStringLiteral("b%1.img").arg(rep));
        const QString bit = dir.filePath(QStringLiteral("b%1.bit").arg(rep));
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + rep) % 2 == 0) {
                bw = self.run({QStringLiteral("bare")});
                bl = self.output.trimmed().toDouble();
            } else {
                testbed.clearRequests(id);
                b = cli.run({QStringLiteral("camera"), QStringLiteral("backup"), QStringLiteral("--json"),
                             QStringLiteral("--fw"), fw, QStringLiteral("--fpga"), bit});
                // The reads inside the command: from its progress events, up to the last one.
                for (const QByteArray& line : cli.output.split('\n')) {
                    const QJsonObject e = QJsonDocument::fromJson(line).object();
                    if (e.value(QStringLiteral("event")).toString() == QLatin1String("progress"))
                        r = e.value(QStringLiteral("elapsedMs")).toDouble() / 1000.0;
                }
                readRequests = 0;
                for (const ControlRequest& r : testbed.requests(id))
                    readRequests += r.vendor() && r.request == QVRUsb::ReqReadPage;
            }
        }
        const double i = cli.run({QStringLiteral("camera"), QStringLiteral("info")});
        if (bw < 0 || b < 0 || i < 0 || QFile(bit).size() != qint64(bitstream.size()))
            return 1;
        bareWall.push_back(bw);
        bareLoop.push_back(bl);
        backup.push_back(b);
        reading.push_back(r);
        start.push_back(i);
    }
    const double bareW = median(bareWall), bareL = median(bareLoop), backupW = median(backup),
                 startW = median(start), readW = median(reading);
    std::printf(
        "camera backup of both areas, %u read requests, median of %d runs:\n"
        "  bare read requests: %.3f s in a process of %.3f s\n"
        "  camera backup: process of %.3f s, %+.1f %% against the bare process\n"
        "    its reads (progress events) %.3f s, %+.1f %% against the bare requests\n"
        "    its start (camera info) %.3f s; the rest, saving and syncing the files and ending, %.3f s\n",
        readRequests, repetitions, bareL, bareW, backupW, 100.0 * (backupW - bareW) / bareW, readW,
        100.0 * (readW - bareL) / bareL, startW, backupW - startW - readW);

    // Writes: the command and the device layer alone, each in a process of its own.
    testbed.clearRequests(id);
    const double writeW =
        cli.run({QStringLiteral("camera"), QStringLiteral("write-fpga"), QStringLiteral("--yes"), bitFile});
    unsigned pageWrites = 0;
    for (const ControlRequest& r : testbed.requests(id))
        pageWrites += r.vendor() && r.request == QVRUsb::ReqWritePage;
    const double layerW = self.run({QStringLiteral("write"), bitFile});
    const double layer = self.output.trimmed().toDouble();
    if (writeW < 0 || layerW < 0)
        return 1;
    const double floor = pageWrites * ChunkPauseMs / 1000.0;
    const double write = writeW - startW;
    std::printf("camera write-fpga of the largest bitstream, %u chunks, floor %.3f s:\n"
                "  command %.3f s, less its start: %.3f s, %.2f %% above the floor\n"
                "  device layer alone %.3f s, %.2f %% above the floor\n"
                "  the command's own cost: %.3f s, %.2f %% of the floor\n",
                pageWrites, floor, writeW, write, 100.0 * (write - floor) / floor, layer,
                100.0 * (layer - floor) / floor, write - layer, 100.0 * (write - layer) / floor);
    return 0;
}
