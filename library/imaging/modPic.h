#pragma once

#include <QByteArray>
#include <QImage>

namespace cfb {

// Decodes a JPEG, GIF, BMP or PNG picture held in memory (avatars, received video frames). Anything
// else, an empty array, a damaged or oversized picture gives a null image. Safe on hostile bytes.
QImage PictureFromBytes(const QByteArray& bytes);

// The largest picture a received video frame is shown at: the largest capture size a client sends.
inline constexpr QSize LargestFrame{1920, 1080};

// A received video frame or picture, decoded as PictureFromBytes does but never larger than
// LargestFrame: a larger JPEG is decoded scaled down (a picture sent whole still shows), any other
// larger picture gives a null image. A few bytes that declare a huge picture cost no more memory
// or time than a real frame.
QImage FrameFromBytes(const QByteArray& bytes);

} // namespace cfb
