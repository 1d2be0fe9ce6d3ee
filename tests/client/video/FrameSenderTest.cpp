// The outgoing video path against the real service: a test pattern captured, converted, encoded
// and sent by one library object to another over loopback, which sees JPEG pictures of the
// configured size; frames too big for a datagram still arrive, encoded smaller.
#include "video/FrameSender.h"
#include "video/PatternSource.h"

#include "CaptureTestSupport.h"
#include "FramePeersTest.h"

#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;

namespace {

class FrameSenderTest : public FramePeersTest {
protected:
    // Runs the pattern through the sender to Bonnie until `count` frames were handed over.
    void stream(PatternSource& pattern, FrameSender& sender, int count, QList<FrameSender::Result>& results)
    {
        QObject::connect(&pattern, &CaptureSource::frameReady, [&](const I420Frame& frame) {
            if (results.size() < count)
                results.append(sender.send(frame, boAtAmy_, "Amelia", boPort()));
        });
        pattern.start();
        waitUntil([&] { return results.size() >= count; }, 10000);
        pattern.stop();
        QObject::disconnect(&pattern, &CaptureSource::frameReady, nullptr, nullptr);
    }
};

} // namespace

TEST_F(FrameSenderTest, FramesArriveAsPicturesOfTheCaptureSizeAlsoAfterASizeChange)
{
    PatternSource pattern({160, 120}, 15);
    pattern.setHandle("Amelia");
    FrameSender sender;
    EXPECT_TRUE(sender.encodeFromPlanes()) << "the planar encoder is the default";
    sender.setEncodeFromPlanes(false); // the exact path first
    sender.setQuality(75);
    QList<FrameSender::Result> results;
    stream(pattern, sender, 6, results);
    ASSERT_EQ(results, QList<FrameSender::Result>(6, FrameSender::Result::Sent));
    ASSERT_TRUE(waitUntil([&] { return pictures_.size() >= 6; }));
    EXPECT_EQ(pictures_, QList<QSize>(6, QSize(160, 120)));
    EXPECT_EQ(jpegs_, 6);
    EXPECT_EQ(sender.bitmapAllocations(), 1);
    EXPECT_EQ(sender.lastQuality(), 75);

    // Mid-stream the capture size changes: the bitmap is made again once, frames keep coming.
    pattern.setFrameSize({320, 240});
    results.clear();
    stream(pattern, sender, 4, results);
    ASSERT_EQ(results, QList<FrameSender::Result>(4, FrameSender::Result::Sent));
    ASSERT_TRUE(waitUntil([&] { return pictures_.size() >= 10; }));
    EXPECT_EQ(pictures_.mid(6), QList<QSize>(4, QSize(320, 240)));
    EXPECT_EQ(sender.bitmapAllocations(), 2);
    EXPECT_EQ(sender.dib().dib_width(), 320);

    // Straight from the planes, the bitmap left alone: the same pictures arrive.
    sender.setEncodeFromPlanes(true);
    results.clear();
    stream(pattern, sender, 3, results);
    ASSERT_EQ(results, QList<FrameSender::Result>(3, FrameSender::Result::Sent));
    ASSERT_TRUE(waitUntil([&] { return pictures_.size() >= 13; }));
    EXPECT_EQ(pictures_.mid(10), QList<QSize>(3, QSize(320, 240)));
    EXPECT_EQ(jpegs_, 13);
    sender.setEncodeFromPlanes(false);

    // Without a buddy the frame is converted for the preview, and nothing goes out.
    const I420Frame frame = pattern.render(0);
    EXPECT_EQ(sender.send(frame, nullptr, "Amelia", boPort()), FrameSender::Result::Converted);
    I420Frame broken = frame;
    broken.strideY = 10; // shorter than a row
    EXPECT_EQ(sender.send(broken, boAtAmy_, "Amelia", boPort()), FrameSender::Result::Failed);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(pictures_.size(), 13);
}

// A buddy on an older client, without a key: every frame must fit one datagram.
class FrameSenderToAPlainBuddyTest : public FrameSenderTest {
protected:
    FrameSenderToAPlainBuddyTest() { plainBonnie_ = true; }
};

TEST_F(FrameSenderTest, ANoisyLargeFrameToAKeyedBuddyKeepsItsQualityAndArrivesInPackets)
{
    PatternSource pattern({640, 480}, 10);
    pattern.setNoise(24);
    FrameSender sender;
    sender.setQuality(95);
    QList<FrameSender::Result> results;
    stream(pattern, sender, 3, results);
    ASSERT_EQ(results, QList<FrameSender::Result>(3, FrameSender::Result::Sent));
    EXPECT_EQ(sender.lastQuality(), 95);
    EXPECT_GT(sender.lastJpegSize(), FrameSender::maxSingleDatagramJpeg("Amelia"));
    ASSERT_TRUE(waitUntil([&] { return pictures_.size() >= 3; }));
    EXPECT_EQ(pictures_, QList<QSize>(3, QSize(640, 480)));
}

TEST_F(FrameSenderToAPlainBuddyTest, ANoisyLargeFrameIsEncodedSmallerForThatFrameOnly)
{
    PatternSource pattern({640, 480}, 10);
    pattern.setNoise(24);
    FrameSender sender;
    sender.setQuality(95);
    const qsizetype limit = FrameSender::maxSingleDatagramJpeg("Amelia");
    EXPECT_GT(limit, 40000);
    EXPECT_LT(limit, 49200);

    QList<FrameSender::Result> results;
    QList<int> qualities;
    QObject::connect(&pattern, &CaptureSource::frameReady, [&](const I420Frame&) {
        if (!results.isEmpty())
            qualities.append(sender.lastQuality());
    });
    stream(pattern, sender, 8, results);
    qualities.append(sender.lastQuality());
    ASSERT_EQ(results, QList<FrameSender::Result>(8, FrameSender::Result::Sent));
    for (int q : qualities) {
        EXPECT_GE(q, 1);
        EXPECT_LT(q, 95);
    }
    EXPECT_LE(sender.lastJpegSize(), limit);
    EXPECT_EQ(sender.quality(), 95) << "the configured quality stays";
    EXPECT_EQ(sender.dib().JPGQuality(), 95);
    ASSERT_TRUE(waitUntil([&] { return pictures_.size() >= 8; }));
    EXPECT_EQ(pictures_, QList<QSize>(8, QSize(640, 480)));

    // A quiet picture of the same size fits at the configured quality again.
    pattern.setNoise(0);
    const I420Frame quiet = pattern.render(0);
    EXPECT_EQ(sender.send(quiet, boAtAmy_, "Amelia", boPort()), FrameSender::Result::Sent);
    EXPECT_EQ(sender.lastQuality(), 95);
}
