#pragma once

#include <QHash>
#include <QImage>
#include <QPoint>
#include <QSize>

class QLabel;

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class MouthWidget;

// The main window's picture boxes (the user's video, the user's picture, the buddy's picture),
// each showing its picture whole and as large as the box allows, and the mouth that speaks over
// the buddy's avatar at the buddy's mouth position.
class PictureBoxes {
public:
    PictureBoxes(QLabel& video, QLabel& picture, QLabel& buddy);

    MouthWidget* mouth() const { return mouth_; }

    // A null picture empties the box.
    void show(QLabel* box, const QImage& picture);
    // Shows every picture again at its box's size (after the boxes moved), and the mouth.
    void refresh();

    // The buddy's avatar in the buddy's box, with the mouth over it unless video goes to the buddy
    // (the box then shows what the buddy's camera sends, as it comes).
    void showBuddy(cfb::Buddy& buddy, bool videoOn);
    // The mouth over the buddy's avatar, where the avatar has one; hidden otherwise.
    void showMouthFor(cfb::Buddy& buddy);
    void hideMouth();

private:
    void placeMouth();

    QLabel& video_;
    QLabel& picture_;
    QLabel& buddy_;
    QHash<QLabel*, QImage> pictures_;
    MouthWidget* mouth_;
    bool mouthShown_ = false;
    QPoint mouthTwips_;
    QSize mouthAvatarSize_;
};

} // namespace cfb::client
