#include "BuddyEars.h"

#include "BoundUdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int PollMs = 20;

} // namespace

BuddyEars::BuddyEars(int buddies, quint16 port)
    : ears_(size_t(buddies))
{
    for (int i = 0; i < buddies; ++i) {
        ears_[size_t(i)].fd = boundUdpSocket(address(i), port);
        listening_ = listening_ && ears_[size_t(i)].fd >= 0;
    }
    thread_ = std::thread([this] { listen(); });
}

BuddyEars::~BuddyEars()
{
    stopping_ = true;
    thread_.join();
    for (const Ear& ear : ears_)
        if (ear.fd >= 0)
            ::close(ear.fd);
}

QString BuddyEars::address(int buddy)
{
    return QStringLiteral("127.0.0.%1").arg(buddy + 2);
}

int64_t BuddyEars::count(int buddy) const
{
    std::lock_guard lock(mutex_);
    return ears_[size_t(buddy)].count;
}

BuddyEars::Clock::time_point BuddyEars::lastArrival(int buddy) const
{
    std::lock_guard lock(mutex_);
    return ears_[size_t(buddy)].last;
}

bool BuddyEars::waitFor(int buddy, int64_t total, int ms) const
{
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return ears_[size_t(buddy)].count >= total; });
}

void BuddyEars::listen()
{
    std::vector<pollfd> fds;
    for (const Ear& ear : ears_)
        fds.push_back({ear.fd, POLLIN, 0});
    static char buffer[70000];
    while (!stopping_) {
        if (::poll(fds.data(), fds.size(), PollMs) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            if (::recv(fds[i].fd, buffer, sizeof buffer, 0) < 0)
                continue;
            const Clock::time_point now = Clock::now();
            {
                std::lock_guard lock(mutex_);
                ++ears_[i].count;
                ears_[i].last = now;
            }
            arrived_.notify_all();
        }
    }
}
