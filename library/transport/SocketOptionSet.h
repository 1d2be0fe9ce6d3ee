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

    bool ReuseProperties() const { return reuseProperties_; }
    void setReuseProperties(bool on) { reuseProperties_ = on; }
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
    int32_t handle() const { return handle_; }

    // Makes lSocket the socket in use (-1 for none) and applies the stored options to it.
    void RegisterForUse(int32_t lSocket);

protected:
    SocketOptionSet(int32_t bufferSize, int32_t timeout)
        : receiveBufferSize_(bufferSize)
        , sendBufferSize_(bufferSize)
        , receiveTimeout_(timeout)
        , sendTimeout_(timeout)
    {
    }
    virtual ~SocketOptionSet() { handle_ = -1; }

    // Applies the stored set to the socket in use; a kind with more options extends it.
    virtual void applyAll() { applyCommon(); }
    void applyCommon() const;

    int32_t handle_ = -1;

private:
    bool reuseProperties_ = true;
    bool dontRoute_ = false;
    int32_t receiveBufferSize_;
    int32_t sendBufferSize_;
    int32_t receiveTimeout_;
    int32_t sendTimeout_;
};

} // namespace cfb
