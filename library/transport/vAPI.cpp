#include "transport/vAPI.h"

namespace cfb::vAPI {

int32_t LoByte(int32_t n)
{
    return n & 0xff;
}

int32_t HiByte(int32_t n)
{
    return (n >> 8) & 0xff;
}

int32_t LoWord(int32_t n)
{
    return n & 0xffff;
}

int32_t HiWord(int32_t n)
{
    return int32_t((uint32_t(n) >> 16) & 0xffff);
}

int32_t MakeLong(int32_t lo, int32_t hi)
{
    return int32_t((uint32_t(hi & 0xffff) << 16) | uint32_t(lo & 0xffff));
}

bool IsArrayEmpty(const QByteArray& a)
{
    return a.isEmpty();
}

bool IsArrayEmpty(const QVariant& a)
{
    if (a.typeId() == QMetaType::QByteArray)
        return a.toByteArray().isEmpty();
    if (a.canConvert<QVariantList>() && a.typeId() != QMetaType::QString)
        return a.toList().isEmpty();
    return true;
}

} // namespace cfb::vAPI
