#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Bytes as hex digits: written in upper case, read in either case.
namespace cfb::HexText {

// The upper-case digit of a value from 0 to 15.
char digit(unsigned value);
// The value of an ASCII hex digit of either case; -1 for any other character.
int valueOf(char16_t c);

QString fromBytes(QByteArrayView bytes);
// Nothing for an odd number of digits or a character that is not an ASCII hex digit.
std::optional<QByteArray> toBytes(QStringView hex);

} // namespace cfb::HexText
