#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

#include <time.h>

// A 10 ms timer on the calling thread's event loop that records the longest gap between its
// ticks: how long that thread was kept from its events. The gap counts waiting too (a blocking
// call, or a machine busy with other processes); the busy gap counts only the thread's own CPU
// time between ticks, the work that kept it from its events wherever it ran.
class Heartbeat : public QObject {
public:
    explicit Heartbeat(int intervalMs = 10)
    {
        timer_.setInterval(intervalMs);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] {
            longest_ = std::max(longest_, clock_.restart());
            const qint64 cpu = threadCpuUs();
            longestBusyUs_ = std::max(longestBusyUs_, cpu - cpuAtTick_);
            cpuAtTick_ = cpu;
            ++ticks_;
        });
    }
    void start()
    {
        longest_ = 0;
        longestBusyUs_ = 0;
        ticks_ = 0;
        cpuAtTick_ = threadCpuUs();
        clock_.start();
        timer_.start();
    }
    // The longest gap so far, counting the time since the last tick.
    qint64 longestGapMs() const { return std::max(longest_, clock_.isValid() ? clock_.elapsed() : 0); }
    qint64 longestBusyMs() const { return longestBusyUs_ / 1000; }
    int ticks() const { return ticks_; }

private:
    static qint64 threadCpuUs()
    {
        timespec t {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
    qint64 longestBusyUs_ = 0;
    qint64 cpuAtTick_ = 0;
    int ticks_ = 0;
};
