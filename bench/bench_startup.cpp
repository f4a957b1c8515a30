// Time from process start to a shown main window, with the wheel library (the stand-in) and without
// one, alternating in one run. Each start is a fresh child process, since the library is looked for
// once per process. Prints the medians, their ratio and the look-up time inside the child.
//   build/bin/bench_startup [rounds]          (offscreen unless QT_QPA_PLATFORM is set)
#include "devizuvezloader.h"
#include "mainwindowtestaccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The child: builds and shows the window as main() does, then reports and ends.
int child(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    TestSettings settings;
    QElapsedTimer lookUp;
    lookUp.start();
    const bool loaded = devizuvezLoad();
    const double lookUpMs = lookUp.nsecsElapsed() / 1e6;
    MainWindow window;
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    QCoreApplication::processEvents();
    printf("shown %d %.3f %.3f\n", loaded ? 1 : 0, sinceMain.nsecsElapsed() / 1e6, lookUpMs);
    fflush(stdout);
    return 0;
}

struct Sample
{
    double startMs = 0; // process start to the "shown" line
    double insideMs = 0;
    double lookUpMs = 0;
};

bool runOnce(bool withLibrary, Sample& sample)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("FLASHWICK_DEVIZUVEZ"), withLibrary
                                                          ? QStringLiteral(STANDIN_LIBRARY)
                                                          : QStringLiteral("/nonexistent/libDevizuvEZ.so"));
    QProcess process;
    process.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
    QByteArray line;
    while (!line.endsWith('\n') && process.waitForReadyRead(30000))
        line += process.readAll();
    sample.startMs = clock.nsecsElapsed() / 1e6;
    process.waitForFinished(30000);
    int loaded = -1;
    if (sscanf(line.constData(), "shown %d %lf %lf", &loaded, &sample.insideMs, &sample.lookUpMs) != 3 ||
        loaded != (withLibrary ? 1 : 0)) {
        fprintf(stderr, "bench_startup: unexpected child output: %s\n%s\n", line.constData(),
                process.readAllStandardError().constData());
        return false;
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    std::vector<double> start[2], inside[2], lookUp[2];
    Sample warmUp;
    runOnce(true, warmUp); // file caches
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 2; ++i) {
            const bool withLibrary = (round + i) % 2 == 0; // alternate which goes first
            Sample s;
            if (!runOnce(withLibrary, s))
                return 1;
            start[withLibrary].push_back(s.startMs);
            inside[withLibrary].push_back(s.insideMs);
            lookUp[withLibrary].push_back(s.lookUpMs);
        }
    }
    printf("%d starts each, medians in ms       with library   without   ratio\n", rounds);
    printf("process start to shown window       %12.1f %9.1f %7.3f\n", median(start[1]), median(start[0]),
           median(start[1]) / median(start[0]));
    printf("main() to shown window              %12.1f %9.1f %7.3f\n", median(inside[1]), median(inside[0]),
           median(inside[1]) / median(inside[0]));
    printf("library look-up (devizuvezLoad)     %12.3f %9.3f\n", median(lookUp[1]), median(lookUp[0]));
    // The two starts of a round ran back to back: their difference suffers least from the machine's load.
    std::vector<double> difference;
    for (int round = 0; round < rounds; ++round)
        difference.push_back(start[1][size_t(round)] - start[0][size_t(round)]);
    printf("median of per-round differences (with - without), process start to shown: %+.1f ms\n",
           median(difference));
    return 0;
}
