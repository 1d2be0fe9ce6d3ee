#include "transport/ivSocketOptions.h"

#include "transport/SocketOptionIO.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace cfb {

using namespace SocketOptionIO;

bool ivSocketOptions::OOBInline() const
{
    return getFlag(m_handle, SOL_SOCKET, SO_OOBINLINE);
}

void ivSocketOptions::setOOBInline(bool on)
{
    m_oobInline = on;
    setFlag(m_handle, SOL_SOCKET, SO_OOBINLINE, on);
}

bool ivSocketOptions::UseLoopback() const
{
    return false;
}

void ivSocketOptions::setUseLoopback(bool on)
{
    m_useLoopback = on;
}

bool ivSocketOptions::ReuseAddress() const
{
    return getFlag(m_handle, SOL_SOCKET, SO_REUSEADDR);
}

void ivSocketOptions::setReuseAddress(bool on)
{
    m_reuseAddress = on;
    setFlag(m_handle, SOL_SOCKET, SO_REUSEADDR, on);
}

bool ivSocketOptions::Listening() const
{
    return getFlag(m_handle, SOL_SOCKET, SO_ACCEPTCONN);
}

bool ivSocketOptions::Linger() const
{
    if (m_handle < 0)
        return false;
    linger l{};
    socklen_t len = sizeof l;
    return ::getsockopt(m_handle, SOL_SOCKET, SO_LINGER, &l, &len) == 0 && l.l_onoff != 0;
}

void ivSocketOptions::applyLinger(bool on) const
{
    if (m_handle < 0)
        return;
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = 0;
    (void)::setsockopt(m_handle, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void ivSocketOptions::setLinger(bool on)
{
    m_linger = on;
    applyLinger(on);
}

bool ivSocketOptions::KeepAlive() const
{
    return getFlag(m_handle, SOL_SOCKET, SO_KEEPALIVE);
}

void ivSocketOptions::setKeepAlive(bool on)
{
    m_keepAlive = on;
    setFlag(m_handle, SOL_SOCKET, SO_KEEPALIVE, on);
}

bool ivSocketOptions::TcpNoDelay() const
{
    return getFlag(m_handle, IPPROTO_TCP, TCP_NODELAY);
}

void ivSocketOptions::setTcpNoDelay(bool on)
{
    m_noDelay = on;
    setFlag(m_handle, IPPROTO_TCP, TCP_NODELAY, on);
}

void ivSocketOptions::applyAll()
{
    setFlag(m_handle, SOL_SOCKET, SO_REUSEADDR, m_reuseAddress);
    applyLinger(m_linger);
    setFlag(m_handle, SOL_SOCKET, SO_KEEPALIVE, m_keepAlive);
    applyCommon();
    setFlag(m_handle, IPPROTO_TCP, TCP_NODELAY, m_noDelay);
    // UseLoopback: no such option here. OOBInline last, as the platform order has it.
    setFlag(m_handle, SOL_SOCKET, SO_OOBINLINE, m_oobInline);
}

} // namespace cfb
