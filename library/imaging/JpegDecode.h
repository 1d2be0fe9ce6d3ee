#pragma once

#include <QByteArrayView>
#include <QImage>

namespace cfb {

using PictureSizeCheck = bool (*)(const QSize&);

// Decodes a whole JPEG held in memory: colour JPEGs become 32-bit RGB pictures, grey ones 8-bit grey
// pictures. A JPEG that is damaged or ends early gives a null picture whatever its mode (baseline,
// progressive, arithmetic coded): every warning of the decoder, such as "Premature end of JPEG
// file", counts as a failure and stops decoding. sizeAllowed sees the size the headers give before
// any pixel memory is allocated; false gives a null picture.
QImage decodeJpeg(QByteArrayView jpeg, PictureSizeCheck sizeAllowed);

} // namespace cfb
