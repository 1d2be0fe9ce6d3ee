#include "platform/Cp1252.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace cfb {
namespace {

constexpr char IcuSubstitute = '\x1a';

} // namespace

QByteArray toCp1252(QStringView text)
{
    QStringEncoder encoder("windows-1252");
    QByteArray out = encoder(text);
    if (!out.contains(IcuSubstitute))
        return out;

    // ICU marks a character the code page lacks with SUB (0x1A); a real U+001A encodes to the
    // same byte, so tell them apart one code point at a time.
    out.clear();
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width
            = (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
        const QStringView one = text.sliced(i, width);
        if (width == 1 && one[0] == QChar(0x1a)) {
            out += IcuSubstitute;
        } else {
            QStringEncoder single("windows-1252");
            const QByteArray b = single(one);
            out += (b.size() == 1 && b[0] != IcuSubstitute) ? b : QByteArray("?");
        }
        i += width;
    }
    return out;
}

QString fromCp1252(QByteArrayView bytes)
{
    QStringDecoder decoder("windows-1252");
    return decoder(bytes);
}

} // namespace cfb
