#pragma once

#include "channel/FrameInbox.h"
#include "channel/FrameOutbox.h"
#include "channel/VideoContent.h"
#include "channel/VideoRate.h"

#include <cstdint>

namespace cfb {

// One peer's video coded between Confabo clients, both ways: what the peer said it decodes, the
// frames sent (kept for its asks) with their rate, and the frames coming in with what is reported
// of them.
struct VideoLink {
    // A codecs content lost, or a peer that came back as a client without them, is noticed: what
    // it said counts while it says it on each new session, or that session is this young.
    static constexpr int CodecsGraceMs = 5000;
    // A receiver asks for a key frame at most this often.
    static constexpr int KeyFrameAskMs = 300;

    uint8_t codecs = 0; // what the peer said it decodes; 0 before it said anything
    int64_t codecsAt = -1;
    int64_t sessionAt = -1; // when the newest session came up

    uint32_t nextFrame = 0;
    uint32_t nextSend = 0;
    FrameOutbox outbox {VideoContent::PacketBytes};
    VideoRate rate;

    FrameInbox inbox {VideoContent::PacketBytes};
    VideoArrivals arrivals;
    bool shownAny = false;
    uint32_t lastShown = 0;
    int64_t keyAskedAt = -1;

    uint8_t codecsNow(int64_t now) const
    {
        return codecsAt >= sessionAt || now - sessionAt < CodecsGraceMs ? codecs : 0;
    }
};

} // namespace cfb
