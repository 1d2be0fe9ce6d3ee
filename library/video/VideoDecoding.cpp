#include "video/VideoDecoding.h"

#include "video/Vp8Decoder.h"

#include <QHash>
#include <QThread>

#include <libyuv/convert_argb.h>

#include <memory>

namespace cfb {

// Lives on the decoding thread: the decoders, by sender.
class Vp8DecoderWorker : public QObject {
public:
    QHash<QString, std::shared_ptr<Vp8Decoder>> decoders;
};

VideoDecoding::VideoDecoding(QObject* parent)
    : QObject(parent)
    , thread_(new QThread(this))
    , worker_(new Vp8DecoderWorker)
{
    thread_->setObjectName(QStringLiteral("VP8 decoding"));
    worker_->moveToThread(thread_);
    thread_->start();
}

VideoDecoding::~VideoDecoding()
{
    thread_->quit();
    thread_->wait();
    delete worker_;
}

void VideoDecoding::decode(const QString& handle, bool trusted, const QByteArray& bytes, bool afterLoss)
{
    if (queued_.load() >= MaxQueued) {
        dropped_ = true;
        return;
    }
    afterLoss = afterLoss || dropped_;
    dropped_ = false;
    ++queued_;
    QMetaObject::invokeMethod(
        worker_,
        [this, worker = worker_, handle, trusted, bytes, afterLoss] {
            std::shared_ptr<Vp8Decoder>& decoder = worker->decoders[handle];
            if (!decoder)
                decoder = std::make_shared<Vp8Decoder>();
            if (afterLoss)
                decoder->referenceLost();
            const Vp8Decoder::Result result = decoder->decode(bytes);
            QImage picture;
            if (result == Vp8Decoder::Result::Picture) {
                const I420View p = decoder->picture();
                picture = QImage(p.width, p.height, QImage::Format_RGB32);
                // Format_RGB32 is libyuv's ARGB on little-endian machines, its BGRA on big-endian ones.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
                libyuv::I420ToARGB(
#else
                libyuv::I420ToBGRA(
#endif
                    p.y, p.strideY, p.u, p.strideU, p.v, p.strideV, picture.bits(), int(picture.bytesPerLine()),
                    p.width, p.height);
            }
            --queued_;
            // Back on this object's thread; dropped there if it is gone by then.
            QMetaObject::invokeMethod(
                this,
                [this, handle, trusted, picture, result] {
                    if (result == Vp8Decoder::Result::Picture)
                        emit decoded(handle, trusted, picture);
                    else
                        emit keyFrameNeeded(handle);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void VideoDecoding::reset()
{
    QMetaObject::invokeMethod(worker_, [worker = worker_] { worker->decoders.clear(); }, Qt::QueuedConnection);
}

} // namespace cfb
