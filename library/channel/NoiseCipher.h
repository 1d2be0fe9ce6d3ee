#pragma once

#include "channel/NoiseTypes.h"

#include <QByteArray>

#include <cstdint>

namespace cfb {

// One direction's ChaChaPoly cipher (IETF ChaCha20-Poly1305, 96-bit nonce made of four zero
// bytes and the 64-bit counter little-endian). The handshake uses it with an implicit counter
// (encryptWithAd / decryptWithAd); the transport names each datagram's counter itself
// (encrypt / decrypt), so datagrams may arrive out of order.
//
// A cipher without a key refuses everything. The counter 2^64-1 is never used. The key is wiped
// when the cipher goes away.
//
// Cipher and plain text passed in must not point into the QByteArray a call appends to.
class NoiseCipher {
public:
    static constexpr size_t TagSize = Noise::TagSize;
    static constexpr uint64_t MaxNonce = UINT64_MAX;

    NoiseCipher() = default;
    explicit NoiseCipher(const Key32& key);
    // Move only: two copies of a cipher would count the same nonces. The moved-from one is left
    // without a key.
    NoiseCipher(NoiseCipher&& other) noexcept;
    NoiseCipher& operator=(NoiseCipher&& other) noexcept;
    NoiseCipher(const NoiseCipher&) = delete;
    NoiseCipher& operator=(const NoiseCipher&) = delete;

    bool hasKey() const { return hasKey_; }
    void setKey(const Key32& key);
    // The counter the next encryptWithAd / decryptWithAd uses.
    uint64_t nonce() const { return nonce_; }
    void setNonce(uint64_t nonce) { nonce_ = nonce; }

    // Implicit counter: appends plain's cipher text and tag (or cipher's plain text) to out, so a
    // message can be built in one array. The counter moves on only when the call succeeds; on
    // failure out is as it was.
    bool encryptWithAd(ByteView ad, ByteView plain, QByteArray& out);
    bool decryptWithAd(ByteView ad, ByteView cipher, QByteArray& out);

    // Explicit counter, into the caller's buffer; nothing is allocated. encrypt writes
    // plain.size() + TagSize bytes, decrypt cipher.size() - TagSize bytes (false when cipher is
    // shorter than a tag or does not authenticate; out is then undefined). out may be the
    // input's own memory (in place) but must not overlap it otherwise; decrypt takes a null out
    // for a cipher text that is only a tag.
    bool encrypt(uint64_t nonce, ByteView ad, ByteView plain, uint8_t* out) const;
    bool decrypt(uint64_t nonce, ByteView ad, ByteView cipher, uint8_t* out) const;

    // Replaces the key with one derived from it, so earlier traffic cannot be read with the new
    // one; the counter is left as it is.
    bool rekey();

private:
    SecretKey32 key_;
    uint64_t nonce_ = 0;
    bool hasKey_ = false;
};

} // namespace cfb
