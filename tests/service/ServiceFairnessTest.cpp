// No client may starve the others: costly bodies, sign-in floods, connections held open and
// bodies trickled in byte by byte.

#include "ServiceTest.h"

#include <QElapsedTimer>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Whether the service closed the connection within `ms` milliseconds.
bool closedWithin(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    char byte;
    return recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

} // namespace

class ServiceFairness : public ServiceTest {
protected:
    QStringList serviceArguments() const override
    {
        return {u"--threads"_s, u"1"_s, u"--connections-per-address"_s, u"3"_s, u"--request-timeout"_s, u"1"_s,
            u"--sign-in-burst"_s, u"4"_s, u"--sign-in-rate"_s, u"1"_s};
    }
};
CONFABO_ON_EVERY_STORE(ServiceFairness);

TEST_P(ServiceFairness, AMultipartBodyOfHyphensIsAnsweredQuickly)
{
    // Every line of hyphens could start a delimiter; the body must still be read in one pass.
    const QByteArray hyphens(262143, '-');
    for (const QByteArray& boundary : {"-"_ba, "--"_ba, "-x"_ba, QByteArray(69, '-') + 'x'}) {
        QElapsedTimer timer;
        timer.start();
        const ServiceReply reply = client().postWithType(hyphens, "multipart/form-data; boundary=" + boundary);
        EXPECT_EQ(reply.status, 200) << boundary.toStdString();
        EXPECT_TRUE(reply.empty());
        EXPECT_LT(timer.elapsed(), 3000) << "boundary " << boundary.toStdString();
    }
}

TEST_P(ServiceFairness, SignInsFromOneAddressRunOutButOtherAddressesAreServed)
{
    const int id = registerUser(u"tokens"_s); // one token of four
    ASSERT_GT(id, 0);
    EXPECT_TRUE(login(u"tokens"_s, u"WRONG"_s).empty());
    EXPECT_TRUE(login(u"tokens"_s, u"WRONG"_s).empty());
    EXPECT_FALSE(login(u"tokens"_s).empty()) << "the fourth token";
    EXPECT_TRUE(login(u"tokens"_s).empty()) << "right password, but no token left";
    EXPECT_EQ(registerUser(u"latecomer"_s), 0);
    EXPECT_EQ(byId("USER_INFO", id).text("/body/status"), u"1"_s) << "lookups are not limited";

    EXPECT_FALSE(login(u"tokens"_s, u"0123456789ABCDEF"_s, {}, Foreign).empty());
    EXPECT_GT(registerUser(u"latecomer"_s, u"PW"_s, {}, Foreign), 0) << "the refused registration created nothing";
}

TEST_P(ServiceFairness, OneAddressHoldsOnlySoManyConnections)
{
    // Three connections that start a request and stop: the address has used its share.
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(client().connectFrom(Home));
        ASSERT_GE(held.back(), 0);
        ASSERT_GT(send(held.back(), "POST /cfb_maint.asp HTTP/1.0\r\n", 30, MSG_NOSIGNAL), 0);
    }
    const QByteArray info
        = "mode=USER_INFO&user_id=" + QByteArray::number(registerUser(u"another"_s, u"PW"_s, {}, Foreign));
    EXPECT_EQ(client().post(info, Home).status, 0) << "a fourth connection is closed unanswered";
    EXPECT_EQ(client().post(info, Foreign).status, 200) << "another address is served";

    for (int fd : held)
        close(fd);
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    while (status != 200 && timer.elapsed() < 5000)
        status = client().post(info, Home).status;
    EXPECT_EQ(status, 200) << "served again once the connections are gone";
}

TEST_P(ServiceFairness, HeadersTrickledInPastTheDeadlineLoseTheirConnection)
{
    const int fd = client().connectFrom(Home);
    ASSERT_GE(fd, 0);
    const QByteArray start = "POST /cfb_maint.asp HTTP/1.0\r\nX-Slow: ";
    ASSERT_EQ(send(fd, start.constData(), size_t(start.size()), MSG_NOSIGNAL), start.size());
    // One header byte every 200 ms: the headers never end, the idle timeout never fires, and
    // only the request deadline (1 s here, counted from the connection's start) ends it.
    QElapsedTimer timer;
    timer.start();
    bool closed = false;
    while (!closed && timer.elapsed() < 10000) {
        if (send(fd, "a", 1, MSG_NOSIGNAL) != 1)
            closed = true;
        else
            closed = closedWithin(fd, 200);
    }
    close(fd);
    EXPECT_TRUE(closed) << "still open after 10 s; the idle timeout alone would take 15 s, forever at this pace";
}

TEST_P(ServiceFairness, ABodyTrickledInPastTheDeadlineLosesItsConnection)
{
    const int fd = client().connectFrom(Home);
    ASSERT_GE(fd, 0);
    const QByteArray headers = "POST /cfb_maint.asp HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                               "Content-Length: 1000\r\n\r\nmode=USER_INFO&";
    ASSERT_EQ(send(fd, headers.constData(), size_t(headers.size()), MSG_NOSIGNAL), headers.size());
    // One byte every 200 ms keeps the idle timeout (15 s) from ever firing; only the request
    // deadline (1 s here) ends it.
    QElapsedTimer timer;
    timer.start();
    bool closed = false;
    while (!closed && timer.elapsed() < 10000) {
        if (send(fd, "x", 1, MSG_NOSIGNAL) != 1)
            closed = true;
        else
            closed = closedWithin(fd, 200);
    }
    close(fd);
    EXPECT_TRUE(closed);
    EXPECT_LT(timer.elapsed(), 10000);
}
