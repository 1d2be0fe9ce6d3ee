#pragma once

#include "video/I420View.h"

#include <QByteArrayView>

#include <cstdint>
#include <memory>
#include <vector>

struct vpx_codec_ctx;

namespace cfb {

// Decodes VP8 frames as they come off the network into tightly packed I420 planes that are
// reused from frame to frame. Bytes are never trusted: a frame that is garbage, cut short,
// larger than MaxSide, or a delta frame with no sound picture to build on is refused without
// touching the last good picture, and from then on needsKeyFrame() holds until a key frame
// decodes.
class Vp8Decoder {
public:
    enum class Result {
        Picture,      // decoded: picture() is the new one
        NeedKeyFrame, // a delta frame while no sound reference exists; ask the sender for a key frame
        Corrupt,      // not decodable; the reference is given up, ask for a key frame
    };

    Vp8Decoder();
    ~Vp8Decoder();
    Vp8Decoder(const Vp8Decoder&) = delete;
    Vp8Decoder& operator=(const Vp8Decoder&) = delete;

    Result decode(QByteArrayView frame);
    // The receiver saw a frame go missing: the pictures built on it would be wrong.
    void referenceLost() { needsKeyFrame_ = true; }
    bool needsKeyFrame() const { return needsKeyFrame_; }

    // The last picture decoded (invalid before the first); valid until the next decode().
    I420View picture() const;

    static constexpr int MaxSide = 4096;

private:
    bool ensureCodec();
    Result refuse(Result why);

    std::unique_ptr<vpx_codec_ctx> codec_;
    bool codecReady_ = false;
    bool needsKeyFrame_ = true;
    std::vector<uint8_t> planes_;
    int width_ = 0;
    int height_ = 0;
};

} // namespace cfb
