#include "video/Y4mSource.h"

#include <QFileInfo>

namespace cfb::client {

Y4mSource::Y4mSource(const QString& path, QSize size, int rate, QObject* parent)
    : TimedCaptureSource(size, rate, parent)
    , path_(path)
{
}

bool Y4mSource::open()
{
    next_ = 0;
    if (file_.open(path_))
        return true;
    setErrorString(file_.errorString());
    return false;
}

QString Y4mSource::description() const
{
    return tr("Video file %1").arg(QFileInfo(path_).fileName());
}

bool Y4mSource::startCapture()
{
    if (file_.frameCount() == 0 && !open())
        return false;
    return TimedCaptureSource::startCapture();
}

void Y4mSource::produceFrame(qint64 timestampUs)
{
    if (next_ >= file_.frameCount())
        next_ = 0;
    I420Frame picture = file_.frame(next_++);
    if (!picture.isValid())
        return;
    if (QSize(picture.width, picture.height) != frameSize()) {
        I420Converter::Input in;
        in.format = I420Converter::Format::I420;
        in.width = picture.width;
        in.height = picture.height;
        in.planes = {picture.y, picture.u, picture.v};
        in.strides = {picture.strideY, picture.strideU, picture.strideV};
        const std::size_t chroma = std::size_t(picture.strideU) * picture.chromaHeight();
        in.bytes = {std::size_t(picture.strideY) * picture.height, chroma, chroma};
        if (!scaler_.convert(in, frameSize()))
            return;
        picture = scaler_.output().frame();
    }
    picture.timestampUs = timestampUs;
    deliver(picture);
}

} // namespace cfb::client
