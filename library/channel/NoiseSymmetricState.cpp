#include "channel/NoiseSymmetricState.h"

#include <sodium.h>

#include <algorithm>

namespace cfb {
namespace {

constexpr size_t BlockSize = 128;
static_assert(crypto_generichash_blake2b_BYTES_MAX == Noise::HashSize);

const unsigned char* bytesOf(ByteView view)
{
    return reinterpret_cast<const unsigned char*>(view.data());
}

// One BLAKE2b-512 over the concatenation of parts.
void blake2b(std::initializer_list<ByteView> parts, uint8_t* out)
{
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, nullptr, 0, Noise::HashSize);
    for (ByteView part : parts)
        crypto_generichash_blake2b_update(&state, bytesOf(part), size_t(part.size()));
    crypto_generichash_blake2b_final(&state, out, Noise::HashSize);
    wipeSecret(&state, sizeof state);
}

ByteView viewOf(const uint8_t* data, size_t size)
{
    return ByteView(data, qsizetype(size));
}

// HMAC-BLAKE2b with a 64-byte key (every key the handshake uses is a hash output, shorter than
// a block, so it is only padded).
void hmac(const Hash64& key, std::initializer_list<ByteView> data, uint8_t* out)
{
    SecretBytes<BlockSize> inner;
    SecretBytes<BlockSize> outer;
    for (size_t i = 0; i < BlockSize; ++i) {
        const uint8_t k = i < key.size() ? key[i] : 0;
        inner.get()[i] = k ^ 0x36;
        outer.get()[i] = k ^ 0x5c;
    }
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, nullptr, 0, Noise::HashSize);
    crypto_generichash_blake2b_update(&state, inner.data(), BlockSize);
    for (ByteView part : data)
        crypto_generichash_blake2b_update(&state, bytesOf(part), size_t(part.size()));
    SecretHash64 innerHash;
    crypto_generichash_blake2b_final(&state, innerHash.data(), Noise::HashSize);
    wipeSecret(&state, sizeof state);
    blake2b({viewOf(outer.data(), BlockSize), viewOf(innerHash.data(), Noise::HashSize)}, out);
}

// HKDF(chainingKey, ikm) with two outputs.
void hkdf2(const Hash64& chainingKey, ByteView ikm, Hash64& first, Hash64& second)
{
    SecretHash64 tempKey;
    hmac(chainingKey, {ikm}, tempKey.data());
    const uint8_t one = 1;
    const uint8_t two = 2;
    hmac(tempKey.get(), {viewOf(&one, 1)}, first.data());
    hmac(tempKey.get(), {viewOf(first.data(), first.size()), viewOf(&two, 1)}, second.data());
}

SecretKey32 cipherKeyOf(const SecretHash64& hash)
{
    SecretKey32 key;
    std::copy_n(hash.data(), Noise::KeySize, key.data());
    return key;
}

} // namespace

NoiseSymmetricState::NoiseSymmetricState(ByteView protocolName)
{
    if (size_t(protocolName.size()) <= Noise::HashSize)
        std::copy_n(protocolName.data(), protocolName.size(), hash_.begin());
    else
        blake2b({protocolName}, hash_.data());
    chainingKey_.get() = hash_;
}

void NoiseSymmetricState::mixHash(ByteView data)
{
    blake2b({viewOf(hash_.data(), hash_.size()), data}, hash_.data());
}

void NoiseSymmetricState::mixKey(ByteView inputKeyMaterial)
{
    SecretHash64 nextChainingKey;
    SecretHash64 tempKey;
    hkdf2(chainingKey_.get(), inputKeyMaterial, nextChainingKey.get(), tempKey.get());
    chainingKey_ = std::move(nextChainingKey);
    cipher_.setKey(cipherKeyOf(tempKey).get());
}

bool NoiseSymmetricState::encryptAndHash(ByteView plain, QByteArray& message)
{
    const qsizetype at = message.size();
    if (cipher_.hasKey()) {
        if (!cipher_.encryptWithAd(viewOf(hash_.data(), hash_.size()), plain, message))
            return false;
    } else {
        message.append(plain);
    }
    mixHash(ByteView(message).sliced(at));
    return true;
}

bool NoiseSymmetricState::decryptAndHash(ByteView cipher, QByteArray& out)
{
    if (cipher_.hasKey()) {
        if (!cipher_.decryptWithAd(viewOf(hash_.data(), hash_.size()), cipher, out))
            return false;
    } else {
        out.append(cipher);
    }
    mixHash(cipher);
    return true;
}

std::pair<NoiseCipher, NoiseCipher> NoiseSymmetricState::split()
{
    SecretHash64 first;
    SecretHash64 second;
    hkdf2(chainingKey_.get(), ByteView(), first.get(), second.get());
    chainingKey_.wipe();
    return {NoiseCipher(cipherKeyOf(first).get()), NoiseCipher(cipherKeyOf(second).get())};
}

} // namespace cfb
