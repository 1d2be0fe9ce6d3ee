#include "audio/CallContent.h"

#include "audio/OpusEncoder.h"

#include <cstring>

namespace cfb::CallContent {
namespace {

void put(uint8_t* p, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

uint64_t get(QByteArrayView content, qsizetype at, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint64_t(uint8_t(content[at + i])) << (8 * i);
    return value;
}

} // namespace

QByteArray signal(Kind kind, uint32_t callId)
{
    QByteArray out(5, Qt::Uninitialized);
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = kind;
    put(p + 1, callId, 4);
    return out;
}

QByteArray probe(Kind kind, uint32_t callId, uint32_t clockMs)
{
    QByteArray out = signal(kind, callId);
    out.resize(9);
    put(reinterpret_cast<uint8_t*>(out.data()) + 5, clockMs, 4);
    return out;
}

void audio(uint32_t callId, uint16_t sequence, uint32_t timestamp, QByteArrayView opus, QByteArray& out)
{
    if (out.capacity() < AudioHeader + OpusEncoder::MaxPacketBytes)
        out.reserve(AudioHeader + OpusEncoder::MaxPacketBytes);
    out.resize(AudioHeader + opus.size());
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = Audio;
    put(p + 1, callId, 4);
    put(p + 5, sequence, 2);
    put(p + 7, timestamp, 4);
    if (!opus.isEmpty())
        std::memcpy(p + AudioHeader, opus.data(), size_t(opus.size()));
}

std::optional<Fields> read(QByteArrayView content)
{
    if (content.size() < 5)
        return std::nullopt;
    const uint8_t kind = uint8_t(content[0]);
    if (kind < Invite || kind > Echo)
        return std::nullopt;
    Fields fields;
    fields.kind = Kind(kind);
    fields.callId = uint32_t(get(content, 1, 4));
    if (fields.callId == 0)
        return std::nullopt;
    if (kind == Probe || kind == Echo) {
        if (content.size() != 9)
            return std::nullopt;
        fields.timestamp = uint32_t(get(content, 5, 4));
        return fields;
    }
    if (kind != Audio)
        return content.size() == 5 ? std::optional(fields) : std::nullopt;
    if (content.size() <= AudioHeader || content.size() > AudioHeader + OpusEncoder::MaxPacketBytes)
        return std::nullopt;
    fields.sequence = uint16_t(get(content, 5, 2));
    fields.timestamp = uint32_t(get(content, 7, 4));
    fields.payload = content.sliced(AudioHeader);
    return fields;
}

} // namespace cfb::CallContent
