#pragma once

#include "video/CaptureSource.h"
#include "video/I420Converter.h"

#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QPointer>

#include <atomic>
#include <memory>
#include <mutex>

class QCamera;
class QVideoFrame;
class QVideoSink;

namespace cfb::client {

// A camera through Qt Multimedia. The camera is asked for the format closest to the configured
// size and rate; whatever it then gives (YUYV, NV12, MJPEG, RGB, ...) is converted and scaled to
// I420 of the configured size on the camera's own thread, and the newest picture is handed to the
// user-interface thread, where frameReady delivers it. Pictures that come faster than the
// configured rate are skipped before conversion.
class CameraSource : public CaptureSource {
    Q_OBJECT
public:
    explicit CameraSource(
        const QCameraDevice& device, QSize size = {160, 120}, int rate = 5, QObject* parent = nullptr);
    ~CameraSource() override;

    QString name() const override;
    QString description() const override { return device_.description(); }
    // The common sizes up to the camera's largest picture.
    QList<QSize> supportedSizes() const override;

    // The input layout of a camera picture format; false for formats the converter does not know.
    static bool converterFormat(int qtPixelFormat, I420Converter::Format& format);
    // Converts one camera picture into converter.output() at `target` size; layouts the
    // converter does not know go through Qt's own conversion to 32-bit pixels first.
    static bool convertVideoFrame(const QVideoFrame& frame, I420Converter& converter, QSize target);

protected:
    bool startCapture() override;
    void stopCapture() override;
    void formatChanged() override;

private:
    void chooseCameraFormat();
    void convertFrame(const QVideoFrame& frame); // on the camera's thread
    void deliverNewest(); // on the user-interface thread

    QCameraDevice device_;
    std::unique_ptr<QCamera> camera_;
    std::unique_ptr<QVideoSink> sink_;
    QMediaCaptureSession session_;

    // Shared with the converting thread.
    std::atomic<int> targetWidth_{0}, targetHeight_{0};
    std::atomic<qint64> minimumGapUs_{0};
    std::atomic<bool> accepting_{false};
    std::mutex convertLock_; // one conversion at a time
    I420Converter converter_;
    qint64 lastAcceptedUs_ = -1;
    std::mutex handOverLock_; // guards newest_, newestTime_, posted_
    I420Buffer newest_;
    qint64 newestTime_ = 0;
    bool posted_ = false;

    I420Buffer delivering_; // user-interface thread only
};

} // namespace cfb::client
