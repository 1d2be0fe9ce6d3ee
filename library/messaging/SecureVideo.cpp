#include "messaging/SecureVideo.h"

#include "channel/VideoContent.h"
#include "video/VideoDecoding.h"
#include "video/Vp8Sender.h"

#include <QDeadlineTimer>
#include <QMetaMethod>

namespace cfb {

SecureVideo::SecureVideo(SecureChannel& channel, QObject* parent)
    : QObject(parent)
    , channel_(channel)
    , decoding_(new VideoDecoding(this))
{
    channel_.setVideoCodecs(VideoContent::Jpeg | VideoContent::Vp8);
    connect(&channel_, &SecureChannel::videoFrameArrived, this, &SecureVideo::onFrame);
    connect(&channel_, &SecureChannel::keyFrameAsked, this, [this](const QString& handle) {
        for (auto it = senders_.begin(); it != senders_.end(); ++it)
            if (it.key().compare(handle, Qt::CaseInsensitive) == 0)
                (*it)->keyFrameAsked();
    });
    connect(decoding_, &VideoDecoding::decoded, this, &SecureVideo::pictureArrived);
    connect(decoding_, &VideoDecoding::keyFrameNeeded, this,
        [this](const QString& handle) { channel_.askKeyFrame(handle); });
}

SecureVideo::~SecureVideo() = default;

bool SecureVideo::takesVp8(const Key32& key, const QString& handle) const
{
    return (channel_.ownVideoCodecs() & VideoContent::Vp8) && (channel_.videoCodecs(key, handle) & VideoContent::Vp8);
}

std::optional<bool> SecureVideo::send(const Key32& key, const QString& handle, const SecureChannel::Endpoint& to,
    const I420View& picture, int captureRate)
{
    if (!takesVp8(key, handle))
        return std::nullopt;
    auto found = senders_.find(handle);
    if (found == senders_.end())
        found = senders_.insert(handle, std::make_shared<Vp8Sender>());
    Vp8Sender& sender = **found;
    const int64_t now = QDeadlineTimer::current().deadline();
    const Vp8EncodedFrame frame = sender.encode(picture, captureRate, channel_.videoRateKbps(key, handle), now);
    if (!frame.isValid())
        return sender.targetKbps() > 0; // skipped for the step's frame rate, or the encoder failed
    return channel_.sendVideoFrame(key, handle, to, VideoContent::Vp8, frame.bytes, frame.keyFrame);
}

QString SecureVideo::status(const Key32& key, const QString& handle) const
{
    const std::shared_ptr<Vp8Sender> sender = senders_.value(handle);
    if (!sender || !takesVp8(key, handle) || sender->targetKbps() == 0)
        return {};
    const QString text = QStringLiteral("VP8, %1 kbit/s").arg(sender->targetKbps());
    if (sender->size() == sender->capturedSize() && sender->frameRate() == sender->captureRate())
        return text;
    // Stepped down for the rate: say to what.
    return text
        + QStringLiteral(", %1x%2 %3 fps").arg(sender->size().width()).arg(sender->size().height()).arg(sender->frameRate());
}

const Vp8Sender* SecureVideo::sender(const QString& handle) const
{
    return senders_.value(handle).get();
}

void SecureVideo::reset()
{
    senders_.clear();
    decoding_->reset();
}

void SecureVideo::onFrame(const QString& handle, bool trusted, const QByteArray& frame, bool afterLoss)
{
    if (uint8_t(frame[0]) != VideoContent::Vp8)
        return; // a codec this client does not decode
    const QByteArray bytes = frame.sliced(VideoContent::FrameHeader);
    if (isSignalConnected(QMetaMethod::fromSignal(&SecureVideo::bytesArrived)))
        emit bytesArrived(handle, trusted, bytes);
    decoding_->decode(handle, trusted, bytes, afterLoss);
}

} // namespace cfb
