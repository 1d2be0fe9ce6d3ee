#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace cfb {

// The 4-byte framing of a datagram on a bound TURN channel (RFC 8656 12.4): channel number
// (0x4000 to 0x4FFF) and length, then the bytes as they are.
namespace TurnChannelData {

constexpr uint16_t FirstChannel = 0x4000;
constexpr uint16_t LastChannel = 0x4FFF;
constexpr qsizetype HeaderSize = 4;

struct Frame {
    uint16_t channel = 0;
    QByteArrayView bytes;
};

// Whether the first byte says channel data (and not a STUN message).
bool looksLikeChannelData(QByteArrayView datagram);
// Frames bytes for channel into out (its storage reused).
void frame(uint16_t channel, QByteArrayView bytes, QByteArray& out);
// The channel and bytes of a datagram; nullopt when the number is outside the range or the length
// says more than there is. Padding after the bytes is allowed.
std::optional<Frame> parse(QByteArrayView datagram);

} // namespace TurnChannelData
} // namespace cfb
