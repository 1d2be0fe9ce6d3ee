#include "video/Vp8Sender.h"

#include <libyuv/scale.h>

#include <algorithm>

namespace cfb {

namespace {

double bitsPerPixel(QSize size, int captureRate, int kbps, const Vp8Sender::Step& step)
{
    const double pixels = double(size.width() / step.divide) * double(size.height() / step.divide);
    const double frames = std::max(1.0, double(captureRate) / step.skip);
    return kbps * 1000.0 / (pixels * frames);
}

} // namespace

int Vp8Sender::stepFor(QSize size, int captureRate, int kbps, int current)
{
    int step = std::clamp(current, 0, StepCount - 1);
    while (step + 1 < StepCount && bitsPerPixel(size, captureRate, kbps, Steps[step]) < StepDownBits)
        ++step;
    while (step > 0 && bitsPerPixel(size, captureRate, kbps, Steps[step - 1]) >= StepUpBits)
        --step;
    return step;
}

I420View Vp8Sender::scaled(const I420View& picture, int divide)
{
    if (divide == 1)
        return picture;
    I420View out;
    out.width = std::max(2, picture.width / divide & ~1);
    out.height = std::max(2, picture.height / divide & ~1);
    const size_t luma = size_t(out.width) * size_t(out.height);
    const size_t chroma = size_t(out.chromaWidth()) * size_t(out.chromaHeight());
    if (scaled_.size() < luma + 2 * chroma)
        scaled_.resize(luma + 2 * chroma); // only when the size changes
    uint8_t* y = scaled_.data();
    uint8_t* u = y + luma;
    uint8_t* v = u + chroma;
    libyuv::I420Scale(picture.y, picture.strideY, picture.u, picture.strideU, picture.v, picture.strideV,
        picture.width, picture.height, y, out.width, u, out.chromaWidth(), v, out.chromaWidth(), out.width,
        out.height, libyuv::kFilterBox);
    out.y = y;
    out.u = u;
    out.v = v;
    out.strideY = out.width;
    out.strideU = out.strideV = out.chromaWidth();
    return out;
}

Vp8EncodedFrame Vp8Sender::encode(const I420View& picture, int captureRate, int targetKbps, int64_t now)
{
    if (!picture.isValid())
        return {};
    captureRate = std::max(1, captureRate);
    const int kbps = std::clamp(targetKbps, Vp8Encoder::MinKbps, Vp8Encoder::MaxKbps);
    const QSize size(picture.width, picture.height);
    const bool newSource = size != captured_ || captureRate != captureRate_;
    int step = stepFor(size, captureRate, kbps, newSource ? 0 : step_);
    // Down at once; up only once the rate has afforded it for a while.
    if (!newSource && step < step_ && now - stepAt_ < StepUpAfterMs)
        step = step_;
    if (newSource || step != step_ || !encoder_.isOpen()) {
        if (step != step_ || newSource)
            stepAt_ = now;
        captured_ = size;
        captureRate_ = captureRate;
        step_ = step;
        Vp8EncoderSettings settings;
        settings.width = std::max(2, size.width() / Steps[step].divide & ~1);
        settings.height = std::max(2, size.height() / Steps[step].divide & ~1);
        if (Steps[step].divide == 1) {
            settings.width = size.width();
            settings.height = size.height();
        }
        settings.frameRate = std::max(1, captureRate / Steps[step].skip);
        settings.targetKbps = kbps;
        if (!encoder_.open(settings))
            return {};
        counter_ = 0;
        keySentAt_ = now; // opening makes a key frame
        keyAsked_ = false;
    } else if (kbps != encoder_.settings().targetKbps) {
        encoder_.setTargetBitrate(kbps);
    }
    if (counter_++ % unsigned(Steps[step_].skip) != 0)
        return {};
    if (keyAsked_ && now - keySentAt_ >= KeyFrameMs) {
        keyAsked_ = false;
        encoder_.requestKeyFrame();
    }
    const Vp8EncodedFrame frame = encoder_.encode(scaled(picture, Steps[step_].divide));
    if (frame.keyFrame)
        keySentAt_ = now;
    return frame;
}

} // namespace cfb
