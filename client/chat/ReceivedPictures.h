#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

class QTimer;

namespace cfb::client {

// Tells the pictures a buddy sent from the frames of their live video. Both arrive as single
// frames; a picture is the frame that stands alone: nothing else comes from that buddy for
// StillMs after it, and it either came after a pause as long or differs in size from the frame
// before it (a picture sent while video was on: the sender's video stops as the picture goes).
// The last frame of a video that was turned off matches the frames before it and is no picture.
class ReceivedPictures : public QObject {
    Q_OBJECT
public:
    static constexpr int StillMs = 2000;

    explicit ReceivedPictures(QObject* parent = nullptr);

    // A frame from handle arrived now.
    void frameArrived(const QString& handle, const QImage& frame);
    // Forgets what came from handle (the buddy is gone).
    void forget(const QString& handle);

signals:
    // handle sent picture, which arrived at when.
    void pictureReceived(const QString& handle, const QImage& picture, const QDateTime& when);

private:
    struct Sender {
        QElapsedTimer last; // since the last frame
        QSize lastSize;
        QImage candidate; // the last frame, while it may be a picture
        QDateTime candidateAt;
        QTimer* timer = nullptr;
    };
    void settle(const QString& handle);

    QHash<QString, Sender> senders_;
};

} // namespace cfb::client
