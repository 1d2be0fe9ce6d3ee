#include "video/Vp8Decoder.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <cstring>

namespace cfb {

Vp8Decoder::Vp8Decoder() = default;

Vp8Decoder::~Vp8Decoder()
{
    if (codecReady_)
        vpx_codec_destroy(codec_.get());
}

bool Vp8Decoder::ensureCodec()
{
    if (codecReady_)
        return true;
    if (!codec_)
        codec_ = std::make_unique<vpx_codec_ctx_t>();
    vpx_codec_dec_cfg_t cfg{};
    cfg.threads = 1;
    codecReady_ = vpx_codec_dec_init(codec_.get(), vpx_codec_vp8_dx(), &cfg, 0) == VPX_CODEC_OK;
    return codecReady_;
}

Vp8Decoder::Result Vp8Decoder::refuse(Result why)
{
    needsKeyFrame_ = true;
    return why;
}

Vp8Decoder::Result Vp8Decoder::decode(QByteArrayView frame)
{
    // VP8's frame tag is 3 bytes, a key frame's start code and size 7 more.
    if (frame.size() < 3 || frame.size() > 16 * 1024 * 1024)
        return refuse(Result::Corrupt);
    const auto* data = reinterpret_cast<const uint8_t*>(frame.data());
    const bool key = (data[0] & 1) == 0;
    if (key) {
        // Size and start code are checked before libvpx sees the frame, so a forged header
        // cannot make it allocate planes for a huge picture.
        vpx_codec_stream_info_t info{};
        info.sz = sizeof info;
        if (vpx_codec_peek_stream_info(vpx_codec_vp8_dx(), data, unsigned(frame.size()), &info) != VPX_CODEC_OK
            || !info.is_kf || info.w < 1 || info.h < 1 || info.w > unsigned(MaxSide) || info.h > unsigned(MaxSide))
            return refuse(Result::Corrupt);
    } else if (needsKeyFrame_) {
        return Result::NeedKeyFrame;
    }
    if (!ensureCodec())
        return refuse(Result::Corrupt);

    if (vpx_codec_decode(codec_.get(), data, unsigned(frame.size()), nullptr, 0) != VPX_CODEC_OK)
        return refuse(Result::Corrupt);
    int corrupted = 0;
    if (vpx_codec_control(codec_.get(), VP8D_GET_FRAME_CORRUPTED, &corrupted) != VPX_CODEC_OK || corrupted)
        return refuse(Result::Corrupt);
    vpx_codec_iter_t iter = nullptr;
    const vpx_image_t* image = vpx_codec_get_frame(codec_.get(), &iter);
    if (!image || image->fmt != VPX_IMG_FMT_I420 || image->d_w < 1 || image->d_h < 1
        || image->d_w > unsigned(MaxSide) || image->d_h > unsigned(MaxSide))
        return refuse(Result::Corrupt);
    while (vpx_codec_get_frame(codec_.get(), &iter)) {
    }

    // Copied out, so the picture outlives the decoder's own buffers and the next call's failure.
    width_ = int(image->d_w);
    height_ = int(image->d_h);
    const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    const std::size_t luma = std::size_t(width_) * height_, chroma = std::size_t(cw) * ch;
    planes_.resize(luma + 2 * chroma);
    auto copy = [](uint8_t* to, const uint8_t* from, int stride, int w, int h) {
        for (int row = 0; row < h; ++row)
            std::memcpy(to + std::size_t(row) * w, from + std::ptrdiff_t(row) * stride, std::size_t(w));
    };
    copy(planes_.data(), image->planes[VPX_PLANE_Y], image->stride[VPX_PLANE_Y], width_, height_);
    copy(planes_.data() + luma, image->planes[VPX_PLANE_U], image->stride[VPX_PLANE_U], cw, ch);
    copy(planes_.data() + luma + chroma, image->planes[VPX_PLANE_V], image->stride[VPX_PLANE_V], cw, ch);
    if (key)
        needsKeyFrame_ = false;
    return Result::Picture;
}

I420View Vp8Decoder::picture() const
{
    if (width_ < 1 || height_ < 1)
        return {};
    const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    const std::size_t luma = std::size_t(width_) * height_, chroma = std::size_t(cw) * ch;
    return {planes_.data(), planes_.data() + luma, planes_.data() + luma + chroma, width_, cw, cw, width_, height_};
}

} // namespace cfb
