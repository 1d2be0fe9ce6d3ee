#pragma once

#include "path/Ipv4Endpoint.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cfb {

// One STUN message (RFC 5389) with the TURN methods and attributes (RFC 8656) this client uses:
// built attribute by attribute and encoded, with MESSAGE-INTEGRITY under the long-term credential
// key when one is given; or parsed from a datagram, every length checked against what is there.
class StunMessage {
public:
    enum Method : uint16_t {
        Binding = 0x001,
        Allocate = 0x003,
        Refresh = 0x004,
        Send = 0x006,
        Data = 0x007,
        CreatePermission = 0x008,
        ChannelBind = 0x009,
    };
    enum Class : uint16_t { Request = 0x000, Indication = 0x010, Success = 0x100, Error = 0x110 };
    enum Attribute : uint16_t {
        Username = 0x0006,
        MessageIntegrity = 0x0008,
        ErrorCode = 0x0009,
        ChannelNumber = 0x000C,
        Lifetime = 0x000D,
        XorPeerAddress = 0x0012,
        DataAttribute = 0x0013,
        Realm = 0x0014,
        Nonce = 0x0015,
        XorRelayedAddress = 0x0016,
        RequestedTransport = 0x0019,
        XorMappedAddress = 0x0020,
        Software = 0x8022,
        Fingerprint = 0x8028,
    };
    using TransactionId = std::array<uint8_t, 12>;

    static constexpr uint32_t MagicCookie = 0x2112A442;
    static constexpr qsizetype HeaderSize = 20;
    static constexpr qsizetype IntegritySize = 24; // the attribute's header and its HMAC-SHA1
    // More attributes than any answer of a TURN server carries: the rest is not read.
    static constexpr int MaxAttributes = 24;
    static constexpr qsizetype MaxDatagram = 65535;

    StunMessage(Method method, Class messageClass, const TransactionId& transaction);
    // A message with a new random transaction id.
    static StunMessage make(Method method, Class messageClass);

    // nullopt unless the datagram is one whole STUN message: the two zero bits, the magic cookie,
    // a length that is a multiple of four and matches the datagram, and attributes that fit.
    static std::optional<StunMessage> parse(QByteArrayView datagram);
    // The cheap test that tells a STUN message from other datagrams of the same server.
    static bool looksLikeStun(QByteArrayView datagram);

    Method method() const { return method_; }
    Class messageClass() const { return class_; }
    const TransactionId& transaction() const { return transaction_; }

    StunMessage& add(uint16_t type, QByteArrayView value);
    StunMessage& addText(uint16_t type, const QString& text); // UTF-8
    StunMessage& addUint32(uint16_t type, uint32_t value);
    StunMessage& addAddress(uint16_t type, const Ipv4Endpoint& endpoint); // XOR-coded
    // The whole message; with key, MESSAGE-INTEGRITY last (RFC 5389 15.4).
    QByteArray encode(const QByteArray& key = QByteArray()) const;

    // The value of the first attribute of that type.
    std::optional<QByteArrayView> attribute(uint16_t type) const;
    std::optional<QString> text(uint16_t type) const;
    std::optional<uint32_t> uint32(uint16_t type) const;
    // An XOR-coded IPv4 address; nullopt also for another family or a short value.
    std::optional<Ipv4Endpoint> address(uint16_t type) const;
    // ERROR-CODE as class * 100 + number (401, 438, ...).
    std::optional<int> errorCode() const;
    // Whether a parsed message carries a MESSAGE-INTEGRITY that the key makes.
    bool hasIntegrity(const QByteArray& key) const;

    // The long-term credential key: MD5(username ":" realm ":" password).
    static QByteArray longTermKey(const QString& username, const QString& realm, const QString& password);

private:
    struct Entry {
        uint16_t type;
        QByteArray value;
    };
    Method method_;
    Class class_;
    TransactionId transaction_;
    std::vector<Entry> attributes_;
    QByteArray parsedFrom_; // the datagram, for checking its integrity
    qsizetype integrityAt_ = -1; // where its MESSAGE-INTEGRITY attribute starts
};

} // namespace cfb
