// What the encrypted channel's handshakes cost in CPU, in units of one X25519 key agreement
// (crypto_scalarmult_curve25519) measured in the same run:
//   - a whole Noise IK handshake between two NoiseHandshake objects, both messages and split();
//   - the responder's work on an initiation through SecureChannel::receive: one with a bad mac1
//     (refused by the cheap check), one answered with a cookie (under load, with cookie replies
//     left this second), one dropped under load once this second's cookie replies are used up
//     (what most of a flood meets), and one admitted and answered (a real handshake);
//   - and, after them, how often a buddy's initiation in the middle of a steady flood gets the
//     cookie reply it needs.
// The channel runs on a clock of the benchmark's making, so the guard's per-second budgets can be
// held where each case needs them.
#include "channel/ChannelDatagram.h"
#include "channel/HandshakeGuard.h"
#include "channel/Identity.h"
#include "channel/NoiseHandshake.h"
#include "channel/SecureChannel.h"

#include "CostReporter.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using namespace cfb;
using namespace cfb::ChannelDatagram;

const QByteArray Prologue = QByteArrayLiteral("Confabo peer channel 1");
constexpr int AcceptedInitiations = 3000;

Key32 randomKey()
{
    Key32 key;
    randombytes_buf(key.data(), key.size());
    return key;
}

// The victim of the responder cases: a channel with a key, whose sends are counted, not made.
struct Responder {
    Identity identity = Identity::fromSecret(randomKey());
    int64_t clock = 1000000;
    int64_t sent = 0;
    int64_t cookieReplies = 0;
    std::function<void(const SecureChannel::Endpoint&, QByteArrayView)> watch; // sees each send
    SecureChannel channel {
        [this](const SecureChannel::Endpoint& to, QByteArrayView datagram) {
            ++sent;
            cookieReplies += datagram.size() == CookieReplySize;
            if (watch)
                watch(to, datagram);
            return true;
        },
        [](const QString&, const Key32&) { return SecureChannel::Verdict::Unknown; }};

    Responder()
    {
        channel.setClock([this] { return clock; });
        channel.setIdentity(&identity, QStringLiteral("victima"));
    }
};

// A well-sized initiation of random bytes: mac1 made with the victim's key when good, else random.
QByteArray craftedInitiation(const Key32& victim, bool goodMac1)
{
    QByteArray datagram(InitiationSize, '\0');
    randombytes_buf(datagram.data(), size_t(datagram.size()));
    datagram[0] = char(Initiation);
    datagram[1] = datagram[2] = datagram[3] = 0;
    if (goodMac1)
        sign(datagram, mac1Key(victim), nullptr);
    return datagram;
}

void KeyAgreement(benchmark::State& state)
{
    const Key32 secret = randomKey();
    Key32 peer;
    crypto_scalarmult_curve25519_base(peer.data(), randomKey().data());
    Key32 shared;
    for (auto _ : state) {
        benchmark::DoNotOptimize(crypto_scalarmult_curve25519(shared.data(), secret.data(), peer.data()));
        benchmark::ClobberMemory();
    }
}

void Handshake(benchmark::State& state)
{
    const Identity alice = Identity::fromSecret(randomKey());
    const Identity bob = Identity::fromSecret(randomKey());
    QByteArray first, second, payload;
    const QByteArray initiationPayload(InitiationPayloadSize, 'p');
    for (auto _ : state) {
        auto initiator = NoiseHandshake::initiator(alice.secretKey(), alice.publicKey(), bob.publicKey(), Prologue);
        auto responder = NoiseHandshake::responder(bob.secretKey(), bob.publicKey(), Prologue);
        const bool done = initiator.writeMessage(initiationPayload, first) && responder.readMessage(first, payload)
            && responder.writeMessage({}, second) && initiator.readMessage(second, payload);
        auto a = initiator.split();
        auto b = responder.split();
        if (!done || !a.first.hasKey() || !b.first.hasKey()) {
            state.SkipWithError("the handshake failed");
            break;
        }
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
}

void InitiationBadMac1(benchmark::State& state)
{
    Responder victim;
    const QByteArray datagram = craftedInitiation(victim.identity.publicKey(), false);
    const SecureChannel::Endpoint from {0x0a00007f, 40000};
    for (auto _ : state)
        victim.channel.receive(datagram, from);
    if (victim.sent != 0)
        state.SkipWithError("a datagram with a bad mac1 was answered");
}

// Under load, with cookie replies to spare: the clock moves 3 ms a datagram, 333 a second,
// above the load threshold and within the cookie replies a second allows.
void InitiationCookieReply(benchmark::State& state)
{
    Responder victim;
    const QByteArray datagram = craftedInitiation(victim.identity.publicKey(), true);
    const SecureChannel::Endpoint from {0x0a00007f, 40000};
    for (int i = 0; i < 2 * HandshakeGuard::LoadThreshold; ++i, victim.clock += 3)
        victim.channel.receive(datagram, from);
    const int64_t before = victim.cookieReplies;
    // From many addresses, each within its share of cookies.
    uint32_t source = 0;
    for (auto _ : state) {
        victim.clock += 3;
        victim.channel.receive(datagram, {htonl(0x0a000000u + 1 + (source++ % 4000)), 40000});
    }
    if (victim.cookieReplies - before != int64_t(state.iterations()))
        state.SkipWithError("not every initiation under load got a cookie reply");
}

// Under load once one address has used up its share of cookie replies: the clock stands still.
void InitiationNoCookieLeft(benchmark::State& state)
{
    Responder victim;
    const QByteArray datagram = craftedInitiation(victim.identity.publicKey(), true);
    const SecureChannel::Endpoint from {0x0a00007f, 40000};
    for (int i = 0; i <= HandshakeGuard::MaxCookieRepliesPerSecond + HandshakeGuard::LoadThreshold; ++i)
        victim.channel.receive(datagram, from);
    const int64_t before = victim.sent;
    for (auto _ : state)
        victim.channel.receive(datagram, from);
    if (victim.sent != before)
        state.SkipWithError("an initiation was answered with the cookie replies used up");
}

// Initiations a real initiator made (each with a newer timestamp), for the admitted case.
std::vector<QByteArray> realInitiations(const Key32& victim, int count)
{
    std::vector<QByteArray> made;
    Identity identity = Identity::fromSecret(randomKey());
    int64_t clock = 1000000;
    SecureChannel initiator(
        [&made](const SecureChannel::Endpoint&, QByteArrayView datagram) {
            if (datagram.size() == InitiationSize)
                made.push_back(datagram.toByteArray());
            return true;
        },
        [](const QString&, const Key32&) { return SecureChannel::Verdict::Trusted; });
    initiator.setClock([&clock] { return clock; });
    initiator.setIdentity(&identity, QStringLiteral("initiator"));
    const SecureChannel::Endpoint to {0x0100007f, 40000};
    while (int(made.size()) < count) {
        initiator.keepAlive(victim, QStringLiteral("victima"), to);
        clock += SecureChannel::RetryMs; // each call then draws a new initiation
    }
    return made;
}

// Admitted and answered: the responder's half of a handshake. Each initiation comes from an
// address of its own and the clock moves 100 ms a datagram, so neither the load threshold nor the
// per-address budget turns one away.
void InitiationAccepted(benchmark::State& state)
{
    Responder victim;
    const std::vector<QByteArray> initiations = realInitiations(victim.identity.publicKey(), AcceptedInitiations);
    size_t next = 0;
    for (auto _ : state) {
        if (next == initiations.size()) {
            state.SkipWithError("ran out of initiations");
            break;
        }
        victim.clock += 100;
        victim.channel.receive(initiations[next], {uint32_t(0x0a00007f + (next << 8)), 40000});
        ++next;
    }
    if (victim.channel.handshakesCompleted() != int64_t(next))
        state.SkipWithError("not every initiation was answered");
}

// A buddy's initiation in the middle of a steady flood of initiations with a good mac1 (5,000 a
// second from 100 addresses, as bench/client/flood's handshakes flood sends): the share that gets
// the cookie reply it needs to go on, the arrival time drawn at random within two seconds of the
// flood, over many floods.
void printBuddyUnderFlood()
{
    constexpr int FloodPerSecond = 5000, Trials = 400;
    const uint32_t buddyAddress = 0x0200007f; // 127.0.0.2
    int answered = 0;
    for (int trial = 0; trial < Trials; ++trial) {
        Responder victim;
        bool buddyAnswered = false;
        victim.watch = [&buddyAnswered, buddyAddress](const SecureChannel::Endpoint& to, QByteArrayView datagram) {
            buddyAnswered |= to.address == buddyAddress && datagram.size() == CookieReplySize;
        };
        const QByteArray flood = craftedInitiation(victim.identity.publicKey(), true);
        const QByteArray buddy = craftedInitiation(victim.identity.publicKey(), true);
        const int total = 2 * FloodPerSecond;
        const int buddyAt = FloodPerSecond + int(randombytes_uniform(FloodPerSecond)); // in the second second
        const int64_t start = victim.clock;
        for (int n = 0; n < total; ++n) {
            victim.clock = start + int64_t(n) * 1000 / FloodPerSecond;
            victim.channel.receive(flood, {uint32_t(0x0a00007f + ((n % 100) << 24)), 40000});
            if (n == buddyAt)
                victim.channel.receive(buddy, {buddyAddress, 40001});
        }
        answered += buddyAnswered;
    }
    std::printf("\nA buddy's initiation at a random moment of a steady flood of %d good-mac1 initiations a second: "
                "a cookie reply for %.1f%% of %d\n",
        FloodPerSecond, 100.0 * answered / Trials, Trials);
}

BENCHMARK(KeyAgreement)->MinTime(1.0);
BENCHMARK(Handshake)->MinTime(1.0);
BENCHMARK(InitiationBadMac1)->MinTime(1.0);
BENCHMARK(InitiationCookieReply)->MinTime(1.0);
BENCHMARK(InitiationNoCookieLeft)->MinTime(1.0);
BENCHMARK(InitiationAccepted)->Iterations(AcceptedInitiations);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (sodium_init() < 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    CostReporter reporter({
        {"Handshake", "KeyAgreement", "key agreements"},
        {"InitiationBadMac1", "KeyAgreement", "key agreements"},
        {"InitiationCookieReply", "KeyAgreement", "key agreements"},
        {"InitiationNoCookieLeft", "KeyAgreement", "key agreements"},
        {"InitiationAccepted", "KeyAgreement", "key agreements"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printCosts("CPU per case in X25519 key agreements (crypto_scalarmult_curve25519), same run:");
    printBuddyUnderFlood();
    benchmark::Shutdown();
    return 0;
}
