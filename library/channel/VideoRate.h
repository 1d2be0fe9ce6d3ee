#pragma once

#include "channel/VideoContent.h"

#include <QtGlobal>

#include <cstdint>
#include <optional>

namespace cfb {

// How fast one conversation's video may go, from the receiver's reports (about every 500 ms):
// additive-multiplicative in the spirit of WebRTC's congestion control. Loss above 10% cuts the
// rate by half the loss; a queue building up on the path (the one-way delay above its floor and
// growing) brings it down to 90% of what arrived; a clean path lets it grow 8% a report (10 kbit/s
// a report near the rate at which the path queued last), never beyond 1.5 times what the receiver got (so an encoder that undershoots does not make room it
// cannot use). Without reports while sending, the path is taken as gone bad and the rate falls.
class VideoRate {
public:
    static constexpr int StartKbps = 500;
    static constexpr int MinKbps = 50;
    static constexpr int MaxKbps = 2500;
    static constexpr int QueuingMs = 40; // above the delay floor: a queue is building
    static constexpr int SilentMs = 1500; // no report for this long while sending
    static constexpr int DrainMs = 1000; // after a cut for a queue, before the next
    static constexpr int NearCeilingStepKbps = 10; // a report, within 10% of where it queued last

    void onReport(const VideoContent::ReportFields& report, int64_t now);
    // A frame went out now (starts the clock for missing reports).
    void onSent(int64_t now);
    int kbps() const { return kbps_; }
    // What the last report said arrived, kbit/s (0 before the first).
    int receivedKbps() const { return receivedKbps_; }
    double lossFraction() const { return loss_; }

private:
    int kbps_ = StartKbps;
    int receivedKbps_ = 0;
    double loss_ = 0;
    int64_t reportAt_ = -1;
    int64_t firstSentAt_ = -1;
    int64_t silentCutAt_ = -1;
    int64_t decreasedAt_ = -1;
    int ceilingKbps_ = 0; // what arrived when the path last queued
};

// What one sender's video packets said on arrival, summed up for a report: how many came, how many
// of the send numbers in between did not, and how far the one-way delay (arrival time less the
// sender's send time, on two unrelated clocks) stands above the lowest seen in the last 10 s.
class VideoArrivals {
public:
    static constexpr int ReportMs = 500;

    void onPacket(uint32_t sendNumber, uint32_t sentAt, qsizetype bytes, bool firstOfFrame, int64_t now);
    // The report due at now, if one is: every ReportMs while packets come.
    std::optional<VideoContent::ReportFields> report(int64_t now);

private:
    bool started_ = false;
    uint32_t highest_ = 0; // the highest send number seen
    uint32_t reportedHighest_ = 0;
    uint32_t packets_ = 0;
    uint32_t bytes_ = 0;
    int64_t intervalStart_ = -1;
    int64_t lastPacketAt_ = -1;
    // The floor of the one-way delay, kept over two 5-second windows.
    int64_t floor_[2] = {INT64_MAX, INT64_MAX};
    int64_t floorWindowAt_ = -1;
    int64_t delaySum_ = 0; // of frames' first packets above the floor, over the interval
    int64_t delaySamples_ = 0;
    int64_t lastQueuingMs_ = -1;
};

} // namespace cfb
