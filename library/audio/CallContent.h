#pragma once

#include "channel/ChannelContent.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace cfb {

// What a call's datagrams carry over the encrypted channel, numbers little-endian:
//   invite 0x20 | ringing 0x21 | answer 0x22 | decline 0x23 | busy 0x24 | hangup 0x25:
//                 kind | call id (4)
//   audio 0x26  | call id (4) | sequence (2) | timestamp (4, in samples) | one Opus packet
//   probe 0x27 | echo 0x28:   kind | call id (4) | the prober's clock (4, ms)
// A probe is answered at once by an echo of its clock, which times the round trip.
// Kinds up to 0x2F are kept for calls; a client that knows none of them drops them.
namespace CallContent {

enum Kind : uint8_t {
    Invite = 0x20,
    Ringing = 0x21,
    Answer = 0x22,
    Decline = 0x23,
    Busy = 0x24,
    Hangup = 0x25,
    Audio = 0x26,
    Probe = 0x27,
    Echo = 0x28,
};
static_assert(Invite >= ChannelContent::FirstCallKind && Echo <= ChannelContent::LastCallKind);
inline constexpr qsizetype AudioHeader = 11;

struct Fields {
    Kind kind = Invite;
    uint32_t callId = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0; // audio: in samples; probe and echo: the prober's clock in ms
    QByteArrayView payload; // into the content read
};

QByteArray signal(Kind kind, uint32_t callId);
// A probe or its echo, carrying clockMs.
QByteArray probe(Kind kind, uint32_t callId, uint32_t clockMs);
// Writes an audio packet's content into out (capacity reused).
void audio(uint32_t callId, uint16_t sequence, uint32_t timestamp, QByteArrayView opus, QByteArray& out);
// Nothing for a kind this version does not know, a call id of 0, or a malformed content.
std::optional<Fields> read(QByteArrayView content);

} // namespace CallContent
} // namespace cfb
