#include "channel/NoiseHandshake.h"

#include "channel/SodiumReady.h"

#include <sodium.h>

#include <algorithm>

namespace cfb {
namespace {

static_assert(crypto_scalarmult_curve25519_BYTES == Noise::KeySize);

ByteView viewOf(const Key32& key)
{
    return ByteView(key.data(), qsizetype(key.size()));
}

Key32 keyAt(ByteView message, qsizetype offset)
{
    Key32 key;
    std::copy_n(message.data() + offset, key.size(), key.begin());
    return key;
}

} // namespace

NoiseHandshake::NoiseHandshake(bool initiator, const Key32& staticSecret, const Key32& staticPublic, ByteView prologue)
    : symmetric_(ByteView(ProtocolName)), staticSecret_(staticSecret), staticPublic_(staticPublic),
      initiator_(initiator)
{
    if (!sodiumReady())
        step_ = Step::Failed;
    symmetric_.mixHash(prologue);
}

NoiseHandshake NoiseHandshake::initiator(const Key32& staticSecret, const Key32& staticPublic,
                                         const Key32& remoteStaticPublic, ByteView prologue)
{
    NoiseHandshake handshake(true, staticSecret, staticPublic, prologue);
    handshake.remoteStatic_ = remoteStaticPublic;
    handshake.symmetric_.mixHash(viewOf(remoteStaticPublic));
    return handshake;
}

NoiseHandshake NoiseHandshake::responder(const Key32& staticSecret, const Key32& staticPublic, ByteView prologue)
{
    NoiseHandshake handshake(false, staticSecret, staticPublic, prologue);
    handshake.symmetric_.mixHash(viewOf(staticPublic));
    return handshake;
}

void NoiseHandshake::setEphemeral(const Key32& secret, const Key32& publicKey)
{
    if (hasEphemeral_)
        return;
    ephemeralSecret_.get() = secret;
    ephemeralPublic_ = publicKey;
    hasEphemeral_ = true;
}

bool NoiseHandshake::fail()
{
    step_ = Step::Failed;
    if (!initiator_)
        remoteStatic_.fill(0);
    staticSecret_.wipe();
    ephemeralSecret_.wipe();
    return false;
}

bool NoiseHandshake::ensureEphemeral()
{
    if (hasEphemeral_)
        return true;
    randombytes_buf(ephemeralSecret_.data(), Noise::KeySize);
    if (crypto_scalarmult_curve25519_base(ephemeralPublic_.data(), ephemeralSecret_.data()) != 0)
        return false;
    hasEphemeral_ = true;
    return true;
}

bool NoiseHandshake::mixDh(const SecretKey32& secret, const Key32& publicKey)
{
    SecretKey32 shared;
    // libsodium refuses a result of all zeros (a peer key of small order).
    if (crypto_scalarmult_curve25519(shared.data(), secret.data(), publicKey.data()) != 0)
        return false;
    symmetric_.mixKey(ByteView(shared.data(), qsizetype(Noise::KeySize)));
    return true;
}

bool NoiseHandshake::writeMessage(ByteView payload, QByteArray& out)
{
    out.clear();
    bool written = false;
    if (step_ == Step::FirstMessage && initiator_)
        written = writeFirst(payload, out);
    else if (step_ == Step::SecondMessage && !initiator_)
        written = writeSecond(payload, out);
    if (!written) {
        out.clear();
        return fail();
    }
    return true;
}

bool NoiseHandshake::readMessage(ByteView message, QByteArray& payload)
{
    payload.clear();
    bool read = false;
    if (size_t(message.size()) <= Noise::MaxMessageSize) {
        if (step_ == Step::FirstMessage && !initiator_)
            read = readFirst(message, payload);
        else if (step_ == Step::SecondMessage && initiator_)
            read = readSecond(message, payload);
    }
    if (!read) {
        payload.clear();
        return fail();
    }
    return true;
}

// -> e, es, s, ss
bool NoiseHandshake::writeFirst(ByteView payload, QByteArray& out)
{
    if (size_t(payload.size()) > MaxFirstPayload || !ensureEphemeral())
        return false;
    out.reserve(qsizetype(FirstMessageOverhead) + payload.size());
    out.append(viewOf(ephemeralPublic_));
    symmetric_.mixHash(viewOf(ephemeralPublic_));
    if (!mixDh(ephemeralSecret_, remoteStatic_))
        return false;
    if (!symmetric_.encryptAndHash(viewOf(staticPublic_), out))
        return false;
    if (!mixDh(staticSecret_, remoteStatic_))
        return false;
    if (!symmetric_.encryptAndHash(payload, out))
        return false;
    step_ = Step::SecondMessage;
    return true;
}

bool NoiseHandshake::readFirst(ByteView message, QByteArray& payload)
{
    if (size_t(message.size()) < FirstMessageOverhead)
        return false;
    remoteEphemeral_ = keyAt(message, 0);
    symmetric_.mixHash(viewOf(remoteEphemeral_));
    if (!mixDh(staticSecret_, remoteEphemeral_))
        return false;
    // The initiator's static key arrives encrypted; payload holds it only for a moment.
    if (!symmetric_.decryptAndHash(message.sliced(32, 32 + 16), payload))
        return false;
    remoteStatic_ = keyAt(payload, 0);
    payload.clear();
    if (!mixDh(staticSecret_, remoteStatic_))
        return false;
    if (!symmetric_.decryptAndHash(message.sliced(32 + 48), payload))
        return false;
    step_ = Step::SecondMessage;
    return true;
}

// <- e, ee, se
bool NoiseHandshake::writeSecond(ByteView payload, QByteArray& out)
{
    if (size_t(payload.size()) > MaxSecondPayload || !ensureEphemeral())
        return false;
    out.reserve(qsizetype(SecondMessageOverhead) + payload.size());
    out.append(viewOf(ephemeralPublic_));
    symmetric_.mixHash(viewOf(ephemeralPublic_));
    if (!mixDh(ephemeralSecret_, remoteEphemeral_))
        return false;
    if (!mixDh(ephemeralSecret_, remoteStatic_))
        return false;
    if (!symmetric_.encryptAndHash(payload, out))
        return false;
    step_ = Step::Finished;
    return true;
}

bool NoiseHandshake::readSecond(ByteView message, QByteArray& payload)
{
    if (size_t(message.size()) < SecondMessageOverhead)
        return false;
    remoteEphemeral_ = keyAt(message, 0);
    symmetric_.mixHash(viewOf(remoteEphemeral_));
    if (!mixDh(ephemeralSecret_, remoteEphemeral_))
        return false;
    if (!mixDh(staticSecret_, remoteEphemeral_))
        return false;
    if (!symmetric_.decryptAndHash(message.sliced(32), payload))
        return false;
    step_ = Step::Finished;
    return true;
}

QByteArray NoiseHandshake::handshakeHash() const
{
    const Hash64& hash = symmetric_.hash();
    return QByteArray(reinterpret_cast<const char*>(hash.data()), qsizetype(hash.size()));
}

std::pair<NoiseCipher, NoiseCipher> NoiseHandshake::split()
{
    if (step_ != Step::Finished)
        return {};
    step_ = Step::Split;
    staticSecret_.wipe();
    ephemeralSecret_.wipe();
    auto [initiatorSends, responderSends] = symmetric_.split();
    if (initiator_)
        return {std::move(initiatorSends), std::move(responderSends)};
    return {std::move(responderSends), std::move(initiatorSends)};
}

} // namespace cfb
