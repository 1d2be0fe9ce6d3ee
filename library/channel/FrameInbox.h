#pragma once

#include "channel/ChannelContent.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace cfb {

// Puts one buddy's frames together from their packets, in a few buffers of its own, and hands
// them on in the order sent. A frame whose packets stop coming with some missing is asked for
// again once (a negative acknowledgement); newer frames wait for it a little while, then it is
// given up. Frames older than one handed on are dropped, so video never steps back.
class FrameInbox {
public:
    static constexpr int Slots = 3;
    // Ask again when a frame's packets have been quiet this long (or three times the usual gap
    // between its packets, on a slow path), or a newer frame began.
    static constexpr int NackAfterMs = 15;
    // How long an incomplete frame, once asked for again, holds newer ones back.
    static constexpr int WaitForResendMs = 150;
    // A frame alone that never completes is let go after this.
    static constexpr int GiveUpMs = 1000;

    // packetBytes: the frame bytes in every packet but the last (the packets' kind says).
    explicit FrameInbox(qsizetype packetBytes = ChannelContent::FramePacketBytes)
        : packetBytes_(packetBytes)
    {
    }

    void add(const ChannelContent::PacketFields& packet, int64_t now);
    // What is due at now: whole frames in order (appended to ready), and the packets to ask for
    // again (appended to nacks).
    // numbers, when given, gets each ready frame's number (a gap is a frame lost for good).
    void poll(int64_t now, QList<QByteArray>& ready, QList<ChannelContent::NackFields>& nacks,
        QList<uint32_t>* numbers = nullptr);
    // Whether a frame is being put together (poll has something to do later).
    bool pending() const;

private:
    struct Slot {
        bool used = false;
        uint32_t number = 0;
        uint16_t count = 0;
        uint16_t got = 0;
        qsizetype lastSize = 0;
        std::vector<uint8_t> have;
        QByteArray bytes;
        int64_t firstAt = 0;
        int64_t lastAt = 0;
        int64_t nackedAt = -1;
    };
    static bool newer(uint32_t a, uint32_t b) { return int32_t(a - b) > 0; }
    Slot* oldest();
    bool hasNewerThan(const Slot& slot) const;
    void handOn(Slot& slot, QList<QByteArray>* ready, QList<uint32_t>* numbers);

    int64_t quietMs() const { return std::max<int64_t>(NackAfterMs, int64_t(3 * gapMs_)); }

    qsizetype packetBytes_;
    double gapMs_ = 0; // between packets of a frame, smoothed
    std::array<Slot, Slots> slots_;
    uint32_t lastShown_ = 0;
    bool shownAny_ = false;
};

} // namespace cfb
