#include "transport/ivSocketOptions.h"

#include "transport/SocketOptionIO.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace cfb {

using namespace SocketOptionIO;

bool ivSocketOptions::OOBInline() const
{
    return getFlag(handle_, SOL_SOCKET, SO_OOBINLINE);
}

void ivSocketOptions::setOOBInline(bool on)
{
    oobInline_ = on;
    setFlag(handle_, SOL_SOCKET, SO_OOBINLINE, on);
}

bool ivSocketOptions::UseLoopback() const
{
    return false;
}

void ivSocketOptions::setUseLoopback(bool on)
{
    useLoopback_ = on;
}

bool ivSocketOptions::ReuseAddress() const
{
    return getFlag(handle_, SOL_SOCKET, SO_REUSEADDR);
}

void ivSocketOptions::setReuseAddress(bool on)
{
    reuseAddress_ = on;
    setFlag(handle_, SOL_SOCKET, SO_REUSEADDR, on);
}

bool ivSocketOptions::Listening() const
{
    return getFlag(handle_, SOL_SOCKET, SO_ACCEPTCONN);
}

bool ivSocketOptions::Linger() const
{
    if (handle_ < 0)
        return false;
    linger l{};
    socklen_t len = sizeof l;
    return ::getsockopt(handle_, SOL_SOCKET, SO_LINGER, &l, &len) == 0 && l.l_onoff != 0;
}

void ivSocketOptions::applyLinger(bool on) const
{
    if (handle_ < 0)
        return;
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = 0;
    (void)::setsockopt(handle_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void ivSocketOptions::setLinger(bool on)
{
    linger_ = on;
    applyLinger(on);
}

bool ivSocketOptions::KeepAlive() const
{
    return getFlag(handle_, SOL_SOCKET, SO_KEEPALIVE);
}

void ivSocketOptions::setKeepAlive(bool on)
{
    keepAlive_ = on;
    setFlag(handle_, SOL_SOCKET, SO_KEEPALIVE, on);
}

bool ivSocketOptions::TcpNoDelay() const
{
    return getFlag(handle_, IPPROTO_TCP, TCP_NODELAY);
}

void ivSocketOptions::setTcpNoDelay(bool on)
{
    noDelay_ = on;
    setFlag(handle_, IPPROTO_TCP, TCP_NODELAY, on);
}

void ivSocketOptions::applyAll()
{
    setFlag(handle_, SOL_SOCKET, SO_REUSEADDR, reuseAddress_);
    applyLinger(linger_);
    setFlag(handle_, SOL_SOCKET, SO_KEEPALIVE, keepAlive_);
    applyCommon();
    setFlag(handle_, IPPROTO_TCP, TCP_NODELAY, noDelay_);
    // UseLoopback: no such option here. OOBInline last, as the platform order has it.
    setFlag(handle_, SOL_SOCKET, SO_OOBINLINE, oobInline_);
}

} // namespace cfb
