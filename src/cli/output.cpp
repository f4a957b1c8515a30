#include "output.h"

#include <QJsonDocument>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int MaxBarWidth = 30;
constexpr int MinBarWidth = 10;
constexpr int RedrawMs = 200;
constexpr qint64 RateWindowMs = 5000;

std::atomic<bool> resized{false};

void onResize(int)
{
    resized.store(true);
}

void writeLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fputc('\n', stream);
    fflush(stream);
}

// Columns of the terminal on stderr; COLUMNS, then 80, when it does not say.
int terminalColumns()
{
    winsize size = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    const int fromEnvironment = qEnvironmentVariableIntValue("COLUMNS");
    return fromEnvironment > 0 ? fromEnvironment : 80;
}

} // namespace

Output::Output(bool json, Verbosity verbosity)
    : jsonMode(json), verbosity(verbosity), terminal(!json && isatty(STDERR_FILENO))
{
    if (terminal) {
        columns = terminalColumns();
        struct sigaction action = {};
        action.sa_handler = onResize;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGWINCH, &action, nullptr);
    }
}

Output::~Output()
{
    if (terminal)
        signal(SIGWINCH, SIG_DFL);
}

void Output::emitEvent(QJsonObject event)
{
    event.insert(QStringLiteral("schema"), SchemaVersion);
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact);
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void Output::clearBar()
{
    if (barShown) {
        fputs("\r\033[K", stderr);
        barShown = false;
    }
}

void Output::message(const QString& level, const QString& line)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (verbosity == Verbosity::Quiet)
        return;
    if (level != QLatin1String("trace"))
        flushTrace();
    if (jsonMode) {
        emitEvent({{"event", "log"}, {"text", line}, {"level", level}});
        return;
    }
    clearBar();
    if (level == QLatin1String("warning"))
        writeLine(stderr, QStringLiteral("flashwick-cli: warning: ") + line);
    else if (level == QLatin1String("trace"))
        writeLine(stderr, QStringLiteral("  > ") + line);
    else
        writeLine(stderr, line);
    if (terminal && percent >= 0)
        drawBar(true);
}

void Output::log(const QString& line)
{
    message(QStringLiteral("info"), line);
}

void Output::warning(const QString& line)
{
    message(QStringLiteral("warning"), line);
}

void Output::trace(const QString& line)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (verbosity != Verbosity::Verbose)
        return;
    if (line == lastTrace) {
        ++traceRepeats;
        return;
    }
    flushTrace();
    lastTrace = line;
    message(QStringLiteral("trace"), line);
}

void Output::flushTrace()
{
    if (traceRepeats > 0) {
        const int n = traceRepeats;
        traceRepeats = 0;
        message(QStringLiteral("trace"), QStringLiteral("(the line above %1 more time%2)")
                                             .arg(n)
                                             .arg(n == 1 ? QString() : QStringLiteral("s")));
    }
    lastTrace.clear();
}

void Output::data(const QString& kind, const QJsonObject& event, const QString& text)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    flushTrace();
    if (jsonMode) {
        QJsonObject e = event;
        e.insert(QStringLiteral("event"), kind);
        emitEvent(e);
        return;
    }
    writeLine(stdout, text);
}

void Output::beginProgress(const QString& what, qint64 totalBytes, const QString& firstPhase)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    operation = what;
    phase = firstPhase;
    shownPhase.clear();
    total = totalBytes;
    percent = -1;
    bytes = 0;
    nextLinePercent = 10;
    clock.start();
    lastDrawMs = -1000;
    recent.clear();
}

void Output::setPhase(const QString& newPhase)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    phase = newPhase; // shown by the next update
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

QString Output::barLine(int columns, const QString& operation, const QString& phase, int percent,
                        qint64 bytes, qint64 total, qint64 elapsedMs, const QString& left)
{
    const int room = qMax(1, columns - 1);
    const int p = qBound(0, percent, 100);
    // The phase padded to the longest, "write + verify", so the bar does not move when it changes.
    const QString head = operation + QLatin1Char(' ') + phase.leftJustified(14);
    const QString share = QStringLiteral("%1 %").arg(p, 3);
    // The parts after the percent, and the widest each can be, so the bar keeps its width while the
    // numbers change.
    const QStringList parts{sizeText(bytes) + QStringLiteral(" / ") + sizeText(total),
                            durationText(elapsedMs) + QStringLiteral(" elapsed"),
                            left + QStringLiteral(" left")};
    const int widest[] = {int(QStringLiteral("1023.9 KiB / ").size() + sizeText(total).size()),
                          int(QStringLiteral("99:59 elapsed").size()),
                          int(QStringLiteral("99:59 left").size())};
    bool shown[] = {true, true, true};
    const int leftOut[] = {1, 0, 2}; // the elapsed time, the sizes, the time left
    for (int dropped = 0;; ++dropped) {
        int after = share.size();
        for (int i = 0; i < 3; ++i)
            after += shown[i] ? 2 + qMax(widest[i], int(parts.at(i).size())) : 0;
        const int width = qMin(MaxBarWidth, room - int(head.size()) - 4 - after);
        if (width >= MinBarWidth || dropped == 3) {
            QString tail = share;
            for (int i = 0; i < 3; ++i)
                if (shown[i])
                    tail += QStringLiteral("  ") + parts.at(i);
            if (width < 3)
                return (head + QLatin1Char(' ') + tail).left(room);
            const int filled = p * width / 100;
            return head + QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                   QString(width - filled, QLatin1Char('-')) + QStringLiteral("] ") + tail;
        }
        shown[leftOut[dropped]] = false;
    }
}

void Output::drawBar(bool force)
{
    const qint64 elapsed = clock.elapsed();
    if (resized.exchange(false)) {
        columns = terminalColumns();
        force = true;
    }
    if (!force && elapsed - lastDrawMs < RedrawMs)
        return;
    lastDrawMs = elapsed;
    const int p = qBound(0, percent, 100);
    // Time left at the rate of the last seconds, since the phases of a write (erase, program) run
    // at different rates.
    QString left = QStringLiteral("--:--");
    if (p == 100)
        left = durationText(0);
    else if (!recent.empty() && p > recent.front().second && elapsed > recent.front().first)
        left = durationText((elapsed - recent.front().first) * (100 - p) / (p - recent.front().second));
    const QString line =
        QStringLiteral("\r\033[K") + barLine(columns, operation, phase, p, bytes, total, elapsed, left);
    fputs(line.toLocal8Bit().constData(), stderr);
    fflush(stderr);
    barShown = true;
}

void Output::updateProgress(int newPercent, qint64 newBytes)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    newPercent = qBound(0, newPercent, 100);
    const bool newPhase = phase != shownPhase;
    const bool changed = newPercent != percent || newBytes != bytes || newPhase;
    shownPhase = phase;
    percent = newPercent;
    bytes = newBytes;
    if (verbosity == Verbosity::Quiet)
        return;
    if (jsonMode) {
        if (changed)
            emitEvent({{"event", "progress"},
                       {"operation", operation},
                       {"phase", phase},
                       {"percent", percent},
                       {"bytes", double(bytes)},
                       {"total", double(total)},
                       {"elapsedMs", double(clock.elapsed())}});
        return;
    }
    flushTrace();
    if (terminal) {
        const qint64 now = clock.elapsed();
        recent.emplace_back(now, percent);
        while (recent.size() > 2 && now - recent[1].first >= RateWindowMs)
            recent.pop_front();
        drawBar(newPhase);
        return;
    }
    // One line each time a further 10 % is passed, with what the progress is at that moment.
    if (percent >= nextLinePercent) {
        writeLine(stderr, QStringLiteral("%1: %2 %3 % (%4 of %5 bytes, %6 s)")
                              .arg(operation, phase)
                              .arg(percent)
                              .arg(bytes)
                              .arg(total)
                              .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1));
        nextLinePercent = (percent / 10 + 1) * 10;
    }
}

void Output::endProgress()
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (terminal && percent >= 0 && verbosity != Verbosity::Quiet) {
        drawBar(true);
        fputc('\n', stderr);
        fflush(stderr);
    }
    barShown = false;
    percent = -1;
}

int Output::result(int code, const QString& text, const QJsonObject& extra)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    flushTrace();
    clearBar();
    if (code != 0 && !text.isEmpty())
        writeLine(stderr, QStringLiteral("flashwick-cli: ") + text);
    if (jsonMode) {
        if (code != 0)
            emitEvent({{"event", "error"},
                       {"text", text.isEmpty() ? QStringLiteral("exit code %1").arg(code) : text},
                       {"exit", code}});
        QJsonObject e = extra;
        e.insert(QStringLiteral("event"), QStringLiteral("result"));
        e.insert(QStringLiteral("exit"), code);
        e.insert(QStringLiteral("ok"), code == 0);
        e.insert(QStringLiteral("message"), text);
        emitEvent(e);
    } else if (code == 0 && !text.isEmpty()) {
        writeLine(stdout, text);
    }
    return code;
}
