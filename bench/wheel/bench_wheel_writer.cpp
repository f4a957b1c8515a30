// Times a full-size wheel image (46048 bytes: 45 erase, 1439 write and 1 run command) written by
// DevizuvEZWriteFWObject to the emulated bootloader, against bare hidapi exchanges with the same
// reports, so that the difference is the writer's own cost per exchange.
// glib first: its headers use "signals" as a field name, which Qt defines as a keyword.
#include <umockdev.h>

#include "devizuvezwritefwobject.h"
#include "wheelbootloadermodel.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <hidapi.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ImageSize = 46048;
constexpr int EraseCommands = 45;
constexpr int WriteCommands = (ImageSize + 31) / 32;
constexpr int Exchanges = EraseCommands + WriteCommands + 1;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Steps
{
    double erase = 0, write = 0, run = 0;
    double total() const { return erase + write + run; }
    double eraseAndWrite() const { return erase + write; }
};

// One update through the writer; false when a step fails or the flash is not the image afterwards.
bool timeWriter(WheelBootloaderModel& model, const QByteArray& image, Steps& steps)
{
    if (!model.plug() || DevizuvEZWriteFWObject::GetZWBootloadCount() < 1)
        return false;
    DevizuvEZWriteFWObject writer(0);
    if (!writer.Open() ||
        !writer.SetFirmwareData(WheelBootloaderModel::DefaultFlashBase,
                                reinterpret_cast<const uint8_t*>(image.constData()), uint32_t(image.size())))
        return false;
    auto start = Clock::now();
    const bool erased = writer.EraseFlash();
    steps.erase = msSince(start);
    start = Clock::now();
    const bool written = erased && writer.WriteFlash();
    steps.write = msSince(start);
    start = Clock::now();
    const bool ran = written && writer.RunProgram();
    steps.run = msSince(start);
    const QByteArray expected =
        image + QByteArray(int(WheelBootloaderModel::FlashSize) - image.size(), char(0xFF));
    return ran && model.runningNewFirmware() && model.flash() == expected;
}

// The erase and write exchanges again with bare hidapi calls and prepared reports.
double timeBareHidapi(WheelBootloaderModel& model)
{
    if (!model.plug())
        return -1;
    hid_device* device = hid_open_path(model.devicePath().toLocal8Bit().constData());
    if (!device)
        return -1;
    uint8_t erase[9] = {0x00, 0x7E, 0x5A, 0x20, 0x00, 0x00, 0x40, 0x00, 0x08};
    uint8_t write[41] = {0x00, 0x7E, 0x5A, 0x21, 0x20, 0x00, 0x40, 0x00, 0x08};
    memset(write + 9, 0xFF, 32);
    uint8_t reply[48];
    const auto start = Clock::now();
    for (int i = 0; i < EraseCommands + WriteCommands; ++i) {
        const bool isErase = i < EraseCommands;
        if (hid_write(device, isErase ? erase : write, isErase ? sizeof erase : sizeof write) < 0 ||
            hid_read_timeout(device, reply, sizeof reply, 200) != sizeof reply) {
            hid_close(device);
            return -1;
        }
    }
    const double ms = msSince(start);
    hid_close(device);
    model.unplug();
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    UMockdevTestbed* testbed = umockdev_testbed_new();
    if (!umockdev_in_mock_environment()) {
        fprintf(stderr, "run this under umockdev-wrapper\n");
        return 2;
    }

    QRandomGenerator random(46048);
    QByteArray image(ImageSize, '\0');
    for (char& b : image)
        b = char(random.bounded(256));

    // Writer and bare runs alternate, so that load from elsewhere on the machine hits both alike.
    std::vector<double> writerTotals, writerSteps, runSteps, bareSteps;
    {
        WheelBootloaderModel model(testbed);
        printf("full image: %d bytes, %d exchanges (%d erase, %d write, 1 run), %d repetitions\n", ImageSize,
               Exchanges, EraseCommands, WriteCommands, repetitions);
        printf("%-4s %10s %10s %10s %10s %14s %14s\n", "rep", "erase ms", "write ms", "run ms", "total ms",
               "ms/exchange", "bare ms/exch.");
        for (int r = 0; r < repetitions; ++r) {
            Steps steps;
            if (!timeWriter(model, image, steps)) {
                fprintf(stderr, "update %d failed\n", r + 1);
                return 1;
            }
            model.unplug();
            const double bare = timeBareHidapi(model);
            if (bare < 0) {
                fprintf(stderr, "bare exchanges failed\n");
                return 1;
            }
            writerTotals.push_back(steps.total());
            writerSteps.push_back(steps.eraseAndWrite() / (Exchanges - 1));
            runSteps.push_back(steps.run);
            bareSteps.push_back(bare / (Exchanges - 1));
            printf("%-4d %10.2f %10.2f %10.3f %10.2f %14.4f %14.4f\n", r + 1, steps.erase, steps.write,
                   steps.run, steps.total(), steps.total() / Exchanges, bareSteps.back());
        }
    }
    const double writerPer = median(writerSteps);
    const double barePer = median(bareSteps);
    printf(
        "median total %.2f ms (%.4f ms per exchange); run command %.3f ms (the bootloader leaves the bus)\n",
        median(writerTotals), median(writerTotals) / Exchanges, median(runSteps));
    printf("erase + write: %.4f ms per exchange through the writer, %.4f ms per bare hidapi exchange\n",
           writerPer, barePer);
    printf("writer's own cost: %.4f ms per exchange (target < 0.1 ms)\n", writerPer - barePer);
    g_object_unref(testbed);
    return 0;
}
