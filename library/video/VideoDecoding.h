#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>

class QThread;

namespace cfb {

class Vp8DecoderWorker;

// Decodes the VP8 frames of every sender on a thread of its own, one decoder per sender, so the
// user-interface thread only shows the pictures. Results come back on the thread this object
// lives on. A sender whose frames pile up (more than MaxQueued waiting) has the surplus dropped,
// and its next frame is taken as after a loss.
class VideoDecoding : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxQueued = 8;

    explicit VideoDecoding(QObject* parent = nullptr);
    ~VideoDecoding() override;

    // bytes: the codec's bytes of one frame. afterLoss: frames before it are missing.
    void decode(const QString& handle, bool trusted, const QByteArray& bytes, bool afterLoss);
    // Every decoder is forgotten (at sign-out).
    void reset();

signals:
    void decoded(const QString& handle, bool trusted, const QImage& picture);
    // The sender's pictures cannot be decoded until a key frame comes.
    void keyFrameNeeded(const QString& handle);

private:
    QThread* thread_;
    Vp8DecoderWorker* worker_;
    std::atomic<int> queued_ {0};
    bool dropped_ = false;
};

} // namespace cfb
