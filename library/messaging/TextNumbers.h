#pragma once

#include <QString>

#include <cstdint>

namespace cfb {

// Conversions of text read from the service, the settings store or a datagram into numbers.
// Text that is not a number raises ConfaboError TypeMismatch; a number out of range raises
// Overflow. Fractions round to the nearest integer, halves to even.
int32_t toLong(const QString& text);
int16_t toInteger(const QString& text);

// The number at the start of the text ("12.7abc" is 12.7, "" and "abc" are 0), rounded and
// clamped into 16 bits.
int16_t leadingInteger(const QString& text);

// "True"/"False" in any letter case, or a number (non-zero is true); anything else raises
// TypeMismatch.
bool toBoolean(const QString& text);

} // namespace cfb
