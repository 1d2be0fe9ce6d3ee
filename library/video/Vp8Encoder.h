#pragma once

#include "video/I420View.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct vpx_codec_ctx;
struct vpx_codec_enc_cfg;

namespace cfb {

struct Vp8EncoderSettings {
    int width = 640;
    int height = 480;
    int frameRate = 30;
    int targetKbps = 500;
    // libvpx's speed for real time, 4..16: higher is faster and a little less sharp.
    int cpuUsed = 10;
};

// One encoded picture. The bytes belong to the encoder and stay valid until its next call.
struct Vp8EncodedFrame {
    QByteArrayView bytes;
    bool keyFrame = false;
    bool isValid() const { return !bytes.isEmpty(); }
};

// VP8 for live video: libvpx in real-time mode, one pass, constant bit rate, no look-ahead and
// error resilient (a lost delta frame spoils the pictures up to the next key frame, never the
// decoder). Every picture given gives an encoded frame: the rate controller may not skip any.
// Memory is taken when opened; encoding a frame allocates nothing here.
class Vp8Encoder {
public:
    Vp8Encoder();
    ~Vp8Encoder();
    Vp8Encoder(const Vp8Encoder&) = delete;
    Vp8Encoder& operator=(const Vp8Encoder&) = delete;

    // Sets the encoder up (again) for the size, rate and target; false with errorString() when
    // libvpx refuses them. The first frame after opening is a key frame.
    bool open(const Vp8EncoderSettings& settings);
    void close();
    bool isOpen() const { return open_; }
    QString errorString() const { return error_; }
    const Vp8EncoderSettings& settings() const { return settings_; }

    // Changes the target while encoding, from the next frame on; false when not open or refused.
    bool setTargetBitrate(int kbps);
    // The next frame is encoded as a key frame.
    void requestKeyFrame() { keyFrameRequested_ = true; }

    // Encodes a picture of the size opened with; an invalid frame on any failure.
    Vp8EncodedFrame encode(const I420View& picture);

    static constexpr int MaxSide = 4096;
    static constexpr int MinKbps = 30;
    static constexpr int MaxKbps = 20000;

private:
    bool fail(const QString& text);

    std::unique_ptr<vpx_codec_ctx> codec_;
    std::unique_ptr<vpx_codec_enc_cfg> config_;
    Vp8EncoderSettings settings_;
    std::vector<uint8_t> out_;
    int64_t pts_ = 0;
    bool open_ = false;
    bool keyFrameRequested_ = false;
    QString error_;
};

} // namespace cfb
