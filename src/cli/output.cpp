#include "output.h"

#include <QJsonDocument>
#include <cstdio>
#include <unistd.h>

namespace {
void writeLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fputc('\n', stream);
    fflush(stream);
}
constexpr int BarWidth = 30;
constexpr int RedrawMs = 200;
constexpr qint64 RateWindowMs = 5000;
} // namespace

Output::Output(bool json) : jsonMode(json), terminal(!json && isatty(STDERR_FILENO)) {}

void Output::emitEvent(const QJsonObject& event)
{
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact);
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void Output::log(const QString& line)
{
    if (jsonMode) {
        emitEvent({{"event", "log"}, {"text", line}});
        return;
    }
    if (barShown) {
        fputs("\r\033[K", stderr);
        barShown = false;
    }
    writeLine(stderr, line);
    if (terminal && percent >= 0)
        drawBar(true);
}

void Output::data(const QString& kind, const QJsonObject& event, const QString& text)
{
    if (jsonMode) {
        QJsonObject e = event;
        e.insert(QStringLiteral("event"), kind);
        emitEvent(e);
        return;
    }
    writeLine(stdout, text);
}

void Output::error(const QString& line)
{
    if (barShown) {
        fputs("\r\033[K", stderr);
        barShown = false;
    }
    writeLine(stderr, QStringLiteral("flashwick-cli: ") + line);
    if (jsonMode)
        emitEvent({{"event", "error"}, {"text", line}});
}

void Output::beginProgress(const QString& what, qint64 totalBytes)
{
    operation = what;
    total = totalBytes;
    percent = -1;
    bytes = 0;
    nextLinePercent = 10;
    clock.start();
    lastDrawMs = -1000;
    recent.clear();
}

QString Output::sizeText(qint64 value)
{
    if (value < 1024)
        return QStringLiteral("%1 B").arg(value);
    if (value < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(value) / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(value) / (1024.0 * 1024.0), 0, 'f', 1);
}

QString Output::durationText(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void Output::drawBar(bool force)
{
    const qint64 elapsed = clock.elapsed();
    if (!force && elapsed - lastDrawMs < RedrawMs)
        return;
    lastDrawMs = elapsed;
    const int p = qBound(0, percent, 100);
    const int filled = p * BarWidth / 100;
    QString bar = QString(filled, QLatin1Char('#')) + QString(BarWidth - filled, QLatin1Char('-'));
    // Time left at the rate of the last seconds, since the phases of a write (erase, program) run
    // at different rates.
    QString left = QStringLiteral("--:--");
    if (p == 100)
        left = durationText(0);
    else if (!recent.empty() && p > recent.front().second && elapsed > recent.front().first)
        left = durationText((elapsed - recent.front().first) * (100 - p) / (p - recent.front().second));
    const QString line = QStringLiteral("\r\033[K%1 [%2] %3 %  %4 / %5  %6 elapsed  %7 left")
                             .arg(operation, bar)
                             .arg(p, 3)
                             .arg(sizeText(bytes), sizeText(total), durationText(elapsed), left);
    fputs(line.toLocal8Bit().constData(), stderr);
    fflush(stderr);
    barShown = true;
}

void Output::updateProgress(int newPercent, qint64 newBytes)
{
    newPercent = qBound(0, newPercent, 100);
    const bool changed = newPercent != percent || newBytes != bytes;
    percent = newPercent;
    bytes = newBytes;
    if (jsonMode) {
        if (changed)
            emitEvent({{"event", "progress"},
                       {"operation", operation},
                       {"percent", percent},
                       {"bytes", double(bytes)},
                       {"total", double(total)},
                       {"elapsedMs", double(clock.elapsed())}});
        return;
    }
    if (terminal) {
        const qint64 now = clock.elapsed();
        recent.emplace_back(now, percent);
        while (recent.size() > 2 && now - recent[1].first >= RateWindowMs)
            recent.pop_front();
        drawBar(false);
        return;
    }
    // One line for every 10 % step reached, so a log shows ten of them for a whole run.
    while (nextLinePercent <= percent) {
        writeLine(stderr, QStringLiteral("%1: %2 % (%3 of %4 bytes, %5 s)")
                              .arg(operation)
                              .arg(nextLinePercent)
                              .arg(bytes)
                              .arg(total)
                              .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1));
        nextLinePercent += 10;
    }
}

void Output::endProgress()
{
    if (terminal && percent >= 0) {
        drawBar(true);
        fputc('\n', stderr);
        fflush(stderr);
    }
    barShown = false;
    percent = -1;
}

int Output::result(int code, const QString& message, const QJsonObject& extra)
{
    if (barShown) {
        fputs("\r\033[K", stderr);
        barShown = false;
    }
    if (code != 0 && !message.isEmpty())
        writeLine(stderr, QStringLiteral("flashwick-cli: ") + message);
    if (jsonMode) {
        QJsonObject e = extra;
        e.insert(QStringLiteral("event"), QStringLiteral("result"));
        e.insert(QStringLiteral("exit"), code);
        e.insert(QStringLiteral("ok"), code == 0);
        e.insert(QStringLiteral("message"), message);
        emitEvent(e);
    } else if (code == 0 && !message.isEmpty()) {
        writeLine(stdout, message);
    }
    return code;
}
