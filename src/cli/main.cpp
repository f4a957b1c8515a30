// flashwick-cli: camera and filter-wheel updates from a terminal or a script.
#include "cli.h"
#include "interrupt.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
// The device layers trace their traffic with qDebug; a terminal tool shows only its own lines.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    fprintf(stderr, "flashwick-cli: %s\n", message.toLocal8Bit().constData());
}
} // namespace

int main(int argc, char** argv)
{
    Interrupt::install();
    qInstallMessageHandler(quietMessages);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("flashwick-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHWICK_VERSION));
    return runCli(QCoreApplication::arguments().mid(1));
}
