// Hostile bytes to PictureFromBytes: any input decodes to a picture or to nothing, without a crash,
// a leak or an unbounded allocation.
#include "imaging/modPic.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QImage picture = cfb::PictureFromBytes(bytes);
    if (!picture.isNull() && (picture.width() > 8192 || picture.height() > 8192))
        std::abort();
    return 0;
}
