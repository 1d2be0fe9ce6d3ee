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
};

} // namespace cfb
