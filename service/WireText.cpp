#include "WireText.h"

#include "platform/Cp1252.h"

namespace cfb::service {
namespace {

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

QString fromWire(QByteArrayView bytes)
{
    return isAscii(bytes) ? QString::fromLatin1(bytes) : fromCp1252(bytes);
}

QByteArray toWire(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return toCp1252(text);
    }
    return text.toLatin1();
}

bool hasControlCharacters(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

} // namespace cfb::service
