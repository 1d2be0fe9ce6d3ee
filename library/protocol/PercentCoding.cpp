#include "protocol/PercentCoding.h"

#include "protocol/HexText.h"

namespace cfb::PercentCoding {
namespace {

template <typename Out> void appendEscape(Out& out, unsigned byte)
{
    out += '%';
    out += HexText::digit(byte >> 4);
    out += HexText::digit(byte);
}

bool passesInForm(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' || c == '-'
        || c == '.' || c == '_';
}

} // namespace

QByteArray formEncoded(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (passesInForm(c))
            out += char(c);
        else if (c == ' ')
            out += '+';
        else
            appendEscape(out, c);
    }
    return out;
}

std::optional<QByteArray> formDecoded(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexText::valueOf(static_cast<unsigned char>(text[i + 1]));
            const int low = HexText::valueOf(static_cast<unsigned char>(text[i + 2]));
            if (high < 0 || low < 0)
                return std::nullopt;
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray pathEncoded(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c >= 0x7f)
            appendEscape(out, c);
        else
            out += char(c);
    }
    return out;
}

QString escaped(QStringView text, QStringView reserved)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'%' || reserved.contains(c))
            appendEscape(out, c.unicode());
        else
            out += c;
    }
    return out;
}

} // namespace cfb::PercentCoding
