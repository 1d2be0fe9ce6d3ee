#pragma once

#include <QImage>
#include <QString>

namespace cfb::client {

// A QR code (libqrencode) as a black-on-white picture: each module moduleSize pixels square,
// with the four-module quiet zone a reader needs around it.
namespace QrCodePicture {

// A null image when the text cannot be encoded (empty, or too long for any QR code).
QImage of(const QString& text, int moduleSize);

} // namespace QrCodePicture
} // namespace cfb::client
