#include "EventLoopWait.h"
#include "PeerSocket.h"

#include "transport/ivSocketUDPOptions.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace cfb;

namespace {

const std::array<uint8_t, 16> Loopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// A blocking UDP socket on ::1, the IPv6 peer.
class Peer6 {
public:
    Peer6()
    {
        fd_ = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin6_port);
        timeval tv{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Peer6() { ::close(fd_); }
    bool usable() const { return port_ != 0; }
    int port() const { return port_; }
    bool sendTo(int port, const QByteArray& bytes) const
    {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        to.sin6_addr = in6addr_loopback;
        to.sin6_port = htons(uint16_t(port));
        return ::sendto(fd_, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
            == bytes.size();
    }
    QByteArray receive() const
    {
        char buf[2048];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n < 0 ? QByteArray() : QByteArray(buf, n);
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

struct Arrivals {
    explicit Arrivals(ivUDP& s)
    {
        QObject::connect(&s, &ivUDP::DataArrival, [this, &s](int32_t&) {
            QByteArray bytes;
            s.wsGetData(bytes);
            got.push_back({bytes, s.RemoteHostIP(), s.senderIsIPv6(), s.senderAddress(), s.senderPort()});
        });
    }
    struct Got {
        QByteArray bytes;
        QString from;
        bool ipv6;
        uint32_t address;
        uint16_t port;
    };
    std::vector<Got> got;
};

} // namespace

// The data port bound with no address takes both families on one socket, tells each sender as
// its own family (an IPv4 one never as an IPv4-mapped address), and answers each where it is.
TEST(DualStackDataPort, BothFamiliesArriveAndAreAnsweredOnOneSocket)
{
    Peer6 peer6;
    if (!peer6.usable())
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    ivUDP port;
    Arrivals arrivals(port);
    port.wsBind("0");
    ASSERT_EQ(port.State(), sckUDPListening);
    ASSERT_TRUE(port.takesIPv6());
    const int local = port.LocalPort().toInt();

    PeerSocket peer4;
    ASSERT_TRUE(peer4.sendTo(local, "over four"));
    ASSERT_TRUE(peer6.sendTo(local, "over six"));
    ASSERT_TRUE(waitUntil([&] { return arrivals.got.size() == 2; }));
    EXPECT_EQ(arrivals.got[0].bytes, "over four");
    EXPECT_EQ(arrivals.got[0].from, "127.0.0.1");
    EXPECT_FALSE(arrivals.got[0].ipv6);
    EXPECT_EQ(arrivals.got[0].address, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(arrivals.got[1].bytes, "over six");
    EXPECT_EQ(arrivals.got[1].from, "::1");
    EXPECT_TRUE(arrivals.got[1].ipv6);
    EXPECT_EQ(arrivals.got[1].address, 0u);
    EXPECT_EQ(port.senderAddress6(), Loopback6);

    ASSERT_TRUE(port.sendTo(htonl(INADDR_LOOPBACK), uint16_t(peer4.port()), "back over four"));
    EXPECT_EQ(peer4.receive(), "back over four");
    ASSERT_TRUE(port.sendTo6(Loopback6, uint16_t(peer6.port()), "back over six"));
    const QByteArrayView batch[] = {"one", "two"};
    ASSERT_EQ(port.sendBatchTo6(Loopback6, uint16_t(peer6.port()), batch, 2), 2);
    EXPECT_EQ(peer6.receive(), "back over six");
    EXPECT_EQ(peer6.receive(), "one");
    EXPECT_EQ(peer6.receive(), "two");

    // Text addresses stay the public face: an IPv6 literal in RemoteHost sends at once.
    ivUDP out;
    out.setRemotePort(QString::number(peer6.port()));
    out.setRemoteHost("::1");
    out.wsSendData(QByteArray("from a literal"));
    EXPECT_EQ(peer6.receive(), "from a literal");
}

// Bound at one IPv4 address the socket stays IPv4 only, and a second user's data port at another
// loopback address still shares the port with a socket bound everywhere on both families; a second
// socket everywhere on that port is refused rather than splitting the datagrams.
TEST(DualStackDataPort, AddressesSharingThePortAndIPv4Only)
{
    Peer6 peer6;
    if (!peer6.usable())
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    ivUDP everywhere;
    everywhere.SocketOptions()->setReuseAddress(true);
    everywhere.wsBind("0");
    ASSERT_TRUE(everywhere.takesIPv6());
    const QString shared = everywhere.LocalPort();

    ivUDP second;
    Arrivals arrivals(second);
    second.setLocalHost("127.0.0.2");
    second.SocketOptions()->setReuseAddress(true);
    second.wsBind(shared);
    ASSERT_EQ(second.State(), sckUDPListening);
    EXPECT_FALSE(second.takesIPv6());
    EXPECT_FALSE(second.sendTo6(Loopback6, uint16_t(peer6.port()), "nowhere"));

    int errorCode = 0;
    ivUDP again;
    QObject::connect(&again, &ivUDP::Error, [&](int32_t& code, QString&) { errorCode = code; });
    again.SocketOptions()->setReuseAddress(true);
    again.wsBind(shared);
    EXPECT_EQ(errorCode, 10048);
    EXPECT_NE(again.State(), sckUDPListening);

    ivUDP sender;
    sender.setRemotePort(shared);
    sender.setRemoteHost("127.0.0.2");
    sender.wsSendData(QByteArray("for the second user"));
    ASSERT_TRUE(waitUntil([&] { return !arrivals.got.empty(); }));
    EXPECT_EQ(arrivals.got[0].bytes, "for the second user");

    // Bound at the IPv6 loopback, IPv6 only.
    ivUDP six;
    six.setLocalHost("::1");
    six.wsBind("0");
    ASSERT_EQ(six.State(), sckUDPListening);
    EXPECT_TRUE(six.takesIPv6());
    PeerSocket peer4;
    EXPECT_FALSE(six.sendTo(htonl(INADDR_LOOPBACK), uint16_t(peer4.port()), "not over four"));
}
