// Asking a router to forward the data port, with a NAT-PMP router played on a loopback address
// of its own. (UPnP routers need a network of their own; the namespace lab covers them.)
#include "transport/PortMapper.h"

#include "EventLoopWait.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace cfb;

namespace {

// A NAT-PMP router at 127.x.y.z:5351 that grants every request, or, when `offered` is set,
// answers every new mapping with that port instead (as for a port kept for another machine).
class NatPmpRouter {
public:
    struct Request {
        uint16_t internalPort;
        uint16_t externalPort;
        uint32_t lifetime;
    };

    explicit NatPmpRouter(uint16_t offered = 0)
        : offered_(offered)
    {
        const uint32_t host = QRandomGenerator::global()->bounded(1u << 16, 1u << 24);
        address_ = QStringLiteral("127.%1.%2.%3").arg(host >> 16).arg((host >> 8) & 255).arg(host & 255);
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(5351);
        ::inet_pton(AF_INET, address_.toLatin1().constData(), &a.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        thread_ = std::thread([this] { serve(); });
    }
    ~NatPmpRouter()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    bool bound() const { return bound_; }
    QString address() const { return address_; }
    std::vector<Request> requests()
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            unsigned char in[64];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(fd_, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n != 12 || in[0] != 0 || in[1] != 1)
                continue; // only UDP mapping requests are played
            Request r{uint16_t(in[4] << 8 | in[5]), uint16_t(in[6] << 8 | in[7]),
                uint32_t(in[8]) << 24 | uint32_t(in[9]) << 16 | uint32_t(in[10]) << 8 | in[11]};
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(r);
            }
            const uint16_t external = r.lifetime == 0 ? 0 : (offered_ ? offered_ : r.externalPort);
            const uint32_t lifetime = r.lifetime == 0 ? 0 : 600;
            const unsigned char out[16] = {0, 129, 0, 0, 0, 0, 0, 1, uint8_t(r.internalPort >> 8),
                uint8_t(r.internalPort), uint8_t(external >> 8), uint8_t(external), uint8_t(lifetime >> 24),
                uint8_t(lifetime >> 16), uint8_t(lifetime >> 8), uint8_t(lifetime)};
            ::sendto(fd_, out, sizeof out, 0, reinterpret_cast<sockaddr*>(&from), length);
        }
    }

    uint16_t offered_;
    QString address_;
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_ = false;
    std::mutex mutex_;
    std::vector<Request> requests_;
    std::thread thread_;
};

// A machine behind that router: a private address of its own, so nothing on the real network
// is asked.
PortMapper::Options behind(const QString& gateway)
{
    PortMapper::Options options;
    options.discoveryMs = 300;
    options.gateway = gateway;
    options.localAddress = QStringLiteral("10.213.7.2");
    return options;
}

Reachability settle(PortMapper& mapper)
{
    waitUntil([&] { return mapper.reachability().kind != Reachability::Unknown; }, 5000);
    return mapper.reachability();
}

} // namespace

TEST(PortMapper, TheRouterForwardsTheDataPortUntilTheClientGoes)
{
    NatPmpRouter router;
    ASSERT_TRUE(router.bound());
    {
        PortMapper mapper(behind(router.address()));
        mapper.map(4321);
        EXPECT_EQ(settle(mapper).text(), "Router mapped port 4321");
        ASSERT_EQ(router.requests().size(), 1u);
        EXPECT_EQ(router.requests()[0].internalPort, 4321);
        EXPECT_EQ(router.requests()[0].externalPort, 4321);
        EXPECT_GT(router.requests()[0].lifetime, 0u);
    }
    const auto requests = router.requests();
    ASSERT_EQ(requests.size(), 2u) << "the mapping is removed at exit";
    EXPECT_EQ(requests[1].externalPort, 4321);
    EXPECT_EQ(requests[1].lifetime, 0u);
}

TEST(PortMapper, APortTheRouterKeepsForAnotherMachineIsLeftToIt)
{
    NatPmpRouter router(40001);
    ASSERT_TRUE(router.bound());
    PortMapper mapper(behind(router.address()));
    mapper.map(4321);
    EXPECT_EQ(settle(mapper).text(), "Behind a router (buddies can reach you only after you contact them)");
    // The port offered instead is given back at once.
    const auto requests = router.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].lifetime, 0u);
}

TEST(PortMapper, WithoutARouterThatAnswersTheClientSaysSoQuickly)
{
    QElapsedTimer elapsed;
    elapsed.start();
    PortMapper silent(behind(QStringLiteral("127.0.0.9"))); // nothing listens there
    silent.map(4321);
    EXPECT_EQ(settle(silent).kind, Reachability::BehindRouter);
    EXPECT_LT(elapsed.elapsed(), 2000);

    NatPmpRouter router;
    PortMapper::Options off = behind(router.address());
    PortMapper notAsked(off);
    notAsked.map(4321, false);
    EXPECT_EQ(settle(notAsked).kind, Reachability::BehindRouter);
    EXPECT_TRUE(router.requests().empty()) << "\"Map Data Port\" off asks no router";

    PortMapper::Options publicAddress = behind(router.address());
    publicAddress.localAddress = QStringLiteral("93.184.216.34");
    PortMapper direct(publicAddress);
    direct.map(4321);
    EXPECT_EQ(settle(direct).text(), "Direct");
    EXPECT_TRUE(router.requests().empty());
}
