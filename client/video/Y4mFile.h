#pragma once

#include "video/I420Frame.h"

#include <QFile>
#include <QString>

#include <vector>

namespace cfb::client {

// A YUV4MPEG2 (.y4m) file of 4:2:0 pictures, mapped into memory and indexed once when opened.
// The header is read defensively: W and H must be given and sensible, F (if given) a positive
// ratio, C one of the 4:2:0 tags (C420, C420jpeg, C420paldv, C420mpeg2; none means C420jpeg);
// anything else is refused with a message for the user. A truncated last picture is left out.
class Y4mFile {
public:
    bool open(const QString& path);
    void close();

    QString errorString() const { return error_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The file's own rate, frames per second (0 when the header gives none).
    double frameRate() const { return rate_; }
    int frameCount() const { return int(frames_.size()); }
    // The picture at `index` (0 .. frameCount() - 1), a view of the mapped file.
    I420Frame frame(int index) const;

    static constexpr int MaxSide = 8192;

private:
    bool fail(const QString& text);
    bool parseHeader(const uchar* data, qint64 size, qint64& headerEnd);

    QFile file_;
    const uchar* data_ = nullptr;
    qint64 size_ = 0;
    int width_ = 0;
    int height_ = 0;
    double rate_ = 0;
    std::vector<qint64> frames_; // offset of each picture's first luma byte
    QString error_;
};

} // namespace cfb::client
