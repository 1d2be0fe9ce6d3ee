// A lossy path between two network namespaces, in user space (for kernels without netem).
//
// Opens two TUN devices (IP packets, no link layer) and forwards every packet read from one to the
// other, as a home link would carry it: a share of packets lost at random, each direction limited to
// a link rate behind a drop-tail queue of a bounded number of bytes, and each packet delayed by a
// fixed time after it left the queue. It applies alike to every IP packet, so UDP datagrams, TCP
// segments and each fragment of a fragmented datagram are lost independently.
//
//   lossy_switch --tun-a NAME --tun-b NAME [--rate-mbit 20] [--delay-ms 20] [--queue-bytes N]
//                [--loss 0] [--seed N]
//
// Prints "ready" once both devices exist; the caller then moves them into its namespaces and gives
// them addresses (the devices stay bound to this process's descriptors). Lines on standard input
// change it while it runs: "loss P" (0 to 1), "stats" (prints and resets the counters, one JSON
// line), "quit". Needs root (or CAP_NET_ADMIN) and /dev/net/tun.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

namespace {

int64_t nowNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int openTun(const std::string& name)
{
    const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ifreq request {};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::snprintf(request.ifr_name, IFNAMSIZ, "%s", name.c_str());
    if (ioctl(fd, TUNSETIFF, &request) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Counters {
    uint64_t in = 0, lost = 0, queueDrops = 0, delivered = 0, writeDrops = 0, bytes = 0;
};

// One direction of the link: the queue in front of the line, then the line's delay.
class Direction {
public:
    Direction(int from, int to, double bitsPerSecond, int64_t delayNs, int64_t queueBytes)
        : from_(from)
        , to_(to)
        , nsPerByte_(8e9 / bitsPerSecond)
        , delayNs_(delayNs)
        , queueBytes_(queueBytes)
    {
    }

    // Reads what is waiting on the incoming device; each packet is lost, dropped at the full
    // queue, or scheduled for delivery.
    void readAll(int64_t now, double loss, uint64_t& random)
    {
        uint8_t buffer[65536];
        for (;;) {
            const ssize_t got = read(from_, buffer, sizeof buffer);
            if (got <= 0)
                return;
            ++counters.in;
            random ^= random << 13;
            random ^= random >> 7;
            random ^= random << 17;
            if (double(random >> 11) / double(uint64_t(1) << 53) < loss) {
                ++counters.lost;
                continue;
            }
            // What is still queued is what the line has not sent yet: the time it is busy for.
            const int64_t backlogBytes = busyUntil_ > now ? int64_t(double(busyUntil_ - now) / nsPerByte_) : 0;
            if (backlogBytes + got > queueBytes_) {
                ++counters.queueDrops;
                continue;
            }
            busyUntil_ = std::max(busyUntil_, now) + int64_t(double(got) * nsPerByte_);
            inFlight_.push_back({busyUntil_ + delayNs_, std::vector<uint8_t>(buffer, buffer + got)});
        }
    }

    // Delivers what is due; returns when the next packet is, or -1.
    int64_t deliverDue(int64_t now)
    {
        while (!inFlight_.empty() && inFlight_.front().dueNs <= now) {
            const std::vector<uint8_t>& packet = inFlight_.front().bytes;
            if (write(to_, packet.data(), packet.size()) == ssize_t(packet.size())) {
                ++counters.delivered;
                counters.bytes += packet.size();
            } else {
                ++counters.writeDrops;
            }
            inFlight_.pop_front();
        }
        return inFlight_.empty() ? -1 : inFlight_.front().dueNs;
    }

    Counters counters;

private:
    struct Packet {
        int64_t dueNs;
        std::vector<uint8_t> bytes;
    };
    int from_, to_;
    double nsPerByte_;
    int64_t delayNs_;
    int64_t queueBytes_;
    int64_t busyUntil_ = 0;
    std::deque<Packet> inFlight_; // in order of delivery: the delay is the same for all
};

void printStats(const char* name, Counters& c, bool last)
{
    std::printf("\"%s\":{\"in\":%llu,\"lost\":%llu,\"queue_drops\":%llu,\"delivered\":%llu,\"write_drops\":%llu,"
                "\"bytes\":%llu}%s",
        name, (unsigned long long)c.in, (unsigned long long)c.lost, (unsigned long long)c.queueDrops,
        (unsigned long long)c.delivered, (unsigned long long)c.writeDrops, (unsigned long long)c.bytes,
        last ? "}\n" : ",");
    c = {};
}

const char* option(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string tunA = option(argc, argv, "--tun-a", "");
    const std::string tunB = option(argc, argv, "--tun-b", "");
    const double rateMbit = std::atof(option(argc, argv, "--rate-mbit", "20"));
    const double delayMs = std::atof(option(argc, argv, "--delay-ms", "20"));
    double loss = std::atof(option(argc, argv, "--loss", "0"));
    uint64_t random = std::strtoull(option(argc, argv, "--seed", "88172645463325252"), nullptr, 10) | 1;
    // A bandwidth-delay product of the round trip by default.
    const int64_t queueBytes = std::atoll(option(argc, argv, "--queue-bytes", "0")) > 0
        ? std::atoll(option(argc, argv, "--queue-bytes", "0"))
        : int64_t(rateMbit * 1e6 / 8 * 2 * delayMs / 1000);
    if (tunA.empty() || tunB.empty() || tunA.size() >= IFNAMSIZ || tunB.size() >= IFNAMSIZ || rateMbit <= 0
        || delayMs < 0 || queueBytes < 1500) {
        std::fprintf(stderr, "usage: lossy_switch --tun-a NAME --tun-b NAME [--rate-mbit 20] [--delay-ms 20] "
                             "[--queue-bytes N] [--loss 0] [--seed N]\n");
        return 2;
    }
    const int a = openTun(tunA);
    const int b = openTun(tunB);
    if (a < 0 || b < 0) {
        std::fprintf(stderr, "lossy_switch: cannot create the TUN devices: %s (needs root and /dev/net/tun)\n",
            std::strerror(errno));
        return 1;
    }
    const int64_t delayNs = int64_t(delayMs * 1e6);
    Direction aToB(a, b, rateMbit * 1e6, delayNs, queueBytes);
    Direction bToA(b, a, rateMbit * 1e6, delayNs, queueBytes);
    std::printf("ready\n");
    std::fflush(stdout);

    std::string command;
    for (;;) {
        const int64_t now = nowNs();
        const int64_t nextA = aToB.deliverDue(now);
        const int64_t nextB = bToA.deliverDue(now);
        int64_t next = nextA < 0 ? nextB : nextB < 0 ? nextA : std::min(nextA, nextB);
        timespec wait {1, 0};
        if (next >= 0) {
            const int64_t left = std::max<int64_t>(next - nowNs(), 0);
            wait = {time_t(left / 1000000000), long(left % 1000000000)};
        }
        pollfd fds[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (ppoll(fds, 3, &wait, nullptr) < 0 && errno != EINTR)
            return 1;
        const int64_t then = nowNs();
        if (fds[0].revents & POLLIN)
            aToB.readAll(then, loss, random);
        if (fds[1].revents & POLLIN)
            bToA.readAll(then, loss, random);
        if (fds[2].revents & (POLLIN | POLLHUP)) {
            char chunk[256];
            const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
            if (got <= 0)
                return 0; // the caller went away
            command.append(chunk, size_t(got));
            for (size_t end; (end = command.find('\n')) != std::string::npos; command.erase(0, end + 1)) {
                const std::string line = command.substr(0, end);
                if (line.rfind("loss ", 0) == 0) {
                    const double p = std::atof(line.c_str() + 5);
                    if (p >= 0 && p <= 1)
                        loss = p;
                    std::printf("{\"loss\":%g}\n", loss);
                } else if (line == "stats") {
                    std::printf("{");
                    printStats("a_to_b", aToB.counters, false);
                    printStats("b_to_a", bToA.counters, true);
                } else if (line == "quit") {
                    return 0;
                }
                std::fflush(stdout);
            }
        }
    }
}
