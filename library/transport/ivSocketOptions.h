#pragma once

#include <cstdint>

namespace cfb {

// Options of a stream socket, kept like ivSocketUDPOptions: writes store and apply at once, reads
// ask the socket, RegisterForUse applies the stored set to a new socket while ReuseProperties is
// on. Nothing in Confabo opens stream sockets; the holder is part of the transport's object model.
class ivSocketOptions {
public:
    ivSocketOptions() = default;
    ~ivSocketOptions() { m_handle = -1; }
    ivSocketOptions(const ivSocketOptions&) = delete;
    ivSocketOptions& operator=(const ivSocketOptions&) = delete;

    bool OOBInline() const;
    void setOOBInline(bool on);
    // Linux has no SO_USELOOPBACK: the value is kept for RegisterForUse but never reaches a socket.
    bool UseLoopback() const;
    void setUseLoopback(bool on);
    bool ReuseProperties() const { return m_reuseProperties; }
    void setReuseProperties(bool on) { m_reuseProperties = on; }
    bool ReuseAddress() const;
    void setReuseAddress(bool on);
    bool Listening() const;
    bool Linger() const;
    void setLinger(bool on);
    bool KeepAlive() const;
    void setKeepAlive(bool on);
    int32_t AcceptQueue() const { return m_acceptQueue; }
    void setAcceptQueue(int32_t n) { m_acceptQueue = n < 0 ? 0 : n; }
    bool DontRoute() const;
    void setDontRoute(bool on);
    int32_t ReceiveBufferSize() const;
    void setReceiveBufferSize(int32_t bytes);
    int32_t SendBufferSize() const;
    void setSendBufferSize(int32_t bytes);
    int32_t ReceiveTimeout() const;
    void setReceiveTimeout(int32_t ms);
    int32_t SendTimeout() const;
    void setSendTimeout(int32_t ms);
    bool TcpNoDelay() const;
    void setTcpNoDelay(bool on);
    int32_t handle() const { return m_handle; }
    void RegisterForUse(int32_t lSocket);

private:
    void applyLinger(bool on) const;
    void applyAll();

    bool m_reuseProperties = true;
    int32_t m_handle = -1;
    int32_t m_acceptQueue = 3;
    bool m_reuseAddress = false;
    bool m_linger = false;
    bool m_keepAlive = false;
    bool m_dontRoute = false;
    int32_t m_receiveBufferSize = 9898;
    int32_t m_sendBufferSize = 9898;
    int32_t m_receiveTimeout = 100;
    int32_t m_sendTimeout = 100;
    bool m_noDelay = true;
    bool m_useLoopback = false;
    bool m_oobInline = false;
};

} // namespace cfb
