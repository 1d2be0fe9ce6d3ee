#include "transport/SocketOptionSet.h"

#include "transport/SocketOptionIO.h"

#include <sys/socket.h>

namespace cfb {

using namespace SocketOptionIO;

bool SocketOptionSet::DontRoute() const
{
    return getFlag(handle_, SOL_SOCKET, SO_DONTROUTE);
}

void SocketOptionSet::setDontRoute(bool on)
{
    dontRoute_ = on;
    setFlag(handle_, SOL_SOCKET, SO_DONTROUTE, on);
}

int32_t SocketOptionSet::ReceiveBufferSize() const
{
    return getBufferSize(handle_, SO_RCVBUF);
}

void SocketOptionSet::setReceiveBufferSize(int32_t bytes)
{
    receiveBufferSize_ = bytes;
    setBufferSize(handle_, SO_RCVBUF, bytes);
}

int32_t SocketOptionSet::SendBufferSize() const
{
    return getBufferSize(handle_, SO_SNDBUF);
}

void SocketOptionSet::setSendBufferSize(int32_t bytes)
{
    sendBufferSize_ = bytes;
    setBufferSize(handle_, SO_SNDBUF, bytes);
}

int32_t SocketOptionSet::ReceiveTimeout() const
{
    return getMillis(handle_, SO_RCVTIMEO);
}

void SocketOptionSet::setReceiveTimeout(int32_t ms)
{
    receiveTimeout_ = ms;
    setMillis(handle_, SO_RCVTIMEO, ms);
}

int32_t SocketOptionSet::SendTimeout() const
{
    return getMillis(handle_, SO_SNDTIMEO);
}

void SocketOptionSet::setSendTimeout(int32_t ms)
{
    sendTimeout_ = ms;
    setMillis(handle_, SO_SNDTIMEO, ms);
}

void SocketOptionSet::RegisterForUse(int32_t lSocket)
{
    if (lSocket == handle_)
        return;
    handle_ = lSocket;
    if (handle_ != -1 && reuseProperties_)
        applyAll();
}

void SocketOptionSet::applyCommon() const
{
    setFlag(handle_, SOL_SOCKET, SO_DONTROUTE, dontRoute_);
    setBufferSize(handle_, SO_RCVBUF, receiveBufferSize_);
    setBufferSize(handle_, SO_SNDBUF, sendBufferSize_);
    setMillis(handle_, SO_RCVTIMEO, receiveTimeout_);
    setMillis(handle_, SO_SNDTIMEO, sendTimeout_);
}

} // namespace cfb
