#include "transport/ivSocketUDPOptions.h"

#include "transport/SocketOptionIO.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace cfb {

using namespace SocketOptionIO;

bool ivSocketUDPOptions::IsBinded() const
{
    if (handle_ < 0)
        return false;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    // Linux answers getsockname on an unbound socket too, with port 0.
    return ::getsockname(handle_, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_port != 0;
}

bool ivSocketUDPOptions::ReuseAddress() const
{
    return getFlag(handle_, SOL_SOCKET, SO_REUSEADDR);
}

void ivSocketUDPOptions::setReuseAddress(bool on)
{
    reuseAddress_ = on;
    setFlag(handle_, SOL_SOCKET, SO_REUSEADDR, on);
}

void ivSocketUDPOptions::applyAll()
{
    setFlag(handle_, SOL_SOCKET, SO_REUSEADDR, reuseAddress_);
    applyCommon();
}

} // namespace cfb
