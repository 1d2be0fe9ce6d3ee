#pragma once

#include "speech/MouthTimeline.h"

#include <QWidget>

namespace cfb::client {

// A mouth of our own drawing, meant to sit over the mouth of an avatar picture: lips on a
// transparent background, antialiased, scaled to the widget. The speech engine sets its shape
// while it speaks.
class MouthWidget : public QWidget {
    Q_OBJECT
public:
    // The size of the mouth marker that the setup dialog places on the avatar.
    static constexpr int DefaultWidth = 40, DefaultHeight = 16;

    explicit MouthWidget(QWidget* parent = nullptr);

    void setShape(MouthShape shape);
    MouthShape shape() const { return shape_; }

    // Moves the top-left corner to the avatar's top-left plus the mouth offsets, which are kept
    // in twips at 15 per pixel whatever the screen.
    void placeOver(const QPoint& avatarTopLeft, int mouthLeftTwips, int mouthTopTwips);

    QSize sizeHint() const override { return {DefaultWidth, DefaultHeight}; }

signals:
    void shapeChanged(cfb::client::MouthShape shape);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MouthShape shape_ = MouthShape::Closed;
};

} // namespace cfb::client
