// How late a 10 ms timer fires on the GUI thread: a late tick means the event loop was blocked.
#ifndef TICKLATENESS_H
#define TICKLATENESS_H

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <vector>

class TickLateness
{
public:
    TickLateness()
    {
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(IntervalNs / 1'000'000);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            lateMs.push_back(std::max<qint64>(0, now - expected) / 1e6);
            expected = now + IntervalNs;
        });
    }
    void start()
    {
        clock.start();
        expected = IntervalNs;
        ticker.start();
    }
    void stop() { ticker.stop(); }
    size_t ticks() const { return lateMs.size(); }
    // Lateness in ms at quantile q (0.5 the median, 1 the maximum); 0 without ticks.
    double at(double q) const
    {
        if (lateMs.empty())
            return 0;
        std::vector<double> sorted = lateMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(q * sorted.size()))];
    }

private:
    static constexpr qint64 IntervalNs = 10'000'000;
    std::vector<double> lateMs;
    QElapsedTimer clock;
    qint64 expected = 0;
    QTimer ticker;
};

#endif
