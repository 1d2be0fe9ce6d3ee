#pragma once

#include "video/I420Buffer.h"

#include <QByteArrayView>

#include <vector>

namespace cfb::client {

// Encodes JPEG straight from I420 planes, skipping the bitmap: the studio-range samples are
// stretched to the full range JPEG uses in one pass over the planes, then TurboJPEG compresses
// them as they are (4:2:0). Buffers and the encoder are kept from frame to frame.
class PlanarJpegEncoder {
public:
    PlanarJpegEncoder();
    ~PlanarJpegEncoder();
    PlanarJpegEncoder(const PlanarJpegEncoder&) = delete;
    PlanarJpegEncoder& operator=(const PlanarJpegEncoder&) = delete;

    // Takes the frame to encode (copied, range-stretched). False for a frame that is not valid.
    bool setFrame(const I420Frame& frame);
    // The JPEG of the frame at quality 1..100; empty on failure. The bytes belong to the encoder
    // and stay valid until the next call (no copy is made).
    QByteArrayView encode(int quality);

private:
    I420Buffer full_;
    std::vector<unsigned char> jpeg_;
    void* compressor_ = nullptr;
};

} // namespace cfb::client
