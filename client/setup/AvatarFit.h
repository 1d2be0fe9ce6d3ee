#pragma once

#include <QByteArray>
#include <QImage>

namespace cfb::client {

// A chosen picture made small enough to be an avatar: encoded as JPEG at its own size, then at
// smaller and smaller sizes (its proportions kept), until the bytes are within the limit.
class AvatarFit {
public:
    // No avatar is made smaller than this on its shorter side: below it nothing is recognisable.
    static constexpr int SmallestSide = 24;

    // The picture's JPEG bytes, at most limit of them, as large as fits; empty when the picture
    // is null or no size fits.
    static QByteArray fit(const QImage& picture, qsizetype limit);
};

} // namespace cfb::client
