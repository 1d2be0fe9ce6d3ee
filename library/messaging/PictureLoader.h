#pragma once
// Interim picture decoding until the imaging part's PictureFromBytes joins the build.
#include <QByteArray>
#include <QImage>

namespace cfb {
inline QImage PictureFromBytes(const QByteArray& bytes)
{
    return QImage::fromData(bytes);
}
} // namespace cfb
