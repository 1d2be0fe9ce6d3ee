// Hostile frames to one Vp8Decoder, as a buddy's packets could bring them: the input is a run of
// frames, each after a two-byte little-endian length. Every frame decodes or is refused without a
// crash, a leak or an unbounded allocation, and a picture is never larger than the decoder allows.
#include "video/Vp8Decoder.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    cfb::Vp8Decoder decoder;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
        at += 2;
        const auto result = decoder.decode(QByteArrayView(data + at, qsizetype(length)));
        at += length;
        const cfb::I420View picture = decoder.picture();
        if (result == cfb::Vp8Decoder::Result::Picture
            && (!picture.isValid() || picture.width > cfb::Vp8Decoder::MaxSide || picture.height > cfb::Vp8Decoder::MaxSide))
            std::abort();
        if (result != cfb::Vp8Decoder::Result::Picture && !decoder.needsKeyFrame())
            std::abort();
    }
    return 0;
}
