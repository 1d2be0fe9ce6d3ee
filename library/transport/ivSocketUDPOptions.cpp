#include "transport/ivSocketUDPOptions.h"

#include "transport/SocketOptionIO.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace cfb {

using namespace SocketOptionIO;

bool ivSocketUDPOptions::DontRoute() const
{
    return getFlag(m_handle, SOL_SOCKET, SO_DONTROUTE);
}

void ivSocketUDPOptions::setDontRoute(bool on)
{
    m_dontRoute = on;
    setFlag(m_handle, SOL_SOCKET, SO_DONTROUTE, on);
}

int32_t ivSocketUDPOptions::ReceiveBufferSize() const
{
    return getBufferSize(m_handle, SO_RCVBUF);
}

void ivSocketUDPOptions::setReceiveBufferSize(int32_t bytes)
{
    m_receiveBufferSize = bytes;
    setBufferSize(m_handle, SO_RCVBUF, bytes);
}

int32_t ivSocketUDPOptions::SendBufferSize() const
{
    return getBufferSize(m_handle, SO_SNDBUF);
}

void ivSocketUDPOptions::setSendBufferSize(int32_t bytes)
{
    m_sendBufferSize = bytes;
    setBufferSize(m_handle, SO_SNDBUF, bytes);
}

int32_t ivSocketUDPOptions::ReceiveTimeout() const
{
    return getMillis(m_handle, SO_RCVTIMEO);
}

void ivSocketUDPOptions::setReceiveTimeout(int32_t ms)
{
    m_receiveTimeout = ms;
    setMillis(m_handle, SO_RCVTIMEO, ms);
}

int32_t ivSocketUDPOptions::SendTimeout() const
{
    return getMillis(m_handle, SO_SNDTIMEO);
}

void ivSocketUDPOptions::setSendTimeout(int32_t ms)
{
    m_sendTimeout = ms;
    setMillis(m_handle, SO_SNDTIMEO, ms);
}

void ivSocketUDPOptions::RegisterForUse(int32_t lSocket)
{
    if (lSocket == m_handle)
        return;
    m_handle = lSocket;
    if (m_handle != -1 && m_reuseProperties)
        applyAll();
}

void ivSocketUDPOptions::applyAll()
{
    setFlag(m_handle, SOL_SOCKET, SO_DONTROUTE, m_dontRoute);
    setBufferSize(m_handle, SO_RCVBUF, m_receiveBufferSize);
    setBufferSize(m_handle, SO_SNDBUF, m_sendBufferSize);
    setMillis(m_handle, SO_RCVTIMEO, m_receiveTimeout);
    setMillis(m_handle, SO_SNDTIMEO, m_sendTimeout);
}

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
