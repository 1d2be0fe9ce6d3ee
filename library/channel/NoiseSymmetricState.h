#pragma once

#include "channel/NoiseCipher.h"
#include "channel/NoiseTypes.h"

#include <QByteArray>

#include <utility>

namespace cfb {

// The chaining key, the running transcript hash and the handshake's cipher that a Noise
// handshake carries from token to token, with BLAKE2b as the hash (HMAC-BLAKE2b with 128-byte
// blocks, the two- and three-output HKDF built on it; 64-byte outputs are cut to 32 where a
// cipher key is taken). Secrets are wiped when the state goes away.
class NoiseSymmetricState {
public:
    explicit NoiseSymmetricState(ByteView protocolName);

    void mixHash(ByteView data);
    void mixKey(ByteView inputKeyMaterial);
    // Append to message: plain encrypted under the transcript hash once a key is mixed in,
    // plain as it is before; either way the appended bytes are then mixed into the hash.
    bool encryptAndHash(ByteView plain, QByteArray& message);
    // The reverse, appending the plain text to out.
    bool decryptAndHash(ByteView cipher, QByteArray& out);
    bool hasKey() const { return cipher_.hasKey(); }
    const Hash64& hash() const { return hash_; }

    // The two transport ciphers: the first for what the initiator sends, the second for what
    // the responder sends. The chaining key is wiped afterwards.
    std::pair<NoiseCipher, NoiseCipher> split();

private:
    SecretHash64 chainingKey_;
    Hash64 hash_{};
    NoiseCipher cipher_;
};

} // namespace cfb
