#include "transport/ivBuffer.h"

namespace cfb {

void ivBuffer::Flush()
{
    data_.clear();
}

void ivBuffer::BufferReadIn(const QByteArray& bR, int32_t BytesLen)
{
    if (bR.isEmpty() || BytesLen == 0)
        return;
    const qsizetype n = (BytesLen < 0 || BytesLen > bR.size()) ? bR.size() : BytesLen;
    if (data_.isEmpty() && n == bR.size())
        data_ = bR; // shares the datagram's storage instead of copying it
    else
        data_.append(bR.constData(), n);
}

void ivBuffer::BufferReadOut(QByteArray& tR, int32_t& BytesLen)
{
    if (data_.isEmpty() || BytesLen <= 0) {
        tR.clear();
        BytesLen = -1;
        return;
    }
    if (BytesLen >= data_.size()) {
        BytesLen = int32_t(data_.size());
        tR = std::move(data_);
        data_ = QByteArray();
        return;
    }
    tR = data_.left(BytesLen);
    data_.remove(0, BytesLen);
}

} // namespace cfb
