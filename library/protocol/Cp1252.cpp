#include "protocol/Cp1252.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace cfb {
namespace {

constexpr char IcuSubstitute = '\x1a';

// Opening an ICU converter costs more than converting a message, so each thread keeps one of
// each, reset before every use.
QStringEncoder& encoder()
{
    thread_local QStringEncoder e("windows-1252");
    e.resetState();
    return e;
}

QStringDecoder& decoder()
{
    thread_local QStringDecoder d("windows-1252");
    d.resetState();
    return d;
}

} // namespace

QByteArray toCp1252(QStringView text)
{
    // Plain ASCII is the same bytes in every encoding involved.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1();

    QByteArray out = encoder()(text);
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
            const QByteArray b = encoder()(one);
            out += (b.size() == 1 && b[0] != IcuSubstitute) ? b : QByteArray("?");
        }
        i += width;
    }
    return out;
}

QString fromCp1252(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    return decoder()(bytes);
}

} // namespace cfb
