#include "transport/ivSocketUDPOptions.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace cfb {

bool ivSocketUDPOptions::IsBinded() const
{
    if (m_handle < 0)
        return false;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    // Linux answers getsockname on an unbound socket too, with port 0.
    return ::getsockname(m_handle, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_port != 0;
}

} // namespace cfb
