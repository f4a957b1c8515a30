// What the command tells its user or the program that runs it.
//
// Human form: data on stdout, steps and errors on stderr, progress as one updating bar on a terminal
// or as a line each time a further 10 % is passed otherwise. With --json every event is one JSON
// object on its own line on stdout ("log", "progress", "error", the data events and a final
// "result"), each carrying the schema number; errors are also written to stderr as one line. The
// events and their fields are documented in commandline.txt.
//
// Thread-safe: a device trace may arrive from a write's worker thread.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <deque>
#include <mutex>
#include <utility>

class Output
{
public:
    static constexpr int SchemaVersion = 1;

    enum class Verbosity
    {
        Quiet, // the result line, data and errors only
        Normal,
        Verbose, // and every request to a device
    };

    explicit Output(bool json, Verbosity verbosity = Verbosity::Normal);
    ~Output();

    bool json() const { return jsonMode; }
    bool verbose() const { return verbosity == Verbosity::Verbose; }
    bool quiet() const { return verbosity == Verbosity::Quiet; }
    // A step of the work: stderr, or a "log" event.
    void log(const QString& line);
    void warning(const QString& line);
    // A request sent to a device (--verbose only). A line equal to the one before is counted, not
    // repeated: a status poll shows as one line with its count.
    void trace(const QString& line);
    // Requested data: `text` on stdout, or `event` with "event": kind.
    void data(const QString& kind, const QJsonObject& event, const QString& text);

    // Progress of one operation over `total` bytes. update() may be called often: it prints
    // only when something visible changed.
    void beginProgress(const QString& operation, qint64 total, const QString& phase);
    void setPhase(const QString& phase); // shown from the next updateProgress()
    void updateProgress(int percent, qint64 bytes);
    void endProgress();

    // The last event: the exit code with a one-line summary, on stdout for a success and on stderr
    // for a failure (in both forms, a failure also as an "error" event); returns `code`.
    int result(int code, const QString& message, const QJsonObject& extra = QJsonObject());

    // Display forms used in the progress line, exposed for their tests.
    static QString sizeText(qint64 bytes);
    static QString durationText(qint64 ms);
    // The bar's line for a terminal `columns` wide: never longer than columns - 1, so it never
    // wraps; when it is narrow the elapsed time, the sizes, the time left and the bar are left out,
    // in that order.
    static QString barLine(int columns, const QString& operation, const QString& phase, int percent,
                           qint64 bytes, qint64 total, qint64 elapsedMs, const QString& left);

private:
    void emitEvent(QJsonObject event);
    void message(const QString& level, const QString& line);
    void clearBar();
    void drawBar(bool force);
    void flushTrace();

    std::recursive_mutex lock;
    bool jsonMode;
    Verbosity verbosity;
    bool terminal;
    int columns = 80;
    QString operation;
    QString phase;
    QString shownPhase; // of the last progress shown
    qint64 total = 0;
    int percent = -1;
    qint64 bytes = 0;
    int nextLinePercent = 10;
    bool barShown = false;
    qint64 lastDrawMs = -1000;
    QElapsedTimer clock;
    std::deque<std::pair<qint64, int>>
        recent; // (ms, percent) of the last seconds: the rate for the time left
    QString lastTrace;
    int traceRepeats = 0;
};

#endif
