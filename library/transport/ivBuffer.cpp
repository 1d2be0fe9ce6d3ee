#include "transport/ivBuffer.h"

namespace cfb {

void ivBuffer::Flush()
{
    m_data.clear();
}

void ivBuffer::BufferReadIn(const QByteArray& bR, int32_t BytesLen)
{
    if (bR.isEmpty() || BytesLen == 0)
        return;
    const qsizetype n = (BytesLen < 0 || BytesLen > bR.size()) ? bR.size() : BytesLen;
    if (m_data.isEmpty() && n == bR.size())
        m_data = bR; // shares the datagram's storage instead of copying it
    else
        m_data.append(bR.constData(), n);
}

void ivBuffer::BufferReadOut(QByteArray& tR, int32_t& BytesLen)
{
    if (m_data.isEmpty() || BytesLen <= 0) {
        tR.clear();
        BytesLen = -1;
        return;
    }
    if (BytesLen >= m_data.size()) {
        BytesLen = int32_t(m_data.size());
        tR = std::move(m_data);
        m_data = QByteArray();
        return;
    }
    tR = m_data.left(BytesLen);
    m_data.remove(0, BytesLen);
}

} // namespace cfb
