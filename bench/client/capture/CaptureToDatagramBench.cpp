// One outgoing video frame from capture to datagram: the test pattern's I420 frame through the
// frame sender (SetBits + JPGBuffer + Buddy::SendFrame) against the bare work it wraps, measured
// in the same run on the same frame: YUVFrame into a bitmap buffer, tjCompress2 from it, the same
// datagram written into a reused buffer and sendto. Both send to one loopback socket. The buddy's
// presence and address come once from a canned service reply, as they would once per polling
// interval. Also counts heap allocations per frame on both paths; TurboJPEG's own working pools,
// made and freed inside every compression call, are in both counts alike.
#include "CaptureServer.h"
#include "FreeDataPort.h"
#include "RatioReporter.h"
#include "TempConfig.h"
#include "YUVFrame.h"
#include "YuvKernels.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/PeerDatagram.h"
#include "messaging/modINET.h"
#include "video/FrameSender.h"
#include "video/PatternSource.h"

#include <QGuiApplication>
#include <turbojpeg.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Heap allocations made by the benchmark's thread, counted by wrapping the C allocator (other
// threads, the canned service's among them, are not the frame path's).
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}
static thread_local long allocations = 0;
extern "C" void* malloc(size_t n)
{
    ++allocations;
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    ++allocations;
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    ++allocations;
    return __libc_realloc(p, n);
}
extern "C" void free(void* p)
{
    __libc_free(p);
}

namespace {

using namespace cfb;
using namespace cfb::client;

// A UDP socket on 127.0.0.1, on a port peers can name, that the frames go to (nobody reads it;
// a full queue drops).
struct Sink {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    Sink()
    {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(freeDataPort().toUInt()));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            std::abort();
    }
    ~Sink() { ::close(fd); }
    int16_t port() const { return int16_t(ntohs(address.sin_port)); }
};

struct World {
    TempConfig config;
    CaptureServer service;
    Sink sink;
    std::shared_ptr<Buddies> buddies = std::make_shared<Buddies>();
    Buddy* bo = nullptr;
    World()
    {
        service.replyWithXml("<body><status>1</status><ip>127.0.0.1</ip><mouth_top>0</mouth_top>"
                             "<mouth_left>0</mouth_left></body>");
        ServiceChannel::current().server = service.serverSetting();
        bo = buddies->Add(7, 8, "Bo", "bo@example.org").get();
    }
};

World* theWorld = nullptr; // made by main(), after the application object

World& world()
{
    return *theWorld;
}

// The test pattern's picture at a size, drawn once, so both cases encode the very same frame.
I420Frame patternFrame(int w, int h)
{
    static std::map<std::pair<int, int>, I420Buffer> frames;
    I420Buffer& kept = frames[{w, h}];
    if (kept.width() == 0) {
        PatternSource pattern({w, h}, 5);
        pattern.setHandle("Amy");
        const I420Frame drawn = pattern.render(1234567);
        kept.resize(w, h);
        std::memcpy(kept.y(), drawn.y, kept.byteCount()); // the pattern's planes lie packed
    }
    return kept.frame();
}

void BM_FrameSender(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const I420Frame frame = patternFrame(w, h);
    FrameSender sender;
    sender.setQuality(75);
    sender.setEncodeFromPlanes(state.range(2) != 0);
    const QString from = QStringLiteral("Amy"); // the client passes the user's handle as it holds it
    World& the = world();
    // Warm up: bitmap, encoder, datagram and socket are made here.
    for (int i = 0; i < 3; ++i)
        if (sender.send(frame, the.bo, from, the.sink.port()) != FrameSender::Result::Sent)
            return state.SkipWithError("the frame was not sent (is libpixmill.so beside libconfabo.so?)");
    const long before = allocations;
    long frames = 0;
    for (auto _ : state) {
        sender.send(frame, the.bo, from, the.sink.port());
        ++frames;
    }
    state.counters["allocs_per_frame"] = double(allocations - before) / double(frames);
    state.counters["jpeg_bytes"] = double(sender.lastJpegSize());
}

// The bare pipeline the sender wraps, on its own buffers and socket.
struct BarePipeline {
    int w, h, stride;
    std::vector<uint8_t> bgr, jpeg;
    tjhandle tj = tjInitCompress();
    int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    QByteArray from = PeerDatagram::escapedText("Amy");
    QByteArray datagram;
    unsigned long size = 0;

    BarePipeline(int width, int height)
        : w(width)
        , h(height)
        , stride(int(pixmill::rowStride(width)))
        , bgr(std::size_t(stride) * height)
        , jpeg(tjBufSize(width, height, TJSAMP_420))
    {
    }
    ~BarePipeline()
    {
        ::close(udp);
        tjDestroy(tj);
    }
    void send(const I420Frame& frame, const sockaddr_in& to)
    {
        YUVFrame(frame.y, frame.u, frame.v, bgr.data(), w, h);
        unsigned char* out = jpeg.data();
        size = jpeg.size();
        tjCompress2(
            tj, bgr.data(), w, stride, h, TJPF_BGR, &out, &size, TJSAMP_420, 75, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        PeerDatagram::frameChunk(from, QByteArrayView(out, qsizetype(size)), datagram);
        ::sendto(
            udp, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
};

void BM_BareYUVFrameTjCompress2Sendto(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const I420Frame frame = patternFrame(w, h);
    World& the = world();
    BarePipeline bare(w, h);
    long before = 0, frames = 0;
    for (auto _ : state) {
        if (frames++ == 3) // the first frames size the datagram buffer
            before = allocations;
        bare.send(frame, the.sink.address);
    }
    state.counters["allocs_per_frame"] = frames > 3 ? double(allocations - before) / double(frames - 3) : 0;
    state.counters["jpeg_bytes"] = double(bare.size);
}

double threadSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Both pipelines frame by frame in turn, each timed on this thread's CPU clock, so that load
// from other processes weighs on both alike. time_factor = sender time / bare time (below 1:
// the sender is faster).
void BM_InterleavedPair(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const I420Frame frame = patternFrame(w, h);
    World& the = world();
    BarePipeline bare(w, h);
    FrameSender sender;
    sender.setQuality(75);
    sender.setEncodeFromPlanes(state.range(2) != 0);
    const QString from = QStringLiteral("Amy"); // the client passes the user's handle as it holds it
    for (int i = 0; i < 3; ++i) {
        bare.send(frame, the.sink.address);
        sender.send(frame, the.bo, from, the.sink.port());
    }
    double bareTime = 0, senderTime = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        bare.send(frame, the.sink.address);
        const double t1 = threadSeconds();
        sender.send(frame, the.bo, from, the.sink.port());
        const double t2 = threadSeconds();
        bareTime += t1 - t0;
        senderTime += t2 - t1;
    }
    state.counters["time_factor"] = bareTime > 0 ? senderTime / bareTime : 0;
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({160, 120})->Args({640, 480})->Unit(benchmark::kMicrosecond);
}

// Third argument: 0 through the bitmap (SetBits + JPGBuffer), 1 straight from the planes.
void sizesAndPaths(benchmark::internal::Benchmark* b)
{
    b->Args({160, 120, 0})->Args({640, 480, 0})->Args({160, 120, 1})->Args({640, 480, 1});
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_BareYUVFrameTjCompress2Sendto)->Apply(sizes);
BENCHMARK(BM_FrameSender)->Apply(sizesAndPaths);
BENCHMARK(BM_InterleavedPair)->Apply(sizesAndPaths);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // the pattern's caption needs fonts
    World world;
    theWorld = &world;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_FrameSender/160/120/0", "BM_BareYUVFrameTjCompress2Sendto/160/120"},
        {"BM_FrameSender/640/480/0", "BM_BareYUVFrameTjCompress2Sendto/640/480"},
        {"BM_FrameSender/160/120/1", "BM_BareYUVFrameTjCompress2Sendto/160/120"},
        {"BM_FrameSender/640/480/1", "BM_BareYUVFrameTjCompress2Sendto/640/480"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed of the frame sender against YUVFrame + tjCompress2 + sendto (1/ratio = time factor):");
    benchmark::Shutdown();
    return 0;
}
