#pragma once

#include "imaging/cDIBSection.h"
#include "video/I420Buffer.h"
#include "video/I420Frame.h"
#include "video/PlanarJpegEncoder.h"
#include "channel/NoiseTypes.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {
class Buddy;
}

namespace cfb::client {

// The outgoing video path, one call per captured frame: the frame is encoded to JPEG at the
// configured quality, straight from its planes or (the exact path) through the client's one
// bitmap (SetBits, converted through Pixmill, then JPGBuffer), and sent to a buddy
// (Buddy::SendFrame). The bitmap follows the capture size: it is made again only when a frame of
// another size arrives. A JPEG too big for one datagram is encoded again at lower qualities, for
// that frame only; the next frame starts at the configured quality. Planes, bitmap, encoder and
// JPEG buffer are reused from frame to frame: once warmed up, a frame allocates nothing on its way
// to the datagram.
class FrameSender {
public:
    enum class Result {
        Sent,
        Converted, // no buddy given: the bitmap holds the frame, nothing was encoded or sent
        NotAvailable, // the buddy is not available
        TooLarge, // not even the lowest quality fits one datagram; nothing was sent
        Failed, // the frame could not be converted or encoded
        Skipped, // JPEG to this buddy goes at a lower rate than the capture's: not this frame
    };

    FrameSender();

    // JPEG quality 1..100 (values outside are clamped), as the "Image Quality" setting holds it.
    void setQuality(int quality);
    int quality() const { return quality_; }
    // Reads "Image Quality" (75 when missing or not a number).
    void loadQuality();

    // On (the default): a sent frame's JPEG is encoded straight from its planes, in about two
    // thirds of the exact path's time with a picture as good, and the bitmap is not refreshed for
    // it. Off: the exact path, every sent frame through the bitmap (SetBits, JPGBuffer).
    void setEncodeFromPlanes(bool on) { fromPlanes_ = on; }
    bool encodeFromPlanes() const { return fromPlanes_; }
    // Reads "Encode From Planes" (on unless it is "0").
    void loadEncodeFromPlanes();

    // On: a buddy whose client said it decodes VP8 gets VP8 sized to the path (Confabo's
    // sendSecureVideo); everyone else JPEG. MainVideo turns it on; off, every buddy gets JPEG.
    void setVp8(bool on) { vp8_ = on; }
    bool vp8() const { return vp8_; }
    // The capture's frame rate, which VP8 is coded at.
    void setCaptureRate(int framesPerSecond) { captureRate_ = framesPerSecond; }
    // What JPEG goes at when the capture runs larger or faster for VP8: frames are scaled down to
    // size and sent at most rate a second. An invalid size (a rate of 0): JPEG at the captured
    // size (rate).
    void setJpegFormat(QSize size, int rate);
    // How the last frame to a buddy went: "VP8" or "JPEG" (empty before any).
    QString lastCodec() const { return lastCodec_; }

    // Converts the frame and, with a buddy, encodes and sends it from fromHandle to the buddy's
    // address and videoPort. The buddy's status look-up may raise ConfaboError.
    Result send(const I420Frame& frame, Buddy* buddy, const QString& fromHandle, int16_t videoPort);
    // Only the conversion into the bitmap (the preview's picture).
    bool convert(const I420Frame& frame);

    // The bitmap holding the last converted frame.
    const cDIBSection& dib() const { return dib_; }
    // What the last send encoded: the quality used and the JPEG's size (0 when nothing fitted).
    int lastQuality() const { return lastQuality_; }
    qsizetype lastJpegSize() const { return lastJpegSize_; }
    // How often the bitmap was made, for a size change.
    int bitmapAllocations() const { return bitmapAllocations_; }

    // The largest JPEG that travels in one datagram from a sender with this handle.
    static qsizetype maxSingleDatagramJpeg(const QString& fromHandle);
    // The largest frame sent over the encrypted channel, which carries a frame in packets: room
    // for a 1280x720 picture at any quality, so the quality is never lowered to fit.
    static constexpr qsizetype MaxPacketedJpeg = 512 * 1024;


private:
    bool prepareBitmap(int width, int height);
    bool packFrame(const I420Frame& frame);
    // The JPEG at that quality, in the bitmap path's or the planar encoder's reused buffer; valid
    // until the next encoding. Empty on failure.
    QByteArrayView encodeAt(int quality);
    // Sent when jpeg holds a JPEG that fits one datagram; TooLarge or Failed otherwise.
    Result encodeFitting(QByteArrayView& jpeg);

    cDIBSection dib_;
    PlanarJpegEncoder planar_;
    bool fromPlanes_ = true;
    QByteArray packed_; // the frame's planes one after the other, as SetBits takes them
    QByteArray jpeg_; // the bitmap path's JPEG, encoded into the same storage every frame
    int quality_ = 75;
    int fallbackQuality_ = 0; // the quality that last made an oversized frame fit
    int lastQuality_ = 0;
    qsizetype lastJpegSize_ = 0;
    int bitmapAllocations_ = 0;
    // The frame as JPEG goes, when it must be made smaller or less frequent; else the frame.
    const I420Frame* jpegFrame(const I420Frame& frame, I420Frame& scaled);
    bool vp8_ = false;
    int captureRate_ = 0;
    QSize jpegSize_;
    int jpegRate_ = 0;
    qint64 lastJpegUs_ = -1;
    I420Buffer jpegScaled_;
    QString lastCodec_;
    QString limitHandle_;
    qsizetype jpegLimit_ = 0;
    std::optional<cfb::Key32> limitKey_; // the buddy's key when the limit was set
};

} // namespace cfb::client
