#pragma once

#include "transport/SocketOptionSet.h"

namespace cfb {

// Options of a datagram socket: the common set (routing, buffer sizes 65535, timeouts 50 ms).
class ivSocketUDPOptions : public SocketOptionSet {
public:
    ivSocketUDPOptions()
        : SocketOptionSet(65535, 50)
    {
    }

    // True when the socket in use is bound to a local port.
    bool IsBinded() const;
    // Lets the port be bound at another local address too; see ivUDP::wsBind. Off by default.
    bool ReuseAddress() const;
    void setReuseAddress(bool on);

protected:
    void applyAll() override;

private:
    bool reuseAddress_ = false;
};

} // namespace cfb
