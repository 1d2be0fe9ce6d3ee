#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>

namespace cfb {

// The datagrams of the encrypted channel between Confabo clients. Each starts with a type byte
// below 0x20 (a plain peer datagram starts with '<' or white space, so older clients drop these
// as not well-formed), three zero bytes, and little-endian session indexes; nothing in them
// names the sender or the receiver in clear. docs/peer-protocol.md describes every field.
//
//   initiation  1 | 0 0 0 | sender index | Noise IK message 1 (210 bytes in all) | mac1 | mac2
//   response    2 | 0 0 0 | sender index | receiver index | Noise IK message 2   | mac1 | mac2
//   cookie      3 | 0 0 0 | receiver index | nonce (24) | sealed cookie (32)
//   data        4 | 0 0 0 | receiver index | counter (8) | sealed content (content + 16)
namespace ChannelDatagram {

enum Type : uint8_t { Initiation = 1, Response = 2, CookieReply = 3, Data = 4 };

inline constexpr qsizetype MacSize = 16;
inline constexpr qsizetype KeySize = 32;
inline constexpr qsizetype TagSize = 16;
// What the initiator tells inside its first message: a version byte, a timestamp that only ever
// grows (milliseconds since 1970, so a recorded initiation cannot be played again), and its
// handle in UTF-8, padded to the full size.
inline constexpr qsizetype HandleRoom = 64;
inline constexpr qsizetype InitiationPayloadSize = 1 + 8 + 1 + HandleRoom;
inline constexpr qsizetype InitiationNoiseSize = KeySize + (KeySize + TagSize) + (InitiationPayloadSize + TagSize);
inline constexpr qsizetype InitiationSize = 8 + InitiationNoiseSize + 2 * MacSize;
inline constexpr qsizetype ResponseNoiseSize = KeySize + TagSize;
inline constexpr qsizetype ResponseSize = 12 + ResponseNoiseSize + 2 * MacSize;
inline constexpr qsizetype CookieNonceSize = 24;
inline constexpr qsizetype CookieReplySize = 8 + CookieNonceSize + MacSize + TagSize;
inline constexpr qsizetype DataHeaderSize = 16;
inline constexpr qsizetype DataOverhead = DataHeaderSize + TagSize;
// The most one UDP datagram over IPv4 carries.
inline constexpr qsizetype MaxDatagramSize = 65507;
inline constexpr qsizetype MaxContentSize = MaxDatagramSize - DataOverhead;
inline constexpr uint8_t ProtocolVersion = 1;

using Mac = std::array<uint8_t, MacSize>;
using MacKey = std::array<uint8_t, KeySize>;

// Whether a datagram belongs to the channel (by its first byte) rather than being a plain one.
bool isChannel(QByteArrayView datagram);
// The type of a well-sized channel datagram, or 0 when its size or reserved bytes are wrong.
uint8_t typeOf(QByteArrayView datagram);

uint32_t readIndex(QByteArrayView datagram, qsizetype offset);
void writeIndex(uint8_t* at, uint32_t index);
// The counter of a data datagram.
uint64_t readCounter(QByteArrayView datagram);
void writeCounter(uint8_t* at, uint64_t counter);
uint64_t readUint64(const char* at);
void writeUint64(uint8_t* at, uint64_t value);

// The key that mac1 of messages to the holder of staticPublic is made with, and the key its
// cookie replies are sealed with.
MacKey mac1Key(const std::array<uint8_t, 32>& staticPublic);
MacKey cookieKey(const std::array<uint8_t, 32>& staticPublic);
// A 16-byte keyed BLAKE2b of bytes.
Mac mac(QByteArrayView key, QByteArrayView bytes);

// Offsets of mac1 and mac2 in an initiation or response.
qsizetype mac1Offset(QByteArrayView datagram);
qsizetype mac2Offset(QByteArrayView datagram);
// Whether mac1 (mac2) of an initiation or response matches.
bool hasMac1(QByteArrayView datagram, const MacKey& key);
bool hasMac2(QByteArrayView datagram, const Mac& cookie);
// Fills in mac1 and mac2 (zeros without a cookie) of an initiation or response being written.
void sign(QByteArray& datagram, const MacKey& mac1Key, const Mac* cookie);

} // namespace ChannelDatagram
} // namespace cfb
