// Messages and 5,000-byte JPEG frames per second from one Confabo object to another on loopback,
// received and raised as events (NewMessage; VideoFrameBytes and the decoded VideoFrame), against
// a plain ivUDP send and receive of the same datagram bytes measured in the same run. Prints the
// ratio and the datagrams lost on each path.
//
// Both objects sign in to a confabo-service started here on a temporary database. The sender asks
// the service for the receiver's status and address; with a polling interval of an hour those
// answers come from the buddy's cache after a warm-up send, so the timed loops make no service
// requests. Every variant sends a batch and then waits (bounded) until the batch arrived, so the
// receiving socket's queue does not overflow; a datagram lost anyway counts as lost, not as sent.
#include "imaging/modPic.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "NoisyJpeg.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int PollingIntervalSeconds = 3600;
constexpr int MessageBatch = 32;
constexpr int FrameBatch = 8; // 8 datagrams of about 6.8 KB stay well inside the receive queue
constexpr int FrameBytes = 5000;
const QString MessageText = QStringLiteral("How is the weather over there? Here it rains & rains <again>.");

struct Tally {
    int64_t sent = 0;
    int64_t received = 0;
    double seconds = 0;
    double rate() const { return seconds > 0 ? double(received) / seconds : 0; }
};
std::map<std::string, Tally> g_tally;

// Two signed-in users on loopback; Amelia sends to Bonnie.
struct World {
    std::unique_ptr<cfb::Confabo> amy, bo;
    std::shared_ptr<cfb::Buddy> boAsBuddy; // Amelia's buddy entry for Bonnie
    int16_t boPort = 0;
    int64_t messagesAtBo = 0;
    int64_t framesAtBo = 0;
    int64_t picturesAtBo = 0; // frames that decoded to a picture
    QByteArray frame;
};
World* g_world = nullptr;

std::unique_ptr<cfb::Confabo> signIn(const QString& handle)
{
    cfb::Settings::DataPort.write(freeDataPort());
    auto confabo = std::make_unique<cfb::Confabo>();
    if (!confabo->Register(handle, QStringLiteral("PW"), handle.toLower() + QStringLiteral("@example.org"))
        || !confabo->Login(handle, QStringLiteral("PW"), QStringLiteral("127.0.0.1"))
        || confabo->wsReceive()->State() != cfb::sckUDPListening)
        return nullptr;
    return confabo;
}

// Runs the event loop until the count reaches the target or the wait runs out.
void waitForCount(const int64_t& count, int64_t target, int milliseconds)
{
    waitUntil([&] { return count >= target; }, milliseconds);
}

// One timed loop: send a batch, wait for it, repeat; then collect stragglers.
void run(benchmark::State& state, const std::string& key, int batch, const int64_t& arrived,
    const std::function<bool()>& sendOne)
{
    Tally& t = g_tally[key];
    t = Tally{};
    const int64_t start = arrived;
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        const int64_t target = arrived + batch;
        for (int i = 0; i < batch; ++i)
            t.sent += sendOne() ? 1 : 0;
        waitForCount(arrived, target, 50);
    }
    t.seconds = double(clock.nsecsElapsed()) / 1e9;
    waitForCount(arrived, start + t.sent, 200);
    t.received = arrived - start;
    state.SetItemsProcessed(t.received);
    if (t.sent == 0)
        state.SkipWithError("nothing could be sent");
}

// The reference: the same datagram bytes through one ivUDP sender and one ivUDP receiver.
void PlainIvUDP(benchmark::State& state, const std::string& key, const QByteArray& datagram, int batch)
{
    cfb::ivUDP receiver;
    receiver.wsBind(QStringLiteral("0"));
    int64_t arrived = 0;
    QByteArray in;
    QObject::connect(&receiver, &cfb::ivUDP::DataArrival, [&](int32_t&) {
        receiver.wsGetData(in);
        if (in.size() == datagram.size())
            ++arrived;
    });
    cfb::ivUDP sender;
    sender.setRemoteHost(QStringLiteral("127.0.0.1"));
    sender.setRemotePort(receiver.LocalPort());
    run(state, key, batch, arrived, [&] {
        sender.wsSendData(datagram);
        return true;
    });
}

void Messages(benchmark::State& state)
{
    World& w = *g_world;
    run(state, "confabo/message", MessageBatch, w.messagesAtBo,
        [&w] { return w.amy->SendMessage(QStringLiteral("Bonnie"), MessageText, 0, w.boPort); });
}

void MessagesPlain(benchmark::State& state)
{
    PlainIvUDP(state, "plain/message", cfb::PeerDatagram::message("Amelia", "amelia@example.org", 0, MessageText),
        MessageBatch);
}

void Frames(benchmark::State& state)
{
    World& w = *g_world;
    run(state, "confabo/frame", FrameBatch, w.framesAtBo,
        [&w] { return w.boAsBuddy->SendFrame(w.frame, QStringLiteral("Amelia"), w.boPort); });
}

void FramesPlain(benchmark::State& state)
{
    QByteArray datagram;
    cfb::PeerDatagram::frameChunk(cfb::PeerDatagram::escapedText("Amelia"), g_world->frame, datagram);
    PlainIvUDP(state, "plain/frame", datagram, FrameBatch);
}

// What decoding alone costs per frame, to read the frame ratio by.
void FrameDecodeOnly(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(cfb::PictureFromBytes(g_world->frame));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(MessagesPlain)->MinTime(2.0)->UseRealTime();
BENCHMARK(Messages)->MinTime(2.0)->UseRealTime();
BENCHMARK(FramesPlain)->MinTime(2.0)->UseRealTime();
BENCHMARK(Frames)->MinTime(2.0)->UseRealTime();
BENCHMARK(FrameDecodeOnly)->MinTime(1.0);

bool setUp(World& w, const ServiceProcess& service)
{
    if (!service.isRunning()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(service.errorText()));
        return false;
    }
    cfb::UserNotice::setHandler([](const QString&, const QString&) {});
    cfb::Settings::ServiceHost.write(service.serverSetting());
    cfb::Settings::PollingInterval.write(QString::number(PollingIntervalSeconds));
    w.amy = signIn(QStringLiteral("Amelia"));
    w.bo = signIn(QStringLiteral("Bonnie"));
    if (!w.amy || !w.bo || w.amy->AddBuddy(QStringLiteral("Bonnie")) != QLatin1String("Bonnie")) {
        std::fprintf(stderr, "sign-in or buddy set-up failed\n");
        return false;
    }
    w.boAsBuddy = w.amy->Buddies()->Item(QStringLiteral("Bonnie"));
    w.boPort = int16_t(w.bo->wsReceive()->LocalPort().toInt());
    w.frame = jpegOfSize(FrameBytes, {96, 72});
    QObject::connect(w.bo.get(), &cfb::Confabo::NewMessage,
        [&w](QString&, QString&, int16_t&, QString& text) { w.messagesAtBo += text == MessageText; });
    QObject::connect(w.bo.get(), &cfb::Confabo::VideoFrameBytes,
        [&w](QString&, QByteArray& bytes) { w.framesAtBo += bytes.size() == FrameBytes; });
    QObject::connect(w.bo.get(), &cfb::Confabo::VideoFrame,
        [&w](QString&, QImage& picture) { w.picturesAtBo += !picture.isNull(); });

    // Warm-up: the first sends look the status and address up; from here on both are cached.
    if (!w.amy->SendMessage(QStringLiteral("Bonnie"), MessageText, 0, w.boPort)
        || !w.boAsBuddy->SendFrame(w.frame, QStringLiteral("Amelia"), w.boPort)) {
        std::fprintf(stderr, "Bonnie is not reachable as available\n");
        return false;
    }
    waitForCount(w.framesAtBo, 1, 2000);
    waitForCount(w.messagesAtBo, 1, 2000);
    if (w.framesAtBo != 1 || w.messagesAtBo != 1 || w.picturesAtBo != 1) {
        std::fprintf(stderr, "the warm-up message or frame did not arrive whole\n");
        return false;
    }
    return true;
}

void printSummary(const World& w)
{
    QByteArray frameDatagram;
    cfb::PeerDatagram::frameChunk(cfb::PeerDatagram::escapedText("Amelia"), w.frame, frameDatagram);
    std::printf("\nPeer datagrams received per second on loopback, Confabo to Confabo (events raised) against\n"
                "plain ivUDP send/receive of the same bytes (same run). Polling interval %d s: status and\n"
                "address come from the buddy's cache, no service request in the timed loops.\n",
        PollingIntervalSeconds);
    const struct {
        const char* what;
        const char* key;
        qsizetype bytes;
    } rows[] = {
        {"message", "message", cfb::PeerDatagram::message("Amelia", "amelia@example.org", 0, MessageText).size()},
        {"5000 B frame", "frame", frameDatagram.size()},
    };
    for (const auto& row : rows) {
        const auto c = g_tally.find(std::string("confabo/") + row.key);
        const auto p = g_tally.find(std::string("plain/") + row.key);
        if (c == g_tally.end() || p == g_tally.end() || p->second.rate() <= 0)
            continue;
        std::printf("  %-13s %5lld-byte datagram  Confabo %9.0f /s  ivUDP %9.0f /s  ratio %.2f"
                    "  lost %lld of %lld (ivUDP %lld of %lld)\n",
            row.what, static_cast<long long>(row.bytes), c->second.rate(), p->second.rate(),
            c->second.rate() / p->second.rate(), static_cast<long long>(c->second.sent - c->second.received),
            static_cast<long long>(c->second.sent), static_cast<long long>(p->second.sent - p->second.received),
            static_cast<long long>(p->second.sent));
    }
    std::printf("  frames that arrived and decoded to a picture: %lld of %lld\n",
        static_cast<long long>(w.picturesAtBo), static_cast<long long>(w.framesAtBo));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    int status = 1;
    {
        TempConfig config;
        ServiceProcess service;
        World world;
        g_world = &world;
        if (setUp(world, service)) {
            benchmark::RunSpecifiedBenchmarks();
            printSummary(world);
            status = 0;
        }
        g_world = nullptr;
    }
    benchmark::Shutdown();
    return status;
}
