#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

// Runs the event loop until done() holds or timeoutMs passes; false on time-out.
template <typename Done> bool waitUntil(Done done, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}
