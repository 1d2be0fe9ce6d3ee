#include "chat/ChatTranscript.h"

namespace cfb::client {

QString ChatTranscript::Line::text() const
{
    return notice ? message : handle + QStringLiteral(": ") + message;
}

void ChatTranscript::append(const QString& handle, const QString& message)
{
    const Line added{handle, message};
    lines_.append(added);
    emit lineAdded(added);
}

void ChatTranscript::appendNotice(const QString& text)
{
    const Line added{QString(), text, true};
    lines_.append(added);
    emit lineAdded(added);
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
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += line.text();
    }
    return text;
}

} // namespace cfb::client
