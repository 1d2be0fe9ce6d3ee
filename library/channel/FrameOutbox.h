#pragma once

#include "channel/ChannelContent.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cfb {

// The last few frames sent to one buddy, kept so that the packets the buddy asks for again can
// be sent once more (once each). Storage is reused from frame to frame.
class FrameOutbox {
public:
    static constexpr int Kept = 4;

    // packetBytes: the frame bytes in every packet but the last.
    explicit FrameOutbox(qsizetype packetBytes = ChannelContent::FramePacketBytes)
        : packetBytes_(packetBytes)
    {
    }

    void keep(uint32_t number, QByteArrayView frame, uint16_t packets);
    // The bytes of packet index of frame number, unless the frame is no longer kept, the index
    // is out of range, or the packet was sent again before (it is marked now). count: the frame's
    // packets.
    std::optional<QByteArrayView> resend(uint32_t number, uint16_t index, uint16_t& count);

private:
    struct Slot {
        bool used = false;
        uint32_t number = 0;
        uint16_t packets = 0;
        QByteArray bytes;
        std::vector<uint8_t> resent;
    };
    qsizetype packetBytes_;
    std::array<Slot, Kept> slots_;
    int next_ = 0;
};

} // namespace cfb
