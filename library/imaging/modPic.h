#pragma once

#include <QByteArray>
#include <QImage>

namespace cfb {

// Decodes a JPEG, GIF, BMP or PNG picture held in memory (avatars, received video frames). Anything
// else, an empty array, a damaged or oversized picture gives a null image. Safe on hostile bytes.
QImage PictureFromBytes(const QByteArray& bytes);

} // namespace cfb
