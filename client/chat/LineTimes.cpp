#include "chat/LineTimes.h"

#include "chat/BoxOverlay.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

namespace cfb::client {
namespace {

const QColor TimeColour(128, 128, 128);
const QColor BandColour(200, 200, 200);
constexpr int Gap = 6;

QFont smallFont(const QFont& text)
{
    QFont small = text;
    small.setPointSizeF(std::max(6.0, text.pointSizeF() * 0.8));
    return small;
}

} // namespace

LineTimes::LineTimes(QTextEdit& box, std::function<Place(const QTextBlock&)> placeOf, QObject* parent)
    : QObject(parent)
    , box_(&box)
    , placeOf_(std::move(placeOf))
{
    overlay_ = new BoxOverlay(box, [this](QWidget& overlay) { paint(overlay); });
}

void LineTimes::update()
{
    overlay_->update();
}

int LineTimes::timeColumn(const QFont& font)
{
    const QFontMetrics metrics(smallFont(font));
    int widest = 0;
    for (const QTime& time : {QTime(0, 0), QTime(12, 59), QTime(23, 59)})
        widest = std::max(widest, metrics.horizontalAdvance(timeText(QDateTime(QDate(2000, 1, 1), time))));
    return widest + Gap;
}

int LineTimes::dayBand(const QFont& font)
{
    return QFontMetrics(smallFont(font)).height() + Gap;
}

QString LineTimes::dayName(const QDate& day, const QDate& today)
{
    const qint64 ago = day.daysTo(today);
    if (ago == 0)
        return QStringLiteral("Today");
    if (ago == 1)
        return QStringLiteral("Yesterday");
    if (ago > 1 && ago < 7)
        return QLocale().dayName(day.dayOfWeek());
    return QLocale().toString(day, QLocale::LongFormat);
}

// Hours and minutes in the locale's way; some locales' short format carries seconds too.
QString LineTimes::timeText(const QDateTime& when)
{
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    format.remove(QStringLiteral(":ss")).remove(QStringLiteral(".ss"));
    return QLocale().toString(when.time(), format);
}

void LineTimes::paint(QWidget& overlay) const
{
    if (!box_)
        return;
    QTextEdit& box = *box_;
    QPainter painter(&overlay);
    const QFont small = smallFont(box.font());
    painter.setFont(small);
    const QFontMetrics metrics(small);
    const QRect view = box.viewport()->rect();
    const QDate today = QDate::currentDate();
    QTextBlock block = box.cursorForPosition(view.topLeft()).block();
    if (block.previous().isValid())
        block = block.previous(); // its band may reach into sight
    const QTextBlock last = box.cursorForPosition(view.bottomRight()).block();
    for (; block.isValid(); block = block.next()) {
        const Place place = placeOf_(block);
        if (place.line && place.line->when.isValid()) {
            const QRect start = box.cursorRect(QTextCursor(block));
            const int left = start.left() - int(block.blockFormat().leftMargin());
            if (place.first) {
                painter.setPen(TimeColour);
                painter.drawText(QRect(left, start.top(), int(block.blockFormat().leftMargin()) - Gap, start.height()),
                    Qt::AlignRight | Qt::AlignVCenter, timeText(place.line->when));
            }
            const int band = int(block.blockFormat().topMargin());
            if (band > 0) {
                const QRect strip(view.left(), start.top() - band, view.width(), band);
                const QString name = dayName(place.line->when.date(), today);
                const int width = metrics.horizontalAdvance(name) + 2 * Gap;
                const int middle = strip.center().y();
                painter.setPen(BandColour);
                painter.drawLine(strip.left() + Gap, middle, strip.center().x() - width / 2, middle);
                painter.drawLine(strip.center().x() + width / 2, middle, strip.right() - Gap, middle);
                painter.setPen(TimeColour);
                painter.drawText(strip, Qt::AlignCenter, name);
            }
        }
        if (block == last)
            break;
    }
}

} // namespace cfb::client
