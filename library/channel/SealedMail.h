#pragma once

#include "channel/NoiseTypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {

class Identity;

// What one user leaves in another's mailbox at the service: a line, or a receipt for lines taken,
// sealed with crypto_box (X25519, XSalsa20-Poly1305) from the sender's static key pair to the
// recipient's public key. The service cannot read it; the recipient, opening it with the key
// pinned for the sender, knows who wrote it.
//   sealed    version 1 (1) | nonce (24) | box of the plain content (16 more than it)
//   content   kind (1) | id (8) | time sent, ms since 1970 (8) | handle length (1) | handle | rest
//   line      kind 1, rest: the text in UTF-8
//   receipt   kind 2, rest: count (1) | line ids (8 each)
// Numbers little-endian. The handle is the sender's own: a line the service turns back to its
// writer (both directions share one box key) names the wrong sender and is refused. A line that
// first went over the encrypted channel keeps the id it had there.
namespace SealedMail {

inline constexpr uint8_t Version = 1;
inline constexpr qsizetype Overhead = 1 + 24 + 16;
inline constexpr int MaxReceiptIds = 255;

enum class Kind : uint8_t { Line = 1, Receipt = 2 };

struct Content {
    Kind kind = Kind::Line;
    uint64_t id = 0;
    int64_t sentMs = 0;
    QString handle; // the sender's
    QString text; // a line's
    QList<uint64_t> receiptIds; // a receipt's
};

// Nothing when the handle is longer than 255 bytes of UTF-8 or a receipt holds too many ids.
std::optional<QByteArray> seal(const Content& content, const Identity& sender, const Key32& recipientKey);
// Nothing unless it was sealed by the holder of senderKey to this identity, and is well-formed
// (text in well-formed UTF-8).
std::optional<Content> open(QByteArrayView sealed, const Identity& recipient, const Key32& senderKey);

} // namespace SealedMail
} // namespace cfb
