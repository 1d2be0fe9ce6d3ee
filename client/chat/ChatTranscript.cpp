#include "chat/ChatTranscript.h"

namespace cfb::client {

void ChatTranscript::append(const QString& handle, const QString& message)
{
    lines_.append({handle, message});
    emit lineAdded(handle, message);
}

void ChatTranscript::clear()
{
    lines_.clear();
    emit cleared();
}

QString ChatTranscript::text() const
{
    QString text;
    for (const Line& line : lines_) {
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += line.handle + QStringLiteral(": ") + line.message;
    }
    return text;
}

} // namespace cfb::client
