#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {

// What a data datagram of the channel carries once opened: a kind byte and its fields, numbers
// little-endian, text in UTF-8 (any script).
//   keep-alive  0
//   line        1 | line id (8) | first unacknowledged (4) | video port (2) | handle length (1) |
//                   handle | e-mail length (1) | e-mail | text
//   frame packet 2 | frame number (4) | packet index (2) | packet count (2) | bytes
//   receipt     3 | count (1) | line ids (8 each)
//   frame nack  4 | frame number (4) | count (2) | packet indexes (2 each): send these again
// A frame goes in packets whose datagrams carry at most 1,200 bytes, so nothing is cut into IP
// fragments on any path; every packet but the last of a frame is full.
// A line id is the sender's epoch (4, chosen at random below 2^21 when its channel starts) and the line's
// number (4) from 1 on, per buddy; "first unacknowledged" is the lowest number the sender still
// sends again, so a receiver that just started knows where the lines it has to wait for begin.
namespace ChannelContent {

// Kinds 5 to 9 are a file transfer's (FileContent), 0x20 to 0x2F a call's (audio/CallContent).
enum Kind : uint8_t { KeepAlive = 0, Message = 1, FramePacket = 2, Receipt = 3, FrameNack = 4 };

inline constexpr uint8_t FirstCallKind = 0x20;
inline constexpr uint8_t LastCallKind = 0x2F;

inline constexpr int MaxReceiptIds = 64;
inline constexpr int MaxNackedPackets = 512;

// The most a datagram of a frame's packet is, and the frame bytes in a full packet.
inline constexpr qsizetype MaxPacketDatagram = 1200;
inline constexpr qsizetype FramePacketHeader = 9;
inline constexpr qsizetype FramePacketBytes = MaxPacketDatagram - 32 - FramePacketHeader;
// A frame of more packets than this (about 4 MB) is not sent, and not collected.
inline constexpr int MaxFramePackets = 3620;

struct MessageFields {
    uint64_t id = 0;
    uint32_t firstUnacknowledged = 0;
    QString handle;
    QString email;
    int16_t videoPort = 0;
    QString text;
};

struct PacketFields {
    uint32_t frame = 0;
    uint16_t index = 0;
    uint16_t count = 0;
    QByteArrayView bytes; // into the content it was read from
};

struct NackFields {
    uint32_t frame = 0;
    QList<uint16_t> packets;
};

// Nothing when a handle or e-mail address is longer than 255 bytes in UTF-8, or the whole would
// not fit in one datagram.
std::optional<QByteArray> message(const MessageFields& fields);
// Writes a packet's content into out (capacity reused).
void framePacket(uint32_t frame, uint16_t index, uint16_t count, QByteArrayView bytes, QByteArray& out);
// Asks for up to MaxNackedPackets packets of a frame again.
QByteArray frameNack(uint32_t frame, const QList<uint16_t>& packets);

// The receipt for up to MaxReceiptIds lines.
QByteArray receipt(const QList<uint64_t>& ids);

// A text of at most 255 bytes of UTF-8 after its length (1): false when it is longer; reading,
// when it runs past the end or is not well-formed UTF-8.
bool appendShortText(QByteArray& out, const QString& text);
bool readShortText(QByteArrayView content, qsizetype& pos, QString& text);

// Reading: nothing when the content is not of that kind or is malformed (text that is not
// well-formed UTF-8 included).
std::optional<MessageFields> readMessage(QByteArrayView content);
std::optional<PacketFields> readFramePacket(QByteArrayView content);
std::optional<NackFields> readFrameNack(QByteArrayView content);
std::optional<QList<uint64_t>> readReceipt(QByteArrayView content);

} // namespace ChannelContent
} // namespace cfb
