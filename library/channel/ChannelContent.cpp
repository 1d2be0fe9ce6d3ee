#include "channel/ChannelContent.h"

#include "channel/ChannelDatagram.h"
#include "channel/LittleEndian.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace cfb::ChannelContent {
namespace {

// Text as a client writes it: well-formed UTF-8, or nothing.
bool readUtf8(QByteArrayView bytes, QString& text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

bool appendShortText(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > 255)
        return false;
    out += char(uint8_t(utf8.size()));
    out += utf8;
    return true;
}

// Reads a length-prefixed text at pos; false when it runs past the end or is not UTF-8.
bool readShortText(QByteArrayView content, qsizetype& pos, QString& text)
{
    if (pos >= content.size())
        return false;
    const qsizetype length = uint8_t(content[pos++]);
    if (length > content.size() - pos)
        return false;
    const QByteArrayView bytes = content.sliced(pos, length);
    pos += length;
    return readUtf8(bytes, text);
}

std::optional<QByteArray> message(const MessageFields& fields)
{
    QByteArray out;
    out += char(Message);
    LittleEndian::append(out, fields.id, 8);
    LittleEndian::append(out, fields.firstUnacknowledged, 4);
    out += char(uint8_t(uint16_t(fields.videoPort)));
    out += char(uint8_t(uint16_t(fields.videoPort) >> 8));
    if (!appendShortText(out, fields.handle) || !appendShortText(out, fields.email))
        return std::nullopt;
    out += fields.text.toUtf8();
    if (out.size() > ChannelDatagram::MaxContentSize)
        return std::nullopt;
    return out;
}

void framePacket(uint32_t frame, uint16_t index, uint16_t count, QByteArrayView bytes, QByteArray& out)
{
    const qsizetype size = FramePacketHeader + bytes.size();
    if (out.capacity() < FramePacketHeader + FramePacketBytes)
        out.reserve(FramePacketHeader + FramePacketBytes);
    out.resize(size);
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = FramePacket;
    for (int i = 0; i < 4; ++i)
        p[1 + i] = uint8_t(frame >> (8 * i));
    p[5] = uint8_t(index);
    p[6] = uint8_t(index >> 8);
    p[7] = uint8_t(count);
    p[8] = uint8_t(count >> 8);
    if (!bytes.isEmpty())
        std::memcpy(p + FramePacketHeader, bytes.data(), size_t(bytes.size()));
}

QByteArray frameNack(uint32_t frame, const QList<uint16_t>& packets)
{
    QByteArray out;
    const qsizetype count = std::min<qsizetype>(packets.size(), MaxNackedPackets);
    out += char(FrameNack);
    LittleEndian::append(out, frame, 4);
    LittleEndian::append(out, uint64_t(count), 2);
    for (qsizetype i = 0; i < count; ++i)
        LittleEndian::append(out, packets[i], 2);
    return out;
}

std::optional<MessageFields> readMessage(QByteArrayView content)
{
    if (content.size() < 17 || uint8_t(content[0]) != Message)
        return std::nullopt;
    MessageFields fields;
    fields.id = LittleEndian::read(content, 1, 8);
    fields.firstUnacknowledged = uint32_t(LittleEndian::read(content, 9, 4));
    fields.videoPort = int16_t(LittleEndian::read(content, 13, 2));
    qsizetype pos = 15;
    if (!readShortText(content, pos, fields.handle) || !readShortText(content, pos, fields.email))
        return std::nullopt;
    if (!readUtf8(content.sliced(pos), fields.text))
        return std::nullopt;
    return fields;
}

QByteArray receipt(const QList<uint64_t>& ids)
{
    QByteArray out;
    const qsizetype count = std::min<qsizetype>(ids.size(), MaxReceiptIds);
    out += char(Receipt);
    out += char(uint8_t(count));
    for (qsizetype i = 0; i < count; ++i)
        LittleEndian::append(out, ids[i], 8);
    return out;
}

std::optional<QList<uint64_t>> readReceipt(QByteArrayView content)
{
    if (content.size() < 2 || uint8_t(content[0]) != Receipt)
        return std::nullopt;
    const int count = uint8_t(content[1]);
    if (count > MaxReceiptIds || content.size() != 2 + 8 * qsizetype(count))
        return std::nullopt;
    QList<uint64_t> ids;
    for (int i = 0; i < count; ++i)
        ids.append(LittleEndian::read(content, 2 + 8 * i, 8));
    return ids;
}

std::optional<PacketFields> readFramePacket(QByteArrayView content)
{
    if (content.size() < FramePacketHeader || uint8_t(content[0]) != FramePacket)
        return std::nullopt;
    PacketFields packet;
    packet.frame = uint32_t(LittleEndian::read(content, 1, 4));
    packet.index = uint16_t(LittleEndian::read(content, 5, 2));
    packet.count = uint16_t(LittleEndian::read(content, 7, 2));
    packet.bytes = content.sliced(FramePacketHeader);
    // Every packet but the last is full; none is empty.
    const bool last = packet.index + 1 == packet.count;
    if (packet.count == 0 || packet.count > MaxFramePackets || packet.index >= packet.count || packet.bytes.isEmpty()
        || packet.bytes.size() > FramePacketBytes || (!last && packet.bytes.size() != FramePacketBytes))
        return std::nullopt;
    return packet;
}

std::optional<NackFields> readFrameNack(QByteArrayView content)
{
    if (content.size() < 7 || uint8_t(content[0]) != FrameNack)
        return std::nullopt;
    NackFields nack;
    nack.frame = uint32_t(LittleEndian::read(content, 1, 4));
    const qsizetype count = qsizetype(LittleEndian::read(content, 5, 2));
    if (count > MaxNackedPackets || content.size() != 7 + 2 * count)
        return std::nullopt;
    for (qsizetype i = 0; i < count; ++i)
        nack.packets.append(uint16_t(LittleEndian::read(content, 7 + 2 * i, 2)));
    return nack;
}

} // namespace cfb::ChannelContent
