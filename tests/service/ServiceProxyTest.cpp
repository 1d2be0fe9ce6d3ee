// Behind a reverse proxy: the client's address comes from X-Forwarded-For only when the
// connection is from a proxy the service was told to trust, and only when it reads as an address.

#include "ServiceTest.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr const char* Proxy = "127.0.0.2";
constexpr const char* SecondProxy = "127.0.0.3";
constexpr const char* Client = "203.0.113.7";

// A connection from `from` that has sent the start of a request and waits; -1 on failure.
int heldConnection(const ServiceClient& client, const char* from)
{
    const int fd = client.connectFrom(from);
    if (fd >= 0 && send(fd, "POST /cfb_maint.asp HTTP/1.0\r\n", 30, MSG_NOSIGNAL) != 30) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

class ServiceBehindProxy : public ServiceTest {
protected:
    QStringList serviceArguments() const override
    {
        return {u"--trusted-proxy"_s, QString::fromLatin1(Proxy), u"--trusted-proxy"_s,
            QString::fromLatin1(SecondProxy), u"--connections-per-address"_s, u"2"_s};
    }

    // A form POST from `from` carrying X-Forwarded-For.
    ServiceReply forwarded(std::initializer_list<std::pair<const char*, QString>> fields,
        const QByteArray& forwardedFor, const char* from = Proxy)
    {
        QByteArray request = client().request(formBody(fields), "application/x-www-form-urlencoded");
        request.replace(request.indexOf("\r\n\r\n"), 2, "\r\nX-Forwarded-For: " + forwardedFor + "\r\n");
        return client().exchange(request, from);
    }

    // Signs `handle` in with an empty ip, so the service records the address it took the request
    // to come from, and returns that address.
    QString addressTakenFor(const QString& handle, const QByteArray& forwardedFor, const char* from = Proxy)
    {
        const ServiceReply signedIn = forwarded(
            {{"mode", u"LOGIN"_s}, {"handle", handle}, {"password", u"0123456789ABCDEF"_s}, {"ip", QString()}},
            forwardedFor, from);
        if (signedIn.empty())
            return u"(refused)"_s;
        return byId("USER_INFO", signedIn.text("/body/user_id").toInt()).text("/body/ip");
    }

    ServiceReply setStatus(int userId, const QByteArray& forwardedFor)
    {
        return forwarded(
            {{"mode", u"USER_UPDATE"_s}, {"user_id", QString::number(userId)}, {"status", u"2"_s}}, forwardedFor);
    }
};

// Where the address comes from does not depend on the store: these run on SQLite only.
INSTANTIATE_TEST_SUITE_P(Sqlite, ServiceBehindProxy, ::testing::Values(Store::Sqlite), storeName);

class ServiceWithoutProxy : public ServiceTest { };
INSTANTIATE_TEST_SUITE_P(Sqlite, ServiceWithoutProxy, ::testing::Values(Store::Sqlite), storeName);

TEST_P(ServiceBehindProxy, TheClientAddressComesFromATrustedProxyOnly)
{
    const int id = registerUser(u"amelia"_s);
    ASSERT_GT(id, 0);

    // The right-most entry is the one the proxy saw; entries left of it are the client's word.
    EXPECT_EQ(addressTakenFor(u"amelia"_s, "198.51.100.9, 203.0.113.7"), QString::fromLatin1(Client));
    EXPECT_FALSE(setStatus(id, Client).empty()) << "changes from the bound client are accepted";
    EXPECT_TRUE(setStatus(id, "198.51.100.9").empty()) << "another client behind the proxy is not amelia";
    EXPECT_TRUE(client().post("mode=USER_UPDATE&user_id=" + QByteArray::number(id) + "&status=1", Proxy).empty())
        << "the proxy itself is not amelia";
    EXPECT_FALSE(setStatus(id, QByteArray(Client) + " ,127.0.0.3").empty()) << "a second trusted proxy is skipped";

    EXPECT_EQ(addressTakenFor(u"amelia"_s, Client, Home), QString::fromLatin1(Home)) << "an untrusted peer";
    EXPECT_EQ(addressTakenFor(u"amelia"_s, "203.0.113.7, no-address"), QString::fromLatin1(Proxy));
    EXPECT_EQ(addressTakenFor(u"amelia"_s, "203.0.113.7:4000"), QString::fromLatin1(Proxy));
    EXPECT_EQ(addressTakenFor(u"amelia"_s, ""), QString::fromLatin1(Proxy));
    EXPECT_EQ(addressTakenFor(u"amelia"_s, "::ffff:203.0.113.7"), QString::fromLatin1(Client));
    // An IPv6 client's address is its ip6, and it has no IPv4 one.
    EXPECT_EQ(addressTakenFor(u"amelia"_s, "2001:DB8:0::1"), QString());
    EXPECT_EQ(byId("USER_INFO", id).text("/body/ip6"), u"2001:db8::1"_s);
}

TEST_P(ServiceBehindProxy, ATrustedProxyMayHoldMoreConnectionsThanAClient)
{
    const int id = registerUser(u"amelia"_s);
    std::vector<int> held;
    for (const char* from : {Proxy, Proxy, Proxy, Home, Home}) {
        held.push_back(heldConnection(client(), from));
        ASSERT_GE(held.back(), 0);
    }
    const QByteArray info = "mode=USER_INFO&user_id=" + QByteArray::number(id);
    EXPECT_EQ(client().post(info, Proxy).status, 200);
    // The service's worker threads take connections in parallel: the two held ones may be counted
    // a moment after a later one. Once they are, a client's third connection is closed unanswered.
    const auto refused = [&] { return client().post(info, Home).status == 0; };
    bool closed = refused();
    for (int tries = 0; !closed && tries < 50; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        closed = refused();
    }
    EXPECT_TRUE(closed) << "a client's third connection is closed unanswered";
    for (const int fd : held)
        close(fd);
}

TEST_P(ServiceWithoutProxy, TheForwardedAddressIsIgnored)
{
    const int id = signedInUser(u"amelia"_s, {}, Foreign);
    QByteArray request = client().request(
        "mode=LOGIN&handle=amelia&password=0123456789ABCDEF&ip=", "application/x-www-form-urlencoded");
    request.replace(request.indexOf("\r\n\r\n"), 2, "\r\nX-Forwarded-For: 203.0.113.7\r\n");
    ASSERT_FALSE(client().exchange(request, Foreign).empty());
    EXPECT_EQ(byId("USER_INFO", id).text("/body/ip"), QString::fromLatin1(Foreign));
}

// Two machines behind one home router reach the service from the same public address; the router
// seldom loops datagrams sent to that address back in, so each is told the other's local address.
class ServiceSameHome : public ServiceBehindProxy {
protected:
    // Signs `handle` in through the proxy as coming from `publicAddress`, giving `ip` and
    // `localIp` as a client does.
    int signInFrom(const QString& handle, const QByteArray& publicAddress, const QString& ip, const QString& localIp)
    {
        const ServiceReply reply
            = forwarded({{"mode", u"LOGIN"_s}, {"handle", handle}, {"password", u"0123456789ABCDEF"_s}, {"ip", ip},
                            {"local_ip", localIp}},
                publicAddress);
        return reply.empty() ? 0 : reply.text("/body/user_id").toInt();
    }
    // The address USER_INFO gives for `userId` to a requester at `publicAddress`.
    QString addressSeenFrom(int userId, const QByteArray& publicAddress)
    {
        return forwarded({{"mode", u"USER_INFO"_s}, {"user_id", QString::number(userId)}}, publicAddress)
            .text("/body/ip");
    }
};
CONFABO_ON_EVERY_STORE(ServiceSameHome);

TEST_P(ServiceSameHome, ARequesterAtTheSamePublicAddressGetsTheLocalOne)
{
    const int amy = registerUser(u"amelia"_s);
    const int bo = registerUser(u"bonnie"_s);
    ASSERT_GT(amy, 0);
    ASSERT_GT(bo, 0);
    const QByteArray home = "203.0.113.7";
    const QByteArray elsewhere = "198.51.100.9";

    ASSERT_EQ(signInFrom(u"amelia"_s, home, QString(), u"192.168.1.20"_s), amy);
    EXPECT_EQ(addressSeenFrom(amy, home), u"192.168.1.20"_s) << "behind the same router";
    EXPECT_EQ(addressSeenFrom(amy, elsewhere), QString::fromLatin1(home)) << "everyone else gets the public one";
    EXPECT_EQ(addressSeenFrom(amy, Proxy), QString::fromLatin1(home)) << "the proxy is nobody's home";

    // A named address is the one everybody gets, at home too.
    ASSERT_EQ(signInFrom(u"bonnie"_s, home, u"bonnie.example.org"_s, u"192.168.1.21"_s), bo);
    EXPECT_EQ(addressSeenFrom(bo, home), u"bonnie.example.org"_s);

    // An older client gives no local address: nothing changes for anyone.
    const ServiceReply older = forwarded(
        {{"mode", u"LOGIN"_s}, {"handle", u"amelia"_s}, {"password", u"0123456789ABCDEF"_s}, {"ip", QString()}}, home);
    ASSERT_FALSE(older.empty());
    EXPECT_EQ(addressSeenFrom(amy, home), QString::fromLatin1(home));

    // Once signed out, the address is nobody's business, local or not.
    ASSERT_EQ(signInFrom(u"amelia"_s, home, QString(), u"192.168.1.20"_s), amy);
    ASSERT_FALSE(forwarded({{"mode", u"LOGOUT"_s}, {"user_id", QString::number(amy)}}, home).empty());
    EXPECT_EQ(addressSeenFrom(amy, home), QString());
}

// The IPv6 address buddies are told beside ip: the one a sign-in over IPv6 came from, else the
// client's word for it when that is a unicast literal, never while the user is offline.
class ServiceIpv6 : public ServiceBehindProxy {
protected:
    int signInFrom(const QByteArray& source, const QString& ip6)
    {
        const ServiceReply reply = forwarded({{"mode", u"LOGIN"_s}, {"handle", u"amelia"_s},
                                                 {"password", u"0123456789ABCDEF"_s}, {"ip", QString()}, {"ip6", ip6}},
            source);
        return reply.empty() ? 0 : reply.text("/body/user_id").toInt();
    }
    ServiceReply infoOf(int userId)
    {
        return forwarded({{"mode", u"USER_INFO"_s}, {"user_id", QString::number(userId)}}, "198.51.100.9");
    }
};
CONFABO_ON_EVERY_STORE(ServiceIpv6);

TEST_P(ServiceIpv6, TheAddressIsRecordedAndHandedOutBesideIp)
{
    const int amy = registerUser(u"amelia"_s);
    ASSERT_GT(amy, 0);
    const QByteArray home = "203.0.113.7";

    // Over IPv4, the client says its IPv6 address; it is kept in its compressed form.
    ASSERT_EQ(signInFrom(home, u"2001:DB8:0:0::7"_s), amy);
    ServiceReply info = infoOf(amy);
    EXPECT_EQ(info.text("/body/ip"), QString::fromLatin1(home));
    EXPECT_EQ(info.text("/body/ip6"), u"2001:db8::7"_s);

    // What cannot stand for a machine on the internet is not handed to anyone.
    for (const QString& claim : {u"::1"_s, u"fe80::1"_s, u"ff02::1"_s, u"::ffff:192.0.2.1"_s, u"bonnie.example.org"_s,
             u"[2001:db8::7]"_s, u"2001:db8::7%eth0"_s, u"192.0.2.1"_s}) {
        ASSERT_EQ(signInFrom(home, claim), amy) << "a bad ip6 does not refuse the sign-in";
        EXPECT_FALSE(infoOf(amy).has("/body/ip6")) << claim.toStdString();
    }

    // Over IPv6 the address the sign-in came from counts, not the claim; no IPv4 address is known,
    // so clients that read only ip get none rather than one they cannot use.
    ASSERT_EQ(signInFrom("2001:db8:5::9", u"2001:db8::66"_s), amy);
    info = infoOf(amy);
    EXPECT_EQ(info.text("/body/ip6"), u"2001:db8:5::9"_s);
    EXPECT_EQ(info.text("/body/ip"), QString());

    // Signed out, the address is nobody's business; an older client's sign-in gives none.
    ASSERT_FALSE(forwarded({{"mode", u"LOGOUT"_s}, {"user_id", QString::number(amy)}}, "2001:db8:5::9").empty());
    EXPECT_FALSE(infoOf(amy).has("/body/ip6"));
    const ServiceReply older = forwarded(
        {{"mode", u"LOGIN"_s}, {"handle", u"amelia"_s}, {"password", u"0123456789ABCDEF"_s}, {"ip", QString()}}, home);
    ASSERT_FALSE(older.empty());
    EXPECT_FALSE(infoOf(amy).has("/body/ip6"));
    EXPECT_EQ(infoOf(amy).text("/body/ip"), QString::fromLatin1(home));
}
