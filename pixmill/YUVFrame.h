#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Converts one I420 frame (planes Y, then U = Cb, then V = Cr) into 24-bit blue-green-red pixels laid
// out as bottom-up bitmap rows: source row k lands in output row Height - 1 - k, each row
// ((3 * Width + 3) / 4) * 4 bytes long. The padding bytes at the end of each row are never written.
// Chroma planes hold (Height + 1) / 2 rows of (Width + 1) / 2 samples; one sample serves a 2x2 block.
// Width or Height below 1 writes nothing. Keeps no state; safe to call from several threads at once.
__attribute__((visibility("default"))) void YUVFrame(
    const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height);

#ifdef __cplusplus
}
#endif
