// The jitter buffer on packets in orders and at times a network produces, and on ones only a
// broken or hostile sender would.
#include "audio/JitterBuffer.h"
#include "audio/OpusDecoder.h"
#include "audio/OpusEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace cfb;

namespace {

constexpr int N = VoiceFormat::FrameSamples;

// Frames of a voice-like sound (a gliding tone with a syllable rhythm), encoded once.
struct Stream {
    std::vector<std::vector<uint8_t>> packets;
    explicit Stream(int frames)
    {
        OpusEncoder encoder;
        encoder.open(24, 10);
        std::vector<int16_t> frame(N);
        double phase = 0;
        for (int f = 0; f < frames; ++f) {
            for (int k = 0; k < N; ++k) {
                const double t = (f * N + k) / 48000.0;
                phase += 2 * M_PI * (180 + 40 * std::sin(t * 3)) / 48000;
                frame[std::size_t(k)] = int16_t(9000 * std::sin(phase) * (0.6 + 0.4 * std::sin(t * 2 * M_PI * 4)));
            }
            const QByteArrayView p = encoder.encode(frame.data());
            packets.emplace_back(p.begin(), p.end());
        }
    }
    QByteArrayView operator[](std::size_t i) const
    {
        return QByteArrayView(packets[i].data(), qsizetype(packets[i].size()));
    }
};

const Stream& stream()
{
    static const Stream s(1500);
    return s;
}

bool push(JitterBuffer& b, int i, int64_t arrivalMs, uint16_t first = 0)
{
    return b.push(uint16_t(first + i), uint32_t(i * N), arrivalMs, stream()[std::size_t(i)]);
}

} // namespace

TEST(JitterBuffer, PlaysReorderedPacketsInOrderAndDropsLateAndDuplicates)
{
    // What a decoder makes of the frames in order is what the buffer must play, sample for sample.
    OpusDecoder reference;
    ASSERT_TRUE(reference.open());
    std::vector<int16_t> expected(N), got(N);

    JitterBuffer buffer;
    // Near 65535, so the numbering wraps while playing.
    const uint16_t first = 65530;
    const int order[] = {0, 2, 1, 3, 5, 4, 4, 6, 7, 9, 8, 10, 11};
    int64_t now = 0;
    for (int i : order)
        push(buffer, i, now += 20, first);
    EXPECT_EQ(buffer.counters().duplicate, 1);
    for (int i = 0; i < 12; ++i, now += 20) {
        ASSERT_EQ(buffer.pull(got.data(), now), JitterBuffer::Frame::Decoded) << "frame " << i;
        reference.decode(stream()[std::size_t(i)], expected.data());
        ASSERT_EQ(got, expected) << "frame " << i;
    }
    EXPECT_FALSE(push(buffer, 3, now, first)) << "frame 3 was played already";
    EXPECT_EQ(buffer.counters().late, 1);
    EXPECT_EQ(buffer.counters().decoded, 12);
}

TEST(JitterBuffer, MissingFramesAreRebuiltOrConcealedAndPlaybackGoesOn)
{
    JitterBuffer buffer;
    std::vector<int16_t> out(N);
    std::vector<JitterBuffer::Frame> kinds;
    for (int i = 0; i < 12; ++i)
        if (i != 4 && i != 7 && i != 8)
            push(buffer, i, 20 * i);
    for (int i = 0; i < 12; ++i)
        kinds.push_back(buffer.pull(out.data(), 300 + 20 * i));
    using F = JitterBuffer::Frame;
    EXPECT_EQ(kinds[4], F::Recovered) << "5 was there to rebuild 4 from";
    EXPECT_EQ(kinds[7], F::Concealed) << "8 was missing too";
    EXPECT_EQ(kinds[8], F::Recovered) << "9 was there to rebuild 8 from";
    EXPECT_EQ(kinds[11], F::Decoded);

    // Nothing more comes: the buffer conceals for a while, then goes quiet, and starts again
    // with the next packets.
    int concealed = 0, silent = 0;
    for (int i = 0; i < 100; ++i) {
        const F kind = buffer.pull(out.data(), 540 + 20 * i);
        concealed += kind == F::Concealed;
        silent += kind == F::Silence;
    }
    EXPECT_GT(concealed, 0);
    EXPECT_GT(silent, 0);
    int decoded = 0;
    for (int i = 500; i < 520; ++i) {
        push(buffer, i, 3000 + 20 * (i - 500));
        decoded += buffer.pull(out.data(), 3005 + 20 * (i - 500)) == F::Decoded;
    }
    EXPECT_GE(decoded, 16);
}

TEST(JitterBuffer, DelayGrowsWithJitterAndShrinksSlowlyAfter)
{
    JitterBuffer buffer;
    std::mt19937 random(5);
    std::vector<int16_t> out(N);
    // Packet i is sent at 20 i ms and takes 30 ms, plus up to jitter ms in the second phase.
    std::vector<std::pair<int64_t, int>> arrivals;
    for (int i = 0; i < 1500; ++i) {
        const int jitter = i >= 250 && i < 400 ? int(random() % 120) : 0;
        arrivals.emplace_back(20 * i + 30 + jitter, i);
    }
    std::sort(arrivals.begin(), arrivals.end());
    std::size_t next = 0;
    int steadyTarget = 0, jitteryTarget = 0, soonAfter = 0, concealedInJitter = 0;
    for (int k = 0; k < 1500; ++k) {
        const int64_t now = 20 * k + 3;
        for (; next < arrivals.size() && arrivals[next].first <= now; ++next)
            push(buffer, arrivals[next].second, arrivals[next].first);
        const int concealedBefore = buffer.counters().concealed;
        buffer.pull(out.data(), now);
        if (k == 240)
            steadyTarget = buffer.targetDelayMs();
        if (k >= 300 && k < 400) {
            jitteryTarget = std::max(jitteryTarget, buffer.targetDelayMs());
            concealedInJitter += buffer.counters().concealed - concealedBefore;
        }
        if (k == 450)
            soonAfter = buffer.targetDelayMs();
    }
    EXPECT_LE(steadyTarget, 40);
    EXPECT_GE(jitteryTarget, 100);
    EXPECT_LT(concealedInJitter, 10) << "the delay did not keep up with the jitter";
    EXPECT_GT(soonAfter, steadyTarget + 40) << "shrank at once";
    EXPECT_LE(buffer.targetDelayMs(), 40) << "never shrank";
    EXPECT_LE(buffer.bufferedMs(), 80) << "the delay held did not follow the target down";
    EXPECT_GT(buffer.counters().skipped, 0);
}

TEST(JitterBuffer, FollowsASenderThatRestartedItsNumberingButNotAStrayPacket)
{
    JitterBuffer buffer;
    std::vector<int16_t> out(N);
    int64_t now = 0;
    for (int i = 0; i < 20; ++i, now += 20) {
        push(buffer, i, now, 100);
        buffer.pull(out.data(), now);
    }
    // One packet numbered far away, with a wild timestamp: dropped, playback unmoved.
    EXPECT_FALSE(buffer.push(30000, 0x80000000u, now, stream()[20]));
    for (int i = 20; i < 40; ++i, now += 20) {
        push(buffer, i, now, 100);
        buffer.pull(out.data(), now);
    }
    EXPECT_EQ(buffer.counters().restarts, 0);
    EXPECT_LE(buffer.targetDelayMs(), 40);
    // The sender starts over somewhere else and stays there.
    int decodedAfter = 0;
    for (int i = 40; i < 80; ++i, now += 20) {
        push(buffer, i, now, 41000);
        decodedAfter += buffer.pull(out.data(), now) == JitterBuffer::Frame::Decoded;
    }
    EXPECT_EQ(buffer.counters().restarts, 1);
    EXPECT_GE(decodedAfter, 30);
}

TEST(JitterBuffer, HostileInputStaysBounded)
{
    JitterBuffer buffer;
    std::mt19937 random(9);
    std::vector<int16_t> out(N);
    std::vector<uint8_t> junk(2000);
    int64_t now = 0;
    for (int round = 0; round < 20000; ++round) {
        const uint16_t sequence = uint16_t(random());
        const uint32_t timestamp = uint32_t(random());
        switch (random() % 4) {
        case 0: { // garbage bytes, any size
            const int size = int(random() % junk.size());
            for (int k = 0; k < size; ++k)
                junk[std::size_t(k)] = uint8_t(random());
            buffer.push(sequence, timestamp, now, QByteArrayView(junk.data(), size));
            break;
        }
        case 1: // real packets at random numbers and times
            buffer.push(sequence, timestamp, now, stream()[random() % 100]);
            break;
        case 2: // near the last ones, timestamps running backwards
            buffer.push(uint16_t(round), uint32_t(-round * N), now, stream()[std::size_t(round % 100)]);
            break;
        default:
            buffer.pull(out.data(), now);
            now += 20;
        }
        ASSERT_LE(buffer.bufferedMs(), JitterBuffer::Capacity * VoiceFormat::FrameMs);
        ASSERT_LE(buffer.targetDelayMs(), JitterBuffer::MaxDelayMs);
    }
    EXPECT_GT(buffer.counters().refused, 0);

    // Timestamps running backwards on an otherwise steady stream are no jitter.
    JitterBuffer steady;
    for (int i = 0; i < 300; ++i) {
        steady.push(uint16_t(i), uint32_t(-i * 7 * N), 20 * i, stream()[std::size_t(i)]);
        steady.pull(out.data(), 20 * i + 5);
    }
    EXPECT_LE(steady.targetDelayMs(), 40);
    EXPECT_GE(steady.counters().decoded, 290);
}
