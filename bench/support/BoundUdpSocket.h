#pragma once

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A UDP socket bound to the address and port (SO_REUSEADDR set, so that it can share the port
// with sockets at other addresses); extraFlags as for socket(2), e.g. SOCK_NONBLOCK. -1 when it
// cannot be bound.
inline int boundUdpSocket(const QString& address, quint16 port, int extraFlags = 0)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | extraFlags, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
