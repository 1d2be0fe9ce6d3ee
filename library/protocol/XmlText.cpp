#include "protocol/XmlText.h"

#include "protocol/Cp1252.h"

namespace cfb::XmlText {
namespace {

bool needsEscaping(QStringView text)
{
    for (const QChar c : text) {
        if (c == u'&' || c == u'<' || c == u'>' || c == QChar(0))
            return true;
    }
    return false;
}

} // namespace

QString escaped(QStringView text)
{
    if (!needsEscaping(text))
        return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (c == u'<')
            out += QLatin1String("&lt;");
        else if (c == u'>')
            out += QLatin1String("&gt;");
        else
            out += c == QChar(0) ? QChar(u'?') : c;
    }
    return out;
}

QByteArray escapedCp1252(QStringView text)
{
    return needsEscaping(text) ? toCp1252(escaped(text)) : toCp1252(text);
}

} // namespace cfb::XmlText
