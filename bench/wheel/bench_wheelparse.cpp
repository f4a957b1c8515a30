// The longest stall of the window while the largest wheel firmware file taken (1 MiB) is parsed:
// the parse alone (what the window would stall for if it parsed on its own thread), then the
// lateness of a 10 ms GUI-thread timer while the window parses the file on the thread pool.
//   QT_QPA_PLATFORM=offscreen build/bin/bench_wheelparse [repetitions]
#include "../ticklateness.h"
#include "hexparser.h"
#include "hexrecord.h"
#include "mainwindowtestaccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// One record line with its CR LF line end.
QByteArray record(uint8_t type, uint16_t address, const QByteArray& data)
{
    return hexRecord(type, address, data) + "\r\n";
}

// A file of almost exactly MaxHexFileSize bytes that parses: the largest image (46048 bytes) and
// then records of a type the image leaves out.
QByteArray largestFile()
{
    QByteArray text = record(0x04, 0, QByteArray::fromHex("0800"));
    for (int offset = 0; offset < 46048; offset += 16) {
        QByteArray data(16, '\0');
        for (int i = 0; i < 16; ++i)
            data[i] = char((offset + i) * 13);
        text += record(0x00, uint16_t(0x4000 + offset), data);
    }
    const QByteArray end = record(0x01, 0, {});
    const QByteArray filler = record(0x03, 0, QByteArray(4, '\0'));
    while (text.size() + filler.size() + end.size() <= MaxHexFileSize)
        text += filler;
    return text + end;
}

double percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * v.size()))];
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZW_v3.0.0.hex"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(largestFile()) < 0)
            return 1;
    }
    printf("file: %lld bytes (limit %lld)\n", QFileInfo(path).size(), MaxHexFileSize);

    std::vector<double> parseMs;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer t;
        t.start();
        const HexParseResult result = parseHexFile(path);
        parseMs.push_back(t.nsecsElapsed() / 1e6);
        if (!result.ok()) {
            fprintf(stderr, "bench_wheelparse: %s\n", qPrintable(hexParseLogText(result)));
            return 1;
        }
    }
    printf("parseHexFile: median %.1f ms, max %.1f ms (the stall if the window parsed itself)\n",
           percentile(parseMs, 0.5), percentile(parseMs, 1.0));

    TestSettings settings;
    MainWindow window;
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("lineEditFWFilePath_ZW"))->setText(path);

    TickLateness lateness;
    int parsed = 0;
    QTimer::singleShot(0, [&] {
        lateness.start();
        for (int i = 0; i < repetitions; ++i)
            parsed += MainWindowTestAccess::parseZWFirmwareFile(window) ? 1 : 0;
        lateness.stop();
        app.quit();
    });
    app.exec();
    if (lateness.ticks() == 0 || parsed != repetitions)
        return 1;
    printf("window parsing %d times: 10 ms timer, %zu ticks, lateness p50 %.2f ms, p99 %.2f ms, max %.2f ms "
           "(target max < 100)\n",
           repetitions, lateness.ticks(), lateness.at(0.5), lateness.at(0.99), lateness.at(1.0));
    return 0;
}
