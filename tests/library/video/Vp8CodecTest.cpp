// VP8 from I420 planes to bytes and back, as live video uses it: the pictures survive at the
// target rate, the target can be changed while encoding, key frames come when asked for, and the
// decoder refuses what the network can hand it (garbage, cut frames, deltas with no key frame).
#include "video/Vp8Decoder.h"
#include "video/Vp8Encoder.h"

#include "MovingPattern.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <numeric>
#include <vector>

using namespace cfb;

namespace {

constexpr int W = 640, H = 480, Fps = 30;

void openEncoder(Vp8Encoder& encoder, int kbps)
{
    ASSERT_TRUE(encoder.open({W, H, Fps, kbps, 10})) << qPrintable(encoder.errorString());
}

double mean(const std::vector<qsizetype>& sizes, std::size_t from, std::size_t to)
{
    return std::accumulate(sizes.begin() + from, sizes.begin() + to, 0.0) / double(to - from);
}

} // namespace

TEST(Vp8Codec, RoundTripKeepsThePictureAtTheTargetRate)
{
    Vp8Encoder encoder;
    ASSERT_TRUE(encoder.open({W, H, Fps, 500, 10})) << qPrintable(encoder.errorString());
    Vp8Decoder decoder;
    MovingPattern pattern(W, H);
    constexpr int Frames = 90;
    qsizetype total = 0;
    double worst = 99;
    for (int i = 0; i < Frames; ++i) {
        const I420View source = pattern.frame(i);
        const Vp8EncodedFrame encoded = encoder.encode(source);
        ASSERT_TRUE(encoded.isValid()) << "frame " << i;
        EXPECT_EQ(encoded.keyFrame, i == 0) << "frame " << i;
        total += encoded.bytes.size();
        ASSERT_EQ(decoder.decode(encoded.bytes), Vp8Decoder::Result::Picture) << "frame " << i;
        const I420View picture = decoder.picture();
        ASSERT_EQ(picture.width, W);
        ASSERT_EQ(picture.height, H);
        if (i >= 10)
            worst = std::min(worst, lumaPsnr(source, picture));
    }
    EXPECT_FALSE(decoder.needsKeyFrame());
    EXPECT_GT(worst, 35.0); // about 39 dB here
    const double kbps = total * 8.0 / (Frames / double(Fps)) / 1000.0;
    EXPECT_LT(kbps, 500 * 1.3);
    EXPECT_GT(kbps, 500 * 0.3);

    // A picture of another size than the encoder's is refused, not scaled or read past.
    MovingPattern small(320, 240);
    EXPECT_FALSE(encoder.encode(small.frame(0)).isValid());
}

TEST(Vp8Codec, LowerTargetWhileEncodingGivesSmallerFrames)
{
    Vp8Encoder encoder;
    openEncoder(encoder, 1200);
    MovingPattern pattern(W, H);
    std::vector<qsizetype> sizes;
    for (int i = 0; i < 120; ++i) {
        if (i == 60) {
            ASSERT_TRUE(encoder.setTargetBitrate(250));
        }
        const Vp8EncodedFrame encoded = encoder.encode(pattern.frame(i));
        ASSERT_TRUE(encoded.isValid());
        sizes.push_back(encoded.bytes.size());
    }
    EXPECT_EQ(encoder.settings().targetKbps, 250);
    // Settled stretches on both sides of the change.
    EXPECT_LT(mean(sizes, 90, 120), 0.5 * mean(sizes, 30, 60));
    EXPECT_FALSE(encoder.setTargetBitrate(0));
    EXPECT_FALSE(Vp8Encoder().setTargetBitrate(500));
}

TEST(Vp8Codec, KeyFrameOnRequestLetsALateDecoderIn)
{
    Vp8Encoder encoder;
    openEncoder(encoder, 500);
    MovingPattern pattern(W, H);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(encoder.encode(pattern.frame(i)).isValid());

    // A receiver that joins late gets delta frames first: it asks for a key frame.
    Vp8Decoder late;
    EXPECT_TRUE(late.needsKeyFrame());
    const Vp8EncodedFrame delta = encoder.encode(pattern.frame(20));
    ASSERT_FALSE(delta.keyFrame);
    EXPECT_EQ(late.decode(delta.bytes), Vp8Decoder::Result::NeedKeyFrame);
    EXPECT_FALSE(late.picture().isValid());

    encoder.requestKeyFrame();
    const Vp8EncodedFrame key = encoder.encode(pattern.frame(21));
    EXPECT_TRUE(key.keyFrame);
    EXPECT_EQ(late.decode(key.bytes), Vp8Decoder::Result::Picture);
    EXPECT_FALSE(late.needsKeyFrame());
    const Vp8EncodedFrame next = encoder.encode(pattern.frame(22));
    EXPECT_FALSE(next.keyFrame);
    EXPECT_EQ(late.decode(next.bytes), Vp8Decoder::Result::Picture);
    EXPECT_GT(lumaPsnr(pattern.frame(22), late.picture()), 30.0);

    // A frame that went missing on the way: deltas wait for the next key frame.
    late.referenceLost();
    EXPECT_EQ(late.decode(encoder.encode(pattern.frame(23)).bytes), Vp8Decoder::Result::NeedKeyFrame);
}

TEST(Vp8Codec, DecoderRefusesBadBytesAndRecoversOnAKeyFrame)
{
    Vp8Encoder encoder;
    openEncoder(encoder, 500);
    MovingPattern pattern(W, H);
    const Vp8EncodedFrame first = encoder.encode(pattern.frame(0));
    ASSERT_TRUE(first.keyFrame);
    const QByteArray key = first.bytes.toByteArray();
    const QByteArray delta = encoder.encode(pattern.frame(1)).bytes.toByteArray();

    Vp8Decoder decoder;
    ASSERT_EQ(decoder.decode(key), Vp8Decoder::Result::Picture);
    const QByteArray good(reinterpret_cast<const char*>(decoder.picture().y), W * H);

    QByteArray garbage(3000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) >> 3);
    QByteArray hugeKey = key.left(10);
    hugeKey[6] = char(0xff), hugeKey[7] = char(0x3f), hugeKey[8] = char(0xff), hugeKey[9] = char(0x3f);
    QByteArray badStart = key;
    badStart[3] = 0;
    const std::vector<std::pair<const char*, QByteArray>> bad = {
        {"empty", QByteArray()},
        {"two bytes", key.left(2)},
        {"key frame header only", key.left(10)},
        {"key frame cut in half", key.left(key.size() / 2)},
        {"key frame claiming 16383x16383", hugeKey + key.mid(10)},
        {"key frame with a wrong start code", badStart},
        {"garbage", garbage},
    };
    for (const auto& [what, bytes] : bad) {
        EXPECT_EQ(decoder.decode(bytes), Vp8Decoder::Result::Corrupt) << what;
        EXPECT_TRUE(decoder.needsKeyFrame()) << what;
        // The last good picture stays as it was.
        ASSERT_TRUE(decoder.picture().isValid()) << what;
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(decoder.picture().y), W * H), good) << what;
        // A delta frame after it has nothing sound to build on.
        EXPECT_EQ(decoder.decode(delta), Vp8Decoder::Result::NeedKeyFrame) << what;
        ASSERT_EQ(decoder.decode(key), Vp8Decoder::Result::Picture) << what;
        EXPECT_FALSE(decoder.needsKeyFrame()) << what;
    }
    EXPECT_EQ(decoder.decode(delta), Vp8Decoder::Result::Picture);
}
