#pragma once

#include "channel/ChannelDatagram.h"

#include <QHash>

#include <array>
#include <cstdint>

namespace cfb {

// Keeps a flood of handshakes from costing more than a little CPU: each initiation that gets as
// far as the key agreement costs five X25519 operations (its answer included). Under load (more
// initiations in the last second than a client ever sees from its buddies) an initiation must
// carry a cookie that proves its sender receives at its address, else it only gets a cookie in
// reply (a few microseconds); each address may start only a few handshakes a second, and get
// only a few cookies, all addresses together a bounded number of each.
class HandshakeGuard {
public:
    static constexpr int LoadThreshold = 16; // initiations a second before cookies are asked for
    static constexpr double PerAddressRate = 4; // handshakes a second one address may start
    static constexpr double PerAddressBurst = 8;
    static constexpr int MaxPerSecond = 100; // key agreements a second, all addresses together
    // A buddy must still get a cookie while a flood from many addresses spends the budget: each
    // address has a share of its own, and the budget is large (a reply costs a few microseconds
    // and is smaller than the initiation it answers).
    static constexpr double CookiesPerAddressRate = 4;
    static constexpr int MaxCookieRepliesPerSecond = 10000;
    static constexpr int CookieSecretMs = 120000; // a cookie secret's life, and so a cookie's
    static constexpr int MaxTracked = 4096; // addresses remembered at once

    HandshakeGuard();
    ~HandshakeGuard();

    // Counts one initiation with a good mac1 from the address; true when the channel is under load.
    bool noteInitiation(int64_t nowMs);
    // The cookie for an address: a keyed hash of it under the current secret.
    // The address as its bytes in network order: 4 for IPv4, 16 for IPv6.
    ChannelDatagram::Mac cookieFor(QByteArrayView address, uint16_t port, int64_t nowMs);
    // Whether mac2 carries the cookie of the address under the current or the previous secret.
    bool hasValidCookie(QByteArrayView datagram, QByteArrayView address, uint16_t port, int64_t nowMs);
    // Whether a cookie reply may be sent to the address now (they are bounded too).
    bool mayReplyWithCookie(uint32_t address, int64_t nowMs);
    // Whether the address may start a handshake now; takes its share when it may.
    bool admits(uint32_t address, int64_t nowMs);

private:
    void rotate(int64_t nowMs);
    ChannelDatagram::Mac cookieUnder(
        const std::array<uint8_t, 32>& secret, QByteArrayView address, uint16_t port) const;

    struct Bucket {
        double tokens = PerAddressBurst;
        int64_t at = 0;
    };
    // Takes a token from the address's bucket in buckets (refilled at rate a second); whenFull
    // answers for an address that finds no room among those tracked.
    static bool take(QHash<uint32_t, Bucket>& buckets, uint32_t address, double rate, int64_t nowMs, bool whenFull);
    QHash<uint32_t, Bucket> buckets_;
    QHash<uint32_t, Bucket> cookieBuckets_;
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
