#include "channel/VideoContent.h"

#include "channel/LittleEndian.h"

#include <cstring>

namespace cfb::VideoContent {

using LittleEndian::append;
using LittleEndian::read;

QByteArray codecs(uint8_t codecs)
{
    QByteArray out;
    out += char(Codecs);
    out += char(codecs);
    return out;
}

void packet(const PacketFields& fields, QByteArray& out)
{
    out.resize(PacketHeader + fields.frame.bytes.size());
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = Packet;
    LittleEndian::write(p + 1, fields.frame.frame, 4);
    LittleEndian::write(p + 5, fields.frame.index, 2);
    LittleEndian::write(p + 7, fields.frame.count, 2);
    LittleEndian::write(p + 9, fields.sendNumber, 4);
    LittleEndian::write(p + 13, fields.sentAt, 4);
    if (!fields.frame.bytes.isEmpty())
        std::memcpy(p + PacketHeader, fields.frame.bytes.data(), size_t(fields.frame.bytes.size()));
}

QByteArray nack(const ChannelContent::NackFields& fields)
{
    QByteArray out = ChannelContent::frameNack(fields.frame, fields.packets);
    out[0] = char(Nack);
    return out;
}

QByteArray report(const ReportFields& f)
{
    QByteArray out;
    out += char(Report);
    append(out, f.intervalMs, 2);
    append(out, f.packets, 4);
    append(out, f.bytes, 4);
    append(out, f.lost, 4);
    append(out, f.queuingDelayMs, 2);
    append(out, uint16_t(f.delayTrend), 2);
    return out;
}

std::optional<uint8_t> readCodecs(QByteArrayView content)
{
    if (content.size() < 2 || uint8_t(content[0]) != Codecs)
        return std::nullopt;
    return uint8_t(content[1]);
}

std::optional<PacketFields> readPacket(QByteArrayView content)
{
    if (content.size() <= PacketHeader || uint8_t(content[0]) != Packet)
        return std::nullopt;
    PacketFields f;
    f.frame.frame = uint32_t(read(content, 1, 4));
    f.frame.index = uint16_t(read(content, 5, 2));
    f.frame.count = uint16_t(read(content, 7, 2));
    f.sendNumber = uint32_t(read(content, 9, 4));
    f.sentAt = uint32_t(read(content, 13, 4));
    f.frame.bytes = content.sliced(PacketHeader);
    const bool last = f.frame.index + 1 == f.frame.count;
    if (f.frame.count == 0 || f.frame.count > ChannelContent::MaxFramePackets || f.frame.index >= f.frame.count
        || f.frame.bytes.size() > PacketBytes || (!last && f.frame.bytes.size() != PacketBytes))
        return std::nullopt;
    return f;
}

std::optional<ChannelContent::NackFields> readNack(QByteArrayView content)
{
    if (content.isEmpty() || uint8_t(content[0]) != Nack)
        return std::nullopt;
    QByteArray asFrameNack = content.toByteArray();
    asFrameNack[0] = char(ChannelContent::FrameNack);
    return ChannelContent::readFrameNack(asFrameNack);
}

std::optional<ReportFields> readReport(QByteArrayView content)
{
    if (content.size() < 19 || uint8_t(content[0]) != Report)
        return std::nullopt;
    ReportFields f;
    f.intervalMs = uint16_t(read(content, 1, 2));
    f.packets = uint32_t(read(content, 3, 4));
    f.bytes = uint32_t(read(content, 7, 4));
    f.lost = uint32_t(read(content, 11, 4));
    f.queuingDelayMs = uint16_t(read(content, 15, 2));
    f.delayTrend = int16_t(uint16_t(read(content, 17, 2)));
    if (f.intervalMs == 0)
        return std::nullopt;
    return f;
}

} // namespace cfb::VideoContent
