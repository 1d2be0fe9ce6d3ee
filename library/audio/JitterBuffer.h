#pragma once

#include "audio/OpusDecoder.h"
#include "audio/OpusEncoder.h"

#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <vector>

namespace cfb {

// Turns the packets of a call, as they come (late, out of order, twice or never), into one
// 20 ms frame each time playback asks. Packets carry a 16-bit sequence number (one per frame)
// and the sender's 32-bit timestamp in samples; each is held until its turn, so playback runs a
// little behind the sender. How far behind (the target delay) follows the jitter measured on
// the arrivals: it grows at once when packets come later than it allows and shrinks slowly, by
// skipping a frame now and then, preferably a quiet one. A missing frame is rebuilt from the
// next packet's forward error correction when that is here, otherwise concealed; when nothing
// at all is left to play, concealment holds the place, which lets the delay grow.
//
// Memory is fixed: Capacity packets of at most OpusEncoder::MaxPacketBytes. Packets too late,
// already held, malformed or far outside the window are dropped; a sender that restarted its
// numbering (several packets in a row far from the window, each a little after the one before)
// is followed after a few packets. Timestamps that do not move with the sequence numbers restart the jitter
// measurement instead of feeding it. Nothing allocates after construction.
class JitterBuffer {
public:
    enum class Frame {
        Silence,   // nothing to play yet (before the first packets, or after a long gap)
        Decoded,
        Recovered, // a lost frame, from the next packet's forward error correction
        Concealed, // a lost or late frame, made up
    };

    struct Counters {
        int accepted = 0;
        int late = 0;
        int duplicate = 0;
        int refused = 0; // malformed or far outside the window
        int restarts = 0; // the sender's numbering was followed to a new place
        int decoded = 0;
        int recovered = 0;
        int concealed = 0;
        int skipped = 0; // frames dropped to shorten the delay
    };

    static constexpr int Capacity = 64; // frames, 1.28 s
    static constexpr int MinDelayMs = 20;
    static constexpr int MaxDelayMs = 400;

    JitterBuffer();

    // arrivalMs: the receiver's clock (monotonic) when the packet came. False when dropped.
    bool push(uint16_t sequence, uint32_t timestamp, int64_t arrivalMs, QByteArrayView packet);
    // Writes the next VoiceFormat::FrameSamples samples of playback.
    Frame pull(int16_t* frame, int64_t nowMs);

    int targetDelayMs() const { return int(targetMs_); }
    // How much is held, from the next frame to play to the newest packet, in ms.
    int bufferedMs() const;
    const Counters& counters() const { return counters_; }

private:
    static constexpr int64_t Empty = INT64_MIN; // extended sequence numbers may be negative
    struct Slot {
        int64_t sequence = Empty;
        int size = 0;
        std::array<uint8_t, OpusEncoder::MaxPacketBytes> bytes{};
        QByteArrayView view() const { return QByteArrayView(bytes.data(), size); }
    };

    Slot& slot(int64_t sequence) { return slots_[std::size_t(sequence & (Capacity - 1))]; }
    bool holds(int64_t sequence) { return slot(sequence).sequence == sequence; }
    int64_t extend(uint16_t sequence) const;
    bool followJump(int64_t sequence);
    void restart();
    void measure(int64_t sequence, uint32_t timestamp, int64_t arrivalMs);
    int64_t lowestHeld();
    Frame playNext(int16_t* frame);
    static bool quiet(const int16_t* frame);

    OpusDecoder decoder_;
    std::vector<Slot> slots_;
    Counters counters_;

    bool started_ = false;  // a packet has set the numbering
    bool playing_ = false;  // frames are being played out from next_
    int64_t next_ = 0;      // the next frame to play (extended sequence number)
    int64_t newest_ = 0;    // the highest sequence number held or played
    int64_t waitingSinceMs_ = -1; // when the first packet of a start came
    int emptyPulls_ = 0;    // pulls in a row with nothing left to play
    int held_ = 0;          // slots in use

    // A run of packets far outside the window.
    int64_t jumpTo_ = 0;
    int jumpRun_ = 0;

    // Jitter: the last packets' transit (arrival - sender time), in ms.
    static constexpr int History = 128;
    std::array<int64_t, History> transit_{};
    std::array<int64_t, History> scratch_{};
    int transitCount_ = 0;
    int transitAt_ = 0;
    int64_t timelineSequence_ = 0; // where the timeline being measured began
    int64_t timelineStamp_ = 0;
    int64_t lastTimestamp_ = 0; // extended from the 32 bits
    double targetMs_ = 2 * VoiceFormat::FrameMs;
    double neededMs_ = 2 * VoiceFormat::FrameMs;
    int sinceSkip_ = 0;
    int overTargetPulls_ = 0;
};

} // namespace cfb
