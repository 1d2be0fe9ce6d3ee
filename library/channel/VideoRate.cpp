#include "channel/VideoRate.h"

#include <algorithm>
#include <climits>

namespace cfb {

void VideoRate::onReport(const VideoContent::ReportFields& r, int64_t now)
{
    reportAt_ = now;
    silentCutAt_ = -1;
    receivedKbps_ = int(int64_t(r.bytes) * 8 / std::max<int>(r.intervalMs, 1));
    const uint32_t expected = r.packets + r.lost;
    loss_ = expected ? double(r.lost) / expected : 0.0;
    const bool overused
        = r.queuingDelayMs > 2 * QueuingMs || (r.queuingDelayMs > QueuingMs && r.delayTrend > 0);
    // What a report shows of a queue or of loss comes of what was sent before the last cut for
    // a while (the queue drains): no second cut for that while, unless the queue goes on growing.
    const bool draining = decreasedAt_ >= 0 && now - decreasedAt_ < DrainMs;
    const bool growing = r.queuingDelayMs > 3 * QueuingMs && r.delayTrend > 0;
    double next = kbps_;
    if ((loss_ > 0.10 || overused) && (!draining || growing)) {
        if (loss_ > 0.10)
            next = kbps_ * (1.0 - 0.5 * loss_);
        // The path holds less than was sent: what got through is about what it carries.
        if (overused) {
            next = std::min<double>(next, 0.9 * receivedKbps_);
            ceilingKbps_ = receivedKbps_;
        }
        decreasedAt_ = now;
    } else if (overused || loss_ > 0.10) {
        // Still draining from the last cut: hold.
    } else if (loss_ < 0.02 && (r.queuingDelayMs < QueuingMs / 2 || r.delayTrend < 0)) {
        // Nothing queues (or what did drains): more, but not far beyond what arrives.
        // Near where the path was full last time, carefully; well away from it, by a share.
        const bool nearCeiling = ceilingKbps_ > 0 && kbps_ > 0.9 * ceilingKbps_ && kbps_ < 1.1 * ceilingKbps_;
        next = nearCeiling ? kbps_ + NearCeilingStepKbps : kbps_ * 1.08 + 5;
        next = std::min(next, std::max(1.5 * receivedKbps_, double(MinKbps) * 2));
        next = std::max<double>(next, kbps_); // the cap on growth never lowers the rate
    }
    kbps_ = std::clamp(int(next), MinKbps, MaxKbps);
}

void VideoRate::onSent(int64_t now)
{
    if (firstSentAt_ < 0)
        firstSentAt_ = now;
    const int64_t heard = std::max(reportAt_, firstSentAt_);
    if (now - heard < SilentMs || (silentCutAt_ >= 0 && now - silentCutAt_ < 1000))
        return;
    silentCutAt_ = now;
    kbps_ = std::max(MinKbps, kbps_ * 7 / 10);
}

void VideoArrivals::onPacket(uint32_t sendNumber, uint32_t sentAt, qsizetype bytes, bool firstOfFrame, int64_t now)
{
    if (!started_ || (lastPacketAt_ >= 0 && now - lastPacketAt_ > 5000)) {
        // The first packet, or a sender back after a pause: count from here.
        started_ = true;
        highest_ = reportedHighest_ = sendNumber - 1;
        packets_ = bytes_ = 0;
        delaySum_ = 0;
        delaySamples_ = 0;
        intervalStart_ = now;
        lastQueuingMs_ = -1;
    }
    lastPacketAt_ = now;
    if (int32_t(sendNumber - highest_) > 0)
        highest_ = sendNumber;
    ++packets_;
    bytes_ += uint32_t(bytes);
    // The delay of a frame's first packet is the path's queue; the packets after it also wait
    // behind their own frame.
    if (!firstOfFrame)
        return;
    // Both clocks are in milliseconds; only differences of this sum matter.
    const int64_t delay = int64_t(int32_t(uint32_t(now) - sentAt));
    if (floorWindowAt_ < 0 || now - floorWindowAt_ >= 5000) {
        floor_[1] = floor_[0];
        floor_[0] = INT64_MAX;
        floorWindowAt_ = now;
    }
    floor_[0] = std::min(floor_[0], delay);
    delaySum_ += delay - std::min(floor_[0], floor_[1]);
    ++delaySamples_;
}

std::optional<VideoContent::ReportFields> VideoArrivals::report(int64_t now)
{
    if (!started_ || now - intervalStart_ < ReportMs - 50 || now - lastPacketAt_ > 2000)
        return std::nullopt;
    VideoContent::ReportFields r;
    const int64_t interval = now - intervalStart_;
    r.intervalMs = uint16_t(std::min<int64_t>(interval, 60000));
    r.packets = packets_;
    r.bytes = bytes_;
    const uint32_t expected = highest_ - reportedHighest_;
    r.lost = expected > packets_ ? expected - packets_ : 0;
    const int64_t queuing = delaySamples_ ? delaySum_ / delaySamples_ : std::max<int64_t>(lastQueuingMs_, 0);
    r.queuingDelayMs = uint16_t(std::clamp<int64_t>(queuing, 0, 65535));
    if (lastQueuingMs_ >= 0)
        r.delayTrend = int16_t(std::clamp<int64_t>((queuing - lastQueuingMs_) * 1000 / interval, -32768, 32767));
    lastQueuingMs_ = queuing;
    reportedHighest_ = highest_;
    packets_ = bytes_ = 0;
    delaySum_ = 0;
    delaySamples_ = 0;
    intervalStart_ = now;
    return r;
}

} // namespace cfb
