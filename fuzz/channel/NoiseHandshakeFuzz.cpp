// Hostile handshake messages to NoiseHandshake::readMessage, in both roles. The first input byte
// picks the role (even: a responder reading a first message; odd: an initiator that sent its
// first message reading the answer), the rest is the message. Beyond surviving any bytes without
// a crash, a leak or undefined behaviour:
//  - a refused message leaves the handshake failed, with no payload, no learned key and no
//    ciphers, and refuses the genuine message after it;
//  - an accepted one carries a payload of exactly the message less its keys and tags, and moves
//    the handshake on (the responder can answer; the initiator is finished and splits).
// All keys are fixed so the seeds in the corpus are genuine messages for these peers.
#include "channel/Identity.h"
#include "channel/NoiseHandshake.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using cfb::Identity;
using cfb::Key32;
using cfb::NoiseHandshake;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "noise handshake: %s\n", what);
    std::abort();
}

Key32 keyFrom(uint8_t first)
{
    Key32 key;
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = uint8_t(first + i);
    return key;
}

const Identity& initiatorStatic()
{
    static const Identity identity = Identity::fromSecret(keyFrom(1));
    return identity;
}

const Identity& responderStatic()
{
    static const Identity identity = Identity::fromSecret(keyFrom(33));
    return identity;
}

const QByteArray Prologue = QByteArrayLiteral("fuzz");

void checkRefused(NoiseHandshake& handshake, const QByteArray& payload)
{
    if (!handshake.hasFailed() || !payload.isEmpty() || handshake.isFinished())
        fail("a refused message left the handshake usable or a payload behind");
    if (!handshake.isInitiator() && handshake.remoteStatic() != Key32{})
        fail("a refused first message left a learned key");
    if (handshake.split().first.hasKey())
        fail("a failed handshake gave ciphers");
}

void asResponder(cfb::ByteView message)
{
    NoiseHandshake responder = NoiseHandshake::responder(responderStatic().secretKey(), responderStatic().publicKey(), Prologue);
    const Identity ephemeral = Identity::fromSecret(keyFrom(97));
    responder.setEphemeral(ephemeral.secretKey(), ephemeral.publicKey());
    QByteArray payload;
    if (!responder.readMessage(message, payload)) {
        checkRefused(responder, payload);
        return;
    }
    if (size_t(payload.size()) != size_t(message.size()) - NoiseHandshake::FirstMessageOverhead)
        fail("first message payload size");
    if (responder.remoteStatic() == Key32{})
        fail("an accepted first message taught no key");
    QByteArray answer;
    if (!responder.writeMessage("answer", answer) || !responder.isFinished())
        fail("the responder could not answer an accepted first message");
}

void asInitiator(cfb::ByteView message)
{
    NoiseHandshake initiator = NoiseHandshake::initiator(
        initiatorStatic().secretKey(), initiatorStatic().publicKey(), responderStatic().publicKey(), Prologue);
    const Identity ephemeral = Identity::fromSecret(keyFrom(65));
    initiator.setEphemeral(ephemeral.secretKey(), ephemeral.publicKey());
    QByteArray first;
    if (!initiator.writeMessage("hello", first))
        fail("the initiator could not write its first message");
    QByteArray payload;
    if (!initiator.readMessage(message, payload)) {
        checkRefused(initiator, payload);
        return;
    }
    if (size_t(payload.size()) != size_t(message.size()) - NoiseHandshake::SecondMessageOverhead)
        fail("second message payload size");
    if (!initiator.isFinished())
        fail("an accepted second message did not finish the handshake");
    auto [sends, receives] = initiator.split();
    if (!sends.hasKey() || !receives.hasKey())
        fail("a finished handshake gave no ciphers");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const cfb::ByteView message(data + 1, qsizetype(size - 1));
    if (data[0] % 2 == 0)
        asResponder(message);
    else
        asInitiator(message);
    return 0;
}
