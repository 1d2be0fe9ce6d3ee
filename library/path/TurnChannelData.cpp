#include "path/TurnChannelData.h"

namespace cfb::TurnChannelData {

bool looksLikeChannelData(QByteArrayView datagram)
{
    return datagram.size() >= HeaderSize && (uint8_t(datagram[0]) & 0xF0) == 0x40;
}

void frame(uint16_t channel, QByteArrayView bytes, QByteArray& out)
{
    out.resize(HeaderSize + bytes.size());
    out[0] = char(uint8_t(channel >> 8));
    out[1] = char(uint8_t(channel));
    out[2] = char(uint8_t(bytes.size() >> 8));
    out[3] = char(uint8_t(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), out.begin() + HeaderSize);
}

std::optional<Frame> parse(QByteArrayView datagram)
{
    if (!looksLikeChannelData(datagram))
        return std::nullopt;
    const uint16_t channel = uint16_t(uint8_t(datagram[0]) << 8 | uint8_t(datagram[1]));
    const qsizetype length = uint8_t(datagram[2]) << 8 | uint8_t(datagram[3]);
    if (channel < FirstChannel || channel > LastChannel || length > datagram.size() - HeaderSize)
        return std::nullopt;
    return Frame {channel, datagram.sliced(HeaderSize, length)};
}

} // namespace cfb::TurnChannelData
