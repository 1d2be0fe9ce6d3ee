#include "transport/ivWinsockInfo.h"

#include "transport/vWinsock.h"

namespace cfb {

ivWinsockInfo::ivWinsockInfo()
    : started_(vWinsock::Startup())
{
}

ivWinsockInfo::~ivWinsockInfo()
{
    if (started_)
        vWinsock::Cleanup();
}

bool ivWinsockInfo::Usable() const
{
    return vWinsock::State().usable;
}

QString ivWinsockInfo::Description() const
{
    return vWinsock::State().description;
}

int32_t ivWinsockInfo::VersionMajor() const
{
    return vWinsock::State().versionMajor;
}

int32_t ivWinsockInfo::VersionMinor() const
{
    return vWinsock::State().versionMinor;
}

int32_t ivWinsockInfo::MaxSockets() const
{
    return vWinsock::State().maxSockets;
}

int32_t ivWinsockInfo::MaxUDPData() const
{
    return vWinsock::State().maxUdpData;
}

QString ivWinsockInfo::MachineName() const
{
    return vWinsock::LocalHostName();
}

QString ivWinsockInfo::LocalIPAddress() const
{
    return vWinsock::LocalAddress();
}

} // namespace cfb
