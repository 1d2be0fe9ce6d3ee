#include "channel/PeerSession.h"

#include "channel/ChannelDatagram.h"

#include <cstring>

namespace cfb {

PeerSession::PeerSession(uint32_t localIndex, uint32_t remoteIndex, NoiseCipher sending, NoiseCipher receiving,
    bool initiator, int64_t nowMs)
    : localIndex_(localIndex)
    , remoteIndex_(remoteIndex)
    , sending_(std::move(sending))
    , receiving_(std::move(receiving))
    , initiator_(initiator)
    , confirmed_(initiator)
    , createdMs_(nowMs)
{
}

bool PeerSession::seal(QByteArrayView content, QByteArray& out, int64_t nowMs)
{
    using namespace ChannelDatagram;
    if (!maySend(nowMs) || content.size() > MaxContentSize)
        return false;
    const qsizetype size = DataOverhead + content.size();
    if (out.capacity() < MaxDatagramSize)
        out.reserve(MaxDatagramSize);
    out.resize(size);
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = Data;
    p[1] = p[2] = p[3] = 0;
    writeIndex(p + 4, remoteIndex_);
    const uint64_t counter = sent_++;
    writeCounter(p + 8, counter);
    return sending_.encrypt(counter, QByteArrayView(out.constData(), DataHeaderSize), content, p + DataHeaderSize);
}

bool PeerSession::open(QByteArrayView datagram, QByteArray& out, int64_t nowMs)
{
    using namespace ChannelDatagram;
    if (datagram.size() < DataOverhead || !mayReceive(nowMs))
        return false;
    const uint64_t counter = readCounter(datagram);
    if (!window_.check(counter))
        return false;
    const QByteArrayView sealed = datagram.sliced(DataHeaderSize);
    if (out.capacity() < MaxDatagramSize)
        out.reserve(MaxDatagramSize);
    out.resize(sealed.size() - TagSize);
    if (!receiving_.decrypt(counter, datagram.first(DataHeaderSize), sealed, reinterpret_cast<uint8_t*>(out.data())))
        return false;
    window_.accept(counter);
    confirmed_ = true;
    return true;
}

} // namespace cfb
