#pragma once

#include <cstdint>

namespace cfb {

// The options every socket kind has: routing, buffer sizes and timeouts. Writing one stores it and
// applies it to the socket in use at once; reading one asks the socket (0 / false without one).
// RegisterForUse applies the whole stored set to a new socket while ReuseProperties is on.
class SocketOptionSet {
public:
    SocketOptionSet(const SocketOptionSet&) = delete;
    SocketOptionSet& operator=(const SocketOptionSet&) = delete;

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

protected:
    SocketOptionSet(int32_t bufferSize, int32_t timeout)
        : m_receiveBufferSize(bufferSize)
        , m_sendBufferSize(bufferSize)
        , m_receiveTimeout(timeout)
        , m_sendTimeout(timeout)
    {
    }
    virtual ~SocketOptionSet() { m_handle = -1; }

    // Applies the stored set to the socket in use; a kind with more options extends it.
    virtual void applyAll() { applyCommon(); }
    void applyCommon() const;

    int32_t m_handle = -1;

private:
    bool m_reuseProperties = true;
    bool m_dontRoute = false;
    int32_t m_receiveBufferSize;
    int32_t m_sendBufferSize;
    int32_t m_receiveTimeout;
    int32_t m_sendTimeout;
};

} // namespace cfb
