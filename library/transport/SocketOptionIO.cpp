#include "transport/SocketOptionIO.h"

#include <sys/socket.h>
#include <sys/time.h>

namespace cfb::SocketOptionIO {

void setInt(int32_t fd, int level, int name, int32_t value)
{
    if (fd < 0)
        return;
    const int v = value;
    (void)::setsockopt(fd, level, name, &v, sizeof v);
}

int32_t getInt(int32_t fd, int level, int name)
{
    if (fd < 0)
        return 0;
    int v = 0;
    socklen_t len = sizeof v;
    if (::getsockopt(fd, level, name, &v, &len) != 0)
        return 0;
    return v;
}

void setFlag(int32_t fd, int level, int name, bool on)
{
    setInt(fd, level, name, on ? 1 : 0);
}

bool getFlag(int32_t fd, int level, int name)
{
    return getInt(fd, level, name) != 0;
}

void setMillis(int32_t fd, int name, int32_t ms)
{
    if (fd < 0)
        return;
    if (ms < 0)
        ms = 0;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    (void)::setsockopt(fd, SOL_SOCKET, name, &tv, sizeof tv);
}

int32_t getMillis(int32_t fd, int name)
{
    if (fd < 0)
        return 0;
    timeval tv{};
    socklen_t len = sizeof tv;
    if (::getsockopt(fd, SOL_SOCKET, name, &tv, &len) != 0)
        return 0;
    return int32_t(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

void setBufferSize(int32_t fd, int name, int32_t bytes)
{
    setInt(fd, SOL_SOCKET, name, bytes);
}

int32_t getBufferSize(int32_t fd, int name)
{
    return getInt(fd, SOL_SOCKET, name) / 2;
}

} // namespace cfb::SocketOptionIO
