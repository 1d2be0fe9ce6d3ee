#include "speech/MouthTimeline.h"

#include <algorithm>

namespace cfb::client {

MouthShape MouthTimeline::shapeFor(const QByteArray& phoneme)
{
    if (phoneme.isEmpty() || phoneme.startsWith('_'))
        return MouthShape::Closed;
    // Affricates and the post-alveolar fricatives push the lips forward.
    if (phoneme.startsWith("tS") || phoneme.startsWith("dZ") || phoneme.startsWith('S') || phoneme.startsWith('Z'))
        return MouthShape::Round;
    switch (phoneme.at(0)) {
    case 'p':
    case 'b':
    case 'm':
        return MouthShape::Closed;
    case 'f':
    case 'v':
        return MouthShape::TeethOnLip;
    case 'T':
    case 'D':
    case 'l':
    case 'L':
        return MouthShape::Tongue;
    case 'w':
    case 'W':
    case 'u':
    case 'U':
    case 'o':
    case 'O':
    case '0':
    case 'y':
    case 'Y':
        return MouthShape::Round;
    case 'i':
    case 'I':
    case 'e':
    case 'E':
    case 'j':
    case 's':
    case 'z':
        return MouthShape::Wide;
    case 'a':
    case 'A':
    case 'V':
    case '@':
    case '3':
    case '&':
        return MouthShape::Open;
    default:
        return MouthShape::Rest;
    }
}

MouthTimeline MouthTimeline::fromText(const QString& text, int msPerLetter)
{
    MouthTimeline timeline;
    int ms = 0;
    const QString lower = text.toLower();
    for (int i = 0; i < lower.size(); ++i) {
        const QChar c = lower.at(i);
        if (c.isSpace() || c.isPunct()) {
            timeline.add(ms, MouthShape::Closed);
            ms += c.isPunct() ? 3 * msPerLetter : msPerLetter;
            continue;
        }
        if (!c.isLetterOrNumber())
            continue;
        QByteArray phoneme(1, c.toLatin1() ? c.toLatin1() : 'a');
        if (phoneme == "t" && i + 1 < lower.size() && lower.at(i + 1) == u'h')
            phoneme = "T";
        timeline.add(ms, c.isDigit() ? MouthShape::Open : shapeFor(phoneme));
        ms += msPerLetter;
    }
    timeline.finish(ms);
    return timeline;
}

void MouthTimeline::add(int ms, MouthShape shape, const QByteArray& phoneme)
{
    const auto at = std::upper_bound(keys_.begin(), keys_.end(), ms, [](int t, const Key& k) { return t < k.ms; });
    keys_.insert(at, Key{ms, shape, phoneme});
}

void MouthTimeline::finish(int endMs)
{
    endMs_ = std::max(endMs, keys_.isEmpty() ? 0 : keys_.last().ms);
}

MouthShape MouthTimeline::shapeAt(int ms) const
{
    if (finished() && ms >= endMs_)
        return MouthShape::Closed;
    const auto after = std::upper_bound(keys_.begin(), keys_.end(), ms, [](int t, const Key& k) { return t < k.ms; });
    return after == keys_.begin() ? MouthShape::Closed : std::prev(after)->shape;
}

int MouthTimeline::nextChangeAfter(int ms) const
{
    const auto after = std::upper_bound(keys_.begin(), keys_.end(), ms, [](int t, const Key& k) { return t < k.ms; });
    if (after != keys_.end())
        return after->ms;
    return finished() && endMs_ > ms ? endMs_ : -1;
}

} // namespace cfb::client
