#include "video/I420Buffer.h"

namespace cfb::client {

bool I420Buffer::resize(int width, int height)
{
    if (width < 1 || height < 1 || width > MaxSide || height > MaxSide) {
        width_ = height_ = 0;
        planes_.clear();
        return false;
    }
    width_ = width;
    height_ = height;
    planes_.resize(byteCount()); // keeps its capacity when shrinking
    return true;
}

I420Frame I420Buffer::frame(qint64 timestampUs) const
{
    I420Frame f;
    if (width_ < 1)
        return f;
    f.y = y();
    f.u = u();
    f.v = v();
    f.strideY = width_;
    f.strideU = f.strideV = chromaWidth();
    f.width = width_;
    f.height = height_;
    f.timestampUs = timestampUs;
    return f;
}

} // namespace cfb::client
