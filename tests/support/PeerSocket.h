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
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        timeval tv{2, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    }
    ~PeerSocket() { ::close(m_fd); }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    int port() const { return m_port; }
    int fd() const { return m_fd; }

    bool sendTo(int port, const QByteArray& bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(port));
        return ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
            == bytes.size();
    }

    // One datagram, or a null array after two seconds without one.
    QByteArray receive(int* fromPort = nullptr) const
    {
        QByteArray buf(70000, Qt::Uninitialized);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buf.data(), size_t(buf.size()), 0, reinterpret_cast<sockaddr*>(&from), &len);
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
        return ::recv(m_fd, &b, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};
