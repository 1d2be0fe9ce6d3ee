#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace cfb {

// Joins the chunks of a video frame. Every chunk but the last is full size; a shorter one
// completes the frame. One frame is collected at a time, whoever sends the chunks. A frame that
// grows past the cap (full-size chunks that never stop) is dropped and collection starts over.
class FrameAssembler {
public:
    static constexpr qsizetype MaxFrameBytes = 4 * 1024 * 1024;

    explicit FrameAssembler(qsizetype chunkSize)
        : chunkSize_(chunkSize)
    {
    }

    // Adds a chunk; returns the whole frame when this chunk completed one.
    std::optional<QByteArray> add(QByteArrayView chunk);
    qsizetype pending() const { return buffer_.size(); }

private:
    qsizetype chunkSize_;
    QByteArray buffer_;
};

} // namespace cfb
