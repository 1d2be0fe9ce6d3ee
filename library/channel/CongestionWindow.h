#pragma once

#include <cstdint>

namespace cfb {

// How many packets of a transfer may be on their way: grows by one a packet acknowledged (slow
// start) up to the threshold, by one a round trip after it, and shrinks to seven tenths at a
// loss (once a round trip, as TCP with CUBIC's factor does); a time-out sends it back to the
// start. Also keeps the round-trip estimate (RFC 6298) and the pace that spreads a window over
// one round trip, so a window is not sent as one burst into a router's queue.
class CongestionWindow {
public:
    static constexpr double InitialWindow = 10;
    static constexpr double MinWindow = 2;
    static constexpr double MaxWindow = 8192;
    static constexpr int64_t MinTimeoutMs = 200;
    static constexpr int64_t MaxTimeoutMs = 8000;

    double window() const { return window_; }
    int64_t smoothedRttUs() const { return srttUs_; }
    bool hasRtt() const { return srttUs_ > 0; }
    // How long without any acknowledgement before what is on its way counts as lost.
    int64_t timeoutMs() const;

    void onRttSample(int64_t rttUs);
    // acked packets newly acknowledged.
    void onAcked(int acked);
    // A packet sent at sentUs was lost, seen at nowUs: one reduction for all lost in a round trip.
    void onLoss(int64_t sentUs, int64_t nowUs);
    void onTimeout(int64_t nowUs);

    // Packets a second the window allows, 1.25 times over (room for the window to grow).
    double pacePerSecond() const;

private:
    double window_ = InitialWindow;
    double threshold_ = MaxWindow;
    int64_t srttUs_ = 0;
    int64_t rttVarUs_ = 0;
    int64_t recoveryUntilUs_ = -1; // losses of packets sent before this belong to the last reduction
    int backoff_ = 0;
};

} // namespace cfb
