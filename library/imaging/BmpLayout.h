#pragma once

#include <QByteArrayView>
#include <QSize>

namespace cfb {

// What the headers of a BMP file held in memory promise, checked against the bytes present: the
// picture's size and whether all of its pixel data is there. Reads only the headers and, for
// run-length encoded pixels, walks the runs without painting them, so it costs next to nothing
// beside the decoding. Layouts the picture decoder reads: 1-, 4-, 8-, 16-, 24- and 32-bit rows,
// bit fields for 16 and 32 bits, RLE8 and RLE4, headers of 12, 40, 64, 108 and 124 bytes.
class BmpLayout {
public:
    explicit BmpLayout(QByteArrayView file);

    // True when the headers are readable and no byte of the pixel data they promise is missing.
    bool complete() const { return complete_; }
    // Width and row count, whichever way the rows are stored; invalid when the headers are not.
    QSize size() const { return size_; }

private:
    bool rowsPresent(QByteArrayView pixels, int bitCount) const;
    static bool runsPresent(QByteArrayView pixels, bool fourBit);

    QSize size_;
    bool complete_ = false;
};

} // namespace cfb
