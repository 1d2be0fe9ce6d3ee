#pragma once

#include <QStringList>

#include <cstdint>

namespace cfb {

// Finds YUVFrame in libpixmill.so, loaded with dlopen on first use and kept for the life of the process.
class PixmillLoader {
public:
    using YUVFrameFn
        = void (*)(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height);

    // The conversion, or null when Pixmill cannot be loaded. Only the first call searches.
    static YUVFrameFn yuvFrame();

    // Where Pixmill is looked for: beside the library itself (a bare name would only search the
    // library path and the caller's run path), then by bare name.
    static QStringList candidates();

    // Tries each file in turn; the YUVFrame of the first that loads and exports it, else null.
    static YUVFrameFn loadFrom(const QStringList& files);
};

} // namespace cfb
