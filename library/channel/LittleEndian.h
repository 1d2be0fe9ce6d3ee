#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace cfb::LittleEndian {

// The lowest bytes of value, lowest first.
inline void append(QByteArray& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char(uint8_t(value >> (8 * i)));
}

inline void write(uint8_t* at, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

// The caller has checked that bytes are there.
inline uint64_t read(QByteArrayView content, qsizetype at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(content[at + i]);
    return value;
}

} // namespace cfb::LittleEndian
