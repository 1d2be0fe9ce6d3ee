#pragma once

#include "channel/ChannelDatagram.h"

#include <QHash>

#include <array>
#include <cstdint>

namespace cfb {

// Keeps a flood of handshakes from costing more than a little CPU: each initiation that gets as
// far as the key agreement costs four of them. Under load (more initiations in the last second
// than a client ever sees from its buddies) an initiation must carry a cookie that proves its
// sender receives at its address, else it only gets a cookie in reply; and each address may
// start only a few handshakes a second, all addresses together a bounded number.
class HandshakeGuard {
public:
    static constexpr int LoadThreshold = 16; // initiations a second before cookies are asked for
    static constexpr double PerAddressRate = 4; // handshakes a second one address may start
    static constexpr double PerAddressBurst = 8;
    static constexpr int MaxPerSecond = 100; // key agreements a second, all addresses together
    static constexpr int MaxCookieRepliesPerSecond = 500;
    static constexpr int CookieSecretMs = 120000; // a cookie secret's life, and so a cookie's
    static constexpr int MaxTracked = 4096; // addresses remembered at once

    HandshakeGuard();
    ~HandshakeGuard();

    // Counts one initiation with a good mac1 from the address; true when the channel is under load.
    bool noteInitiation(int64_t nowMs);
    // The cookie for an address: a keyed hash of it under the current secret.
    ChannelDatagram::Mac cookieFor(uint32_t address, uint16_t port, int64_t nowMs);
    // Whether mac2 carries the cookie of the address under the current or the previous secret.
    bool hasValidCookie(QByteArrayView datagram, uint32_t address, uint16_t port, int64_t nowMs);
    // Whether a cookie reply may be sent now (they are bounded too).
    bool mayReplyWithCookie(int64_t nowMs);
    // Whether the address may start a handshake now; takes its share when it may.
    bool admits(uint32_t address, int64_t nowMs);

private:
    void rotate(int64_t nowMs);
    ChannelDatagram::Mac cookieUnder(const std::array<uint8_t, 32>& secret, uint32_t address, uint16_t port) const;

    struct Bucket {
        double tokens = PerAddressBurst;
        int64_t at = 0;
    };
    QHash<uint32_t, Bucket> buckets_;
    std::array<uint8_t, 32> secret_ {};
    std::array<uint8_t, 32> previousSecret_ {};
    int64_t secretMadeAt_ = -1;
    int64_t secondStart_ = 0;
    int initiationsThisSecond_ = 0;
    int initiationsLastSecond_ = 0;
    int agreementsThisSecond_ = 0;
    int cookieRepliesThisSecond_ = 0;
};

} // namespace cfb
