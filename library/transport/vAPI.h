#pragma once

#include <QByteArray>
#include <QVariant>
#include <cstdint>

namespace cfb::vAPI {

// Bytes and words of the 32-bit numbers that window messages carry.
int32_t LoByte(int32_t n);
int32_t HiByte(int32_t n); // of the low 16 bits
int32_t LoWord(int32_t n);
int32_t HiWord(int32_t n);
int32_t MakeLong(int32_t lo, int32_t hi);

// True when the array has no elements, and for a value that is not an array at all.
bool IsArrayEmpty(const QByteArray& a);
bool IsArrayEmpty(const QVariant& a);

} // namespace cfb::vAPI
