#include "StallingProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>

#include <chrono>
#include <stdexcept>

namespace {

constexpr int PollMs = 20;

int loopbackSocket(quint16 port, bool listen, quint16* bound = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = fd >= 0
        && (listen ? ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 64) == 0
                   : ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
    if (!ok) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    if (bound) {
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        *bound = ntohs(addr.sin_port);
    }
    return fd;
}

} // namespace

StallingProxy::StallingProxy(quint16 servicePort)
    : servicePort_(servicePort)
{
    listener_ = loopbackSocket(0, true, &port_);
    if (listener_ < 0)
        throw std::runtime_error("stalling proxy cannot listen");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

StallingProxy::~StallingProxy()
{
    stopping_ = true;
    acceptor_.join();
    for (std::thread& relay : relays_)
        relay.join();
    ::close(listener_);
}

QString StallingProxy::serverSetting() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void StallingProxy::acceptLoop()
{
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, PollMs) <= 0)
            continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++connections_;
        const int delay = delayMs_;
        std::lock_guard lock(mutex_);
        relays_.emplace_back([this, client, delay] { relay(client, delay); });
    }
}

// Bytes from the client go on at once; the service's answer is held until the delay since the
// connection was accepted has passed (for ever when it never answers).
void StallingProxy::relay(int client, int delayMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point answerFrom = Clock::now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs);
    const int service = delayMs == Never ? -1 : loopbackSocket(servicePort_, false);
    QByteArray held;
    bool clientOpen = true;
    bool serviceOpen = service >= 0;
    char buffer[16384];
    while (!stopping_ && clientOpen && (serviceOpen || !held.isEmpty() || delayMs == Never)) {
        pollfd fds[2] = {{client, POLLIN, 0}, {service, short(serviceOpen ? POLLIN : 0), 0}};
        ::poll(fds, service >= 0 ? 2 : 1, PollMs);
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                clientOpen = false;
            else if (service >= 0)
                ::send(service, buffer, size_t(n), MSG_NOSIGNAL);
        }
        if (service >= 0 && serviceOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(service, buffer, sizeof buffer, 0);
            if (n <= 0)
                serviceOpen = false;
            else
                held.append(buffer, n);
        }
        if (!held.isEmpty() && Clock::now() >= answerFrom) {
            ::send(client, held.constData(), size_t(held.size()), MSG_NOSIGNAL);
            held.clear();
        }
    }
    if (service >= 0)
        ::close(service);
    ::close(client);
}
