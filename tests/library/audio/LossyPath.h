#pragma once

// A call's packets over a made-up network: speech encoded frame by frame, each packet lost at
// random or delayed by a base plus a random jitter (so some overtake others), then played out
// through a JitterBuffer pulled every 20 ms.
#include "audio/JitterBuffer.h"
#include "audio/OpusEncoder.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace cfb::testing {

struct SentPacket {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    int64_t arrivalMs = 0;
    std::vector<uint8_t> bytes;
};

struct LossyPath {
    double lossPercent = 0;
    int baseDelayMs = 30;
    int jitterMs = 0; // each packet's extra delay, uniform in 0..jitterMs
    unsigned seed = 1;
    uint16_t firstSequence = 0;

    // The packets that arrive, in the order they arrive.
    std::vector<SentPacket> send(const std::vector<int16_t>& speech, OpusEncoder& encoder) const
    {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> chance(0, 100);
        std::uniform_int_distribution<int> jitter(0, std::max(0, jitterMs));
        std::vector<SentPacket> out;
        const int frames = int(speech.size() / VoiceFormat::FrameSamples);
        for (int i = 0; i < frames; ++i) {
            const QByteArrayView packet = encoder.encode(speech.data() + std::size_t(i) * VoiceFormat::FrameSamples);
            const bool lost = chance(random) < lossPercent;
            const int delay = baseDelayMs + jitter(random);
            if (lost || packet.isEmpty())
                continue;
            SentPacket p;
            p.sequence = uint16_t(firstSequence + i);
            p.timestamp = uint32_t(i) * VoiceFormat::FrameSamples;
            p.arrivalMs = int64_t(i) * VoiceFormat::FrameMs + delay;
            p.bytes.assign(packet.begin(), packet.end());
            out.push_back(std::move(p));
        }
        std::stable_sort(out.begin(), out.end(), [](const SentPacket& a, const SentPacket& b) {
            return a.arrivalMs < b.arrivalMs;
        });
        return out;
    }
};

// Pulls a frame every 20 ms (a few ms out of phase with the sender) until frames frames are out,
// pushing each packet once its arrival time has come.
inline std::vector<int16_t> playOut(const std::vector<SentPacket>& packets, JitterBuffer& buffer, int frames)
{
    std::vector<int16_t> out(std::size_t(frames) * VoiceFormat::FrameSamples);
    std::size_t next = 0;
    for (int k = 0; k < frames; ++k) {
        const int64_t now = int64_t(k) * VoiceFormat::FrameMs + 7;
        for (; next < packets.size() && packets[next].arrivalMs <= now; ++next) {
            const SentPacket& p = packets[next];
            buffer.push(p.sequence, p.timestamp, p.arrivalMs,
                QByteArrayView(p.bytes.data(), qsizetype(p.bytes.size())));
        }
        buffer.pull(out.data() + std::size_t(k) * VoiceFormat::FrameSamples, now);
    }
    return out;
}

} // namespace cfb::testing
