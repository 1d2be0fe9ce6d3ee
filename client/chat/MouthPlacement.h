#pragma once

#include <QPoint>
#include <QSize>

#include <optional>

class QLabel;

namespace cfb {
class Buddy;
}

namespace cfb::client {

class MouthWidget;

// Where the speaking mouth goes over an avatar that a picture label shows scaled to fit and
// centred: the buddy's mouth offsets are twips of the picture at its own size, so they and the
// mouth itself scale with the picture as shown.
class MouthPlacement {
public:
    // The mouth of the built-in avatar (Buddy::DefaultAvatar): the top-left corner of a mouth of
    // the marker's size centred on the drawn lips, in twips.
    static constexpr QPoint DefaultAvatarMouth{51 * 15, 74 * 15};

    // Where the mouth goes on the buddy's avatar, in twips: on the built-in avatar over its lips;
    // on the buddy's own picture at the position they set. Nothing when they never set one (0, 0,
    // as an account starts) or it lies outside the picture: lips drawn over a forehead or a corner
    // would look wrong, so there are none.
    static std::optional<QPoint> mouthOn(cfb::Buddy& buddy);

    // Makes the mouth a child of the label and moves it over the avatar's mouth.
    static void placeOver(MouthWidget& mouth, QLabel& picture, QSize avatarSize, int mouthLeftTwips, int mouthTopTwips);
};

} // namespace cfb::client
