#pragma once

#include "channel/ChannelContent.h"

#include <QByteArray>
#include <QList>

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
    // Ask again when a frame's packets have been quiet this long, or a newer frame began.
    static constexpr int NackAfterMs = 15;
    // How long an incomplete frame, once asked for again, holds newer ones back.
    static constexpr int WaitForResendMs = 150;
    // A frame alone that never completes is let go after this.
    static constexpr int GiveUpMs = 1000;

    void add(const ChannelContent::PacketFields& packet, int64_t now);
    // What is due at now: whole frames in order (appended to ready), and the packets to ask for
    // again (appended to nacks).
    void poll(int64_t now, QList<QByteArray>& ready, QList<ChannelContent::NackFields>& nacks);
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
    void handOn(Slot& slot, QList<QByteArray>* ready);

    std::array<Slot, Slots> slots_;
    uint32_t lastShown_ = 0;
    bool shownAny_ = false;
};

} // namespace cfb
