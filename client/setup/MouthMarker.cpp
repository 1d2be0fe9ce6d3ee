#include "setup/MouthMarker.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace cfb::client {

MouthMarker::MouthMarker(QWidget* avatar, QWidget* parent)
    : QWidget(parent)
    , avatar_(avatar)
{
    setObjectName(QStringLiteral("picMouth"));
    setFixedSize(Width, Height);
    setCursor(Qt::SizeAllCursor);
    setToolTip(QStringLiteral("Drag the lips onto your avatar's mouth"));
}

QPoint MouthMarker::dragged(const QRect& avatar, const QRect& marker, QPoint pointer)
{
    QPoint to = marker.topLeft();
    const int left = marker.left() + pointer.x();
    if (left > avatar.left() && left < avatar.left() + avatar.width() - marker.width())
        to.setX(left);
    const int top = marker.top() + pointer.y();
    if (top > avatar.top() && top < avatar.top() + avatar.height() - marker.height())
        to.setY(top);
    return to;
}

void MouthMarker::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint to = dragged(avatar_->geometry(), geometry(), event->position().toPoint());
    if (to != pos()) {
        move(to);
        emit moved();
    }
}

void MouthMarker::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF lips = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QPainterPath upper;
    upper.moveTo(lips.left(), lips.center().y());
    upper.cubicTo(lips.left() + lips.width() * 0.25, lips.top() - 1, lips.center().x() - 3, lips.top(),
        lips.center().x(), lips.top() + 3);
    upper.cubicTo(lips.center().x() + 3, lips.top(), lips.right() - lips.width() * 0.25, lips.top() - 1, lips.right(),
        lips.center().y());
    upper.closeSubpath();
    QPainterPath lower;
    lower.moveTo(lips.left(), lips.center().y());
    lower.cubicTo(lips.left() + lips.width() * 0.3, lips.bottom() + 1, lips.right() - lips.width() * 0.3,
        lips.bottom() + 1, lips.right(), lips.center().y());
    lower.closeSubpath();
    painter.setPen(QPen(QColor(110, 20, 30), 1.2));
    painter.setBrush(QColor(200, 45, 60));
    painter.drawPath(upper);
    painter.setBrush(QColor(220, 70, 80));
    painter.drawPath(lower);
    painter.drawLine(QPointF(lips.left() + 2, lips.center().y()), QPointF(lips.right() - 2, lips.center().y()));
}

} // namespace cfb::client
