#pragma once

#include <QByteArray>
#include <cstdint>

namespace cfb {

// Received bytes waiting for their owner: appended at the end, taken from the front.
class ivBuffer {
public:
    ivBuffer() = default;
    ~ivBuffer() { Flush(); }

    void Flush();
    int32_t StoredBytes() const { return int32_t(data_.size()); }

    // Appends the first BytesLen bytes of bR (all of them when BytesLen is negative or larger
    // than bR). An empty bR changes nothing.
    void BufferReadIn(const QByteArray& bR, int32_t BytesLen);
    // Takes up to BytesLen bytes from the front into tR and sets BytesLen to the count taken.
    // With nothing stored, or BytesLen 0 or negative, tR becomes empty and BytesLen -1.
    void BufferReadOut(QByteArray& tR, int32_t& BytesLen);

private:
    QByteArray data_;
};

} // namespace cfb
