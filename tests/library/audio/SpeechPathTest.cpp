// Spoken words through the whole receiving path: Opus, a lossy and jittery network, the jitter
// buffer and the decoder's concealment, judged by how well the heard envelope follows the sent.
#include "LossyPath.h"
#include "SpokenClip.h"

#include "audio/EnvelopeCorrelation.h"
#include "audio/JitterBuffer.h"
#include "audio/OpusDecoder.h"
#include "audio/OpusEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace cfb;
using namespace cfb::testing;

namespace {

constexpr const char* Words = "Every word should come through, even when the network loses a few packets along the way.";

const std::vector<int16_t>& speech()
{
    static const std::vector<int16_t> clip = looped(spokenClip(Words), 600); // 12 s
    return clip;
}

struct LossCase {
    double lossPercent;
    double floor; // the envelope correlation it must reach
};

class SpeechPath : public ::testing::TestWithParam<LossCase> {};

} // namespace

TEST_P(SpeechPath, HeardSpeechFollowsWhatWasSaid)
{
    if (speech().empty())
        GTEST_SKIP() << "espeak-ng has no voice data here";
    const LossCase c = GetParam();
    OpusEncoder encoder;
    ASSERT_TRUE(encoder.open(24, int(c.lossPercent)));
    const LossyPath path{c.lossPercent, 30, 40, 11};
    const std::vector<SentPacket> packets = path.send(speech(), encoder);
    JitterBuffer buffer;
    const int frames = int(speech().size() / VoiceFormat::FrameSamples) + 20;
    const std::vector<int16_t> heard = playOut(packets, buffer, frames);

    const EnvelopeMatch match = EnvelopeMatch::of(speech(), heard, VoiceFormat::SampleRate);
    const JitterBuffer::Counters& n = buffer.counters();
    RecordProperty("envelope_correlation", std::to_string(match.correlation));
    EXPECT_GT(match.correlation, c.floor) << "lag " << match.lagMs << " ms";
    // Speech comes out behind the network's delay plus the buffer's, not seconds later.
    EXPECT_GE(match.lagMs, 30);
    EXPECT_LE(match.lagMs, 200);
    EXPECT_EQ(n.refused + n.duplicate, 0);
    if (c.lossPercent > 0) {
        EXPECT_GT(n.recovered, 0) << "no lost frame was rebuilt from forward error correction";
    }
    // Concealment fills the losses and the jitter's late packets, not the whole call.
    EXPECT_LT(n.concealed + n.recovered, frames * (c.lossPercent + 8) / 100);
}

INSTANTIATE_TEST_SUITE_P(Loss, SpeechPath, ::testing::Values(LossCase{0, 0.9}, LossCase{5, 0.85}, LossCase{10, 0.8}),
    [](const auto& info) { return "Percent" + std::to_string(int(info.param.lossPercent)); });

TEST(OpusCall, LostFrameIsRebuiltFromTheNextPacketBetterThanConcealed)
{
    if (speech().empty())
        GTEST_SKIP() << "espeak-ng has no voice data here";
    OpusEncoder encoder;
    ASSERT_TRUE(encoder.open(24, 20));
    std::vector<std::vector<uint8_t>> packets;
    for (std::size_t at = 0; at + VoiceFormat::FrameSamples <= speech().size(); at += VoiceFormat::FrameSamples) {
        const QByteArrayView p = encoder.encode(speech().data() + at);
        ASSERT_FALSE(p.isEmpty());
        packets.emplace_back(p.begin(), p.end());
    }
    auto view = [&](std::size_t i) { return QByteArrayView(packets[i].data(), qsizetype(packets[i].size())); };

    // Three decoders on the same packets: one gets all, one loses every tenth frame and rebuilds
    // it from the next packet, one loses the same frames and conceals them.
    OpusDecoder whole, rebuilding, concealing;
    ASSERT_TRUE(whole.open() && rebuilding.open() && concealing.open());
    std::vector<int16_t> a(VoiceFormat::FrameSamples), b(VoiceFormat::FrameSamples), c(VoiceFormat::FrameSamples);
    double signal = 0, fecError = 0, plcError = 0;
    int rebuilt = 0;
    for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
        EXPECT_EQ(whole.decode(view(i), a.data()), OpusDecoder::Result::Decoded);
        if (i % 10 == 5) {
            rebuilt += rebuilding.recover(view(i + 1), b.data()) == OpusDecoder::Result::Recovered;
            concealing.conceal(c.data());
            for (int k = 0; k < VoiceFormat::FrameSamples; ++k) {
                signal += double(a[k]) * a[k];
                fecError += double(a[k] - b[k]) * (a[k] - b[k]);
                plcError += double(a[k] - c[k]) * (a[k] - c[k]);
            }
        } else {
            rebuilding.decode(view(i), b.data());
            concealing.decode(view(i), c.data());
        }
    }
    EXPECT_GT(rebuilt, 0);
    const double fecSnr = 10 * std::log10(signal / fecError), plcSnr = 10 * std::log10(signal / plcError);
    EXPECT_GT(fecSnr, plcSnr + 3) << "FEC " << fecSnr << " dB, concealment " << plcSnr << " dB";
}

TEST(OpusCall, TargetRateChangesWhileEncoding)
{
    if (speech().empty())
        GTEST_SKIP() << "espeak-ng has no voice data here";
    OpusEncoder encoder;
    ASSERT_TRUE(encoder.open(16, 0));
    OpusDecoder decoder;
    ASSERT_TRUE(decoder.open());
    std::vector<int16_t> out(VoiceFormat::FrameSamples);
    auto bytesFor = [&](int frames) {
        double total = 0;
        for (int i = 0; i < frames; ++i) {
            const QByteArrayView p = encoder.encode(speech().data() + std::size_t(i) * VoiceFormat::FrameSamples);
            total += double(p.size());
            EXPECT_EQ(decoder.decode(p, out.data()), OpusDecoder::Result::Decoded);
        }
        return total / frames;
    };
    const double low = bytesFor(200);
    ASSERT_TRUE(encoder.setTargetBitrate(40));
    EXPECT_EQ(encoder.targetKbps(), OpusEncoder::MaxKbps);
    const double high = bytesFor(200);
    EXPECT_GT(high, low * 1.4) << low << " bytes a frame at 16 kbit/s, " << high << " at 32";
    EXPECT_LE(low * 8 * 50 / 1000, 16 * 1.3);
}

TEST(OpusCall, DecoderSurvivesGarbageAndDecodesAfterwards)
{
    OpusEncoder encoder;
    OpusDecoder decoder;
    ASSERT_TRUE(encoder.open() && decoder.open());
    std::mt19937 random(3);
    std::vector<uint8_t> junk(3000);
    std::vector<int16_t> out(VoiceFormat::FrameSamples);
    for (int i = 0; i < 5000; ++i) {
        const int size = int(random() % junk.size());
        for (int k = 0; k < size; ++k)
            junk[std::size_t(k)] = uint8_t(random());
        const QByteArrayView bytes(junk.data(), size);
        decoder.decode(bytes, out.data());
        decoder.recover(bytes, out.data());
    }
    EXPECT_GT(decoder.refusedPackets(), 0);
    EXPECT_FALSE(OpusDecoder::isCallPacket({}));
    // Code 3 with two 20 ms frames: 40 ms, not a call's packet.
    const uint8_t twoFrames[] = {uint8_t(9 << 3 | 3), 2, 0, 0};
    EXPECT_FALSE(OpusDecoder::isCallPacket(QByteArrayView(twoFrames, 4)));
    std::vector<int16_t> tone(VoiceFormat::FrameSamples);
    for (int k = 0; k < VoiceFormat::FrameSamples; ++k)
        tone[std::size_t(k)] = int16_t(8000 * std::sin(k * 0.05));
    EXPECT_EQ(decoder.decode(encoder.encode(tone.data()), out.data()), OpusDecoder::Result::Decoded);
}
