#include "video/Y4mFile.h"

#include <QFileInfo>
#include <QObject>

#include <cstring>

namespace cfb::client {
namespace {

constexpr char kMagic[] = "YUV4MPEG2";
constexpr qint64 kMaxHeaderLine = 4096;

// The decimal number at the start of `text`, or -1 when there is none or it is unreasonably long.
qint64 leadingNumber(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 9)
        return -1;
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n >= 0 ? n : -1;
}

} // namespace

bool Y4mFile::fail(const QString& text)
{
    close();
    error_ = text;
    return false;
}

void Y4mFile::close()
{
    if (data_)
        file_.unmap(const_cast<uchar*>(data_));
    data_ = nullptr;
    file_.close();
    size_ = 0;
    width_ = height_ = 0;
    rate_ = 0;
    frames_.clear();
}

bool Y4mFile::parseHeader(const uchar* data, qint64 size, qint64& headerEnd)
{
    const QString name = QFileInfo(file_.fileName()).fileName();
    const qint64 magicLength = qint64(sizeof kMagic - 1);
    if (size < magicLength || std::memcmp(data, kMagic, size_t(magicLength)) != 0)
        return fail(QObject::tr("%1 is not a Y4M video file.").arg(name));
    const auto* end = static_cast<const uchar*>(std::memchr(data, '\n', size_t(qMin(size, kMaxHeaderLine))));
    if (!end)
        return fail(QObject::tr("The header of %1 is damaged.").arg(name));
    headerEnd = end - data + 1;
    const QByteArray line(reinterpret_cast<const char*>(data) + magicLength, end - data - magicLength);
    qint64 w = -1, h = -1;
    QByteArray colour = "420jpeg";
    for (const QByteArray& field : line.split(' ')) {
        if (field.isEmpty())
            continue;
        const QByteArray value = field.mid(1);
        switch (field.at(0)) {
        case 'W':
            w = leadingNumber(value);
            break;
        case 'H':
            h = leadingNumber(value);
            break;
        case 'F': {
            const QList<QByteArray> ratio = value.split(':');
            const qint64 num = ratio.size() == 2 ? leadingNumber(ratio[0]) : -1;
            const qint64 den = ratio.size() == 2 ? leadingNumber(ratio[1]) : -1;
            if (num <= 0 || den <= 0)
                return fail(QObject::tr("The frame rate in %1 is not valid.").arg(name));
            rate_ = double(num) / double(den);
            break;
        }
        case 'C':
            colour = value;
            break;
        default:
            break; // interlacing, aspect and extensions do not matter here
        }
    }
    if (w < 1 || h < 1 || w > MaxSide || h > MaxSide)
        return fail(QObject::tr("The picture size in %1 is missing or not valid.").arg(name));
    if (colour != "420" && colour != "420jpeg" && colour != "420paldv" && colour != "420mpeg2")
        return fail(QObject::tr("%1 holds C%2 pictures; only 4:2:0 pictures (C420) can be played.")
                        .arg(name, QString::fromLatin1(colour.left(32))));
    width_ = int(w);
    height_ = int(h);
    return true;
}

bool Y4mFile::open(const QString& path)
{
    close();
    error_.clear();
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly))
        return fail(QObject::tr("The video file %1 cannot be opened: %2").arg(path, file_.errorString()));
    size_ = file_.size();
    data_ = size_ > 0 ? file_.map(0, size_) : nullptr;
    if (!data_)
        return fail(QObject::tr("The video file %1 cannot be read.").arg(path));
    qint64 offset = 0;
    if (!parseHeader(data_, size_, offset))
        return false;
    const qint64 cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    const qint64 pictureBytes = qint64(width_) * height_ + 2 * cw * ch;
    // Each picture: "FRAME", optional parameters, a line break, then the planes.
    while (offset + 5 <= size_ && std::memcmp(data_ + offset, "FRAME", 5) == 0) {
        const qint64 room = qMin(size_ - offset, kMaxHeaderLine);
        const auto* lineEnd = static_cast<const uchar*>(std::memchr(data_ + offset, '\n', size_t(room)));
        if (!lineEnd)
            break;
        const qint64 planes = lineEnd - data_ + 1;
        if (size_ - planes < pictureBytes)
            break;
        frames_.push_back(planes);
        offset = planes + pictureBytes;
    }
    if (frames_.empty())
        return fail(QObject::tr("%1 holds no complete picture.").arg(QFileInfo(path).fileName()));
    return true;
}

I420Frame Y4mFile::frame(int index) const
{
    I420Frame f;
    if (index < 0 || index >= frameCount())
        return f;
    const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    f.y = data_ + frames_[std::size_t(index)];
    f.u = f.y + std::size_t(width_) * height_;
    f.v = f.u + std::size_t(cw) * ch;
    f.strideY = width_;
    f.strideU = f.strideV = cw;
    f.width = width_;
    f.height = height_;
    return f;
}

} // namespace cfb::client
