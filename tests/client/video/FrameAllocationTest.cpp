// Once warmed up, a captured frame allocates no memory on its way to the datagram: SetBits,
// JPGBuffer and Buddy::SendFrame through the frame sender, and the planar path beside it, sending
// to a buddy signed in at the real service. Allocations are counted by wrapping the C allocator,
// on this thread only. TurboJPEG's own working pools, which every compression call makes and
// frees inside the library (its API keeps no pools between calls), are told apart by the address
// of their caller and left out.
#include "video/FrameSender.h"
#include "video/PatternSource.h"

#include "CaptureTestSupport.h"
#include "FramePeersTest.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstring>
#include <link.h>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {

thread_local bool counting = false;
thread_local long counted = 0;
uintptr_t encoderBegin = 0, encoderEnd = 0; // TurboJPEG's code

inline void note(void* caller)
{
    const auto at = reinterpret_cast<uintptr_t>(caller);
    if (counting && !(at >= encoderBegin && at < encoderEnd))
        ++counted;
}

} // namespace

extern "C" void* malloc(size_t n)
{
    note(__builtin_return_address(0));
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    note(__builtin_return_address(0));
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    note(__builtin_return_address(0));
    return __libc_realloc(p, n);
}
extern "C" void free(void* p)
{
    __libc_free(p);
}

using namespace cfb;
using namespace cfb::client;

namespace {

// The address range of the loaded TurboJPEG library; false when it is not loaded.
bool findEncoder()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (!info->dlpi_name || !std::strstr(info->dlpi_name, "libturbojpeg"))
                return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X)) {
                    encoderBegin = info->dlpi_addr + segment.p_vaddr;
                    encoderEnd = encoderBegin + segment.p_memsz;
                }
            }
            return 1;
        },
        nullptr);
    return encoderEnd > encoderBegin;
}

template <typename Work> long allocationsIn(Work&& work)
{
    counted = 0;
    counting = true;
    work();
    counting = false;
    return counted;
}

class FrameAllocationTest : public FramePeersTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(findEncoder());
        FramePeersTest::SetUp();
    }
};

} // namespace

TEST_F(FrameAllocationTest, SteadyFramesAllocateNothingOnTheWayToTheDatagram)
{
    ASSERT_EQ(allocationsIn([] { QByteArray bytes(100, 'x'); }), 1) << "the counter counts";
    const int16_t port = boPort();
    for (const QSize size : {QSize(160, 120), QSize(640, 480)}) {
        for (const bool fromPlanes : {false, true}) {
            SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << (fromPlanes ? " planes" : ""));
            PatternSource pattern(size, 5);
            pattern.setHandle("Amelia");
            FrameSender sender;
            sender.setQuality(75);
            sender.setEncodeFromPlanes(fromPlanes);
            const QString from = QStringLiteral("Amelia");
            // Warm-up makes the bitmap, the encoders, the buffers, the socket and the encrypted
            // session with Bonnie (its handshake answered while the events run).
            pictures_.clear();
            for (int i = 0; i < 3; ++i)
                ASSERT_EQ(sender.send(pattern.render(i * 200000), boAtAmy_, from, port), FrameSender::Result::Sent);
            ASSERT_TRUE(waitUntil([&] { return pictures_.contains(size); })) << "the warm-up's frames arrive";
            // A later frame with more detail than any before it, as a camera's frames vary: the
            // buffers grow once for its bigger JPEG (and the channel's packets for it), then a
            // stream of such frames allocates nothing.
            pattern.setHandle("Amelia, with a longer caption than before");
            const I420Frame frame = pattern.render(3 * 200000);
            ASSERT_EQ(sender.send(frame, boAtAmy_, from, port), FrameSender::Result::Sent);
            QList<FrameSender::Result> results;
            results.reserve(8);
            const long allocations = allocationsIn([&] {
                for (int i = 0; i < 8; ++i)
                    results.append(sender.send(frame, boAtAmy_, from, port));
            });
            EXPECT_EQ(allocations, 0);
            EXPECT_EQ(results, QList<FrameSender::Result>(8, FrameSender::Result::Sent));
            pictures_.clear();
            EXPECT_TRUE(waitUntil([&] { return pictures_.contains(size); })) << "the frames arrive as pictures";
        }
    }
}

TEST_F(FrameAllocationTest, SteadyVp8FramesAllocateNothingOnTheWayToTheDatagrams)
{
    PatternSource pattern({640, 480}, 30);
    pattern.setHandle("Amelia");
    FrameSender sender;
    sender.setVp8(true);
    sender.setCaptureRate(30);
    const QString from = QStringLiteral("Amelia");
    const int16_t port = boPort();
    // Warm-up: the session, both clients' codecs said, the encoder open at its rate, pictures
    // decoded at Bonnie.
    int frame = 0, vp8Frames = 0;
    for (int i = 0; i < 300 && vp8Frames < 30; ++i) {
        sender.send(pattern.render(qint64(frame++) * 33333), boAtAmy_, from, port);
        vp8Frames += sender.lastCodec() == "VP8" ? 1 : 0;
        if (vp8Frames == 10)
            pictures_.clear(); // those of the first JPEG frames are in by now
        waitUntil([] { return false; }, 33);
    }
    ASSERT_EQ(vp8Frames, 30) << "Bonnie's client never said VP8";
    ASSERT_TRUE(waitUntil([&] { return pictures_.contains(QSize(640, 480)); })) << "no VP8 picture arrived";
    const I420Frame steady = pattern.render(qint64(frame) * 33333);
    QList<FrameSender::Result> results;
    results.reserve(24);
    // A key frame the receiver asked for, bigger than any before it, may grow a buffer once; an
    // allocation per frame shows in every run of eight.
    long fewest = -1;
    for (int run = 0; run < 3 && fewest != 0; ++run) {
        const long allocations = allocationsIn([&] {
            for (int i = 0; i < 8; ++i)
                results.append(sender.send(steady, boAtAmy_, from, port));
        });
        fewest = fewest < 0 ? allocations : std::min(fewest, allocations);
    }
    EXPECT_EQ(fewest, 0);
    EXPECT_EQ(results, QList<FrameSender::Result>(results.size(), FrameSender::Result::Sent));
    EXPECT_EQ(sender.lastCodec(), "VP8");
}
