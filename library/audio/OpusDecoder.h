#pragma once

#include "audio/VoiceFormat.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

namespace cfb {

// Decodes the packets of an OpusEncoder, one 20 ms frame of VoiceFormat::FrameSamples samples
// each, and fills in for the ones that never came: from the coarse copy the next packet carries
// (in-band forward error correction), or by Opus's loss concealment, which carries the voice on
// for a few frames and fades it out. Whatever it is given, each call writes a whole frame. The
// state is made when opened; decoding allocates nothing.
class OpusDecoder {
public:
    enum class Result {
        Decoded,   // the packet's own frame
        Recovered, // a lost frame, from the forward error correction of the packet after it
        Concealed, // a lost frame, made up; also for a packet that is not a 20 ms Opus packet
    };

    OpusDecoder() = default;
    ~OpusDecoder();
    OpusDecoder(const OpusDecoder&) = delete;
    OpusDecoder& operator=(const OpusDecoder&) = delete;

    bool open();
    void close();
    bool isOpen() const { return open_; }
    QString errorString() const { return error_; }

    Result decode(QByteArrayView packet, int16_t* frame);
    // The frame before nextPacket, which was lost.
    Result recover(QByteArrayView nextPacket, int16_t* frame);
    void conceal(int16_t* frame);

    // Packets refused as malformed or of another duration since opened.
    int refusedPackets() const { return refused_; }

    // True for one 20 ms, 48 kHz Opus packet of a size a call may carry.
    static bool isCallPacket(QByteArrayView packet);

private:
    // libopus's state, in memory of our own (so that its global type name stays out of here).
    std::vector<unsigned char> state_;
    bool open_ = false;
    int refused_ = 0;
    QString error_;
};

} // namespace cfb
