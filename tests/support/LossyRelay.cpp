#include "LossyRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <random>
#include <string>

namespace {

int boundSocket(uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    socklen_t length = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    port = ntohs(at.sin_port);
    return fd;
}

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

LossyRelay::LossyRelay(uint16_t peerA, uint16_t peerB)
    : peerA_(peerA)
    , peerB_(peerB)
{
    socketA_ = boundSocket(portA_);
    socketB_ = boundSocket(portB_);
    if (pipe(wake_) != 0)
        wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { run(); });
}

LossyRelay::~LossyRelay()
{
    stop_ = true;
    if (wake_[1] >= 0 && write(wake_[1], "x", 1) < 0) { }
    thread_.join();
    for (const int fd : {socketA_, socketB_, wake_[0], wake_[1]})
        if (fd >= 0)
            close(fd);
}

void LossyRelay::shape(int direction, const Shape& shape)
{
    const std::lock_guard lock(mutex_);
    shapes_[direction] = shape;
}

LossyRelay::Counts LossyRelay::counts(int direction)
{
    const std::lock_guard lock(mutex_);
    return counts_[direction];
}

void LossyRelay::run()
{
    struct Held {
        int64_t at;
        std::string bytes;
    };
    std::deque<Held> held[2];
    int64_t queueFreeAt[2] = {0, 0}; // when the capped link has sent what it holds
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> chance(0, 1);
    char buffer[65536];
    while (!stop_) {
        int64_t next = nowUs() + 50000;
        for (const auto& queue : held)
            if (!queue.empty())
                next = std::min(next, queue.front().at);
        pollfd fds[3] = {{socketA_, POLLIN, 0}, {socketB_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int64_t waitUs = next - nowUs();
        poll(fds, 3, waitUs > 0 ? int((waitUs + 999) / 1000) : 0);
        for (int direction = 0; direction < 2; ++direction) {
            if (!(fds[direction].revents & POLLIN))
                continue;
            for (;;) {
                const ssize_t size = recv(fds[direction].fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (size < 0)
                    break;
                const int64_t t = nowUs();
                const std::lock_guard lock(mutex_);
                const Shape& s = shapes_[direction];
                Counts& c = counts_[direction];
                if (chance(random) < s.loss) {
                    ++c.lost;
                    continue;
                }
                int64_t leaves = t;
                if (s.capKbps > 0) {
                    const int64_t start = std::max(t, queueFreeAt[direction]);
                    if (start - t > int64_t(s.queueMs) * 1000) {
                        ++c.dropped;
                        continue;
                    }
                    queueFreeAt[direction] = start + int64_t(size) * 8 * 1000 / s.capKbps;
                    leaves = queueFreeAt[direction];
                }
                held[direction].push_back({leaves + int64_t(s.delayMs) * 1000, std::string(buffer, size_t(size))});
            }
        }
        const int64_t t = nowUs();
        for (int direction = 0; direction < 2; ++direction) {
            // A's datagrams leave from B's socket towards B, and the other way round.
            const int out = direction == 0 ? socketB_ : socketA_;
            sockaddr_in to {};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            to.sin_port = htons(direction == 0 ? peerB_ : peerA_);
            while (!held[direction].empty() && held[direction].front().at <= t) {
                const std::string& bytes = held[direction].front().bytes;
                sendto(out, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                {
                    const std::lock_guard lock(mutex_);
                    ++counts_[direction].datagrams;
                    counts_[direction].bytes += int64_t(bytes.size());
                }
                held[direction].pop_front();
            }
        }
    }
}
