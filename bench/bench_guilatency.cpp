// While the window writes the largest FPGA bitstream to an emulated camera, a 10 ms timer on the
// GUI thread records how late each tick fires. Prints p50, p99 and max lateness.
//   QT_QPA_PLATFORM=offscreen umockdev-wrapper build/bin/bench_guilatency
#include "emulator.h"
#include "mainwindowtestaccess.h"
#include "ticklateness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace flashwick::emu;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Testbed bed;
    if (!bed.isValid()) {
        fprintf(stderr, "bench_guilatency: %s\n", bed.errorString().c_str());
        return 1;
    }
    bed.addCamera();

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("largest.bit"));
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        QByteArray bytes(2621184, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 31 + (i >> 8));
        f.write(bytes);
    }

    TestSettings settings;
    MainWindow window;
    window.show();
    MainWindowTestAccess::notShowWarning(window) = true;
    window.findChild<QLineEdit*>(QStringLiteral("lineEditFPGAFilePath"))->setText(file);
    auto* label = window.findChild<QLabel*>(QStringLiteral("labelMsg"));

    TickLateness lateness;

    answerNextBox(QMessageBox::Yes); // the FPGA question
    QTimer::singleShot(0, [&] {
        window.findChild<QPushButton*>(QStringLiteral("pushButtonWriteFPGA"))->click();
        lateness.start();
    });
    QElapsedTimer wall;
    wall.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QString state = label->property("res").toString();
        if (state == QLatin1String("ok") || state == QLatin1String("failed")) {
            lateness.stop();
            poll.stop();
            printf("write %s in %.1f s\n", qPrintable(state), wall.elapsed() / 1000.0);
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
            app.quit();
        }
    });
    poll.start(50);
    answerNextBox(QMessageBox::Ok, nullptr, 600000); // the result box
    app.exec();

    if (lateness.ticks() == 0)
        return 1;
    printf("10 ms timer, %zu ticks: lateness p50 %.2f ms, p99 %.2f ms, max %.2f ms (target p99 < 20, max < "
           "50)\n",
           lateness.ticks(), lateness.at(0.5), lateness.at(0.99), lateness.at(1.0));
    return 0;
}
