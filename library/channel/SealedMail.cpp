#include "channel/SealedMail.h"

#include "channel/ChannelContent.h"
#include "channel/Identity.h"
#include "channel/LittleEndian.h"
#include "channel/SodiumReady.h"

#include <sodium.h>

namespace cfb::SealedMail {

namespace {

constexpr qsizetype NonceSize = crypto_box_NONCEBYTES;
static_assert(Overhead == 1 + NonceSize + qsizetype(crypto_box_MACBYTES));
constexpr qsizetype FixedContent = 1 + 8 + 8;

std::optional<QString> utf8(QByteArrayView bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return std::nullopt; // not well-formed: a replacement character came in
    return text;
}

} // namespace

std::optional<QByteArray> seal(const Content& content, const Identity& sender, const Key32& recipientKey)
{
    if (!sodiumReady())
        return std::nullopt;
    QByteArray plain;
    plain += char(content.kind);
    LittleEndian::append(plain, content.id, 8);
    LittleEndian::append(plain, uint64_t(content.sentMs), 8);
    if (!ChannelContent::appendShortText(plain, content.handle))
        return std::nullopt;
    if (content.kind == Kind::Line) {
        plain += content.text.toUtf8();
    } else {
        if (content.receiptIds.size() > MaxReceiptIds)
            return std::nullopt;
        plain += char(content.receiptIds.size());
        for (const uint64_t id : content.receiptIds)
            LittleEndian::append(plain, id, 8);
    }
    QByteArray sealed(Overhead + plain.size(), Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(sealed.data());
    out[0] = Version;
    randombytes_buf(out + 1, NonceSize);
    const int failed = crypto_box_easy(out + 1 + NonceSize, reinterpret_cast<const unsigned char*>(plain.constData()),
        size_t(plain.size()), out + 1, recipientKey.data(), sender.secretKey().data());
    sodium_memzero(plain.data(), size_t(plain.size()));
    if (failed)
        return std::nullopt;
    return sealed;
}

std::optional<Content> open(QByteArrayView sealed, const Identity& recipient, const Key32& senderKey)
{
    if (!sodiumReady() || sealed.size() < Overhead + FixedContent + 1 || uint8_t(sealed[0]) != Version)
        return std::nullopt;
    const auto* in = reinterpret_cast<const unsigned char*>(sealed.data());
    QByteArray plain(sealed.size() - Overhead, Qt::Uninitialized);
    if (crypto_box_open_easy(reinterpret_cast<unsigned char*>(plain.data()), in + 1 + NonceSize,
            size_t(sealed.size() - 1 - NonceSize), in + 1, senderKey.data(), recipient.secretKey().data())
        != 0)
        return std::nullopt;
    Content content;
    const uint8_t kind = uint8_t(plain[0]);
    if (kind != uint8_t(Kind::Line) && kind != uint8_t(Kind::Receipt))
        return std::nullopt;
    content.kind = Kind(kind);
    content.id = LittleEndian::read(plain, 1, 8);
    content.sentMs = int64_t(LittleEndian::read(plain, 9, 8));
    qsizetype pos = FixedContent;
    if (!ChannelContent::readShortText(plain, pos, content.handle) || content.handle.isEmpty())
        return std::nullopt;
    const QByteArrayView rest = QByteArrayView(plain).sliced(pos);
    if (content.kind == Kind::Line) {
        const std::optional<QString> text = utf8(rest);
        if (!text)
            return std::nullopt;
        content.text = *text;
        return content;
    }
    if (rest.isEmpty() || rest.size() != 1 + 8 * qsizetype(uint8_t(rest[0])))
        return std::nullopt;
    for (qsizetype at = 1; at < rest.size(); at += 8)
        content.receiptIds.append(LittleEndian::read(rest, at, 8));
    return content;
}

} // namespace cfb::SealedMail
