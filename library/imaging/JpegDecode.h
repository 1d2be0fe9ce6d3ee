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
// With fitWithin valid, a picture larger than it is decoded scaled down by the smallest of the
// decoder's own factors (1/2 to 1/8) that makes it fit, so no full-size pixel memory is ever
// made; one that does not fit even at 1/8 gives a null picture.
QImage decodeJpeg(QByteArrayView jpeg, PictureSizeCheck sizeAllowed, QSize fitWithin = QSize());

} // namespace cfb
