#pragma once

#include "channel/NoiseCipher.h"
#include "channel/ReplayWindow.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace cfb {

// One pair of transport keys that a handshake gave two clients. The sender numbers its datagrams
// with an explicit counter (the cipher's nonce); the receiver refuses a counter it has seen or
// that lies behind its window, so a datagram played again shows nothing.
class PeerSession {
public:
    // Keys are rejected after three minutes and replaced after two; counters likewise.
    static constexpr int64_t RekeyAfterMs = 120000;
    static constexpr int64_t RejectAfterMs = 180000;
    static constexpr uint64_t RekeyAfterMessages = uint64_t(1) << 60;
    static constexpr uint64_t RejectAfterMessages = ~uint64_t(0) - (uint64_t(1) << 13);

    PeerSession(uint32_t localIndex, uint32_t remoteIndex, NoiseCipher sending, NoiseCipher receiving,
        bool initiator, int64_t nowMs);

    uint32_t localIndex() const { return localIndex_; }
    uint32_t remoteIndex() const { return remoteIndex_; }
    bool initiator() const { return initiator_; }
    int64_t createdMs() const { return createdMs_; }
    // The responder may send once the initiator's first datagram has shown that both hold the keys.
    bool confirmed() const { return confirmed_; }
    bool mayReceive(int64_t nowMs) const { return nowMs - createdMs_ < RejectAfterMs; }
    bool maySend(int64_t nowMs) const
    {
        return confirmed_ && mayReceive(nowMs) && sent_ < RejectAfterMessages;
    }
    bool wantsRekey(int64_t nowMs) const { return nowMs - createdMs_ >= RekeyAfterMs || sent_ >= RekeyAfterMessages; }

    // Seals content into a whole data datagram in out (its storage reused). False when the
    // session may no longer send.
    bool seal(QByteArrayView content, QByteArray& out, int64_t nowMs);
    // Opens a data datagram sent to this session into out (its storage reused). False, changing
    // nothing, when it does not authenticate, comes again, or is too old.
    bool open(QByteArrayView datagram, QByteArray& out, int64_t nowMs);

private:
    uint32_t localIndex_;
    uint32_t remoteIndex_;
    NoiseCipher sending_;
    NoiseCipher receiving_;
    ReplayWindow window_;
    bool initiator_;
    bool confirmed_;
    int64_t createdMs_;
    uint64_t sent_ = 0;
};

} // namespace cfb
