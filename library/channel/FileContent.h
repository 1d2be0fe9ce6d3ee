#pragma once

#include "channel/ChannelContent.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace cfb {

// The channel contents of a file transfer, beside ChannelContent's (numbers little-endian). A
// transfer is named by the sender's id for it; the receiver's messages name the same id.
//   offer   5 | transfer (4) | size (8) | SHA-256 (32) | flags (1) | name length (1) | name
//   reply   6 | transfer (4) | answer (1)                     receiver to sender
//   data    7 | transfer (4) | packet (4) | send number (4) | bytes
//   ack     8 | transfer (4) | packets all received from the first (4) | newest send number (4) |
//               count (1) | ranges received beyond those: first packet (4), end (4, exclusive)
//   cancel  9 | transfer (4)                                   sender to receiver
// A packet's bytes are its place in the file times DataBytes on; every packet but the last is
// full. The send number grows with every data datagram, packets sent again included, so an
// acknowledgement says which sending arrived, and the sender measures the round trip from it.
namespace FileContent {

enum Kind : uint8_t { Offer = 5, Reply = 6, Data = 7, Ack = 8, Cancel = 9 };

enum class Answer : uint8_t {
    Asked = 0, // the offer arrived; its user is being asked
    Accepted = 1,
    Declined = 2,
    Cancelled = 3, // by the receiver, or a transfer the receiver does not know (any more)
    Done = 4, // written whole, and its SHA-256 matches
    Failed = 5, // could not be written, or did not match
};

enum Flag : uint8_t { Picture = 1 };

using Sha256 = std::array<uint8_t, 32>;

inline constexpr qsizetype DataHeader = 13;
inline constexpr qsizetype DataBytes = ChannelContent::MaxPacketDatagram - 32 - DataHeader;
inline constexpr int MaxAckRanges = 32;
inline constexpr int64_t MaxFileBytes = int64_t(2) << 30; // 2 GB
inline constexpr int64_t MaxPictureBytes = int64_t(16) << 20;

struct OfferFields {
    uint32_t transfer = 0;
    int64_t size = 0;
    Sha256 sha256 {};
    uint8_t flags = 0;
    QString name;
};

struct ReplyFields {
    uint32_t transfer = 0;
    Answer answer = Answer::Asked;
};

struct DataFields {
    uint32_t transfer = 0;
    uint32_t packet = 0;
    uint32_t sendNumber = 0;
    QByteArrayView bytes; // into the content it was read from
};

struct Range {
    uint32_t first = 0;
    uint32_t end = 0;
};

struct AckFields {
    uint32_t transfer = 0;
    uint32_t contiguous = 0;
    uint32_t newestSend = 0;
    QList<Range> ranges;
};

// The packets a file of size bytes goes in.
inline uint32_t packetCount(int64_t size)
{
    return uint32_t((size + DataBytes - 1) / DataBytes);
}

// A name as the receiver may use it: the last part of a path, no control characters, not
// hidden, at most 255 bytes of UTF-8; "file" when nothing is left.
QString safeName(const QString& name);

// Nothing when the name does not fit.
std::optional<QByteArray> offer(const OfferFields& fields);
QByteArray reply(uint32_t transfer, Answer answer);
// Writes a data packet's content into out (capacity reused).
void data(uint32_t transfer, uint32_t packet, uint32_t sendNumber, QByteArrayView bytes, QByteArray& out);
QByteArray ack(const AckFields& fields);
QByteArray cancel(uint32_t transfer);

// Reading: nothing when malformed (sizes out of range, ranges out of order, names not UTF-8).
std::optional<OfferFields> readOffer(QByteArrayView content);
std::optional<ReplyFields> readReply(QByteArrayView content);
std::optional<DataFields> readData(QByteArrayView content);
std::optional<AckFields> readAck(QByteArrayView content);
std::optional<uint32_t> readCancel(QByteArrayView content);

} // namespace FileContent
} // namespace cfb
