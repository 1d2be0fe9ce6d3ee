#include "audio/JitterBuffer.h"

#include <algorithm>
#include <cstdlib>

namespace cfb {

namespace {

constexpr int SamplesPerMs = VoiceFormat::SampleRate / 1000;
// A timestamp further than this from where the sequence number puts it starts a new timeline.
constexpr int64_t MaxSlipSamples = 200 * SamplesPerMs;
// Packets in a row far outside the window, near each other, before they are followed there.
constexpr int JumpRunToFollow = 3;
// With nothing left to play for this long, playback stops and starts again with the next packet.
constexpr int GiveUpPulls = 1000 / VoiceFormat::FrameMs;
// The target shrinks by at most this much per frame played (10 ms a second).
constexpr double ShrinkPerPull = 0.2;
// Held this long above the target, frames are skipped at most once a SkipSpacing; a loud frame
// is skipped only once held above it for ForceSkipPulls.
constexpr int OverTargetPulls = 10;
constexpr int SkipSpacing = 25;
constexpr int ForceSkipPulls = 50;

} // namespace

JitterBuffer::JitterBuffer()
    : slots_(Capacity)
{
    decoder_.open();
}

int64_t JitterBuffer::extend(uint16_t sequence) const
{
    return newest_ + int16_t(uint16_t(sequence - uint16_t(newest_)));
}

int JitterBuffer::bufferedMs() const
{
    if (!started_)
        return 0;
    if (!playing_)
        return int(held_) * VoiceFormat::FrameMs;
    return int(std::max<int64_t>(0, newest_ - next_ + 1)) * VoiceFormat::FrameMs;
}

bool JitterBuffer::followJump(int64_t sequence)
{
    // Counted only while the run goes forwards: a late burst of old packets is no restart.
    if (jumpRun_ > 0 && sequence > jumpTo_ && sequence - jumpTo_ < Capacity)
        ++jumpRun_;
    else
        jumpRun_ = 1;
    jumpTo_ = sequence;
    return jumpRun_ >= JumpRunToFollow;
}

void JitterBuffer::restart()
{
    for (Slot& s : slots_)
        s.sequence = Empty;
    held_ = 0;
    started_ = false;
    playing_ = false;
    jumpRun_ = 0;
    transitCount_ = 0;
    emptyPulls_ = 0;
}

bool JitterBuffer::push(uint16_t sequence, uint32_t timestamp, int64_t arrivalMs, QByteArrayView packet)
{
    if (!OpusDecoder::isCallPacket(packet)) {
        ++counters_.refused;
        return false;
    }
    if (started_ && !playing_ && held_ == 0)
        restart(); // stopped after a long gap: whatever comes now starts afresh
    int64_t s = sequence;
    if (!started_) {
        started_ = true;
        next_ = newest_ = s;
        waitingSinceMs_ = arrivalMs;
    } else {
        s = extend(sequence);
        if (!playing_ && s < next_ && newest_ - s < Capacity)
            next_ = s; // came before the first one held, ahead of playback starting
        const bool far = s >= next_ + Capacity || s < next_ - Capacity;
        if (far) {
            if (!followJump(s)) {
                ++counters_.refused;
                return false;
            }
            ++counters_.restarts;
            restart();
            return push(sequence, timestamp, arrivalMs, packet);
        }
        jumpRun_ = 0;
        if (s < next_) {
            ++counters_.late;
            return false;
        }
        if (holds(s)) {
            ++counters_.duplicate;
            return false;
        }
    }
    Slot& into = slot(s);
    into.sequence = s;
    into.size = int(packet.size());
    std::copy(packet.begin(), packet.end(), into.bytes.begin());
    ++held_;
    newest_ = std::max(newest_, s);
    ++counters_.accepted;
    measure(s, timestamp, arrivalMs);
    return true;
}

void JitterBuffer::measure(int64_t sequence, uint32_t timestamp, int64_t arrivalMs)
{
    int64_t stamp = lastTimestamp_ + int32_t(timestamp - uint32_t(lastTimestamp_));
    const int64_t expected = timelineStamp_ + (sequence - timelineSequence_) * VoiceFormat::FrameSamples;
    if (transitCount_ == 0 || std::llabs(stamp - expected) > MaxSlipSamples) {
        // A new timeline (the first packet, or a timestamp out of step with its sequence
        // number since the timeline began): measure from here.
        transitCount_ = 0;
        transitAt_ = 0;
        stamp = timestamp;
        timelineSequence_ = sequence;
        timelineStamp_ = stamp;
    }
    lastTimestamp_ = stamp;
    transit_[std::size_t(transitAt_)] = arrivalMs * SamplesPerMs - stamp;
    transitAt_ = (transitAt_ + 1) % History;
    transitCount_ = std::min(transitCount_ + 1, History);

    // The delay that 95% of the recent packets needed beyond the quickest one, plus a frame
    // for where playback's clock falls between arrivals.
    const int64_t quickest = *std::min_element(transit_.begin(), transit_.begin() + transitCount_);
    for (int i = 0; i < transitCount_; ++i)
        scratch_[std::size_t(i)] = transit_[std::size_t(i)] - quickest;
    const auto at = scratch_.begin() + (transitCount_ - 1) * 95 / 100;
    std::nth_element(scratch_.begin(), at, scratch_.begin() + transitCount_);
    neededMs_ = std::clamp(double(*at) / SamplesPerMs + VoiceFormat::FrameMs, double(MinDelayMs), double(MaxDelayMs));
    targetMs_ = std::max(targetMs_, neededMs_);
}

int64_t JitterBuffer::lowestHeld()
{
    int64_t lowest = newest_;
    for (const Slot& s : slots_)
        if (s.sequence != Empty)
            lowest = std::min(lowest, s.sequence);
    return lowest;
}

bool JitterBuffer::quiet(const int16_t* frame)
{
    int64_t energy = 0;
    for (int i = 0; i < VoiceFormat::FrameSamples; ++i)
        energy += int64_t(frame[i]) * frame[i];
    return energy < int64_t(300) * 300 * VoiceFormat::FrameSamples;
}

JitterBuffer::Frame JitterBuffer::playNext(int16_t* frame)
{
    Frame kind = Frame::Concealed;
    Slot& here = slot(next_);
    if (here.sequence == next_) {
        kind = decoder_.decode(here.view(), frame) == OpusDecoder::Result::Decoded ? Frame::Decoded : Frame::Concealed;
        here.sequence = Empty;
        --held_;
    } else if (holds(next_ + 1)) {
        kind = decoder_.recover(slot(next_ + 1).view(), frame) == OpusDecoder::Result::Recovered ? Frame::Recovered
                                                                                                 : Frame::Concealed;
    } else {
        decoder_.conceal(frame);
    }
    ++next_;
    ++(kind == Frame::Decoded ? counters_.decoded : kind == Frame::Recovered ? counters_.recovered : counters_.concealed);
    return kind;
}

JitterBuffer::Frame JitterBuffer::pull(int16_t* frame, int64_t nowMs)
{
    if (!playing_) {
        if (!started_ || held_ == 0 || nowMs - waitingSinceMs_ < int64_t(targetMs_) - VoiceFormat::FrameMs) {
            std::fill(frame, frame + VoiceFormat::FrameSamples, int16_t(0));
            return Frame::Silence;
        }
        playing_ = true;
        next_ = lowestHeld();
        emptyPulls_ = overTargetPulls_ = 0;
        sinceSkip_ = 0;
    }
    targetMs_ = std::max(neededMs_, targetMs_ - ShrinkPerPull);

    if (newest_ < next_) {
        // Nothing here to play: conceal in its place, which adds a frame of delay.
        if (++emptyPulls_ > GiveUpPulls) {
            playing_ = false;
            waitingSinceMs_ = -1;
            std::fill(frame, frame + VoiceFormat::FrameSamples, int16_t(0));
            return Frame::Silence;
        }
        decoder_.conceal(frame);
        ++counters_.concealed;
        return Frame::Concealed;
    }
    emptyPulls_ = 0;
    overTargetPulls_ = bufferedMs() > targetMs_ + VoiceFormat::FrameMs ? overTargetPulls_ + 1 : 0;
    ++sinceSkip_;
    Frame kind = playNext(frame);
    if (overTargetPulls_ >= OverTargetPulls && sinceSkip_ >= SkipSpacing && newest_ >= next_
        && (quiet(frame) || overTargetPulls_ >= ForceSkipPulls)) {
        ++counters_.skipped;
        sinceSkip_ = 0;
        overTargetPulls_ = 0;
        kind = playNext(frame);
    }
    return kind;
}

} // namespace cfb
