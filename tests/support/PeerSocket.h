#pragma once

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A plain blocking UDP socket on 127.0.0.1 with a port the system picks: the peer in tests.
class PeerSocket {
public:
    // bufferBytes sizes the socket's send and receive buffers.
    explicit PeerSocket(int bufferBytes = 1 << 20)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        timeval tv{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    }
    ~PeerSocket() { ::close(fd_); }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    int port() const { return port_; }
    int fd() const { return fd_; }

    bool sendTo(int port, const QByteArray& bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(port));
        return ::sendto(fd_, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
            == bytes.size();
    }

    // One datagram, or a null array after two seconds without one.
    QByteArray receive(int* fromPort = nullptr) const
    {
        QByteArray buf(70000, Qt::Uninitialized);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buf.data(), size_t(buf.size()), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return QByteArray();
        if (fromPort)
            *fromPort = ntohs(from.sin_port);
        buf.truncate(n);
        return n == 0 ? QByteArray("") : buf;
    }

    // True when a datagram is waiting right now.
    bool hasDatagram() const
    {
        char b;
        return ::recv(fd_, &b, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};
