#include "speech/MouthWidget.h"

#include "common/Twips.h"

#include <QPainter>
#include <QPainterPath>

namespace cfb::client {

namespace {

// How each shape opens the lips: the width of the mouth as a share of the widget, the gap between
// the lips as a share of its height, and what shows inside.
struct Pose {
    qreal width;
    qreal gap;
    qreal upperTeeth; // share of the gap the upper teeth cover
    qreal lowerTeeth;
    bool tongueTip; // tongue between the teeth
    bool lipUnderTeeth;
};

Pose poseFor(MouthShape shape)
{
    switch (shape) {
    case MouthShape::Closed:
        return {0.86, 0.0, 0, 0, false, false};
    case MouthShape::Rest:
        return {0.82, 0.22, 0.5, 0, false, false};
    case MouthShape::Open:
        return {0.76, 0.9, 0.2, 0.1, false, false};
    case MouthShape::Wide:
        return {0.98, 0.48, 0.48, 0.38, false, false};
    case MouthShape::Round:
        return {0.44, 0.72, 0.0, 0.0, false, false};
    case MouthShape::TeethOnLip:
        return {0.74, 0.4, 0.75, 0, false, true};
    case MouthShape::Tongue:
        return {0.80, 0.55, 0.3, 0.0, true, false};
    }
    return {0.86, 0.0, 0, 0, false, false};
}

} // namespace

MouthWidget::MouthWidget(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
    resize(DefaultWidth, DefaultHeight);
}

void MouthWidget::setShape(MouthShape shape)
{
    if (shape == shape_)
        return;
    shape_ = shape;
    update();
    emit shapeChanged(shape);
}

void MouthWidget::placeOver(const QPoint& avatarTopLeft, int mouthLeftTwips, int mouthTopTwips)
{
    move(avatarTopLeft + QPoint(mouthLeftTwips / TwipsPerPixel, mouthTopTwips / TwipsPerPixel));
}

void MouthWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Pose pose = poseFor(shape_);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal cx = area.center().x(), cy = area.center().y();
    const qreal half = area.width() * pose.width / 2;
    const qreal lip = area.height() * 0.22; // lip thickness
    const qreal gap = (area.height() - 2 * lip) * pose.gap; // opening between the lips
    const qreal upper = cy - gap * 0.55, lower = cy + gap * 0.45;
    const QPointF left(cx - half, cy), right(cx + half, cy);

    // The opening: the inner edges of both lips.
    QPainterPath opening(left);
    opening.cubicTo(cx - half * 0.5, upper, cx + half * 0.5, upper, right.x(), right.y());
    opening.cubicTo(cx + half * 0.5, lower + gap * 0.25, cx - half * 0.5, lower + gap * 0.25, left.x(), left.y());

    // The lips: the outer edges, with a dip in the middle of the upper lip.
    const qreal top = upper - lip, bottom = lower + lip * 1.15;
    QPainterPath lips(left);
    lips.cubicTo(cx - half * 0.55, top - lip * 0.1, cx - half * 0.2, top - lip * 0.2, cx, top + lip * 0.25);
    lips.cubicTo(cx + half * 0.2, top - lip * 0.2, cx + half * 0.55, top - lip * 0.1, right.x(), right.y());
    lips.cubicTo(cx + half * 0.6, bottom + lip * 0.2, cx - half * 0.6, bottom + lip * 0.2, left.x(), left.y());

    QLinearGradient lipColour(0, top, 0, bottom);
    lipColour.setColorAt(0, QColor(176, 72, 84));
    lipColour.setColorAt(0.45, QColor(150, 52, 66));
    lipColour.setColorAt(1, QColor(190, 88, 98));
    p.setPen(QPen(QColor(100, 30, 40, 200), 0.8));
    p.setBrush(lipColour);
    p.drawPath(lips);

    if (gap <= 0.5) {
        // Lips pressed together: only the line where they meet.
        QPainterPath seam(left);
        seam.cubicTo(cx - half * 0.5, cy + lip * 0.15, cx + half * 0.5, cy + lip * 0.15, right.x(), right.y());
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(70, 18, 26), qMax<qreal>(1.0, lip * 0.3), Qt::SolidLine, Qt::RoundCap));
        p.drawPath(seam);
        return;
    }

    p.save();
    p.setClipPath(opening);
    p.fillPath(opening, QColor(52, 12, 20));
    const QRectF inside = opening.boundingRect();
    const QColor teeth(246, 242, 232);
    if (pose.upperTeeth > 0)
        p.fillRect(QRectF(inside.left(), inside.top(), inside.width(), inside.height() * pose.upperTeeth), teeth);
    if (pose.lowerTeeth > 0)
        p.fillRect(QRectF(inside.left(), inside.bottom() - inside.height() * pose.lowerTeeth, inside.width(),
                       inside.height() * pose.lowerTeeth),
            teeth.darker(106));
    if (pose.tongueTip) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(222, 112, 124));
        p.drawEllipse(QPointF(cx, inside.top() + inside.height() * 0.62), half * 0.45, inside.height() * 0.45);
    } else if (shape_ == MouthShape::Open || shape_ == MouthShape::Round) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(170, 70, 82));
        p.drawEllipse(QPointF(cx, inside.bottom()), half * 0.55, inside.height() * 0.3);
    }
    if (pose.lipUnderTeeth) {
        // The lower lip tucked up under the upper teeth.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(186, 84, 96));
        p.drawEllipse(QPointF(cx, inside.bottom()), half * 0.9, inside.height() * 0.4);
    }
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(90, 24, 34), 0.8));
    p.drawPath(opening);
}

} // namespace cfb::client
