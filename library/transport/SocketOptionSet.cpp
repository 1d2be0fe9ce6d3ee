#include "transport/SocketOptionSet.h"

#include "transport/SocketOptionIO.h"

#include <sys/socket.h>

namespace cfb {

using namespace SocketOptionIO;

bool SocketOptionSet::DontRoute() const
{
    return getFlag(m_handle, SOL_SOCKET, SO_DONTROUTE);
}

void SocketOptionSet::setDontRoute(bool on)
{
    m_dontRoute = on;
    setFlag(m_handle, SOL_SOCKET, SO_DONTROUTE, on);
}

int32_t SocketOptionSet::ReceiveBufferSize() const
{
    return getBufferSize(m_handle, SO_RCVBUF);
}

void SocketOptionSet::setReceiveBufferSize(int32_t bytes)
{
    m_receiveBufferSize = bytes;
    setBufferSize(m_handle, SO_RCVBUF, bytes);
}

int32_t SocketOptionSet::SendBufferSize() const
{
    return getBufferSize(m_handle, SO_SNDBUF);
}

void SocketOptionSet::setSendBufferSize(int32_t bytes)
{
    m_sendBufferSize = bytes;
    setBufferSize(m_handle, SO_SNDBUF, bytes);
}

int32_t SocketOptionSet::ReceiveTimeout() const
{
    return getMillis(m_handle, SO_RCVTIMEO);
}

void SocketOptionSet::setReceiveTimeout(int32_t ms)
{
    m_receiveTimeout = ms;
    setMillis(m_handle, SO_RCVTIMEO, ms);
}

int32_t SocketOptionSet::SendTimeout() const
{
    return getMillis(m_handle, SO_SNDTIMEO);
}

void SocketOptionSet::setSendTimeout(int32_t ms)
{
    m_sendTimeout = ms;
    setMillis(m_handle, SO_SNDTIMEO, ms);
}

void SocketOptionSet::RegisterForUse(int32_t lSocket)
{
    if (lSocket == m_handle)
        return;
    m_handle = lSocket;
    if (m_handle != -1 && m_reuseProperties)
        applyAll();
}

void SocketOptionSet::applyCommon() const
{
    setFlag(m_handle, SOL_SOCKET, SO_DONTROUTE, m_dontRoute);
    setBufferSize(m_handle, SO_RCVBUF, m_receiveBufferSize);
    setBufferSize(m_handle, SO_SNDBUF, m_sendBufferSize);
    setMillis(m_handle, SO_RCVTIMEO, m_receiveTimeout);
    setMillis(m_handle, SO_SNDTIMEO, m_sendTimeout);
}

} // namespace cfb
