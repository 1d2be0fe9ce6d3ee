#include "messaging/TextNumbers.h"

#include "messaging/ConfaboError.h"

#include <cmath>
#include <limits>
#include <optional>

namespace cfb {
namespace {

// Length of the longest prefix of text that reads as a decimal number: optional sign, digits,
// optional fraction, optional exponent.
qsizetype numberPrefix(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype digitsStart = i;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128)
        ++i;
    qsizetype digits = i - digitsStart;
    if (i < n && text[i] == u'.') {
        qsizetype j = i + 1;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128)
            ++j;
        digits += j - i - 1;
        i = j;
    }
    if (digits == 0)
        return 0;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        const qsizetype expStart = j;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128)
            ++j;
        if (j > expStart)
            i = j;
    }
    return i;
}

std::optional<double> wholeNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || numberPrefix(t) != t.size())
        return std::nullopt;
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

template <typename Int> Int roundedInto(double value, const QString& text)
{
    const double r = std::nearbyint(value); // default rounding mode: halves to even
    if (r < double(std::numeric_limits<Int>::min()) || r > double(std::numeric_limits<Int>::max()))
        throw ConfaboError(ConfaboError::Overflow, QStringLiteral("Overflow: %1").arg(text));
    return static_cast<Int>(r);
}

} // namespace

int32_t toLong(const QString& text)
{
    const auto value = wholeNumber(text);
    if (!value)
        throw ConfaboError::typeMismatch(QStringLiteral("\"%1\" is not a number").arg(text));
    return roundedInto<int32_t>(*value, text);
}

int16_t toInteger(const QString& text)
{
    const auto value = wholeNumber(text);
    if (!value)
        throw ConfaboError::typeMismatch(QStringLiteral("\"%1\" is not a number").arg(text));
    return roundedInto<int16_t>(*value, text);
}

int16_t leadingInteger(const QString& text)
{
    QStringView t = QStringView(text).trimmed();
    const qsizetype len = numberPrefix(t);
    if (len == 0)
        return 0;
    const double r = std::nearbyint(t.first(len).toDouble());
    if (std::isnan(r))
        return 0;
    if (r < std::numeric_limits<int16_t>::min())
        return std::numeric_limits<int16_t>::min();
    if (r > std::numeric_limits<int16_t>::max())
        return std::numeric_limits<int16_t>::max();
    return static_cast<int16_t>(r);
}

bool toBoolean(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto value = wholeNumber(t))
        return *value != 0.0;
    throw ConfaboError::typeMismatch(QStringLiteral("\"%1\" is not a Boolean").arg(text));
}

} // namespace cfb
