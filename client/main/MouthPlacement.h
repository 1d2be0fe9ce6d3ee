#pragma once

#include <QSize>

class QLabel;

namespace cfb::client {

class MouthWidget;

// Where the speaking mouth goes over an avatar that a picture label shows scaled to fit and
// centred: the buddy's mouth offsets are twips of the picture at its own size, so they and the
// mouth itself scale with the picture as shown.
class MouthPlacement {
public:
    // Makes the mouth a child of the label and moves it over the avatar's mouth.
    static void placeOver(MouthWidget& mouth, QLabel& picture, QSize avatarSize, int mouthLeftTwips, int mouthTopTwips);
};

} // namespace cfb::client
