#include "channel/HandshakeGuard.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace cfb {

HandshakeGuard::HandshakeGuard() = default;

HandshakeGuard::~HandshakeGuard()
{
    sodium_memzero(secret_.data(), secret_.size());
    sodium_memzero(previousSecret_.data(), previousSecret_.size());
}

bool HandshakeGuard::noteInitiation(int64_t nowMs)
{
    if (nowMs - secondStart_ >= 1000) {
        initiationsLastSecond_ = nowMs - secondStart_ < 2000 ? initiationsThisSecond_ : 0;
        initiationsThisSecond_ = 0;
        agreementsThisSecond_ = 0;
        cookieRepliesThisSecond_ = 0;
        secondStart_ = nowMs;
    }
    ++initiationsThisSecond_;
    return std::max(initiationsThisSecond_, initiationsLastSecond_) > LoadThreshold;
}

void HandshakeGuard::rotate(int64_t nowMs)
{
    if (secretMadeAt_ >= 0 && nowMs - secretMadeAt_ < CookieSecretMs)
        return;
    previousSecret_ = secret_;
    randombytes_buf(secret_.data(), secret_.size());
    if (secretMadeAt_ < 0)
        previousSecret_ = secret_;
    secretMadeAt_ = nowMs;
}

ChannelDatagram::Mac HandshakeGuard::cookieUnder(
    const std::array<uint8_t, 32>& secret, QByteArrayView address, uint16_t port) const
{
    uint8_t source[18];
    const size_t length = std::min<size_t>(size_t(address.size()), 16);
    std::memcpy(source, address.data(), length);
    source[length] = uint8_t(port);
    source[length + 1] = uint8_t(port >> 8);
    return ChannelDatagram::mac(QByteArrayView(secret.data(), secret.size()),
        QByteArrayView(reinterpret_cast<const char*>(source), qsizetype(length + 2)));
}

ChannelDatagram::Mac HandshakeGuard::cookieFor(QByteArrayView address, uint16_t port, int64_t nowMs)
{
    rotate(nowMs);
    return cookieUnder(secret_, address, port);
}

bool HandshakeGuard::hasValidCookie(QByteArrayView datagram, QByteArrayView address, uint16_t port, int64_t nowMs)
{
    rotate(nowMs);
    return ChannelDatagram::hasMac2(datagram, cookieUnder(secret_, address, port))
        || ChannelDatagram::hasMac2(datagram, cookieUnder(previousSecret_, address, port));
}

bool HandshakeGuard::mayReplyWithCookie(uint32_t address, int64_t nowMs)
{
    if (cookieRepliesThisSecond_ >= MaxCookieRepliesPerSecond)
        return false;
    // So many addresses at once that they cannot all be told apart (made up ones): the budget
    // alone holds them.
    if (!take(cookieBuckets_, address, CookiesPerAddressRate, nowMs, true))
        return false;
    ++cookieRepliesThisSecond_;
    return true;
}

bool HandshakeGuard::take(QHash<uint32_t, Bucket>& buckets, uint32_t address, double rate, int64_t nowMs, bool whenFull)
{
    auto found = buckets.find(address);
    if (found == buckets.end()) {
        if (buckets.size() >= MaxTracked) {
            // Forget the addresses whose buckets have filled up again; they lose nothing.
            for (auto it = buckets.begin(); it != buckets.end();)
                it = nowMs - it->at > PerAddressBurst / rate * 1000 ? buckets.erase(it) : std::next(it);
            if (buckets.size() >= MaxTracked)
                return whenFull;
        }
        found = buckets.insert(address, Bucket {PerAddressBurst, nowMs});
    }
    Bucket& bucket = *found;
    bucket.tokens = std::min(PerAddressBurst, bucket.tokens + double(nowMs - bucket.at) * rate / 1000.0);
    bucket.at = nowMs;
    if (bucket.tokens < 1)
        return false;
    bucket.tokens -= 1;
    return true;
}

bool HandshakeGuard::admits(uint32_t address, int64_t nowMs)
{
    if (agreementsThisSecond_ >= MaxPerSecond || !take(buckets_, address, PerAddressRate, nowMs, false))
        return false;
    ++agreementsThisSecond_;
    return true;
}

} // namespace cfb
