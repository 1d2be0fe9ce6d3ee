#include "channel/ChannelDatagram.h"

#include <sodium.h>

#include <cstring>

namespace cfb::ChannelDatagram {
namespace {

MacKey labelledKey(const char* label, const std::array<uint8_t, 32>& staticPublic)
{
    MacKey key;
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, nullptr, 0, key.size());
    crypto_generichash_blake2b_update(&state, reinterpret_cast<const uint8_t*>(label), 8);
    crypto_generichash_blake2b_update(&state, staticPublic.data(), staticPublic.size());
    crypto_generichash_blake2b_final(&state, key.data(), key.size());
    return key;
}

const uint8_t* bytes(QByteArrayView view)
{
    return reinterpret_cast<const uint8_t*>(view.data());
}

} // namespace

bool isChannel(QByteArrayView datagram)
{
    return !datagram.isEmpty() && uint8_t(datagram[0]) < 0x20 && uint8_t(datagram[0]) != '\t'
        && uint8_t(datagram[0]) != '\n' && uint8_t(datagram[0]) != '\r';
}

uint8_t typeOf(QByteArrayView datagram)
{
    if (datagram.size() < 8 || datagram[1] != 0 || datagram[2] != 0 || datagram[3] != 0)
        return 0;
    const uint8_t type = uint8_t(datagram[0]);
    switch (type) {
    case Initiation:
        return datagram.size() == InitiationSize ? type : 0;
    case Response:
        return datagram.size() == ResponseSize ? type : 0;
    case CookieReply:
        return datagram.size() == CookieReplySize ? type : 0;
    case Data:
        return datagram.size() >= DataOverhead && datagram.size() <= MaxDatagramSize ? type : 0;
    default:
        return 0;
    }
}

uint32_t readIndex(QByteArrayView datagram, qsizetype offset)
{
    const uint8_t* p = bytes(datagram) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeIndex(uint8_t* at, uint32_t index)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(index >> (8 * i));
}

uint64_t readUint64(const char* at)
{
    const auto* p = reinterpret_cast<const uint8_t*>(at);
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

void writeUint64(uint8_t* at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

uint64_t readCounter(QByteArrayView datagram)
{
    return readUint64(datagram.data() + 8);
}

void writeCounter(uint8_t* at, uint64_t counter)
{
    writeUint64(at, counter);
}

MacKey mac1Key(const std::array<uint8_t, 32>& staticPublic)
{
    return labelledKey("mac1----", staticPublic);
}

MacKey cookieKey(const std::array<uint8_t, 32>& staticPublic)
{
    return labelledKey("cookie--", staticPublic);
}

Mac mac(QByteArrayView key, QByteArrayView data)
{
    Mac out;
    crypto_generichash_blake2b(out.data(), out.size(), bytes(data), size_t(data.size()), bytes(key), size_t(key.size()));
    return out;
}

qsizetype mac1Offset(QByteArrayView datagram)
{
    return datagram.size() - 2 * MacSize;
}

qsizetype mac2Offset(QByteArrayView datagram)
{
    return datagram.size() - MacSize;
}

bool hasMac1(QByteArrayView datagram, const MacKey& key)
{
    const qsizetype at = mac1Offset(datagram);
    const Mac expected = mac(QByteArrayView(key.data(), key.size()), datagram.first(at));
    return sodium_memcmp(expected.data(), bytes(datagram) + at, MacSize) == 0;
}

bool hasMac2(QByteArrayView datagram, const Mac& cookie)
{
    const qsizetype at = mac2Offset(datagram);
    const Mac expected = mac(QByteArrayView(cookie.data(), cookie.size()), datagram.first(at));
    return sodium_memcmp(expected.data(), bytes(datagram) + at, MacSize) == 0;
}

void sign(QByteArray& datagram, const MacKey& mac1Key, const Mac* cookie)
{
    const qsizetype one = mac1Offset(datagram);
    const Mac first = mac(QByteArrayView(mac1Key.data(), mac1Key.size()), QByteArrayView(datagram).first(one));
    std::memcpy(datagram.data() + one, first.data(), MacSize);
    const qsizetype two = mac2Offset(datagram);
    if (cookie) {
        const Mac second = mac(QByteArrayView(cookie->data(), cookie->size()), QByteArrayView(datagram).first(two));
        std::memcpy(datagram.data() + two, second.data(), MacSize);
    } else {
        std::memset(datagram.data() + two, 0, MacSize);
    }
}

} // namespace cfb::ChannelDatagram
