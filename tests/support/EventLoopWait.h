#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <functional>

// Runs the event loop until the predicate holds or the time is up; gives the predicate's value.
// It blocks in the event loop between events (a short timer bounds each wait), never spins.
inline bool waitUntil(const std::function<bool()>& done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    QTimer tick;
    tick.start(10);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

// Lets the event loop run for a while, for checks that nothing (more) happens.
inline void runFor(int ms)
{
    waitUntil([] { return false; }, ms);
}
