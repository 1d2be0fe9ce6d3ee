#pragma once

#include "messaging/PollingClock.h"

#include <cstdint>

// Stands in for the polling clock of the calling thread while it lives: time stands still until
// the test moves it on, so interval tests need no waiting.
class ManualPollingClock {
public:
    ManualPollingClock()
        : previous_(cfb::PollingClock::setSource([this] { return now_; }))
    {
    }
    ~ManualPollingClock() { cfb::PollingClock::setSource(std::move(previous_)); }
    ManualPollingClock(const ManualPollingClock&) = delete;
    ManualPollingClock& operator=(const ManualPollingClock&) = delete;

    void advance(int64_t seconds) { now_ += seconds; }

private:
    int64_t now_ = 1000;
    cfb::PollingClock::Source previous_;
};
