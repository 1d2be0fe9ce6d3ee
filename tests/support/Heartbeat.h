#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// A 10 ms timer on the calling thread's event loop that records the longest gap between its
// ticks: how long that thread was kept from its events.
class Heartbeat : public QObject {
public:
    explicit Heartbeat(int intervalMs = 10)
    {
        timer_.setInterval(intervalMs);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] {
            longest_ = std::max(longest_, clock_.restart());
            ++ticks_;
        });
    }
    void start()
    {
        longest_ = 0;
        ticks_ = 0;
        clock_.start();
        timer_.start();
    }
    // The longest gap so far, counting the time since the last tick.
    qint64 longestGapMs() const { return std::max(longest_, clock_.isValid() ? clock_.elapsed() : 0); }
    int ticks() const { return ticks_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
    int ticks_ = 0;
};
