#pragma once

#include <cstdint>

namespace cfb {

// Options of a datagram socket. Writing one stores it and applies it to the socket in use at
// once; reading one asks the socket (0 / false without one). The stored values are applied to
// every socket registered with RegisterForUse while ReuseProperties is on.
class ivSocketUDPOptions {
public:
    ivSocketUDPOptions() = default;
    ~ivSocketUDPOptions() { m_handle = -1; }
    ivSocketUDPOptions(const ivSocketUDPOptions&) = delete;
    ivSocketUDPOptions& operator=(const ivSocketUDPOptions&) = delete;

    bool ReuseProperties() const { return m_reuseProperties; }
    void setReuseProperties(bool on) { m_reuseProperties = on; }
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
    int32_t handle() const { return m_handle; }

    // Makes lSocket the socket in use (-1 for none) and applies the stored options to it.
    void RegisterForUse(int32_t lSocket);
    // True when the socket in use is bound to a local port.
    bool IsBinded() const;

private:
    void applyAll();

    bool m_reuseProperties = true;
    int32_t m_handle = -1;
    bool m_dontRoute = false;
    int32_t m_receiveBufferSize = 65535;
    int32_t m_sendBufferSize = 65535;
    int32_t m_receiveTimeout = 50;
    int32_t m_sendTimeout = 50;
};

} // namespace cfb
