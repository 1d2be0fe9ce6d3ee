#include "video/FrameSender.h"

#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"

#include <libyuv/scale.h>

#include <algorithm>
#include <cstring>

namespace cfb::client {

FrameSender::FrameSender() = default;

void FrameSender::setQuality(int quality)
{
    quality_ = std::clamp(quality, 1, 100);
    dib_.setJPGQuality(int16_t(quality_));
}

void FrameSender::loadQuality()
{
    bool ok = false;
    const int quality = Settings::ImageQuality.read().toInt(&ok);
    setQuality(ok ? quality : 75);
}

void FrameSender::loadEncodeFromPlanes()
{
    fromPlanes_ = Settings::EncodeFromPlanes.read().trimmed() != QLatin1String("0");
}

qsizetype FrameSender::maxSingleDatagramJpeg(const QString& fromHandle)
{
    using namespace PeerDatagram;
    // The datagram grows by 4 bytes for every 3 of the frame; find the largest frame that fits.
    const QByteArray escaped = escapedText(fromHandle);
    const qsizetype overhead = frameChunkSize(escaped, 0);
    qsizetype bytes = (MaxDatagramSize - overhead) / 4 * 3;
    while (bytes > 0 && frameChunkSize(escaped, bytes) > MaxDatagramSize)
        --bytes;
    // A frame of a whole chunk or more is not ended by its own datagram.
    return std::clamp<qsizetype>(bytes, 0, FrameChunkSize - 1);
}

bool FrameSender::prepareBitmap(int width, int height)
{
    if (dib_.hDib() && dib_.dib_width() == width && dib_.dib_height() == height)
        return true;
    BITMAPINFO info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    uintptr_t handle = 0;
    ++bitmapAllocations_;
    if (!dib_.CreateDIBEx(nullptr, &info, handle))
        return false;
    dib_.setJPGQuality(int16_t(quality_));
    return true;
}

bool FrameSender::packFrame(const I420Frame& frame)
{
    const int w = frame.width, h = frame.height, cw = frame.chromaWidth(), ch = frame.chromaHeight();
    const qsizetype total = qsizetype(w) * h + 2 * qsizetype(cw) * ch;
    if (packed_.size() != total)
        packed_.resize(total); // only when the size changes
    char* out = packed_.data();
    const auto copyPlane = [&out](const uint8_t* plane, int stride, int rowBytes, int rows) {
        if (stride == rowBytes) {
            std::memcpy(out, plane, std::size_t(rowBytes) * std::size_t(rows));
            out += std::size_t(rowBytes) * std::size_t(rows);
            return;
        }
        for (int r = 0; r < rows; ++r, out += rowBytes)
            std::memcpy(out, plane + std::size_t(r) * std::size_t(stride), std::size_t(rowBytes));
    };
    copyPlane(frame.y, frame.strideY, w, h);
    copyPlane(frame.u, frame.strideU, cw, ch);
    copyPlane(frame.v, frame.strideV, cw, ch);
    return true;
}

bool FrameSender::convert(const I420Frame& frame)
{
    if (!frame.isValid() || frame.strideY < frame.width || frame.strideU < frame.chromaWidth()
        || frame.strideV < frame.chromaWidth())
        return false;
    if (!prepareBitmap(frame.width, frame.height))
        return false;
    const std::size_t luma = std::size_t(frame.width) * std::size_t(frame.height);
    const std::size_t chroma = std::size_t(frame.chromaWidth()) * std::size_t(frame.chromaHeight());
    const bool packed = frame.strideY == frame.width && frame.strideU == frame.chromaWidth()
        && frame.strideV == frame.chromaWidth() && frame.u == frame.y + luma && frame.v == frame.u + chroma;
    if (packed) // already laid out as SetBits reads it: lend the memory, copy nothing
        return dib_.SetBits(
            QByteArray::fromRawData(reinterpret_cast<const char*>(frame.y), qsizetype(luma + 2 * chroma)), true);
    packFrame(frame);
    return dib_.SetBits(packed_, true);
}

QByteArrayView FrameSender::encodeAt(int quality)
{
    if (fromPlanes_)
        return planar_.encode(quality);
    if (quality != dib_.JPGQuality())
        dib_.setJPGQuality(int16_t(quality));
    const bool encoded = dib_.JPGBuffer(jpeg_);
    dib_.setJPGQuality(int16_t(quality_));
    return encoded ? QByteArrayView(jpeg_) : QByteArrayView();
}

FrameSender::Result FrameSender::encodeFitting(QByteArrayView& jpeg)
{
    jpeg = encodeAt(quality_);
    if (jpeg.isEmpty())
        return Result::Failed;
    if (jpeg.size() <= jpegLimit_) {
        lastQuality_ = quality_;
        return Result::Sent;
    }
    // Too big for one datagram: lower the quality for this frame only. The first try is a little
    // above where the last oversized frame fitted (so the quality can climb back), or else an
    // estimate from the size; then down, by the size estimate but at least 5 steps at a time.
    const auto estimate = [this](int quality, qsizetype size) {
        return std::min(quality - 5, int(quality * double(jpegLimit_) / double(size)));
    };
    int quality = fallbackQuality_ > 0 ? std::min(quality_ - 1, fallbackQuality_ + 5) : estimate(quality_, jpeg.size());
    Result result = Result::TooLarge;
    for (quality = std::max(1, quality);; quality = std::max(1, estimate(quality, jpeg.size()))) {
        jpeg = encodeAt(quality);
        if (jpeg.isEmpty()) {
            result = Result::Failed;
            break;
        }
        if (jpeg.size() <= jpegLimit_) {
            result = Result::Sent;
            break;
        }
        if (quality == 1)
            break;
    }
    lastQuality_ = result == Result::Sent ? quality : 0;
    fallbackQuality_ = result == Result::Sent ? quality : 0;
    return result;
}

void FrameSender::setJpegFormat(QSize size, int rate)
{
    jpegSize_ = size;
    jpegRate_ = rate;
    lastJpegUs_ = -1;
}

const I420Frame* FrameSender::jpegFrame(const I420Frame& frame, I420Frame& scaled)
{
    if (jpegRate_ > 0 && lastJpegUs_ >= 0 && frame.timestampUs >= lastJpegUs_
        && frame.timestampUs - lastJpegUs_ < 1000000 / jpegRate_ * 9 / 10)
        return nullptr; // not due yet at the JPEG rate
    lastJpegUs_ = frame.timestampUs;
    if (!jpegSize_.isValid() || (frame.width <= jpegSize_.width() && frame.height <= jpegSize_.height()))
        return &frame;
    if (!jpegScaled_.resize(jpegSize_))
        return nullptr;
    libyuv::I420Scale(frame.y, frame.strideY, frame.u, frame.strideU, frame.v, frame.strideV, frame.width,
        frame.height, jpegScaled_.y(), jpegScaled_.width(), jpegScaled_.u(), jpegScaled_.chromaWidth(),
        jpegScaled_.v(), jpegScaled_.chromaWidth(), jpegScaled_.width(), jpegScaled_.height(), libyuv::kFilterBox);
    scaled = jpegScaled_.frame(frame.timestampUs);
    return &scaled;
}

FrameSender::Result FrameSender::send(
    const I420Frame& captured, Buddy* buddy, const QString& fromHandle, int16_t videoPort)
{
    lastJpegSize_ = 0;
    // VP8 to a buddy that decodes it, coded from the captured planes at the captured size.
    if (vp8_ && buddy && captured.isValid() && buddy->Status() == CFB_AVAILABLE)
        if (Confabo* sender = Confabo::signedInHere(fromHandle)) {
            const I420View picture {captured.y, captured.u, captured.v, captured.strideY, captured.strideU,
                captured.strideV, captured.width, captured.height};
            if (const std::optional<bool> sent
                = sender->sendSecureVideo(*buddy, picture, std::max(1, captureRate_), videoPort)) {
                lastCodec_ = QStringLiteral("VP8");
                return *sent ? Result::Sent : Result::NotAvailable;
            }
        }
    I420Frame scaled;
    const I420Frame* picked = buddy ? jpegFrame(captured, scaled) : &captured;
    if (!picked)
        return Result::Skipped;
    const I420Frame& frame = *picked;
    if (fromPlanes_) {
        if (!buddy)
            return convert(frame) ? Result::Converted : Result::Failed;
        if (!planar_.setFrame(frame))
            return Result::Failed;
    } else if (!convert(frame)) {
        return Result::Failed;
    }
    if (!buddy)
        return Result::Converted;
    if (buddy->Status() != CFB_AVAILABLE)
        return Result::NotAvailable;
    // Asked again when the buddy's key changes (read without allocating: frames come here).
    const std::optional<Key32> key = buddy->knownPublicKey().key;
    if (fromHandle != limitHandle_ || jpegLimit_ == 0 || key != limitKey_) {
        limitHandle_ = fromHandle;
        limitKey_ = key;
        // A buddy reached in the plain format gets each frame in one datagram; over the channel
        // a frame goes in packets.
        Confabo* sender = Confabo::signedInHere(fromHandle);
        const bool packets = sender && sender->security(*buddy) == PeerSecurity::Encrypted;
        jpegLimit_ = packets ? MaxPacketedJpeg : maxSingleDatagramJpeg(fromHandle);
    }
    QByteArrayView jpeg;
    if (const Result encoded = encodeFitting(jpeg); encoded != Result::Sent)
        return encoded;
    lastJpegSize_ = jpeg.size();
    lastCodec_ = QStringLiteral("JPEG");
    return buddy->SendFrame(jpeg, fromHandle, videoPort) ? Result::Sent : Result::NotAvailable;
}

} // namespace cfb::client
