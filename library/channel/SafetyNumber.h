#pragma once

#include "channel/NoiseTypes.h"

#include <QString>

namespace cfb {

// The number two buddies compare (read aloud, or one scans the other's code) to be sure each
// holds the other's real public key: 60 digits in 12 groups of 5, the same on both sides.
//
// Each public key gives 30 digits: a BLAKE2b-512 digest chain of Iterations steps,
//   d(1) = H(0x00 || key),  d(i) = H(0x00 || d(i-1) || key),
// where 0x00 is the version; the first 30 bytes of the last digest, read as six 5-byte
// big-endian numbers each taken mod 100000, give six 5-digit groups (leading zeros kept).
// The two halves are put in the order of their keys compared bytewise, the smaller key's
// first, so the order of the arguments does not matter. The chain makes finding a second key
// with the same digits expensive.
namespace SafetyNumber {

inline constexpr uint8_t Version = 0;
inline constexpr int Iterations = 5200;
inline constexpr int Digits = 60;

// "12345 67890 ..." (12 groups separated by single spaces).
QString of(const Key32& a, const Key32& b);
// The same 60 digits without spaces, for a QR code.
QString qrText(const Key32& a, const Key32& b);

} // namespace SafetyNumber
} // namespace cfb
