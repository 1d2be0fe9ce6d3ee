#pragma once

#include "Heartbeat.h"
#include "StallTable.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace cfb::client {
class frmMain;
}
class StallWorld;

// One round of the real main window against one service: sign-in, every user action, Exit, each
// timed from the user's input to its outcome (or its failure) with a heartbeat on the window's
// thread. The service switches to the round's kind after sign-in; sign-in itself is measured at it
// too, except that a silent service is measured with a window of its own (that sign-in fails).
class WindowRound {
public:
    WindowRound(StallWorld& world, StallTable& table, StallTable::Service service, int round);
    ~WindowRound();

    void run();

private:
    using Clock = std::chrono::steady_clock;

    void useService(StallTable::Service service);
    bool signIn(bool measured);
    void signInToSilentService();
    void busy();
    void poll();
    void selectTab();
    void send();
    void shout();
    void picture(int index);
    void setup();
    void buddyEditor();
    void exitApplication();

    // The window's requests all answered (or failed), waited for outside any measurement.
    bool settle(int ms = 20000);
    void selectBuddy(const QString& handle);
    // Starts a measurement; finish() records it once the outcome arrived at `at`, after the event
    // loop had a little longer to show whatever the action left to do.
    void begin();
    void finish(const QString& action, bool outcome, Clock::time_point at);
    static double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

    StallWorld& world_;
    StallTable& table_;
    StallTable::Service service_;
    int round_;
    std::unique_ptr<cfb::client::frmMain> window_;
    Heartbeat heartbeat_;
    Clock::time_point start_;
    QDateTime pollAt_ = QDateTime::currentDateTimeUtc();
};
