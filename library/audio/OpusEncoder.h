#pragma once

#include "audio/VoiceFormat.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

namespace cfb {

// Opus for calls: 48 kHz mono speech in 20 ms frames, variable rate around a target of 16 to
// 32 kbit/s, in-band forward error correction on (each packet also carries a coarse copy of the
// frame before it, sized by the loss the path is expected to have), no discontinuous
// transmission (every frame gives a packet, so the receiver's clock never starves). The state is
// made when opened; encoding a frame allocates nothing.
class OpusEncoder {
public:
    OpusEncoder() = default;
    ~OpusEncoder();
    OpusEncoder(const OpusEncoder&) = delete;
    OpusEncoder& operator=(const OpusEncoder&) = delete;

    // Sets the encoder up (again); false with errorString() when libopus refuses.
    bool open(int targetKbps = DefaultKbps, int expectedLossPercent = 0);
    void close();
    bool isOpen() const { return open_; }
    QString errorString() const { return error_; }

    // From the next frame on. The target is kept within MinKbps..MaxKbps and the loss within
    // 0..100; false when not open.
    bool setTargetBitrate(int kbps);
    bool setExpectedLoss(int percent);
    int targetKbps() const { return kbps_; }
    int expectedLossPercent() const { return lossPercent_; }

    // Encodes one frame of VoiceFormat::FrameSamples samples. The bytes belong to the encoder and
    // stay valid until its next call; empty on failure.
    QByteArrayView encode(const int16_t* frame);

    static constexpr int MinKbps = 16;
    static constexpr int MaxKbps = 32;
    static constexpr int DefaultKbps = 24;
    // The most one 20 ms Opus packet can hold.
    static constexpr int MaxPacketBytes = 1275;

private:
    bool fail(const QString& text);

    // libopus's state, in memory of our own (so that its global type name stays out of here).
    std::vector<unsigned char> state_;
    bool open_ = false;
    std::vector<uint8_t> out_ = std::vector<uint8_t>(MaxPacketBytes);
    int kbps_ = DefaultKbps;
    int lossPercent_ = 0;
    QString error_;
};

} // namespace cfb
