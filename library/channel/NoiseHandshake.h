#pragma once

#include "channel/NoiseCipher.h"
#include "channel/NoiseSymmetricState.h"
#include "channel/NoiseTypes.h"

#include <QByteArray>

#include <utility>

namespace cfb {

// The Noise IK handshake, Noise_IK_25519_ChaChaPoly_BLAKE2b: the initiator knows the
// responder's static key beforehand and sends its own, encrypted, in the first message.
//   <- s
//   ...
//   -> e, es, s, ss     (32 + 48 + payload + 16 bytes)
//   <- e, ee, se        (32 + payload + 16 bytes)
// Both messages carry an encrypted payload. Each side writes and reads its messages in turn;
// after the second one both are finished and split() gives the transport ciphers.
//
// Any failure (a message out of turn, too short, too long, failing to authenticate, a peer key
// whose X25519 result is all zeros, a payload too big) makes the call return false and leaves
// the handshake failed: every later call fails too, and no cipher comes out of it. Nothing
// throws. Secrets (static, ephemeral, chaining key) are wiped when the object goes away.
class NoiseHandshake {
public:
    static constexpr const char* ProtocolName = "Noise_IK_25519_ChaChaPoly_BLAKE2b";
    static constexpr size_t FirstMessageOverhead = 32 + 32 + 16 + 16;
    static constexpr size_t SecondMessageOverhead = 32 + 16;
    // The largest payload each message can carry within Noise's 65535-byte limit.
    static constexpr size_t MaxFirstPayload = Noise::MaxMessageSize - FirstMessageOverhead;
    static constexpr size_t MaxSecondPayload = Noise::MaxMessageSize - SecondMessageOverhead;

    static NoiseHandshake initiator(const Key32& staticSecret, const Key32& staticPublic,
                                    const Key32& remoteStaticPublic, ByteView prologue);
    static NoiseHandshake responder(const Key32& staticSecret, const Key32& staticPublic, ByteView prologue);

    // Replaces the ephemeral key pair a side would draw at its first message; only for tests and
    // published vectors, and only before that message.
    void setEphemeral(const Key32& secret, const Key32& publicKey);

    // Writes this side's next message (replacing out's contents) carrying payload.
    bool writeMessage(ByteView payload, QByteArray& out);
    // Reads the peer's next message; payload receives what it carried.
    bool readMessage(ByteView message, QByteArray& payload);

    bool isInitiator() const { return initiator_; }
    bool isFinished() const { return step_ == Step::Finished || step_ == Step::Split; }
    bool hasFailed() const { return step_ == Step::Failed; }
    // The peer's static key: given to an initiator, learned by a responder from the first
    // message (all zeros until then, and again once a responder's handshake failed).
    const Key32& remoteStatic() const { return remoteStatic_; }
    // The transcript hash; unique to this handshake once it is finished, for binding to it.
    QByteArray handshakeHash() const;

    // Once finished: the transport ciphers, this side's sending one first. The handshake's
    // secrets are wiped; a second call, or one before the end, gives two ciphers without keys.
    std::pair<NoiseCipher, NoiseCipher> split();

private:
    enum class Step { FirstMessage, SecondMessage, Finished, Split, Failed };

    NoiseHandshake(bool initiator, const Key32& staticSecret, const Key32& staticPublic, ByteView prologue);

    bool writeFirst(ByteView payload, QByteArray& out);
    bool writeSecond(ByteView payload, QByteArray& out);
    bool readFirst(ByteView message, QByteArray& payload);
    bool readSecond(ByteView message, QByteArray& payload);
    bool ensureEphemeral();
    bool mixDh(const SecretKey32& secret, const Key32& publicKey);
    bool fail();

    NoiseSymmetricState symmetric_;
    SecretKey32 staticSecret_;
    Key32 staticPublic_{};
    SecretKey32 ephemeralSecret_;
    Key32 ephemeralPublic_{};
    bool hasEphemeral_ = false;
    Key32 remoteStatic_{};
    Key32 remoteEphemeral_{};
    bool initiator_;
    Step step_ = Step::FirstMessage;
};

} // namespace cfb
