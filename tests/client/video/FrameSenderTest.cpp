// The outgoing video path against the real service: a test pattern captured, converted, encoded
// and sent by one library object to another over loopback, which sees JPEG pictures of the
// configured size; frames too big for a datagram still arrive, encoded smaller.
#include "video/FrameSender.h"
#include "video/MainVideo.h"
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
    // As MainVideo sets it up for a capture at 30 a second with the format never set.
    static void asForVp8(FrameSender& sender)
    {
        sender.setVp8(true);
        sender.setCaptureRate(30);
        sender.setJpegFormat({160, 120}, 5);
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

TEST_F(FrameSenderTest, ANewBuddyGetsVp8AndOneThatNeverSaidVp8GetsJpegAtTheSettingsFormat)
{
    // 640x480 at 30 a second, as the capture runs when the format was never set.
    PatternSource pattern({640, 480}, 30);
    pattern.setHandle("Amelia");
    FrameSender sender;
    asForVp8(sender);
    // Once the session is up both clients have said VP8 (the first frames may go as JPEG).
    QList<FrameSender::Result> results;
    ASSERT_TRUE(waitUntil([&] {
        stream(pattern, sender, int(results.size()) + 3, results);
        return amy_->takesVp8(*boAtAmy_);
    }, 10000)) << "Bonnie's client never said VP8";
    // From then on VP8 pictures of the captured size, and no JPEG.
    pictures_.clear();
    jpegs_ = 0;
    results.clear();
    stream(pattern, sender, 15, results);
    EXPECT_EQ(results, QList<FrameSender::Result>(15, FrameSender::Result::Sent));
    ASSERT_TRUE(waitUntil([&] { return pictures_.size() >= 10; })) << pictures_.size() << " VP8 pictures";
    EXPECT_EQ(pictures_, QList<QSize>(pictures_.size(), QSize(640, 480)));
    EXPECT_EQ(sender.lastCodec(), "VP8");
    EXPECT_EQ(jpegs_, 0) << "a buddy that takes VP8 got JPEG";
    EXPECT_TRUE(amy_->videoStatus(*boAtAmy_).startsWith("VP8, ")) << qPrintable(amy_->videoStatus(*boAtAmy_));
    EXPECT_TRUE(MainVideo::codecText(boAtAmy_, "Amelia").startsWith("VP8, "));
}

namespace {

// Bonnie's client says nothing of codecs, as one from before them.
class OlderBuddyTest : public FrameSenderTest {
protected:
    OlderBuddyTest() { bonnieSaysNoCodecs_ = true; }
};

} // namespace

TEST_F(OlderBuddyTest, GetsJpegAtTheSettingsSizeAndRateWhileTheCaptureRunsForVp8)
{
    PatternSource pattern({640, 480}, 30);
    pattern.setHandle("Amelia");
    FrameSender sender;
    asForVp8(sender);
    QList<FrameSender::Result> results;
    stream(pattern, sender, 30, results);
    ASSERT_TRUE(waitUntil([&] { return jpegs_ >= 3; })) << "JPEG never came";
    EXPECT_FALSE(amy_->takesVp8(*boAtAmy_));
    EXPECT_EQ(sender.lastCodec(), "JPEG");
    EXPECT_EQ(pictures_, QList<QSize>(pictures_.size(), QSize(160, 120)));
    EXPECT_EQ(jpegs_, pictures_.size());
    // About one in six frames of the 30 a second went, as 5 a second.
    const qsizetype sent = results.count(FrameSender::Result::Sent);
    EXPECT_GE(results.count(FrameSender::Result::Skipped), 3 * sent) << sent << " of " << results.size() << " sent";
    EXPECT_GE(sent, 3);
}
