#pragma once

#include <QString>

#include <algorithm>
#include <cstdint>
#include <limits>

// What every store does alike with the values it keeps, so the stores agree on them.
namespace cfb::service::StoredValues {

// The key handles and e-mail addresses are looked up and kept unique by: letter case does not
// count (Unicode case folding).
inline QString keyOf(const QString& text)
{
    return text.toCaseFolded();
}

// A stored number as the 16-bit value the replies carry, clamped to its range.
inline int16_t int16Of(int64_t value)
{
    return int16_t(
        std::clamp<int64_t>(value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

} // namespace cfb::service::StoredValues
