#pragma once

#include "transport/SocketOptionSet.h"

#include <cstdint>

namespace cfb {

// Options of a stream socket: the common set (buffer sizes 9898, timeouts 100 ms) and the stream
// options, kept and applied the same way. Nothing in Confabo opens stream sockets; the holder is part of the
// transport's object model.
class ivSocketOptions : public SocketOptionSet {
public:
    ivSocketOptions()
        : SocketOptionSet(9898, 100)
    {
    }

    bool OOBInline() const;
    void setOOBInline(bool on);
    // Linux has no SO_USELOOPBACK: the value is kept for RegisterForUse but never reaches a socket.
    bool UseLoopback() const;
    void setUseLoopback(bool on);
    bool ReuseAddress() const;
    void setReuseAddress(bool on);
    bool Listening() const;
    bool Linger() const;
    void setLinger(bool on);
    bool KeepAlive() const;
    void setKeepAlive(bool on);
    int32_t AcceptQueue() const { return acceptQueue_; }
    void setAcceptQueue(int32_t n) { acceptQueue_ = n < 0 ? 0 : n; }
    bool TcpNoDelay() const;
    void setTcpNoDelay(bool on);

protected:
    void applyAll() override;

private:
    void applyLinger(bool on) const;

    int32_t acceptQueue_ = 3;
    bool reuseAddress_ = false;
    bool linger_ = false;
    bool keepAlive_ = false;
    bool noDelay_ = true;
    bool useLoopback_ = false;
    bool oobInline_ = false;
};

} // namespace cfb
