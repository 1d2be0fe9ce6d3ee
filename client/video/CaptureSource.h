#pragma once

#include "video/I420Frame.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

namespace cfb::client {

// Where outgoing video comes from: a camera, a test pattern or a Y4M file. A running source
// delivers I420 frames of the configured size at (at most) the configured rate through
// frameReady, always on the thread the source lives on (the user-interface thread). Size and
// rate can change while it runs; the next frame has the new size.
class CaptureSource : public QObject {
    Q_OBJECT
public:
    static constexpr int MinRate = 1;
    static constexpr int MaxRate = 60;

    ~CaptureSource() override;

    // The "Video Source" setting value that makes this source again ("camera:ID", "pattern" or
    // the file's path).
    virtual QString name() const = 0;
    // What the user sees in the video dialogs, e.g. the camera's product name.
    virtual QString description() const = 0;
    // The frame sizes the Video Format dialog offers, smallest first.
    virtual QList<QSize> supportedSizes() const;

    QSize frameSize() const { return size_; }
    int frameRate() const { return rate_; }
    // False (nothing changed) for a size outside 2x2..1920x1080 or a rate outside MinRate..MaxRate.
    bool setFrameSize(QSize size);
    bool setFrameRate(int framesPerSecond);

    // False with errorString() set when the source cannot deliver.
    bool start();
    void stop();
    bool isRunning() const { return running_; }
    // Microseconds since start(), on the clock of the frames' timestamps (the monotonic clock).
    qint64 elapsedUs() const { return clock_.isValid() ? clock_.nsecsElapsed() / 1000 : 0; }
    QString errorString() const { return error_; }

    // The usual camera sizes, smallest first.
    static QList<QSize> commonSizes();
    static bool isUsableSize(QSize size);

signals:
    // One frame; the planes are valid only during the call.
    void frameReady(const cfb::client::I420Frame& frame);
    // The source stopped delivering (camera unplugged, file gone); text for the user.
    void failed(const QString& text);

protected:
    CaptureSource(QSize size, int rate, QObject* parent);

    virtual bool startCapture() = 0;
    virtual void stopCapture() = 0;
    // Size or rate changed while running.
    virtual void formatChanged() { }

    void setErrorString(const QString& text) { error_ = text; }
    void deliver(const I420Frame& frame) { emit frameReady(frame); }
    void fail(const QString& text);

private:
    QSize size_;
    int rate_;
    bool running_ = false;
    QString error_;
    QElapsedTimer clock_;
};

} // namespace cfb::client
