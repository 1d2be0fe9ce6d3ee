#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Percent-encoding ("%XX", upper-case hex) under the rules each place that uses it needs.
namespace cfb::PercentCoding {

// application/x-www-form-urlencoded: letters, digits and "*-._" pass, a space becomes '+',
// every other byte %XX.
QByteArray formEncoded(QByteArrayView bytes);
// The reverse, strict: '+' is a space; a '%' not followed by two hex digits gives nothing.
std::optional<QByteArray> formDecoded(QByteArrayView text);

// A URL path: printable ASCII passes, spaces, control characters and 8-bit bytes become %XX.
QByteArray pathEncoded(QByteArrayView bytes);

// The text with '%' and each of the reserved characters (all ASCII) as %XX, everything else
// unchanged: a reversible way to keep those characters out of a name.
QString escaped(QStringView text, QStringView reserved);

} // namespace cfb::PercentCoding
