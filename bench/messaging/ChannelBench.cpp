// The encrypted channel between two Confabo objects on loopback against the plain format between
// two others, in the same process and run, the two pairs taking turns batch by batch so that load
// from elsewhere on the machine falls on both alike:
//   - a 640x480 JPEG frame of 43,000 bytes sent with Buddy::SendFrame and received
//     (VideoFrameBytes, then decoded to VideoFrame as always): time per frame, this thread's CPU
//     per frame (sender and receiver run on it), the sender's share (thread CPU inside SendFrame)
//     and the allocations SendFrame makes per frame;
//   - the same with two frames sent back to back, and what the receiving socket dropped then;
//   - a line's time from SendMessage to NewMessage at the buddy once sessions are up;
//   - the first line after both users signed in again, which waits for the handshake;
//   - beside them, what the secure send asks first (Confabo::security) and the frame's datagrams
//     alone: its packets sealed, or the one datagram of the plain format.
// Each ratio is encrypted / plain, so above 1 is slower than plain.
//
// All four users sign in to a confabo-service started here on a temporary database, with room
// for the repeated sign-ins. Each of the encrypted pair has a random key of its own (one profile
// would give both the same); the plain pair has none. With a polling interval of an hour the
// timed loops make no service requests. CHANNEL_BENCH_TRACE_ALLOCATIONS=N writes the call stacks
// of the first N allocations in one encrypted SendFrame to standard error.
#include "channel/ChannelContent.h"
#include "channel/Identity.h"
#include "channel/NoiseCipher.h"
#include "channel/PeerSession.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "MallocCount.h"
#include "NoisyJpeg.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

constexpr int PollingIntervalSeconds = 3600;
constexpr int FrameBytes = 43000;
constexpr int FirstLines = 8;
const QString Password = QStringLiteral("PW");
const QString LineText = QStringLiteral("How is the weather over there? Here it rains & rains <again>.");

// One sender and one receiver, and what arrived at the receiver.
struct Pair {
    Pair(const char* pairName, const QString& sender, const QString& receiver)
        : name(pairName), fromHandle(sender), toHandle(receiver)
    {
    }
    const char* name;
    QString fromHandle, toHandle;
    std::unique_ptr<cfb::Confabo> from, to;
    std::shared_ptr<cfb::Buddy> toAsBuddy; // the sender's entry for the receiver
    std::shared_ptr<cfb::Buddy> fromAsBuddy; // and the receiver's for the sender
    int16_t toPort = 0;
    int64_t lines = 0;
    int64_t frames = 0;
    int64_t secureArrivals = 0; // lines and frames that came over the channel from the known key
};

struct World {
    Pair encrypted {"encrypted", QStringLiteral("Amelia"), QStringLiteral("Bonnie")};
    Pair plain {"plain", QStringLiteral("Carlota"), QStringLiteral("Dorothea")};
    QByteArray frame;
};
World* g_world = nullptr;

// What one pair's share of an interleaved benchmark measured.
struct Side {
    int64_t sent = 0, received = 0, lost = 0;
    double seconds = 0; // wall time of its batches, waiting for arrival included
    double worstSeconds = 0; // of one batch
    double cpuSeconds = 0; // this thread's CPU in its batches: sending and receiving
    double sendCpuSeconds = 0; // of that, inside SendFrame / SendMessage
    long allocations = 0; // made inside SendFrame
    int64_t kernelDrops = 0; // datagrams the receiver's socket had no room for
};
std::map<std::string, Side> g_frames, g_framePairs, g_lines, g_firstLines; // by pair name

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::optional<cfb::Identity> randomIdentity()
{
    cfb::Key32 secret;
    randombytes_buf(secret.data(), secret.size());
    return cfb::Identity::fromSecret(secret);
}

std::unique_ptr<cfb::Confabo> signUp(const QString& handle, bool withKey)
{
    cfb::Settings::DataPort.write(freeDataPort());
    auto confabo = std::make_unique<cfb::Confabo>();
    confabo->setIdentity(withKey ? randomIdentity() : std::nullopt);
    if (!confabo->Register(handle, Password, handle.toLower() + QStringLiteral("@example.org"))
        || !confabo->Login(handle, Password, QStringLiteral("127.0.0.1"))
        || confabo->wsReceive()->State() != cfb::sckUDPListening)
        return nullptr;
    return confabo;
}

// Both look each other up afresh, as after a sign-in: status, address and key.
bool lookUpEachOther(Pair& p)
{
    p.toAsBuddy->forgetLookups();
    p.fromAsBuddy->forgetLookups();
    return p.toAsBuddy->Status() == cfb::CFB_AVAILABLE && p.fromAsBuddy->Status() == cfb::CFB_AVAILABLE;
}

bool sendLine(Pair& p)
{
    return p.from->SendMessage(p.toHandle, LineText, 0, p.toPort);
}

// What the kernel dropped so far at the socket bound to the port, its queue being full
// (/proc/net/udp's last column).
int64_t socketDrops(int16_t port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QString suffix = QStringLiteral(":%1").arg(uint16_t(port), 4, 16, QLatin1Char('0')).toUpper();
    int64_t drops = 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 12 && QString::fromLatin1(fields[1]).endsWith(suffix))
            drops += fields.last().toLongLong();
    }
    return drops;
}

// Sends count items with send() (timing the calls), then waits (bounded) until they arrived.
void batch(Side& s, const int64_t& arrived, int count, int waitMs, const std::function<bool()>& send)
{
    const int64_t target = arrived + count;
    const int64_t before = arrived;
    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        const double sendCpu = threadCpuSeconds();
        MallocCount::start();
        const bool sent = send();
        s.allocations += MallocCount::stop();
        s.sendCpuSeconds += threadCpuSeconds() - sendCpu;
        s.sent += sent ? 1 : 0;
    }
    waitUntil([&] { return arrived >= target; }, waitMs);
    s.cpuSeconds += threadCpuSeconds() - cpu;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    s.seconds += seconds;
    s.worstSeconds = std::max(s.worstSeconds, seconds);
    s.received += arrived - before;
    s.lost += count - (arrived - before);
}

// Each iteration runs a batch on both pairs, in turns, so load from elsewhere on the machine
// falls on both alike.
void interleaved(benchmark::State& state, std::map<std::string, Side>& sides,
    const std::function<void(Pair&, Side&)>& runBatch)
{
    World& w = *g_world;
    Side& e = sides[w.encrypted.name];
    Side& p = sides[w.plain.name];
    e = p = Side {};
    const int64_t dropsE = socketDrops(w.encrypted.toPort), dropsP = socketDrops(w.plain.toPort);
    bool plainFirst = true;
    for (auto _ : state) {
        if (plainFirst) {
            runBatch(w.plain, p);
            runBatch(w.encrypted, e);
        } else {
            runBatch(w.encrypted, e);
            runBatch(w.plain, p);
        }
        plainFirst = !plainFirst;
    }
    e.kernelDrops = socketDrops(w.encrypted.toPort) - dropsE;
    p.kernelDrops = socketDrops(w.plain.toPort) - dropsP;
    if (e.received == 0 || p.received == 0) {
        state.SkipWithError("nothing arrived");
        return;
    }
    const double perE = e.seconds / double(e.received), perP = p.seconds / double(p.received);
    state.counters["encrypted_us"] = perE * 1e6;
    state.counters["plain_us"] = perP * 1e6;
    state.counters["ratio"] = perE / perP;
}

// One frame at a time, as a camera sends them (a tenth of a second or more apart).
void Frames(benchmark::State& state)
{
    interleaved(state, g_frames, [](Pair& p, Side& s) {
        batch(s, p.frames, 1, 100, [&p] { return p.toAsBuddy->SendFrame(g_world->frame, p.fromHandle, p.toPort); });
    });
}

// Two frames back to back (a burst, or two buddies' frames at once): whether the receiving
// socket's queue holds them.
void FramesTwoAtOnce(benchmark::State& state)
{
    interleaved(state, g_framePairs, [](Pair& p, Side& s) {
        batch(s, p.frames, 2, 100, [&p] { return p.toAsBuddy->SendFrame(g_world->frame, p.fromHandle, p.toPort); });
    });
}

// One line at a time: each batch is one line's way from SendMessage to NewMessage.
void Lines(benchmark::State& state)
{
    interleaved(state, g_lines, [](Pair& p, Side& s) { batch(s, p.lines, 1, 1000, [&p] { return sendLine(p); }); });
}

// Both users of a pair sign out and in again and look each other up (not timed); then one line
// is timed, which on the encrypted pair waits for the handshake.
void FirstLine(benchmark::State& state)
{
    interleaved(state, g_firstLines, [&state](Pair& p, Side& s) {
        p.from->Logout();
        p.to->Logout();
        if (!p.from->Login(p.fromHandle, Password, QStringLiteral("127.0.0.1"))
            || !p.to->Login(p.toHandle, Password, QStringLiteral("127.0.0.1")) || !lookUpEachOther(p)) {
            state.SkipWithError("signing in again failed");
            return;
        }
        batch(s, p.lines, 1, 15000, [&p] { return sendLine(p); });
    });
}

// What the encrypted SendFrame asks before it reaches the channel: which way the buddy is
// reached (the pinned key against the looked-up one).
void SecurityLookup(benchmark::State& state)
{
    Pair& p = g_world->encrypted;
    for (auto _ : state)
        benchmark::DoNotOptimize(p.from->security(*p.toAsBuddy));
}

// The frame's datagrams themselves: its packets sealed one by one, against the plain format's
// base64 XML.
void SealFramePackets(benchmark::State& state)
{
    using cfb::ChannelContent::FramePacketBytes;
    cfb::Key32 key {};
    randombytes_buf(key.data(), key.size());
    cfb::PeerSession session(1, 2, cfb::NoiseCipher(key), cfb::NoiseCipher(key), true, 0);
    const QByteArray& frame = g_world->frame;
    const qsizetype count = (frame.size() + FramePacketBytes - 1) / FramePacketBytes;
    QByteArray content, sealed;
    for (auto _ : state) {
        for (qsizetype i = 0; i < count; ++i) {
            const qsizetype at = i * FramePacketBytes;
            const QByteArrayView bytes = QByteArrayView(frame).sliced(at, std::min(FramePacketBytes, frame.size() - at));
            cfb::ChannelContent::framePacket(7, uint16_t(i), uint16_t(count), bytes, content);
            benchmark::DoNotOptimize(session.seal(content, sealed, 0));
        }
    }
}

void PlainFrameChunk(benchmark::State& state)
{
    const QByteArray from = cfb::PeerDatagram::escapedText(QStringLiteral("Carlota"));
    QByteArray datagram;
    for (auto _ : state) {
        cfb::PeerDatagram::frameChunk(from, g_world->frame, datagram);
        benchmark::DoNotOptimize(datagram.data());
    }
}

BENCHMARK(Frames)->MinTime(6.0)->UseRealTime();
BENCHMARK(FramesTwoAtOnce)->MinTime(3.0)->UseRealTime();
BENCHMARK(Lines)->MinTime(4.0)->UseRealTime();
BENCHMARK(FirstLine)->Iterations(FirstLines)->UseRealTime();
BENCHMARK(SecurityLookup)->MinTime(1.0);
BENCHMARK(SealFramePackets)->MinTime(1.0);
BENCHMARK(PlainFrameChunk)->MinTime(1.0);

// Keeps the real times of the runs, to print the ratios of the pairs.
class PairReporter : public benchmark::ConsoleReporter {
public:
    PairReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular)
    {
    }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                cpu[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> cpu; // CPU per iteration, in the runs' time unit (ns)
};

bool setUpPair(Pair& p, bool withKeys)
{
    p.from = signUp(p.fromHandle, withKeys);
    p.to = signUp(p.toHandle, withKeys);
    if (!p.from || !p.to || p.from->AddBuddy(p.toHandle) != p.toHandle || p.to->AddBuddy(p.fromHandle) != p.fromHandle) {
        std::fprintf(stderr, "%s pair: sign-in or buddy set-up failed\n", p.name);
        return false;
    }
    p.toAsBuddy = p.from->Buddies()->Item(p.toHandle);
    p.fromAsBuddy = p.to->Buddies()->Item(p.fromHandle);
    p.toPort = int16_t(p.to->wsReceive()->LocalPort().toInt());
    cfb::Confabo* to = p.to.get();
    QObject::connect(to, &cfb::Confabo::NewMessage, [&p, to](QString&, QString&, int16_t&, QString& text) {
        p.lines += text == LineText;
        p.secureArrivals += to->arrivalIsSecure();
    });
    QObject::connect(to, &cfb::Confabo::VideoFrameBytes, [&p, to](QString&, QByteArray& bytes) {
        p.frames += bytes.size() == FrameBytes;
        p.secureArrivals += to->arrivalIsSecure();
    });
    if (!lookUpEachOther(p)) {
        std::fprintf(stderr, "%s pair: the buddies are not available to each other\n", p.name);
        return false;
    }
    const cfb::PeerSecurity expected = withKeys ? cfb::PeerSecurity::Encrypted : cfb::PeerSecurity::Plain;
    if (p.from->security(*p.toAsBuddy) != expected) {
        std::fprintf(stderr, "%s pair: the sender does not reach the receiver as expected\n", p.name);
        return false;
    }
    // Warm-up: a line (encrypted, after the handshake) and a frame each way's caches fill.
    if (!sendLine(p) || !waitUntil([&] { return p.lines == 1; }, 15000)
        || !p.toAsBuddy->SendFrame(g_world->frame, p.fromHandle, p.toPort)
        || !waitUntil([&] { return p.frames == 1; }, 2000)) {
        std::fprintf(stderr, "%s pair: the warm-up line or frame did not arrive\n", p.name);
        return false;
    }
    return true;
}

bool setUp(World& w, const ServiceProcess& service)
{
    if (!service.isRunning()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(service.errorText()));
        return false;
    }
    cfb::UserNotice::setHandler([](const QString&, const QString&) {});
    cfb::Settings::ServiceHost.write(service.serverSetting());
    cfb::Settings::PollingInterval.write(QString::number(PollingIntervalSeconds));
    w.frame = jpegOfSize(FrameBytes, {640, 480});
    if (w.frame.size() != FrameBytes) {
        std::fprintf(stderr, "no 640x480 JPEG of %d bytes\n", FrameBytes);
        return false;
    }
    return setUpPair(w.encrypted, true) && setUpPair(w.plain, false);
}

// Where the encrypted sender allocates, when asked: one frame's allocations with their call stacks.
void traceAllocations(World& w)
{
    const char* asked = std::getenv("CHANNEL_BENCH_TRACE_ALLOCATIONS");
    const int count = asked ? std::atoi(asked) : 0;
    if (count <= 0)
        return;
    Pair& p = w.encrypted;
    // A few frames first: the sender keeps the last ones to send again, in buffers it fills once.
    const int64_t target = p.frames + 4;
    for (int i = 0; i < 4; ++i)
        p.toAsBuddy->SendFrame(w.frame, p.fromHandle, p.toPort);
    waitUntil([&] { return p.frames >= target; }, 1000);
    MallocCount::traceFirst(count);
    MallocCount::start();
    p.toAsBuddy->SendFrame(w.frame, p.fromHandle, p.toPort);
    const long made = MallocCount::stop();
    MallocCount::traceFirst(0);
    std::fprintf(stderr, "--- %ld allocations in one encrypted SendFrame\n", made);
    runFor(100);
}

void printSummary(const World& w, const PairReporter& reporter)
{
    const auto cpuNs = [&reporter](const char* name) {
        const auto found = reporter.cpu.find(name);
        return found == reporter.cpu.end() ? 0.0 : found->second;
    };
    const auto sides = [](const std::map<std::string, Side>& of, const Side*& e, const Side*& p) {
        const auto a = of.find("encrypted"), b = of.find("plain");
        e = a == of.end() ? nullptr : &a->second;
        p = b == of.end() ? nullptr : &b->second;
        return e && p && e->received > 0 && p->received > 0 && e->sent > 0 && p->sent > 0;
    };
    const auto row = [](const char* what, const char* unit, double scale, double e, double p) {
        std::printf("  %-52s encrypted %9.1f %s  plain %9.1f %s  ratio %.3f\n", what, e * scale, unit, p * scale,
            unit, e / p);
    };
    std::printf("\nEncrypted channel against the plain format, Confabo to Confabo on loopback, the pairs in turns in "
                "the same run\n(ratio = encrypted / plain; the aim for frames is at most 1.05):\n");
    const Side *e = nullptr, *p = nullptr;
    if (sides(g_frames, e, p)) {
        row("frame 640x480 43000 B: time per frame (send+receive)", "us", 1e6, e->seconds / double(e->received),
            p->seconds / double(p->received));
        row("frame 640x480 43000 B: thread CPU per frame (both)", "us", 1e6, e->cpuSeconds / double(e->received),
            p->cpuSeconds / double(p->received));
        row("frame 640x480 43000 B: sender CPU per frame", "us", 1e6, e->sendCpuSeconds / double(e->sent),
            p->sendCpuSeconds / double(p->sent));
        std::printf("  %-52s encrypted %9.2f     plain %9.2f\n", "frame 640x480 43000 B: sender allocations per frame",
            double(e->allocations) / double(e->sent), double(p->allocations) / double(p->sent));
        std::printf("  %-52s encrypted %lld of %lld  plain %lld of %lld\n", "frame 640x480 43000 B: lost",
            static_cast<long long>(e->lost), static_cast<long long>(e->sent), static_cast<long long>(p->lost),
            static_cast<long long>(p->sent));
    }
    if (sides(g_framePairs, e, p)) {
        row("two frames back to back: time per frame", "us", 1e6, e->seconds / double(e->received),
            p->seconds / double(p->received));
        std::printf("  %-52s encrypted %lld  plain %lld  (of %lld frames each)\n",
            "two frames back to back: datagrams dropped, queue full", static_cast<long long>(e->kernelDrops),
            static_cast<long long>(p->kernelDrops), static_cast<long long>(e->sent));
    }
    if (sides(g_lines, e, p)) {
        row("line, sessions up: SendMessage to NewMessage", "us", 1e6, e->seconds / double(e->received),
            p->seconds / double(p->received));
        row("line, sessions up: thread CPU per line (both)", "us", 1e6, e->cpuSeconds / double(e->received),
            p->cpuSeconds / double(p->received));
    }
    if (sides(g_firstLines, e, p)) {
        row("first line after sign-in (handshake), mean", "ms", 1e3, e->seconds / double(e->received),
            p->seconds / double(p->received));
        row("first line after sign-in (handshake), worst", "ms", 1e3, e->worstSeconds, p->worstSeconds);
    }
    if (const double lookup = cpuNs("SecurityLookup"); lookup > 0)
        std::printf("  %-52s %9.2f us a call\n", "Confabo::security(Buddy&), run by every secure send", lookup / 1e3);
    if (const double seal = cpuNs("SealFramePackets"), plain = cpuNs("PlainFrameChunk"); seal > 0 && plain > 0)
        row("frame 43000 B: its datagrams alone (sealed / base64 XML)", "us", 1e-3, seal, plain);
    std::printf("  arrived over the channel from the known key: encrypted pair %lld of %lld, plain pair %lld of %lld\n",
        static_cast<long long>(w.encrypted.secureArrivals), static_cast<long long>(w.encrypted.lines + w.encrypted.frames),
        static_cast<long long>(w.plain.secureArrivals), static_cast<long long>(w.plain.lines + w.plain.frames));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (sodium_init() < 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    int status = 1;
    {
        TempConfig config;
        ServiceProcess service({QStringLiteral("--sign-in-burst"), QStringLiteral("1000"),
            QStringLiteral("--sign-in-rate"), QStringLiteral("1000")});
        World world;
        g_world = &world;
        if (setUp(world, service)) {
            traceAllocations(world);
            PairReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            printSummary(world, reporter);
            status = 0;
        }
        g_world = nullptr;
    }
    benchmark::Shutdown();
    return status;
}
