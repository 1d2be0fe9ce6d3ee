#pragma once

// A router between the users of one machine, for the end-to-end tests of the headless clients.
#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Stands on the path between users of one machine, as a router between homes would: each user
// is bound at one loopback address and published at another, which the relay holds. What reaches
// a published address goes on to its user, from the published address of whoever sent it, so each
// sees the others' datagrams from the addresses the service gave for them. It records them all.
class PathRelay {
public:
    struct User {
        const char* bound;
        const char* published;
    };
    PathRelay(int port, QList<User> users)
        : port_(uint16_t(port))
        , users_(std::move(users))
    {
        for (const User& user : users_)
            sockets_.append(bound(user.published));
        thread_ = std::thread([this] { run(); });
    }
    ~PathRelay()
    {
        stop_ = true;
        thread_.join();
        for (int fd : sockets_)
            ::close(fd);
    }
    bool ok() const { return !sockets_.contains(-1); }
    // A worse path: this share of datagrams lost, each delayed this long, and those over the
    // size dropped as the fragments of a larger one often are.
    void degrade(double loss, int delayMs, qsizetype maxSize)
    {
        std::lock_guard lock(mutex_);
        loss_ = loss;
        delayMs_ = delayMs;
        maxSize_ = maxSize;
    }

    // Every datagram, and those from one user's bound address.
    QList<QByteArray> seen(const char* from = nullptr)
    {
        std::lock_guard lock(mutex_);
        QList<QByteArray> found;
        for (const auto& [source, datagram] : seen_)
            if (!from || source == address(from))
                found.append(datagram);
        return found;
    }
    // As if user `from` sent it to user `to` (indexes into the users).
    void inject(int from, int to, const QByteArray& datagram) { sendFrom(sockets_[from], users_[to].bound, datagram); }

private:
    static uint32_t address(const char* text)
    {
        in_addr a {};
        ::inet_pton(AF_INET, text, &a);
        return a.s_addr;
    }
    int bound(const char* text)
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = address(text);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    void sendFrom(int fd, const char* to, const QByteArray& datagram)
    {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = address(to);
        ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    void run()
    {
        std::vector<pollfd> fds;
        for (int fd : sockets_)
            fds.push_back({fd, POLLIN, 0});
        QByteArray buffer(65536, '\0');
        while (!stop_) {
            passOnDue();
            if (::poll(fds.data(), nfds_t(fds.size()), 5) <= 0)
                continue;
            for (size_t to = 0; to < fds.size(); ++to) {
                if (!(fds[to].revents & POLLIN))
                    continue;
                sockaddr_in source {};
                socklen_t length = sizeof source;
                const ssize_t got = ::recvfrom(
                    fds[to].fd, buffer.data(), size_t(buffer.size()), 0, reinterpret_cast<sockaddr*>(&source), &length);
                if (got <= 0)
                    continue;
                const QByteArray datagram = buffer.left(got);
                {
                    std::lock_guard lock(mutex_);
                    seen_.append({source.sin_addr.s_addr, datagram});
                }
                for (qsizetype from = 0; from < users_.size(); ++from)
                    if (address(users_[from].bound) == source.sin_addr.s_addr)
                        passOn(sockets_[from], users_[to].bound, datagram);
            }
        }
    }
    void passOn(int fd, const char* to, const QByteArray& datagram)
    {
        std::lock_guard lock(mutex_);
        random_ = random_ * 6364136223846793005ull + 1442695040888963407ull;
        if (double(random_ >> 11) / double(1ull << 53) < loss_ || datagram.size() > maxSize_)
            return;
        delayed_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs_), fd, to, datagram});
    }
    void passOnDue()
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        while (!delayed_.empty() && delayed_.front().due <= now) {
            sendFrom(delayed_.front().fd, delayed_.front().to, delayed_.front().datagram);
            delayed_.pop_front();
        }
    }

    uint16_t port_;
    QList<User> users_;
    QList<int> sockets_; // at each user's published address
    std::atomic<bool> stop_ {false};
    std::thread thread_;
    std::mutex mutex_;
    QList<std::pair<uint32_t, QByteArray>> seen_;
    struct Delayed {
        std::chrono::steady_clock::time_point due;
        int fd;
        const char* to;
        QByteArray datagram;
    };
    std::deque<Delayed> delayed_;
    double loss_ = 0;
    int delayMs_ = 0;
    qsizetype maxSize_ = 65536;
    uint64_t random_ = 42;
};
