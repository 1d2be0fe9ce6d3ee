#include "protocol/HexText.h"

namespace cfb::HexText {

char digit(unsigned value)
{
    return "0123456789ABCDEF"[value & 15];
}

int valueOf(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

QString fromBytes(QByteArrayView bytes)
{
    QString out(2 * bytes.size(), Qt::Uninitialized);
    QChar* p = out.data();
    for (const char byte : bytes) {
        *p++ = QLatin1Char(digit(static_cast<unsigned char>(byte) >> 4));
        *p++ = QLatin1Char(digit(static_cast<unsigned char>(byte)));
    }
    return out;
}

std::optional<QByteArray> toBytes(QStringView hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    QByteArray bytes(hex.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = valueOf(hex[2 * i].unicode());
        const int low = valueOf(hex[2 * i + 1].unicode());
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = char(high << 4 | low);
    }
    return bytes;
}

} // namespace cfb::HexText
