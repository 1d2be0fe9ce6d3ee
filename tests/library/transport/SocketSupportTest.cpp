#include "transport/ivSocketOptions.h"
#include "transport/ivSocketUDPOptions.h"
#include "transport/ivWinsockInfo.h"
#include "transport/vAPI.h"
#include "transport/vWinsock.h"

#include <QHostInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace cfb;

namespace {

struct Fd {
    explicit Fd(int type = SOCK_DGRAM)
        : fd(::socket(AF_INET, type, 0))
    {
    }
    ~Fd() { ::close(fd); }
    int fd;
};

int rawInt(int fd, int level, int name)
{
    int v = 0;
    socklen_t len = sizeof v;
    ::getsockopt(fd, level, name, &v, &len);
    return v;
}

int rawMillis(int fd, int name)
{
    timeval tv{};
    socklen_t len = sizeof tv;
    ::getsockopt(fd, SOL_SOCKET, name, &tv, &len);
    return int(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

} // namespace

TEST(ivSocketUDPOptions, ANewSocketGetsTheStoredOptions)
{
    Fd s;
    ivSocketUDPOptions o;
    EXPECT_EQ(o.handle(), -1);
    EXPECT_EQ(o.ReceiveBufferSize(), 0) << "no socket reads as 0";
    o.RegisterForUse(s.fd);
    EXPECT_EQ(o.handle(), s.fd);
    // The kernel keeps twice the size asked for; the holder reads back the size asked for.
    EXPECT_EQ(rawInt(s.fd, SOL_SOCKET, SO_RCVBUF), 2 * 65535);
    EXPECT_EQ(rawInt(s.fd, SOL_SOCKET, SO_SNDBUF), 2 * 65535);
    EXPECT_EQ(o.ReceiveBufferSize(), 65535);
    EXPECT_EQ(o.SendBufferSize(), 65535);
    EXPECT_NEAR(rawMillis(s.fd, SO_RCVTIMEO), 50, 10); // kept in clock ticks
    EXPECT_NEAR(o.SendTimeout(), 50, 10);
    EXPECT_FALSE(o.DontRoute());

    o.setDontRoute(true);
    o.setReceiveTimeout(1250);
    EXPECT_EQ(rawInt(s.fd, SOL_SOCKET, SO_DONTROUTE), 1) << "a write applies at once";
    EXPECT_NEAR(o.ReceiveTimeout(), 1250, 10);

    // The changed values go to the next socket too.
    Fd next;
    o.RegisterForUse(next.fd);
    EXPECT_EQ(rawInt(next.fd, SOL_SOCKET, SO_DONTROUTE), 1);
    EXPECT_NEAR(rawMillis(next.fd, SO_RCVTIMEO), 1250, 10);
    o.RegisterForUse(-1);
    EXPECT_FALSE(o.DontRoute());
}

TEST(ivSocketUDPOptions, NothingIsAppliedWithoutReusePropertiesOrTwice)
{
    Fd s;
    const int defaultRcvTimeout = rawMillis(s.fd, SO_RCVTIMEO);
    ivSocketUDPOptions o;
    o.setReuseProperties(false);
    o.RegisterForUse(s.fd);
    EXPECT_EQ(rawMillis(s.fd, SO_RCVTIMEO), defaultRcvTimeout);

    Fd t;
    ivSocketUDPOptions twice;
    twice.RegisterForUse(t.fd);
    timeval changed{3, 0};
    ::setsockopt(t.fd, SOL_SOCKET, SO_RCVTIMEO, &changed, sizeof changed);
    twice.RegisterForUse(t.fd); // the same socket again: nothing re-applied
    EXPECT_EQ(rawMillis(t.fd, SO_RCVTIMEO), 3000);
}

TEST(ivSocketUDPOptions, IsBindedOnlyOnceBoundToAPort)
{
    Fd s;
    ivSocketUDPOptions o;
    EXPECT_FALSE(o.IsBinded());
    o.RegisterForUse(s.fd);
    EXPECT_FALSE(o.IsBinded());
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_TRUE(o.IsBinded());
}

TEST(ivSocketOptions, StreamOptionsApplyInTheirUnits)
{
    Fd s(SOCK_STREAM);
    ivSocketOptions o;
    o.setAcceptQueue(-4);
    EXPECT_EQ(o.AcceptQueue(), 0);
    o.setLinger(true);
    o.setKeepAlive(true);
    o.RegisterForUse(s.fd);
    EXPECT_EQ(rawInt(s.fd, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(o.ReceiveBufferSize(), 9898);
    EXPECT_NEAR(o.SendTimeout(), 100, 10);
    EXPECT_TRUE(o.Linger());
    EXPECT_TRUE(o.KeepAlive());
    EXPECT_FALSE(o.Listening());
    EXPECT_FALSE(o.UseLoopback());
    o.setReuseAddress(true);
    EXPECT_TRUE(o.ReuseAddress());
    ASSERT_EQ(::listen(s.fd, 1), 0);
    EXPECT_TRUE(o.Listening());
}

TEST(ivWinsockInfo, DescribesTheThreadsSocketLayer)
{
    EXPECT_EQ(ivWinsockInfo::Library(), "wsock32.dll") << "fixed even before start-up";
    {
        ivWinsockInfo info;
        EXPECT_TRUE(info.Usable());
        EXPECT_EQ(info.VersionMajor(), 1);
        EXPECT_EQ(info.VersionMinor(), 1);
        EXPECT_EQ(info.MaxUDPData(), 65507);
        EXPECT_GT(info.MaxSockets(), 0);
        EXPECT_FALSE(info.Description().isEmpty());
        EXPECT_EQ(info.MachineName(), QHostInfo::localHostName());
        const QString address = info.LocalIPAddress();
        EXPECT_TRUE(address == "Unknown" || vWinsock::IsDottedIPv4(address)) << address.toStdString();
        EXPECT_EQ(vWinsock::State().refCount, 1);
    }
    EXPECT_EQ(vWinsock::State().refCount, 0) << "the info object gives its reference back";
}

TEST(vWinsock, ErrnoValuesMapToSocketCodesWithTheirTexts)
{
    const struct {
        int err;
        int32_t code;
        const char* text;
    } cases[] = {
        {EADDRINUSE, 10048, "Address already in use"},
        {EACCES, 10013, "Permission Denied"},
        {EMSGSIZE, 10040, "Message too long"},
        {ECONNREFUSED, 10061, "Connection refused"},
        {EHOSTUNREACH, 10065, "No route to host"},
        {ENETUNREACH, 10051, "Network is unreachable"},
        {EAGAIN, 10035, "Operation would block"},
        {EINVAL, 10022, "Invalid Argument"},
        {EADDRNOTAVAIL, 10049, "Can not assign requested address"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vWinsock::FromErrno(c.err), c.code) << c.err;
        EXPECT_EQ(vWinsock::ErrorText(c.code), c.text);
    }
    EXPECT_EQ(vWinsock::ErrorText(0), "No Error");
    EXPECT_EQ(vWinsock::ErrorText(11001), "Host not found");
    EXPECT_EQ(vWinsock::ErrorText(11005), "Can not create async sockets for this class.");
    EXPECT_EQ(vWinsock::ErrorText(12345), "Unknown Error");
    // An errno with no socket code is still a failure, never 0 or "would block".
    const int32_t odd = vWinsock::FromErrno(EDEADLK);
    EXPECT_GT(odd, 0);
    EXPECT_NE(odd, 10035);
    EXPECT_EQ(vWinsock::ErrorText(odd), "Unknown Error");
}

TEST(vWinsock, PortsAndAddressesFromText)
{
    EXPECT_EQ(vWinsock::PortFromText("5001"), 5001);
    EXPECT_EQ(vWinsock::PortFromText(" 80 "), 80);
    EXPECT_EQ(vWinsock::PortFromText(""), -1);
    EXPECT_EQ(vWinsock::PortFromText("-1"), -1);
    EXPECT_EQ(vWinsock::PortFromText("65536"), -1);
    EXPECT_EQ(vWinsock::PortFromText("no-such-service-name"), -1);
    EXPECT_EQ(vWinsock::PortFromText(QString::fromUtf8("dom\xc3\xa4in")), -1);

    EXPECT_TRUE(vWinsock::IsDottedIPv4("10.0.0.5"));
    EXPECT_TRUE(vWinsock::IsDottedIPv4("255.255.255.255"));
    EXPECT_FALSE(vWinsock::IsDottedIPv4("localhost"));
    EXPECT_FALSE(vWinsock::IsDottedIPv4("10.0.0"));
    EXPECT_FALSE(vWinsock::IsDottedIPv4("10.0.0.256"));
    EXPECT_FALSE(vWinsock::IsDottedIPv4(" 10.0.0.5"));
    EXPECT_FALSE(vWinsock::IsDottedIPv4(""));
    EXPECT_EQ(vWinsock::DottedAddress(htonl(0x7f000001)), "127.0.0.1");
}

TEST(vWinsock, ByteCountersRestartAtZeroInsteadOfOverflowing)
{
    EXPECT_EQ(vWinsock::AddByteCount(10, 5), 15);
    EXPECT_EQ(vWinsock::AddByteCount(2147483600, 47), 2147483647);
    EXPECT_EQ(vWinsock::AddByteCount(2147483600, 48), 0);
    EXPECT_EQ(vWinsock::AddByteCount(0, 65507), 65507);
}

TEST(vAPI, MessageParametersKeepEventAndErrorApart)
{
    const int32_t l = vAPI::MakeLong(vWinsock::FD_READ, 10054);
    EXPECT_EQ(vAPI::LoWord(l), 1);
    EXPECT_EQ(vAPI::HiWord(l), 10054);
    // A high word with its top bit set must not smear into a negative error code.
    EXPECT_EQ(vAPI::HiWord(vAPI::MakeLong(2, 0xffff)), 0xffff);
    EXPECT_EQ(vAPI::LoWord(vAPI::MakeLong(0x12345, 0)), 0x2345);
}
