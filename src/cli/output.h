// What the command tells its user or the program that runs it.
//
// Human form: data on stdout, steps and errors on stderr, progress as one updating bar on a terminal
// or as a line at every 10 % otherwise. With --json every event is one JSON object on its own
// line on stdout ("log", "progress", "error", the data events and a final "result"); errors are
// also written to stderr as one line.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <deque>
#include <utility>

class Output
{
public:
    explicit Output(bool json);

    bool json() const { return jsonMode; }
    // A step of the work: stderr, or a "log" event.
    void log(const QString& line);
    // Requested data: `text` on stdout, or `event` with "event": kind.
    void data(const QString& kind, const QJsonObject& event, const QString& text);
    // A failure: one line on stderr, and an "error" event.
    void error(const QString& line);

    // Progress of one operation over `total` bytes. update() may be called often: it prints
    // only when something visible changed.
    void beginProgress(const QString& operation, qint64 total);
    void updateProgress(int percent, qint64 bytes);
    void endProgress();

    // The last event: the exit code with a one-line summary, on stdout for a success and on stderr
    // for a failure (in both forms); returns `code`.
    int result(int code, const QString& message, const QJsonObject& extra = QJsonObject());

    // Display forms used in the progress line, exposed for their tests.
    static QString sizeText(qint64 bytes);
    static QString durationText(qint64 ms);

private:
    void emitEvent(const QJsonObject& event);
    void drawBar(bool force);

    bool jsonMode;
    bool terminal;
    QString operation;
    qint64 total = 0;
    int percent = -1;
    qint64 bytes = 0;
    int nextLinePercent = 10;
    bool barShown = false;
    qint64 lastDrawMs = -1000;
    QElapsedTimer clock;
    std::deque<std::pair<qint64, int>>
        recent; // (ms, percent) of the last seconds: the rate for the time left
};

#endif
