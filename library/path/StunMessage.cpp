#include "path/StunMessage.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace cfb {
namespace {

constexpr uint8_t FamilyIpv4 = 0x01;

void appendBig(QByteArray& out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out += char(uint8_t(value >> (8 * i)));
}

uint32_t readBig(QByteArrayView bytes, qsizetype at, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

void writeBig16(QByteArray& out, qsizetype at, uint16_t value)
{
    out[at] = char(uint8_t(value >> 8));
    out[at + 1] = char(uint8_t(value));
}

// The message type interleaves the method's twelve bits with the class's two (RFC 5389 6).
uint16_t messageType(uint16_t method, uint16_t messageClass)
{
    return uint16_t((method & 0x000F) | ((method & 0x0070) << 1) | ((method & 0x0F80) << 2) | messageClass);
}

uint16_t methodOf(uint16_t type)
{
    return uint16_t((type & 0x000F) | ((type & 0x00E0) >> 1) | ((type & 0x3E00) >> 2));
}

qsizetype padded(qsizetype length)
{
    return (length + 3) & ~qsizetype(3);
}

} // namespace

StunMessage::StunMessage(Method method, Class messageClass, const TransactionId& transaction)
    : method_(method)
    , class_(messageClass)
    , transaction_(transaction)
{
}

StunMessage StunMessage::make(Method method, Class messageClass)
{
    TransactionId id;
    randombytes_buf(id.data(), id.size());
    return StunMessage(method, messageClass, id);
}

bool StunMessage::looksLikeStun(QByteArrayView datagram)
{
    return datagram.size() >= HeaderSize && (uint8_t(datagram[0]) & 0xC0) == 0
        && readBig(datagram, 4, 4) == MagicCookie && (readBig(datagram, 2, 2) & 3) == 0;
}

std::optional<StunMessage> StunMessage::parse(QByteArrayView datagram)
{
    if (!looksLikeStun(datagram) || datagram.size() > MaxDatagram)
        return std::nullopt;
    const qsizetype length = readBig(datagram, 2, 2);
    if (HeaderSize + length != datagram.size())
        return std::nullopt;
    const uint16_t type = uint16_t(readBig(datagram, 0, 2));
    TransactionId id;
    std::memcpy(id.data(), datagram.data() + 8, id.size());
    StunMessage message(Method(methodOf(type)), Class(type & 0x0110), id);
    qsizetype at = HeaderSize;
    while (at < datagram.size()) {
        if (datagram.size() - at < 4)
            return std::nullopt;
        const uint16_t attributeType = uint16_t(readBig(datagram, at, 2));
        const qsizetype valueLength = readBig(datagram, at + 2, 2);
        if (valueLength > datagram.size() - at - 4)
            return std::nullopt;
        if (attributeType == MessageIntegrity) {
            if (valueLength != IntegritySize - 4)
                return std::nullopt;
            message.integrityAt_ = at;
        }
        // Nothing after MESSAGE-INTEGRITY counts but FINGERPRINT (RFC 5389 15.4).
        const bool afterIntegrity = message.integrityAt_ >= 0 && message.integrityAt_ != at;
        if (!afterIntegrity && int(message.attributes_.size()) < MaxAttributes)
            message.attributes_.push_back({attributeType, datagram.sliced(at + 4, valueLength).toByteArray()});
        // The last attribute's padding may be missing only if nothing follows; then it ends here.
        at = std::min(datagram.size(), at + 4 + padded(valueLength));
    }
    message.parsedFrom_ = datagram.toByteArray();
    return message;
}

StunMessage& StunMessage::add(uint16_t type, QByteArrayView value)
{
    attributes_.push_back({type, value.first(std::min<qsizetype>(value.size(), 0xFFFC)).toByteArray()});
    return *this;
}

StunMessage& StunMessage::addText(uint16_t type, const QString& text)
{
    return add(type, text.toUtf8().left(763)); // USERNAME, REALM and NONCE are below 763 bytes
}

StunMessage& StunMessage::addUint32(uint16_t type, uint32_t value)
{
    QByteArray bytes;
    appendBig(bytes, value, 4);
    return add(type, bytes);
}

StunMessage& StunMessage::addAddress(uint16_t type, const Ipv4Endpoint& endpoint)
{
    QByteArray value;
    value += char(0);
    value += char(FamilyIpv4);
    appendBig(value, endpoint.port ^ (MagicCookie >> 16), 2);
    uint8_t address[4];
    std::memcpy(address, &endpoint.address, 4); // network order: first byte first
    for (int i = 0; i < 4; ++i)
        value += char(address[i] ^ uint8_t(MagicCookie >> (24 - 8 * i)));
    return add(type, value);
}

QByteArray StunMessage::encode(const QByteArray& key) const
{
    QByteArray out;
    out.reserve(HeaderSize + 64);
    appendBig(out, messageType(method_, class_), 2);
    appendBig(out, 0, 2); // the length, written below
    appendBig(out, MagicCookie, 4);
    out.append(reinterpret_cast<const char*>(transaction_.data()), qsizetype(transaction_.size()));
    for (const Entry& entry : attributes_) {
        appendBig(out, entry.type, 2);
        appendBig(out, uint32_t(entry.value.size()), 2);
        out += entry.value;
        out.append(padded(entry.value.size()) - entry.value.size(), '\0');
    }
    if (!key.isEmpty()) {
        // The HMAC covers the header with its length already counting the integrity attribute.
        writeBig16(out, 2, uint16_t(out.size() - HeaderSize + IntegritySize));
        const QByteArray mac = QMessageAuthenticationCode::hash(out, key, QCryptographicHash::Sha1);
        appendBig(out, MessageIntegrity, 2);
        appendBig(out, uint32_t(mac.size()), 2);
        out += mac;
    }
    writeBig16(out, 2, uint16_t(out.size() - HeaderSize));
    return out;
}

std::optional<QByteArrayView> StunMessage::attribute(uint16_t type) const
{
    for (const Entry& entry : attributes_)
        if (entry.type == type)
            return QByteArrayView(entry.value);
    return std::nullopt;
}

std::optional<QString> StunMessage::text(uint16_t type) const
{
    const auto value = attribute(type);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(*value);
}

std::optional<uint32_t> StunMessage::uint32(uint16_t type) const
{
    const auto value = attribute(type);
    if (!value || value->size() != 4)
        return std::nullopt;
    return readBig(*value, 0, 4);
}

std::optional<Ipv4Endpoint> StunMessage::address(uint16_t type) const
{
    const auto value = attribute(type);
    if (!value || value->size() != 8 || uint8_t((*value)[1]) != FamilyIpv4)
        return std::nullopt;
    Ipv4Endpoint endpoint;
    endpoint.port = uint16_t(readBig(*value, 2, 2) ^ (MagicCookie >> 16));
    uint8_t address[4];
    for (int i = 0; i < 4; ++i)
        address[i] = uint8_t((*value)[4 + i]) ^ uint8_t(MagicCookie >> (24 - 8 * i));
    std::memcpy(&endpoint.address, address, 4);
    return endpoint;
}

std::optional<int> StunMessage::errorCode() const
{
    const auto value = attribute(ErrorCode);
    if (!value || value->size() < 4)
        return std::nullopt;
    const int errorClass = uint8_t((*value)[2]) & 0x07;
    const int number = uint8_t((*value)[3]);
    if (errorClass < 3 || errorClass > 6 || number > 99)
        return std::nullopt;
    return errorClass * 100 + number;
}

bool StunMessage::hasIntegrity(const QByteArray& key) const
{
    if (integrityAt_ < 0 || key.isEmpty())
        return false;
    QByteArray covered = parsedFrom_.left(integrityAt_);
    writeBig16(covered, 2, uint16_t(integrityAt_ - HeaderSize + IntegritySize));
    const QByteArray mac = QMessageAuthenticationCode::hash(covered, key, QCryptographicHash::Sha1);
    const QByteArray carried = parsedFrom_.mid(integrityAt_ + 4, IntegritySize - 4);
    return carried.size() == mac.size() && sodium_memcmp(carried.constData(), mac.constData(), size_t(mac.size())) == 0;
}

QByteArray StunMessage::longTermKey(const QString& username, const QString& realm, const QString& password)
{
    return QCryptographicHash::hash(
        (username + QLatin1Char(':') + realm + QLatin1Char(':') + password).toUtf8(), QCryptographicHash::Md5);
}

} // namespace cfb
