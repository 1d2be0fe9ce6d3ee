#pragma once

#include "mainwindow/frmMain.h"

#include "EventLoopWait.h"

// Runs the main window's load and lets the event loop run until its steps after the sign-in are
// over; false when they did not end in time or ended in an error.
inline bool loadMainWindow(cfb::client::frmMain& window, int ms = 20000)
{
    bool ended = false;
    bool ok = false;
    const QMetaObject::Connection watch = QObject::connect(&window, &cfb::client::frmMain::loadEnded, [&](bool loaded) {
        ended = true;
        ok = loaded;
    });
    window.Load();
    waitUntil([&] { return ended; }, ms);
    QObject::disconnect(watch);
    return ended && ok;
}
