#pragma once

#include "video/I420Converter.h"
#include "video/TimedCaptureSource.h"
#include "video/Y4mFile.h"

namespace cfb::client {

// Plays a 4:2:0 Y4M file over and over at the configured rate, scaled (middle cropped to shape)
// to the configured size when the file's pictures have another size.
class Y4mSource : public TimedCaptureSource {
    Q_OBJECT
public:
    explicit Y4mSource(const QString& path, QSize size = {160, 120}, int rate = 5, QObject* parent = nullptr);

    // False, with the reason in errorString(), when the file cannot be played.
    bool open();

    QString name() const override { return path_; }
    QString description() const override;
    int filePosition() const { return next_; }

protected:
    bool startCapture() override;
    void produceFrame(qint64 timestampUs) override;

private:
    QString path_;
    Y4mFile file_;
    I420Converter scaler_;
    int next_ = 0;
};

} // namespace cfb::client
