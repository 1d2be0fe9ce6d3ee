#include "video/Vp8Encoder.h"

#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

#include <algorithm>
#include <cstring>

namespace cfb {

Vp8Encoder::Vp8Encoder() = default;

Vp8Encoder::~Vp8Encoder()
{
    close();
}

bool Vp8Encoder::fail(const QString& text)
{
    error_ = text;
    if (codec_ && open_)
        error_ += QStringLiteral(": ") + QString::fromUtf8(vpx_codec_error(codec_.get()));
    close();
    return false;
}

void Vp8Encoder::close()
{
    if (open_)
        vpx_codec_destroy(codec_.get());
    open_ = false;
}

bool Vp8Encoder::open(const Vp8EncoderSettings& settings)
{
    close();
    error_.clear();
    if (settings.width < 16 || settings.height < 16 || settings.width > MaxSide || settings.height > MaxSide)
        return fail(QStringLiteral("VP8 picture size out of range"));
    if (settings.frameRate < 1 || settings.frameRate > 120)
        return fail(QStringLiteral("VP8 frame rate out of range"));
    if (settings.targetKbps < MinKbps || settings.targetKbps > MaxKbps)
        return fail(QStringLiteral("VP8 target bit rate out of range"));
    if (!codec_)
        codec_ = std::make_unique<vpx_codec_ctx_t>();
    if (!config_)
        config_ = std::make_unique<vpx_codec_enc_cfg_t>();
    vpx_codec_enc_cfg_t& cfg = *config_;
    if (vpx_codec_enc_config_default(vpx_codec_vp8_cx(), &cfg, 0) != VPX_CODEC_OK)
        return fail(QStringLiteral("VP8 encoder has no default settings"));
    cfg.g_w = unsigned(settings.width);
    cfg.g_h = unsigned(settings.height);
    cfg.g_timebase = {1, settings.frameRate};
    cfg.g_threads = 1;
    cfg.g_pass = VPX_RC_ONE_PASS;
    cfg.g_lag_in_frames = 0;
    cfg.g_error_resilient = VPX_ERROR_RESILIENT_DEFAULT;
    cfg.rc_end_usage = VPX_CBR;
    cfg.rc_target_bitrate = unsigned(settings.targetKbps);
    cfg.rc_dropframe_thresh = 0;
    cfg.rc_resize_allowed = 0;
    cfg.rc_min_quantizer = 2;
    // Up to the coarsest quantizer, so the encoder can keep to a low target the path sets; the
    // sender steps the picture size and rate down well before pictures get that coarse.
    cfg.rc_max_quantizer = 63;
    cfg.rc_undershoot_pct = 100;
    cfg.rc_overshoot_pct = 15;
    cfg.rc_buf_initial_sz = 500;
    cfg.rc_buf_optimal_sz = 600;
    cfg.rc_buf_sz = 1000;
    // Key frames come when asked for (a receiver that lost one) and otherwise every ten seconds.
    cfg.kf_mode = VPX_KF_AUTO;
    cfg.kf_min_dist = 0;
    cfg.kf_max_dist = unsigned(settings.frameRate * 10);

    if (vpx_codec_enc_init(codec_.get(), vpx_codec_vp8_cx(), &cfg, 0) != VPX_CODEC_OK)
        return fail(QStringLiteral("VP8 encoder refused its settings"));
    open_ = true;
    const int speed = std::clamp(settings.cpuUsed, 4, 16);
    if (vpx_codec_control(codec_.get(), VP8E_SET_CPUUSED, speed) != VPX_CODEC_OK
        || vpx_codec_control(codec_.get(), VP8E_SET_NOISE_SENSITIVITY, 0) != VPX_CODEC_OK
        || vpx_codec_control(codec_.get(), VP8E_SET_STATIC_THRESHOLD, 1) != VPX_CODEC_OK
        || vpx_codec_control(codec_.get(), VP8E_SET_TOKEN_PARTITIONS, int(VP8_ONE_TOKENPARTITION)) != VPX_CODEC_OK
        // A key frame may take at most three frames' share of the rate, so it does not burst the path.
        || vpx_codec_control(codec_.get(), VP8E_SET_MAX_INTRA_BITRATE_PCT, 300) != VPX_CODEC_OK)
        return fail(QStringLiteral("VP8 encoder refused a real-time control"));

    settings_ = settings;
    settings_.cpuUsed = speed;
    pts_ = 0;
    keyFrameRequested_ = false;
    // A frame never exceeds the raw picture in practice; out_ grows (once) if one ever does.
    out_.reserve(std::size_t(settings.width) * std::size_t(settings.height) * 3 / 2);
    return true;
}

bool Vp8Encoder::setTargetBitrate(int kbps)
{
    if (!open_ || kbps < MinKbps || kbps > MaxKbps)
        return false;
    if (unsigned(kbps) == config_->rc_target_bitrate)
        return true;
    const unsigned before = config_->rc_target_bitrate;
    config_->rc_target_bitrate = unsigned(kbps);
    if (vpx_codec_enc_config_set(codec_.get(), config_.get()) != VPX_CODEC_OK) {
        config_->rc_target_bitrate = before;
        return false;
    }
    settings_.targetKbps = kbps;
    return true;
}

Vp8EncodedFrame Vp8Encoder::encode(const I420View& picture)
{
    if (!open_ || !picture.isValid() || picture.width != settings_.width || picture.height != settings_.height)
        return {};

    // The image only points at the caller's planes; nothing is copied.
    vpx_image_t image;
    std::memset(&image, 0, sizeof image);
    if (!vpx_img_wrap(&image, VPX_IMG_FMT_I420, unsigned(picture.width), unsigned(picture.height), 1,
            const_cast<uint8_t*>(picture.y)))
        return {};
    image.planes[VPX_PLANE_Y] = const_cast<uint8_t*>(picture.y);
    image.planes[VPX_PLANE_U] = const_cast<uint8_t*>(picture.u);
    image.planes[VPX_PLANE_V] = const_cast<uint8_t*>(picture.v);
    image.stride[VPX_PLANE_Y] = picture.strideY;
    image.stride[VPX_PLANE_U] = picture.strideU;
    image.stride[VPX_PLANE_V] = picture.strideV;

    const vpx_enc_frame_flags_t flags = keyFrameRequested_ ? VPX_EFLAG_FORCE_KF : 0;
    if (vpx_codec_encode(codec_.get(), &image, pts_, 1, flags, VPX_DL_REALTIME) != VPX_CODEC_OK)
        return {};
    ++pts_;
    keyFrameRequested_ = false;

    out_.clear();
    bool key = false;
    vpx_codec_iter_t iter = nullptr;
    while (const vpx_codec_cx_pkt_t* packet = vpx_codec_get_cx_data(codec_.get(), &iter)) {
        if (packet->kind != VPX_CODEC_CX_FRAME_PKT)
            continue;
        const auto* bytes = static_cast<const uint8_t*>(packet->data.frame.buf);
        out_.insert(out_.end(), bytes, bytes + packet->data.frame.sz);
        key = key || (packet->data.frame.flags & VPX_FRAME_IS_KEY);
    }
    if (out_.empty())
        return {};
    return {QByteArrayView(out_.data(), qsizetype(out_.size())), key};
}

} // namespace cfb
