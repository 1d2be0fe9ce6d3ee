#include "chat/ChatTranscript.h"

namespace cfb::client {

QString ChatTranscript::Line::text() const
{
    if (isPicture())
        return QString();
    return notice ? message : handle + QStringLiteral(": ") + message;
}

void ChatTranscript::add(Line line)
{
    if (!line.when.isValid())
        line.when = QDateTime::currentDateTime();
    lines_.append(std::move(line));
    emit lineAdded(lines_.constLast());
}

void ChatTranscript::append(
    const QString& handle, const QString& message, bool secure, const QDateTime& written, uint64_t lineId)
{
    Line line{handle, message};
    line.secure = secure;
    line.lineId = secure ? lineId : 0;
    line.when = written.toLocalTime();
    add(std::move(line));
}

void ChatTranscript::appendOwn(const QString& handle, const QString& message, Delivery delivery, uint64_t lineId)
{
    Line line{handle, message};
    line.delivery = delivery == Delivery::Pending && lineId == 0 ? Delivery::Unmarked : delivery;
    line.lineId = line.delivery == Delivery::Pending ? lineId : 0;
    line.secure = line.lineId != 0;
    add(std::move(line));
}

void ChatTranscript::appendNotice(const QString& text)
{
    add(Line{QString(), text, true});
}

void ChatTranscript::appendEvent(const QString& text)
{
    Line line{QString(), text, true};
    line.kept = true;
    add(std::move(line));
}

void ChatTranscript::appendPicture(const QString& handle, const QImage& picture, const QDateTime& when)
{
    if (picture.isNull())
        return;
    Line line{handle};
    line.picture = picture;
    line.when = when;
    add(std::move(line));
    int whole = 0;
    for (qsizetype i = lines_.size() - 1; i >= 0; --i) {
        QImage& kept = lines_[i].picture;
        if (kept.isNull() || kept.width() <= KeptThumbnailSide && kept.height() <= KeptThumbnailSide)
            continue;
        if (++whole > PicturesKeptWhole)
            kept = kept.scaled(KeptThumbnailSide, KeptThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
}

void ChatTranscript::markDelivered(uint64_t lineId, const QDateTime& at)
{
    mark(lineId, Delivery::Delivered, at);
}

void ChatTranscript::markNotDelivered(uint64_t lineId)
{
    mark(lineId, Delivery::NotDelivered, QDateTime());
}

// Acknowledgements come within half a minute of the send, so the line is near the end.
void ChatTranscript::mark(uint64_t lineId, Delivery delivery, const QDateTime& at)
{
    if (lineId == 0)
        return;
    for (qsizetype i = lines_.size() - 1; i >= 0; --i) {
        Line& line = lines_[i];
        if (line.lineId != lineId || line.delivery != Delivery::Pending)
            continue;
        line.delivery = delivery;
        line.deliveredAt = at;
        emit lineChanged(i, line);
        return;
    }
}

void ChatTranscript::clear()
{
    lines_.clear();
    emit cleared();
}

void ChatTranscript::restore(QList<Line> lines)
{
    lines_ = std::move(lines);
    emit cleared(); // the views draw the lines anew
}

QString ChatTranscript::text() const
{
    QString text;
    for (const Line& line : lines_) {
        if (line.isPicture())
            continue;
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += line.text();
    }
    return text;
}

} // namespace cfb::client
