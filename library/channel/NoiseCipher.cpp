#include "channel/NoiseCipher.h"

#include <sodium.h>

#include <algorithm>
#include <utility>

namespace cfb {
namespace {

using NonceBytes = std::array<uint8_t, crypto_aead_chacha20poly1305_IETF_NPUBBYTES>;
static_assert(crypto_aead_chacha20poly1305_IETF_KEYBYTES == Noise::KeySize);
static_assert(crypto_aead_chacha20poly1305_IETF_ABYTES == Noise::TagSize);

NonceBytes nonceBytes(uint64_t counter)
{
    NonceBytes bytes{};
    for (int i = 0; i < 8; ++i)
        bytes[4 + i] = static_cast<uint8_t>(counter >> (8 * i));
    return bytes;
}

const unsigned char* bytesOf(ByteView view)
{
    return reinterpret_cast<const unsigned char*>(view.data());
}

} // namespace

NoiseCipher::NoiseCipher(const Key32& key)
{
    setKey(key);
}

NoiseCipher::NoiseCipher(NoiseCipher&& other) noexcept
    : key_(std::move(other.key_)), nonce_(other.nonce_), hasKey_(other.hasKey_)
{
    other.hasKey_ = false;
    other.nonce_ = 0;
}

NoiseCipher& NoiseCipher::operator=(NoiseCipher&& other) noexcept
{
    if (this != &other) {
        key_ = std::move(other.key_);
        nonce_ = other.nonce_;
        hasKey_ = other.hasKey_;
        other.hasKey_ = false;
        other.nonce_ = 0;
    }
    return *this;
}

void NoiseCipher::setKey(const Key32& key)
{
    key_.get() = key;
    nonce_ = 0;
    hasKey_ = true;
}

bool NoiseCipher::encrypt(uint64_t nonce, ByteView ad, ByteView plain, uint8_t* out) const
{
    if (!hasKey_ || nonce == MaxNonce || out == nullptr)
        return false;
    const NonceBytes n = nonceBytes(nonce);
    unsigned long long written = 0;
    return crypto_aead_chacha20poly1305_ietf_encrypt(out, &written, bytesOf(plain), size_t(plain.size()),
               bytesOf(ad), size_t(ad.size()), nullptr, n.data(), key_.data())
        == 0;
}

bool NoiseCipher::decrypt(uint64_t nonce, ByteView ad, ByteView cipher, uint8_t* out) const
{
    if (!hasKey_ || nonce == MaxNonce || size_t(cipher.size()) < TagSize)
        return false;
    if (out == nullptr && size_t(cipher.size()) > TagSize)
        return false;
    const NonceBytes n = nonceBytes(nonce);
    unsigned long long written = 0;
    return crypto_aead_chacha20poly1305_ietf_decrypt(out, &written, nullptr, bytesOf(cipher),
               size_t(cipher.size()), bytesOf(ad), size_t(ad.size()), n.data(), key_.data())
        == 0;
}

bool NoiseCipher::encryptWithAd(ByteView ad, ByteView plain, QByteArray& out)
{
    if (!hasKey_ || size_t(plain.size()) > Noise::MaxMessageSize - TagSize)
        return false;
    const qsizetype at = out.size();
    out.resize(at + plain.size() + qsizetype(TagSize));
    if (!encrypt(nonce_, ad, plain, reinterpret_cast<uint8_t*>(out.data()) + at)) {
        out.truncate(at);
        return false;
    }
    ++nonce_;
    return true;
}

bool NoiseCipher::decryptWithAd(ByteView ad, ByteView cipher, QByteArray& out)
{
    if (!hasKey_ || size_t(cipher.size()) < TagSize || size_t(cipher.size()) > Noise::MaxMessageSize)
        return false;
    const qsizetype at = out.size();
    const qsizetype plainSize = cipher.size() - qsizetype(TagSize);
    out.resize(at + plainSize);
    uint8_t* target = plainSize == 0 ? nullptr : reinterpret_cast<uint8_t*>(out.data()) + at;
    if (!decrypt(nonce_, ad, cipher, target)) {
        out.truncate(at);
        return false;
    }
    ++nonce_;
    return true;
}

bool NoiseCipher::rekey()
{
    if (!hasKey_)
        return false;
    // REKEY: the first 32 bytes of encrypting 32 zero bytes under the counter 2^64-1.
    const std::array<uint8_t, Noise::KeySize> zeros{};
    SecretBytes<Noise::KeySize + TagSize> buffer;
    const NonceBytes n = nonceBytes(MaxNonce);
    unsigned long long written = 0;
    if (crypto_aead_chacha20poly1305_ietf_encrypt(buffer.data(), &written, zeros.data(), zeros.size(),
            nullptr, 0, nullptr, n.data(), key_.data())
        != 0)
        return false;
    std::copy_n(buffer.data(), Noise::KeySize, key_.data());
    return true;
}

} // namespace cfb
