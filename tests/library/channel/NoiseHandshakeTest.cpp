// Two sides running the IK handshake with fresh keys, then talking over the transport ciphers,
// and everything an attacker on the path or a careless caller can do to it.
#include "channel/Identity.h"
#include "channel/NoiseHandshake.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

const QByteArray Prologue = QByteArrayLiteral("confabo channel test");

Identity randomIdentity()
{
    Key32 secret;
    for (uint8_t& b : secret)
        b = uint8_t(QRandomGenerator::global()->generate());
    return Identity::fromSecret(secret);
}

NoiseHandshake initiatorFor(const Identity& self, const Key32& responderPublic)
{
    return NoiseHandshake::initiator(self.secretKey(), self.publicKey(), responderPublic, Prologue);
}

NoiseHandshake responderFor(const Identity& self)
{
    return NoiseHandshake::responder(self.secretKey(), self.publicKey(), Prologue);
}

QByteArray flipped(QByteArray bytes, qsizetype at, int bit)
{
    bytes[at] = char(bytes[at] ^ (1 << bit));
    return bytes;
}

// Encrypts plain with counter into a fresh buffer and decrypts it on the other side.
QByteArray roundTrip(const NoiseCipher& sender, const NoiseCipher& receiver, uint64_t counter, ByteView ad, ByteView plain)
{
    QByteArray datagram(plain.size() + qsizetype(NoiseCipher::TagSize), '\0');
    EXPECT_TRUE(sender.encrypt(counter, ad, plain, reinterpret_cast<uint8_t*>(datagram.data())));
    QByteArray out(plain.size(), '\0');
    EXPECT_TRUE(receiver.decrypt(counter, ad, datagram, reinterpret_cast<uint8_t*>(out.data())));
    return out;
}

} // namespace

TEST(NoiseHandshake, PeersAgreeLearnTheInitiatorAndTalkBothWays)
{
    const Identity alice = randomIdentity();
    const Identity bob = randomIdentity();
    NoiseHandshake initiator = initiatorFor(alice, bob.publicKey());
    NoiseHandshake responder = responderFor(bob);

    QByteArray first, second, payload;
    ASSERT_TRUE(initiator.writeMessage("hello bob", first));
    EXPECT_EQ(size_t(first.size()), NoiseHandshake::FirstMessageOverhead + 9);
    ASSERT_TRUE(responder.readMessage(first, payload));
    EXPECT_EQ(payload, "hello bob");
    EXPECT_EQ(responder.remoteStatic(), alice.publicKey());
    EXPECT_FALSE(responder.isFinished());
    ASSERT_TRUE(responder.writeMessage({}, second));
    ASSERT_TRUE(initiator.readMessage(second, payload));
    EXPECT_TRUE(payload.isEmpty());
    ASSERT_TRUE(initiator.isFinished() && responder.isFinished());
    EXPECT_EQ(initiator.handshakeHash(), responder.handshakeHash());

    auto [aliceSends, aliceReceives] = initiator.split();
    auto [bobSends, bobReceives] = responder.split();
    ASSERT_TRUE(aliceSends.hasKey() && bobSends.hasKey());
    const QByteArray ad = QByteArrayLiteral("header");
    EXPECT_EQ(roundTrip(aliceSends, bobReceives, 0, ad, "frame 0"), "frame 0");
    EXPECT_EQ(roundTrip(bobSends, aliceReceives, 7, ad, "reply 7"), "reply 7");
    // Each direction has its own key: what Alice sends does not open with Alice's receiver.
    QByteArray datagram(16 + 3, '\0');
    ASSERT_TRUE(aliceSends.encrypt(1, ad, "abc", reinterpret_cast<uint8_t*>(datagram.data())));
    QByteArray out(3, '\0');
    EXPECT_FALSE(aliceReceives.decrypt(1, ad, datagram, reinterpret_cast<uint8_t*>(out.data())));
    // Decrypting in place, as the video path does, and an empty keep-alive with no buffer.
    ASSERT_TRUE(bobReceives.decrypt(1, ad, datagram, reinterpret_cast<uint8_t*>(datagram.data())));
    EXPECT_EQ(datagram.left(3), "abc");
    QByteArray tagOnly(16, '\0');
    ASSERT_TRUE(bobSends.encrypt(2, {}, {}, reinterpret_cast<uint8_t*>(tagOnly.data())));
    EXPECT_TRUE(aliceReceives.decrypt(2, {}, tagOnly, nullptr));
    // The handshake gives its ciphers only once.
    EXPECT_FALSE(initiator.split().first.hasKey());
}

TEST(NoiseHandshake, AnyFlippedBitIsRefusedAndTheHandshakeStaysFailed)
{
    const Identity alice = randomIdentity();
    const Identity bob = randomIdentity();
    const Identity aliceEphemeral = randomIdentity();
    const Identity bobEphemeral = randomIdentity();
    // Fixed ephemerals make every run produce the same messages, so each tampered copy can be
    // offered to a fresh peer at the same point.
    auto freshInitiator = [&] {
        NoiseHandshake h = initiatorFor(alice, bob.publicKey());
        h.setEphemeral(aliceEphemeral.secretKey(), aliceEphemeral.publicKey());
        return h;
    };
    NoiseHandshake initiator = freshInitiator();
    NoiseHandshake responder = responderFor(bob);
    responder.setEphemeral(bobEphemeral.secretKey(), bobEphemeral.publicKey());
    QByteArray first, second, payload;
    ASSERT_TRUE(initiator.writeMessage("ik", first));
    ASSERT_TRUE(responder.readMessage(first, payload));
    ASSERT_TRUE(responder.writeMessage("ok", second));

    for (qsizetype at = 0; at < first.size(); ++at) {
        NoiseHandshake victim = responderFor(bob);
        ASSERT_FALSE(victim.readMessage(flipped(first, at, at % 8), payload)) << "first message, byte " << at;
        EXPECT_TRUE(victim.hasFailed());
        EXPECT_EQ(victim.remoteStatic(), Key32{});
        EXPECT_FALSE(victim.readMessage(first, payload)) << "a failed handshake must not recover";
        EXPECT_FALSE(victim.writeMessage({}, payload));
    }
    for (qsizetype at = 0; at < second.size(); ++at) {
        NoiseHandshake victim = freshInitiator();
        QByteArray again;
        ASSERT_TRUE(victim.writeMessage("ik", again));
        ASSERT_EQ(again, first);
        ASSERT_FALSE(victim.readMessage(flipped(second, at, 7 - at % 8), payload)) << "second message, byte " << at;
        EXPECT_FALSE(victim.readMessage(second, payload));
        EXPECT_FALSE(victim.split().first.hasKey());
    }
    ASSERT_TRUE(initiator.readMessage(second, payload));
    EXPECT_EQ(payload, "ok");

    auto [sends, unused] = initiator.split();
    auto [alsoUnused, receives] = responder.split();
    const QByteArray ad = QByteArrayLiteral("ad");
    const QByteArray plain = QByteArrayLiteral("a datagram of video");
    QByteArray datagram(plain.size() + 16, '\0');
    ASSERT_TRUE(sends.encrypt(42, ad, plain, reinterpret_cast<uint8_t*>(datagram.data())));
    QByteArray out(plain.size(), '\0');
    auto* target = reinterpret_cast<uint8_t*>(out.data());
    for (qsizetype at = 0; at < datagram.size(); ++at)
        EXPECT_FALSE(receives.decrypt(42, ad, flipped(datagram, at, at % 8), target)) << "datagram byte " << at;
    EXPECT_FALSE(receives.decrypt(43, ad, datagram, target));
    EXPECT_FALSE(receives.decrypt(42, "dA", datagram, target));
    EXPECT_FALSE(receives.decrypt(42, ad, datagram.left(15), target));
    EXPECT_TRUE(receives.decrypt(42, ad, datagram, target));
    EXPECT_EQ(out, plain);
}

TEST(NoiseHandshake, WrongKeysMisuseAndBadSizesFail)
{
    const Identity alice = randomIdentity();
    const Identity bob = randomIdentity();
    const Identity mallory = randomIdentity();
    QByteArray message, payload;

    // Alice believes Mallory's key is Bob's: Bob cannot read her first message.
    NoiseHandshake mistaken = initiatorFor(alice, mallory.publicKey());
    ASSERT_TRUE(mistaken.writeMessage("hi", message));
    NoiseHandshake bobSide = responderFor(bob);
    EXPECT_FALSE(bobSide.readMessage(message, payload));
    // Different prologues do not meet either.
    NoiseHandshake other = NoiseHandshake::initiator(alice.secretKey(), alice.publicKey(), bob.publicKey(), "other");
    ASSERT_TRUE(other.writeMessage("hi", message));
    NoiseHandshake bobAgain = responderFor(bob);
    EXPECT_FALSE(bobAgain.readMessage(message, payload));

    // Out of turn, on either side.
    NoiseHandshake responder = responderFor(bob);
    EXPECT_FALSE(responder.writeMessage("first?", message));
    NoiseHandshake initiator = initiatorFor(alice, bob.publicKey());
    EXPECT_FALSE(initiator.readMessage(QByteArray(64, 'x'), payload));
    EXPECT_FALSE(initiator.writeMessage({}, message));

    // Too short for its tokens, or longer than any Noise message, from a peer.
    NoiseHandshake good = initiatorFor(alice, bob.publicKey());
    ASSERT_TRUE(good.writeMessage({}, message));
    NoiseHandshake shortRead = responderFor(bob);
    EXPECT_FALSE(shortRead.readMessage(message.left(message.size() - 1), payload));
    NoiseHandshake longRead = responderFor(bob);
    EXPECT_FALSE(longRead.readMessage(QByteArray(65536, 'x'), payload));
    NoiseHandshake emptyRead = responderFor(bob);
    EXPECT_FALSE(emptyRead.readMessage({}, payload));

    // A payload that would take the message past the limit is refused; the largest one fits.
    NoiseHandshake big = initiatorFor(alice, bob.publicKey());
    EXPECT_FALSE(big.writeMessage(QByteArray(qsizetype(NoiseHandshake::MaxFirstPayload) + 1, 'p'), message));
    NoiseHandshake biggest = initiatorFor(alice, bob.publicKey());
    ASSERT_TRUE(biggest.writeMessage(QByteArray(qsizetype(NoiseHandshake::MaxFirstPayload), 'p'), message));
    EXPECT_EQ(message.size(), 65535);
    NoiseHandshake reader = responderFor(bob);
    EXPECT_TRUE(reader.readMessage(message, payload));

    // A remote key of small order (here zero) gives an all-zero DH result, which is refused.
    NoiseHandshake lowOrder = initiatorFor(alice, Key32{});
    EXPECT_FALSE(lowOrder.writeMessage({}, message));
    NoiseHandshake responderToZero = responderFor(bob);
    QByteArray zeroEphemeral(qsizetype(NoiseHandshake::FirstMessageOverhead), '\0');
    EXPECT_FALSE(responderToZero.readMessage(zeroEphemeral, payload));

    // Ciphers before the end of a handshake have no key and refuse to work.
    NoiseHandshake unfinished = initiatorFor(alice, bob.publicKey());
    auto [sends, receives] = unfinished.split();
    uint8_t out[32];
    EXPECT_FALSE(sends.encrypt(0, {}, "x", out));
}
