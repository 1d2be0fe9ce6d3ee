#include "chat/DeliveryMarks.h"

#include "chat/BoxOverlay.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolTip>

namespace cfb::client {
namespace {

const QString NotDeliveredText = QStringLiteral("not delivered");
const QColor DeliveredColour(20, 150, 60);
const QColor NotDeliveredColour(180, 30, 30);
constexpr int Gap = 5;

QFont markFont(const QFont& text)
{
    QFont small = text;
    small.setPointSizeF(std::max(6.0, text.pointSizeF() * 0.85));
    small.setItalic(true);
    return small;
}

} // namespace

DeliveryMarks::DeliveryMarks(
    QTextEdit& box, std::function<const ChatTranscript::Line*(const QTextBlock&)> lineOf, QObject* parent)
    : QObject(parent)
    , box_(&box)
    , lineOf_(std::move(lineOf))
{
    overlay_ = new BoxOverlay(box, [this](QWidget& overlay) { paint(overlay); });
    box.viewport()->installEventFilter(this); // for the marks' tooltips
}

void DeliveryMarks::update()
{
    overlay_->update();
}

QString DeliveryMarks::toolTip(const ChatTranscript::Line& line)
{
    switch (line.delivery) {
    case ChatTranscript::Delivery::Delivered:
        // A line from the history says only that it arrived.
        if (!line.deliveredAt.isValid())
            return QStringLiteral("Delivered");
        return QStringLiteral("Delivered at %1").arg(line.deliveredAt.toString(QStringLiteral("HH:mm:ss")));
    case ChatTranscript::Delivery::NotDelivered:
        return QStringLiteral("Not delivered: the buddy's Confabo did not confirm this line.");
    default:
        return QString();
    }
}

void DeliveryMarks::forEachVisible(const std::function<void(const ChatTranscript::Line&, const QRect&)>& each) const
{
    if (!box_)
        return;
    QTextEdit& box = *box_;
    const QRect view = box.viewport()->rect();
    const QFontMetrics metrics(markFont(box.font()));
    QTextBlock block = box.cursorForPosition(view.topLeft()).block();
    const QTextBlock last = box.cursorForPosition(view.bottomRight()).block();
    for (; block.isValid(); block = block.next()) {
        const ChatTranscript::Line* line = lineOf_(block);
        if (line
            && (line->delivery == ChatTranscript::Delivery::Delivered
                || line->delivery == ChatTranscript::Delivery::NotDelivered)) {
            QTextCursor end(block);
            end.movePosition(QTextCursor::EndOfBlock);
            const QRect at = box.cursorRect(end);
            const int width = line->delivery == ChatTranscript::Delivery::Delivered
                ? metrics.height()
                : metrics.horizontalAdvance(NotDeliveredText) + 2;
            // At the line's end, or against the right edge where the line fills its row.
            const int left = std::min(at.right() + Gap, view.right() - width - 2);
            each(*line, QRect(left, at.bottom() - metrics.height() + 1, width, metrics.height()));
        }
        if (block == last)
            break;
    }
}

void DeliveryMarks::paint(QWidget& overlay) const
{
    if (!box_)
        return;
    QPainter painter(&overlay);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(markFont(box_->font()));
    forEachVisible([&](const ChatTranscript::Line& line, const QRect& at) {
        if (line.delivery == ChatTranscript::Delivery::Delivered) {
            const QRectF r
                = QRectF(at).adjusted(at.width() * 0.15, at.height() * 0.25, -at.width() * 0.15, -at.height() * 0.15);
            QPainterPath check;
            check.moveTo(r.left(), r.top() + r.height() * 0.55);
            check.lineTo(r.left() + r.width() * 0.38, r.bottom());
            check.lineTo(r.right(), r.top());
            painter.setPen(
                QPen(DeliveredColour, std::max(1.5, at.height() / 8.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPath(check);
        } else {
            painter.fillRect(at, box_->viewport()->palette().base());
            painter.setPen(NotDeliveredColour);
            painter.drawText(at, Qt::AlignLeft | Qt::AlignVCenter, NotDeliveredText);
        }
    });
}

bool DeliveryMarks::eventFilter(QObject* watched, QEvent* event)
{
    if (!box_ || watched != box_->viewport())
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        QString tip;
        forEachVisible([&](const ChatTranscript::Line& line, const QRect& at) {
            if (at.adjusted(-2, -2, 2, 2).contains(help->pos()))
                tip = toolTip(line);
        });
        if (!tip.isEmpty()) {
            QToolTip::showText(help->globalPos(), tip, box_->viewport());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cfb::client
