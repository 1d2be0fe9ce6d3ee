#include "mainwindow/ReachabilityLabel.h"

#include <QPainter>

namespace cfb::client {
namespace {

constexpr int Gap = 4; // between the dot and the text
constexpr int MinimumShown = 4; // characters, the "..." included

} // namespace

ReachabilityLabel::ReachabilityLabel(QWidget* parent)
    : QWidget(parent)
{
    // Asks for no room of its own: the panels keep their width, this takes what is left.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setToolTip(QStringLiteral("How buddies reach you"));
}

void ReachabilityLabel::setReachability(const Reachability& now)
{
    now_ = now;
    setToolTip(QStringLiteral("How buddies reach you: %1").arg(now_.text()));
    setAccessibleName(now_.text());
    update();
}

int ReachabilityLabel::dotSize() const
{
    return fontMetrics().height() * 2 / 3;
}

QSize ReachabilityLabel::sizeHint() const
{
    return {dotSize() + Gap + fontMetrics().horizontalAdvance(now_.text()), fontMetrics().height()};
}

QSize ReachabilityLabel::minimumSizeHint() const
{
    return {dotSize() + 2, fontMetrics().height()};
}

void ReachabilityLabel::paintEvent(QPaintEvent*)
{
    if (now_.kind == Reachability::Unknown)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int dot = dotSize();
    const QRectF dotRect(1, (height() - dot) / 2.0, dot, dot);
    const QColor colour = now_.kind == Reachability::BehindRouter ? QColor(0xe0, 0x9a, 0x00) : QColor(0x2e, 0x9d, 0x4a);
    painter.setPen(colour.darker(140));
    painter.setBrush(colour);
    painter.drawEllipse(dotRect);

    const int textLeft = dot + Gap + 1;
    const QRect textRect(textLeft, 0, width() - textLeft, height());
    const QString shown = fontMetrics().elidedText(now_.text(), Qt::ElideRight, textRect.width());
    if (shown.size() < MinimumShown) // the dot says more than a lone "..."
        return;
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, shown);
}

} // namespace cfb::client
