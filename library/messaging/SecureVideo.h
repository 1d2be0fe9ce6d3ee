#pragma once

#include "channel/NoiseTypes.h"
#include "channel/SecureChannel.h"
#include "video/I420View.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace cfb {

class VideoDecoding;
class Vp8Sender;

// Live video as VP8 over the encrypted channel, for the buddies whose clients said they decode
// it: one sender per conversation (each path has its rate), encoding on the caller's thread;
// arriving frames decoded on a thread of their own, and key frames asked for when a loss spoiled
// the pictures. Buddies that never said VP8 are left to the JPEG frames.
class SecureVideo : public QObject {
    Q_OBJECT
public:
    explicit SecureVideo(SecureChannel& channel, QObject* parent = nullptr);
    ~SecureVideo() override;

    // Whether pictures to the key's holder go as VP8.
    bool takesVp8(const Key32& key, const QString& handle) const;
    // Codes and sends one captured picture; nullopt when the peer does not take VP8 (JPEG then),
    // otherwise whether it left (a frame skipped for the rate counts as sent).
    std::optional<bool> send(const Key32& key, const QString& handle, const SecureChannel::Endpoint& to,
        const I420View& picture, int captureRate);
    // What goes to the peer, for the user: "VP8, 480 kbit/s" (and ", 320x240 15 fps" when
    // stepped down from the captured format); empty before any.
    QString status(const Key32& key, const QString& handle) const;
    // The sender of a conversation (nullptr before its first picture); for tests and benchmarks.
    const Vp8Sender* sender(const QString& handle) const;
    void reset();

signals:
    void pictureArrived(const QString& handle, bool trusted, const QImage& picture);
    // The coded bytes of a frame that arrived, before it is decoded.
    void bytesArrived(const QString& handle, bool trusted, const QByteArray& bytes);

private:
    void onFrame(const QString& handle, bool trusted, const QByteArray& frame, bool afterLoss);

    SecureChannel& channel_;
    VideoDecoding* decoding_;
    QHash<QString, std::shared_ptr<Vp8Sender>> senders_; // by handle as the caller spells it
};

} // namespace cfb
