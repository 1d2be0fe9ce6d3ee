#pragma once

#include "channel/ChannelContent.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace cfb {

// The channel's contents for live video coded between Confabo clients (VP8), beside the frame
// packets that carry JPEG pictures. Numbers little-endian.
//   codecs          10 | codecs (1: bit 0 JPEG, bit 1 VP8, bit 2 takes voice calls) | anything more
//                        is ignored
//   video packet    11 | frame number (4) | packet index (2) | packet count (2) | send number (4) |
//                        sent at (4, ms on the sender's clock) | bytes
//   video nack      12 | frame number (4) | count (2) | packet indexes (2 each)
//   receiver report 13 | interval ms (2) | packets (4) | bytes (4) | packets lost (4) |
//                        queuing delay ms (2) | delay trend (2, signed, ms per second)
//   key frame ask   14
// A video frame put together from its packets starts with its codec (1) and flags (1: bit 0 key
// frame), then the codec's bytes. A client that never said VP8 gets none of these.
namespace VideoContent {

enum Kind : uint8_t { Codecs = 10, Packet = 11, Nack = 12, Report = 13, KeyFrameAsk = 14 };
// Calls is no codec: the client announces with its codecs that it answers call contents, so that
// a buddy on an older client is never called (older clients ignore the bit).
enum Codec : uint8_t { Jpeg = 1, Vp8 = 2, Calls = 4 };
enum FrameFlag : uint8_t { KeyFrame = 1 };

inline constexpr qsizetype PacketHeader = 17;
inline constexpr qsizetype PacketBytes = ChannelContent::MaxPacketDatagram - 32 - PacketHeader;
inline constexpr qsizetype FrameHeader = 2;

struct PacketFields {
    ChannelContent::PacketFields frame; // number, index, count, bytes
    uint32_t sendNumber = 0;
    uint32_t sentAt = 0;
};

struct ReportFields {
    uint16_t intervalMs = 0;
    uint32_t packets = 0;
    uint32_t bytes = 0;
    uint32_t lost = 0;
    uint16_t queuingDelayMs = 0;
    int16_t delayTrend = 0; // ms of one-way delay gained per second
    bool operator==(const ReportFields&) const = default;
};

QByteArray codecs(uint8_t codecs);
// Writes a packet's content into out (capacity reused).
void packet(const PacketFields& fields, QByteArray& out);
QByteArray nack(const ChannelContent::NackFields& fields);
QByteArray report(const ReportFields& fields);

// Nothing when the content is not of that kind or is malformed.
std::optional<uint8_t> readCodecs(QByteArrayView content);
std::optional<PacketFields> readPacket(QByteArrayView content);
std::optional<ChannelContent::NackFields> readNack(QByteArrayView content);
std::optional<ReportFields> readReport(QByteArrayView content);

} // namespace VideoContent
} // namespace cfb
