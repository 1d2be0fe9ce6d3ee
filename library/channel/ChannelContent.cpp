#include "channel/ChannelContent.h"

#include "channel/ChannelDatagram.h"

#include <QStringDecoder>

#include <cstring>

namespace cfb::ChannelContent {
namespace {

bool appendShortText(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > 255)
        return false;
    out += char(uint8_t(utf8.size()));
    out += utf8;
    return true;
}

// Text as a client writes it: well-formed UTF-8, or nothing.
bool readUtf8(QByteArrayView bytes, QString& text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = decoder.decode(bytes);
    return !decoder.hasError();
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

void appendNumber(QByteArray& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char(uint8_t(value >> (8 * i)));
}

uint64_t readNumber(QByteArrayView content, qsizetype at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(content[at + i]);
    return value;
}

} // namespace

std::optional<QByteArray> message(const MessageFields& fields)
{
    QByteArray out;
    out += char(Message);
    appendNumber(out, fields.id, 8);
    appendNumber(out, fields.firstUnacknowledged, 4);
    out += char(uint8_t(uint16_t(fields.videoPort)));
    out += char(uint8_t(uint16_t(fields.videoPort) >> 8));
    if (!appendShortText(out, fields.handle) || !appendShortText(out, fields.email))
        return std::nullopt;
    out += fields.text.toUtf8();
    if (out.size() > ChannelDatagram::MaxContentSize)
        return std::nullopt;
    return out;
}

void frameChunk(uint32_t frame, uint16_t index, uint16_t count, QByteArrayView bytes, QByteArray& out)
{
    const qsizetype size = FrameChunkHeader + bytes.size();
    if (out.capacity() < FrameChunkHeader + FrameChunkBytes)
        out.reserve(FrameChunkHeader + FrameChunkBytes);
    out.resize(size);
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = FrameChunk;
    for (int i = 0; i < 4; ++i)
        p[1 + i] = uint8_t(frame >> (8 * i));
    p[5] = uint8_t(index);
    p[6] = uint8_t(index >> 8);
    p[7] = uint8_t(count);
    p[8] = uint8_t(count >> 8);
    if (!bytes.isEmpty())
        std::memcpy(p + FrameChunkHeader, bytes.data(), size_t(bytes.size()));
}

std::optional<MessageFields> readMessage(QByteArrayView content)
{
    if (content.size() < 17 || uint8_t(content[0]) != Message)
        return std::nullopt;
    MessageFields fields;
    fields.id = readNumber(content, 1, 8);
    fields.firstUnacknowledged = uint32_t(readNumber(content, 9, 4));
    fields.videoPort = int16_t(readNumber(content, 13, 2));
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
        appendNumber(out, ids[i], 8);
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
        ids.append(readNumber(content, 2 + 8 * i, 8));
    return ids;
}

std::optional<ChunkFields> readFrameChunk(QByteArrayView content)
{
    if (content.size() < FrameChunkHeader || uint8_t(content[0]) != FrameChunk)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(content.data());
    ChunkFields chunk;
    chunk.frame = uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | uint32_t(p[4]) << 24;
    chunk.index = uint16_t(p[5] | p[6] << 8);
    chunk.count = uint16_t(p[7] | p[8] << 8);
    chunk.bytes = content.sliced(FrameChunkHeader);
    if (chunk.count == 0 || chunk.count > MaxFrameChunks || chunk.index >= chunk.count
        || chunk.bytes.size() > FrameChunkBytes)
        return std::nullopt;
    return chunk;
}

} // namespace cfb::ChannelContent
