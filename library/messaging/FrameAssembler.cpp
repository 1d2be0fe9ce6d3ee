#include "messaging/FrameAssembler.h"

namespace cfb {

std::optional<QByteArray> FrameAssembler::add(QByteArrayView chunk)
{
    if (buffer_.size() + chunk.size() > MaxFrameBytes) {
        buffer_.clear();
        return std::nullopt;
    }
    if (chunk.size() >= chunkSize_) {
        buffer_.append(chunk);
        return std::nullopt;
    }
    if (buffer_.isEmpty())
        return chunk.toByteArray(); // the usual case: a frame in one datagram
    buffer_.append(chunk);
    QByteArray frame;
    frame.swap(buffer_);
    return frame;
}

} // namespace cfb
