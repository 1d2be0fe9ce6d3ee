#include "EventLoopWait.h"
#include "PeerSocket.h"

#include "transport/ivSocketUDPOptions.h"
#include "transport/ivUDP.h"
#include "transport/ivWinsockInfo.h"
#include "transport/ivhWnd.h"
#include "transport/vAPI.h"
#include "transport/vWinsock.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

using namespace cfb;

namespace {

// Everything an ivUDP raises, in order.
struct Events {
    explicit Events(ivUDP& s)
    {
        QObject::connect(&s, &ivUDP::StateChange, [this](ivUDPState& n, ivUDPState& o) {
            states.push_back({n, o});
            order.push_back("state");
        });
        QObject::connect(&s, &ivUDP::NewSocketHandle, [this](int32_t& o, int32_t& n) {
            handles.push_back({o, n});
            order.push_back("handle");
        });
        QObject::connect(&s, &ivUDP::Error, [this](int32_t& code, QString& text) {
            errors.push_back({code, text});
            order.push_back("error");
        });
        QObject::connect(&s, &ivUDP::DataArrival, [this](int32_t& n) {
            arrivals.push_back(n);
            order.push_back("arrival");
        });
        QObject::connect(&s, &ivUDP::RawDataStream, [this](QByteArray& b, int32_t& n, QString& ip, int32_t& port) {
            raw.push_back({b, n, ip, port});
            order.push_back("raw");
        });
        QObject::connect(&s, &ivUDP::DataUnRead, [this](QByteArray& b, int32_t& n) {
            unread.push_back({b, n});
            order.push_back("unread");
        });
    }
    struct Raw {
        QByteArray bytes;
        int32_t amount;
        QString ip;
        int32_t port;
    };
    std::vector<std::pair<ivUDPState, ivUDPState>> states;
    std::vector<std::pair<int32_t, int32_t>> handles;
    std::vector<std::pair<int32_t, QString>> errors;
    std::vector<int32_t> arrivals;
    std::vector<Raw> raw;
    std::vector<std::pair<QByteArray, int32_t>> unread;
    std::vector<std::string> order;
};

int boundPort(const ivUDP& s)
{
    return s.LocalPort().toInt();
}

} // namespace

TEST(ivUDPBind, AnyFreePortWhenNoneIsGiven)
{
    for (const QString& port : {QString(), QString("-1"), QString("0")}) {
        ivUDP s;
        Events ev(s);
        EXPECT_EQ(s.State(), sckUDPClosed);
        s.wsBind(port);
        EXPECT_EQ(s.State(), sckUDPListening) << port.toStdString();
        EXPECT_GT(boundPort(s), 0) << "LocalPort shows the port the system chose";
        EXPECT_NE(s.SocketHandle(), -1);
        ASSERT_EQ(ev.states.size(), 1u);
        EXPECT_EQ(ev.states[0], std::make_pair(sckUDPListening, sckUDPClosed));
        EXPECT_TRUE(ev.errors.empty());
    }
}

TEST(ivUDPBind, APortInUseIsAnErrorEventAndLeavesNoSocket)
{
    PeerSocket holder;
    ivUDP s;
    Events ev(s);
    s.setLocalPort(QString::number(holder.port()));
    s.wsBind(); // empty argument: LocalPort is used
    ASSERT_EQ(ev.errors.size(), 1u);
    EXPECT_EQ(ev.errors[0].first, vWinsock::WSAEADDRINUSE);
    EXPECT_EQ(ev.errors[0].second, "Address already in use");
    EXPECT_EQ(s.State(), sckUDPClosed);
    EXPECT_EQ(s.SocketHandle(), -1);
    EXPECT_TRUE(ev.states.empty()) << "never left the closed state";

    // The error can be read once.
    EXPECT_EQ(s.LastErrorCode(), vWinsock::WSAEADDRINUSE);
    EXPECT_EQ(s.LastErrorCode(), 0);
    EXPECT_EQ(s.LastErrorString(), "Address already in use");
    EXPECT_EQ(s.LastErrorString(), "");

    // The next successful socket starts with a clean slate.
    s.wsBind("0");
    s.ClearLastError();
    EXPECT_EQ(s.State(), sckUDPListening);
    EXPECT_EQ(s.LastErrorCode(), 0);
}

TEST(ivUDPBind, RebindingReplacesTheSocketAndAppliesTheOptions)
{
    ivUDP s;
    Events ev(s);
    s.SocketOptions()->setReceiveTimeout(700);
    s.wsBind("0");
    const int32_t first = s.SocketHandle();
    EXPECT_EQ(s.SocketOptions()->handle(), first);
    EXPECT_TRUE(s.SocketOptions()->IsBinded());
    EXPECT_EQ(s.SocketOptions()->ReceiveBufferSize(), 65535);
    EXPECT_NEAR(s.SocketOptions()->ReceiveTimeout(), 700, 10);

    s.wsBind("0");
    ASSERT_EQ(ev.handles.size(), 1u);
    EXPECT_EQ(ev.handles[0].first, first);
    EXPECT_EQ(ev.handles[0].second, s.SocketHandle());
    EXPECT_NEAR(s.SocketOptions()->ReceiveTimeout(), 700, 10) << "options follow the new socket";
    // Listening -> closed (old socket released) -> listening.
    ASSERT_EQ(ev.states.size(), 3u);
    EXPECT_EQ(ev.states[1], std::make_pair(sckUDPClosed, sckUDPListening));
}

TEST(ivUDPBind, AnErrorHandlerMayReplaceTheSocketObject)
{
    // The messenger's recovery: on an error, drop the socket object and make a new one.
    PeerSocket holder;
    auto* first = new ivUDP;
    std::unique_ptr<ivUDP> replacement;
    QObject::connect(first, &ivUDP::Error, [&](int32_t&, QString&) {
        first->ClearLastError();
        delete first;
        replacement = std::make_unique<ivUDP>();
        replacement->wsBind("0");
    });
    first->wsBind(QString::number(holder.port()));
    ASSERT_TRUE(replacement);
    EXPECT_EQ(replacement->State(), sckUDPListening);
    EXPECT_EQ(vWinsock::State().refCount, 3) << "only the replacement holds the socket layer";
}

TEST(ivUDPBind, EachSocketOnAThreadGetsOnlyItsOwnDatagrams)
{
    ivUDP a, b;
    Events evA(a), evB(b);
    a.wsBind("0");
    b.wsBind("0");
    PeerSocket peer;
    ASSERT_TRUE(peer.sendTo(b.LocalPort().toInt(), "for b"));
    ASSERT_TRUE(peer.sendTo(a.LocalPort().toInt(), "for a!"));
    ASSERT_TRUE(waitUntil([&] { return !evA.arrivals.empty() && !evB.arrivals.empty(); }));
    runFor(50);
    EXPECT_EQ(evA.arrivals, (std::vector<int32_t>{6}));
    EXPECT_EQ(evB.arrivals, (std::vector<int32_t>{5}));
}

class ivUDPReceive : public ::testing::Test {
protected:
    void SetUp() override
    {
        sock.wsBind("0");
        ASSERT_EQ(sock.State(), sckUDPListening);
        port = boundPort(sock);
    }
    ivUDP sock;
    Events ev{sock};
    PeerSocket peer;
    int port = 0;
};

TEST_F(ivUDPReceive, AFiveByteDatagramComesOutAsFiveCharacters)
{
    ASSERT_TRUE(peer.sendTo(port, QByteArray("h\x80l\xe9o")));
    ASSERT_TRUE(waitUntil([&] { return !ev.arrivals.empty(); }));
    EXPECT_EQ(ev.arrivals[0], 5);
    EXPECT_EQ(sock.RemoteHost(), "127.0.0.1") << "the sender's address";
    EXPECT_EQ(sock.RemoteHostIP(), "127.0.0.1");
    EXPECT_TRUE(sock.IsReadAble());

    QString text = "old";
    int32_t maxLen = -1;
    sock.wsGetData(text, maxLen);
    EXPECT_EQ(maxLen, 5);
    EXPECT_EQ(text, QString::fromUtf8("h\u20acl\u00e9o")) << "one Windows-1252 character per byte";
    sock.wsGetData(text);
    EXPECT_EQ(text, "");
}

TEST_F(ivUDPReceive, PartialTakesLeaveTheRestInOrder)
{
    ASSERT_TRUE(peer.sendTo(port, "abcde"));
    ASSERT_TRUE(waitUntil([&] { return !ev.arrivals.empty(); }));

    QByteArray bytes;
    int32_t maxLen = 2;
    sock.wsGetData(bytes, maxLen);
    EXPECT_EQ(bytes, "ab");
    EXPECT_EQ(maxLen, 2);

    QVariant other = 42; // neither text nor bytes: nothing taken, nothing changed
    maxLen = -1;
    sock.wsGetData(other, maxLen);
    EXPECT_EQ(other, QVariant(42));

    QVariant asText = QString();
    maxLen = 100;
    sock.wsGetData(asText, maxLen);
    EXPECT_EQ(asText.toString(), "cde");
    EXPECT_EQ(maxLen, 3);

    // Bad counts and an empty buffer clear the caller's value.
    ASSERT_TRUE(peer.sendTo(port, "xyz"));
    ASSERT_TRUE(waitUntil([&] { return ev.arrivals.size() == 2; }));
    bytes = "keep";
    maxLen = -2;
    sock.wsGetData(bytes, maxLen);
    EXPECT_TRUE(bytes.isEmpty());
    maxLen = 0;
    QString text = "keep";
    sock.wsGetData(text, maxLen);
    EXPECT_TRUE(text.isEmpty());
    sock.wsGetData(bytes);
    EXPECT_EQ(bytes, "xyz") << "the bad counts took nothing";
}

TEST_F(ivUDPReceive, DatagramsQueuedTogetherArriveOnceEach)
{
    for (const char* d : {"one", "two!", "three"})
        ASSERT_TRUE(peer.sendTo(port, d));
    ASSERT_TRUE(waitUntil([&] { return ev.arrivals.size() >= 3; }));
    runFor(100);
    EXPECT_EQ(ev.arrivals, (std::vector<int32_t>{3, 4, 5}));
    QByteArray all;
    sock.wsGetData(all);
    EXPECT_EQ(all, "onetwo!three");
}

TEST_F(ivUDPReceive, TheNextDatagramWaitsForTheHandlerOfThePreviousOne)
{
    // A handler that runs a nested event loop (a question box, say) sees no second arrival
    // inside it; the second one comes after the handler returned.
    int depth = 0;
    int deepest = 0;
    QObject::connect(&sock, &ivUDP::DataArrival, [&](int32_t&) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (ev.arrivals.size() == 1) {
            ASSERT_TRUE(peer.sendTo(port, "second"));
            runFor(200);
        }
        --depth;
    });
    ASSERT_TRUE(peer.sendTo(port, "first"));
    ASSERT_TRUE(waitUntil([&] { return ev.arrivals.size() >= 2; }));
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(ev.arrivals, (std::vector<int32_t>{5, 6}));
    runFor(50);
    EXPECT_EQ(ev.arrivals.size(), 2u);
}

TEST_F(ivUDPReceive, TheLargestDatagramArrivesWhole)
{
    QByteArray big(vWinsock::MAX_UDP_DATA, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + 3);
    ASSERT_TRUE(peer.sendTo(port, big));
    ASSERT_TRUE(waitUntil([&] { return !ev.arrivals.empty(); }));
    EXPECT_EQ(ev.arrivals[0], 65507);
    QByteArray got;
    sock.wsGetData(got);
    EXPECT_EQ(got, big);
}

TEST_F(ivUDPReceive, AZeroLengthDatagramDoesNotStallTheSocket)
{
    ASSERT_TRUE(peer.sendTo(port, QByteArray()));
    ASSERT_TRUE(peer.sendTo(port, "after"));
    ASSERT_TRUE(waitUntil([&] { return !ev.arrivals.empty(); }));
    EXPECT_EQ(ev.arrivals, (std::vector<int32_t>{5}));
    QByteArray got;
    sock.wsGetData(got);
    EXPECT_EQ(got, "after");
    EXPECT_TRUE(ev.errors.empty());
}

TEST_F(ivUDPReceive, WithoutTheBufferDatagramsComeAsRawStreams)
{
    sock.setUseBuffer(false);
    ASSERT_TRUE(peer.sendTo(port, "raw bytes"));
    ASSERT_TRUE(waitUntil([&] { return !ev.raw.empty(); }));
    EXPECT_EQ(ev.raw[0].bytes, "raw bytes");
    EXPECT_EQ(ev.raw[0].amount, 9);
    EXPECT_EQ(ev.raw[0].ip, "127.0.0.1");
    EXPECT_EQ(ev.raw[0].port, peer.port());
    EXPECT_TRUE(ev.arrivals.empty());
    QByteArray left;
    sock.wsGetData(left);
    EXPECT_TRUE(left.isEmpty()) << "nothing went to the buffer";
}

TEST_F(ivUDPReceive, ReleasingWithUnreadBytesHandsThemOver)
{
    ASSERT_TRUE(peer.sendTo(port, "abc"));
    ASSERT_TRUE(waitUntil([&] { return !ev.arrivals.empty(); }));
    ev.states.clear();
    sock.ReleaseSocket();
    ASSERT_EQ(ev.unread.size(), 1u);
    EXPECT_EQ(ev.unread[0].first, "abc");
    EXPECT_EQ(ev.unread[0].second, 3);
    ASSERT_EQ(ev.states.size(), 1u);
    EXPECT_EQ(ev.states[0], std::make_pair(sckUDPClosed, sckUDPListening));
    EXPECT_EQ(sock.LocalPort(), "0");
    EXPECT_EQ(sock.SocketHandle(), -1);
    QByteArray left;
    sock.wsGetData(left);
    EXPECT_TRUE(left.isEmpty());

    sock.ReleaseSocket(); // nothing left to release: no more events
    EXPECT_EQ(ev.states.size(), 1u);
    EXPECT_EQ(ev.unread.size(), 1u);
}

TEST_F(ivUDPReceive, ByteCountingIsOffUntilAskedFor)
{
    ASSERT_TRUE(peer.sendTo(port, "1234"));
    ASSERT_TRUE(waitUntil([&] { return ev.arrivals.size() == 1; }));
    EXPECT_EQ(sock.BytesReceived(), 0);
    sock.setUseByteCounting(true);
    ASSERT_TRUE(peer.sendTo(port, "123456"));
    ASSERT_TRUE(waitUntil([&] { return ev.arrivals.size() == 2; }));
    EXPECT_EQ(sock.BytesReceived(), 6);
    sock.ReleaseSocket();
    EXPECT_EQ(sock.BytesReceived(), 0) << "releasing resets the counters";
}

TEST_F(ivUDPReceive, ASocketErrorComesFirstAndReleasesTheSocket)
{
    const int32_t hwnd = vWinsock::HiddenWindow();
    // A message for another socket is not this object's business.
    ivhWnd::SendMessage(
        hwnd, vWinsock::MSG_SOCKET, sock.SocketHandle() + 1000, vAPI::MakeLong(1, vWinsock::WSAECONNRESET));
    EXPECT_TRUE(ev.errors.empty());

    ASSERT_TRUE(peer.sendTo(port, "lost"));
    ev.order.clear();
    ev.states.clear();
    ivhWnd::SendMessage(
        hwnd, vWinsock::MSG_SOCKET, sock.SocketHandle(), vAPI::MakeLong(vWinsock::FD_READ, vWinsock::WSAECONNRESET));
    ASSERT_EQ(ev.errors.size(), 1u);
    EXPECT_EQ(ev.errors[0], std::make_pair(vWinsock::WSAECONNRESET, QString("Connection reset by peer")));
    EXPECT_EQ(ev.order, (std::vector<std::string>{"error", "state"}));
    EXPECT_EQ(sock.State(), sckUDPClosed);
    EXPECT_EQ(sock.SocketHandle(), -1);
    runFor(50);
    EXPECT_TRUE(ev.arrivals.empty()) << "a released socket reads nothing";
}

TEST_F(ivUDPReceive, WritabilityIsReportedOnceAfterArming)
{
    EXPECT_TRUE(waitUntil([&] { return sock.IsWriteAble(); }));
}

TEST_F(ivUDPReceive, AnIdleBoundSocketUsesNoProcessorTime)
{
    timespec before{}, after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double used = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(used, 0.2) << "seconds of CPU over two idle seconds";
    EXPECT_TRUE(ev.arrivals.empty());
}

TEST_F(ivUDPReceive, AHandlerMayDeleteTheSocketThatRaisedTheEvent)
{
    auto* owned = new ivUDP;
    owned->wsBind("0");
    QPointer<ivUDP> watch(owned);
    int calls = 0;
    QObject::connect(owned, &ivUDP::DataArrival, [&](int32_t&) {
        ++calls;
        delete owned;
    });
    ASSERT_TRUE(peer.sendTo(owned->LocalPort().toInt(), "bye"));
    ASSERT_TRUE(peer.sendTo(owned->LocalPort().toInt(), "again"));
    ASSERT_TRUE(waitUntil([&] { return watch.isNull(); }));
    runFor(50);
    EXPECT_EQ(calls, 1);
    // The layer reference of the deleted object is gone; this fixture's socket keeps one.
    EXPECT_EQ(vWinsock::State().refCount, 3); // sock: itself, its info and its resolver
}

TEST_F(ivUDPReceive, AHandlerMayCloseTheSocketFromItsErrorEvent)
{
    QObject::connect(&sock, &ivUDP::Error, [&](int32_t&, QString&) { sock.CloseConection(); });
    ivhWnd::SendMessage(
        vWinsock::HiddenWindow(), vWinsock::MSG_SOCKET, sock.SocketHandle(), vAPI::MakeLong(1, vWinsock::WSAENETDOWN));
    EXPECT_EQ(sock.SocketHandle(), -1);
    EXPECT_EQ(sock.SocketOptions(), nullptr);
    EXPECT_EQ(vWinsock::State().refCount, 0);
}

TEST(ivUDPSend, ToADottedAddressAtOnce)
{
    PeerSocket peer;
    ivUDP s;
    Events ev(s);
    s.setRemoteHost("127.0.0.1");
    EXPECT_TRUE(s.HostResolved());
    EXPECT_EQ(s.RemoteHostIP(), "127.0.0.1");
    s.setRemotePort(QString(" %1").arg(peer.port()));
    s.wsSendData(QString::fromUtf8("caf\u00e9 \u20ac"));
    EXPECT_EQ(s.RemotePort(), QString::number(peer.port())) << "written back as a number";
    EXPECT_EQ(peer.receive(), QByteArray("caf\xe9 \x80"));
    EXPECT_EQ(s.BytesSent(), 0) << "counting is off";
    EXPECT_EQ(s.State(), sckUDPClosed) << "an unbound send socket changes no state";
    EXPECT_NE(s.SocketHandle(), -1);

    // Bytes go as they are; an empty datagram is not sent at all.
    s.setUseByteCounting(true);
    s.wsSendData(QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(peer.receive(), QByteArray("\x00\x01\x02", 3));
    s.wsSendData(QString());
    s.wsSendData(123);
    EXPECT_EQ(peer.receive(), "123");
    EXPECT_EQ(s.BytesSent(), 6);
    EXPECT_TRUE(ev.errors.empty());
}

TEST(ivUDPSend, FromABoundSocketTheReplyComesBack)
{
    ivUDP a, b;
    Events evA(a);
    a.wsBind("0");
    b.wsBind("0");
    b.setRemoteHost("127.0.0.1"); // releases b's socket: sends go from a fresh one
    b.setRemotePort(a.LocalPort());
    b.wsSendData(QString("ping"));
    ASSERT_TRUE(waitUntil([&] { return !evA.arrivals.empty(); }));
    QString text;
    a.wsGetData(text);
    EXPECT_EQ(text, "ping");
}

TEST(ivUDPSend, ABoundSocketSendsFromItsOwnPort)
{
    PeerSocket peer;
    ivUDP s;
    s.setRemoteHost("127.0.0.1");
    s.setRemotePort(QString::number(peer.port()));
    s.wsBind("0");
    s.wsSendData(QString("from the bound port"));
    int from = 0;
    EXPECT_EQ(peer.receive(&from), "from the bound port");
    EXPECT_EQ(from, s.LocalPort().toInt());
    EXPECT_EQ(s.State(), sckUDPListening);
}

TEST(ivUDPSend, ADatagramPastTheLimitIsAnErrorNotACrash)
{
    PeerSocket peer;
    ivUDP s;
    Events ev(s);
    s.setRemoteHost("127.0.0.1");
    s.setRemotePort(QString::number(peer.port()));
    s.wsSendData(QByteArray(vWinsock::MAX_UDP_DATA + 1, 'x'));
    ASSERT_EQ(ev.errors.size(), 1u);
    EXPECT_EQ(ev.errors[0], std::make_pair(vWinsock::WSAEMSGSIZE, QString("Message too long")));
    EXPECT_EQ(s.SocketHandle(), -1) << "released after a fatal error";
    EXPECT_FALSE(peer.hasDatagram());

    s.wsSendData(QByteArray(vWinsock::MAX_UDP_DATA, 'y'));
    EXPECT_EQ(peer.receive().size(), vWinsock::MAX_UDP_DATA) << "the largest one still goes";
}

TEST(ivUDPSend, AnUnusablePortIsReportedNotSentTo)
{
    ivUDP s;
    Events ev(s);
    s.setRemoteHost("127.0.0.1");
    s.setRemotePort("no-such-service-name");
    s.wsSendData(QString("x"));
    EXPECT_EQ(s.RemotePort(), "-1");
    ASSERT_EQ(ev.errors.size(), 1u);
    EXPECT_EQ(ev.errors[0].first, vWinsock::WSAEINVAL);
}

TEST(ivUDPSend, WithNoRemoteHostNothingIsLeftWaiting)
{
    ivUDP s;
    Events ev(s);
    s.setRemotePort("9");
    s.wsSendData(QString("nowhere"));
    ASSERT_EQ(ev.errors.size(), 1u);
    EXPECT_EQ(ev.errors[0], std::make_pair(vWinsock::WSAEDESTADDRREQ, QString("Destination address required")));
}

TEST(ivUDPSend, ToANameAfterALookUp)
{
    PeerSocket peer;
    ivUDP s;
    Events ev(s);
    s.setRemoteHost("LocalHost");
    EXPECT_FALSE(s.HostResolved());
    EXPECT_EQ(s.RemoteHostIP(), "");
    s.setRemotePort(QString::number(peer.port()));
    s.wsSendData(QString("first"));
    s.wsSendData(QString("second")); // waits with the first one
    EXPECT_FALSE(peer.hasDatagram()) << "nothing leaves before the look-up ends";
    ASSERT_TRUE(waitUntil([&] { return s.State() == sckUDPResolvedHost; }));
    EXPECT_TRUE(s.HostResolved());
    EXPECT_EQ(s.RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(peer.receive(), "first");
    EXPECT_EQ(peer.receive(), "second");
    s.wsSendData(QString("third")); // resolved now: straight out
    EXPECT_EQ(peer.receive(), "third");
    EXPECT_TRUE(ev.errors.empty());
}

TEST(ivUDPSend, ANameThatDoesNotExistIsAResolveError)
{
    PeerSocket peer;
    ivUDP s;
    Events ev(s);
    s.setRemoteHost("no-such-host.invalid");
    s.setRemotePort(QString::number(peer.port()));
    s.wsSendData(QString("lost"));
    ASSERT_TRUE(waitUntil([&] { return !ev.errors.empty(); }, 15000));
    EXPECT_EQ(ev.errors[0], std::make_pair(vWinsock::WSAHOST_NOT_FOUND, QString("Host not found")));
    EXPECT_EQ(s.State(), sckUDPResolveError);
    EXPECT_FALSE(s.HostResolved());
    EXPECT_EQ(s.LastErrorCode(), vWinsock::WSAHOST_NOT_FOUND);
    EXPECT_FALSE(peer.hasDatagram());
}

TEST(ivUDPSend, ChangingTheHostDropsWhatWaitedForTheOldOne)
{
    PeerSocket peer;
    ivUDP s;
    Events ev(s);
    s.setRemotePort(QString::number(peer.port()));
    s.setRemoteHost("no-such-host.invalid");
    s.wsSendData(QString("for the old host"));
    s.setRemoteHost("127.0.0.1");
    s.wsSendData(QString("for the new host"));
    EXPECT_EQ(peer.receive(), "for the new host");
    runFor(300);
    EXPECT_FALSE(peer.hasDatagram());
}

TEST(ivUDPSend, DestroyingTheObjectCancelsItsLookUp)
{
    PeerSocket peer;
    {
        ivUDP s;
        s.setRemoteHost("localhost");
        s.setRemotePort(QString::number(peer.port()));
        s.wsSendData(QString("never"));
    }
    runFor(300);
    EXPECT_FALSE(peer.hasDatagram());
    EXPECT_EQ(vWinsock::State().refCount, 0);
}

TEST(ivUDPLifecycle, CloseAndOpenAreIdempotent)
{
    ivUDP s;
    EXPECT_EQ(vWinsock::State().refCount, 3); // the object, its info and its resolver
    s.OpenConection();
    EXPECT_EQ(vWinsock::State().refCount, 3);
    s.wsBind("0");
    Events ev(s);
    s.CloseConection();
    EXPECT_EQ(ev.states.size(), 1u);
    EXPECT_EQ(vWinsock::State().refCount, 0);
    EXPECT_EQ(s.SocketOptions(), nullptr);
    EXPECT_EQ(s.WinsockInfo(), nullptr);
    s.CloseConection();
    s.wsBind("0"); // closed: nothing happens
    EXPECT_EQ(s.SocketHandle(), -1);
    EXPECT_TRUE(ev.errors.empty());

    // Reopened, the object works again: buffered, not counting.
    s.setUseBuffer(false);
    s.setUseByteCounting(true);
    s.OpenConection();
    EXPECT_TRUE(s.UseBuffer());
    EXPECT_FALSE(s.UseByteCounting());
    s.wsBind("0");
    PeerSocket peer;
    ASSERT_TRUE(peer.sendTo(s.LocalPort().toInt(), "back"));
    ASSERT_TRUE(waitUntil([&] { return !ev.arrivals.empty(); }));
}

TEST(ivUDPLifecycle, RemoteHostChangesReleaseOnlyWhenTheValueDiffers)
{
    ivUDP s;
    Events ev(s);
    s.wsBind("0");
    s.setRemoteHost("10.0.0.5");
    EXPECT_EQ(s.State(), sckUDPClosed);
    EXPECT_TRUE(s.HostResolved());
    EXPECT_EQ(s.RemoteHostIP(), "10.0.0.5");
    s.wsBind("0");
    s.setRemoteHost("10.0.0.5"); // same value: the socket stays
    EXPECT_EQ(s.State(), sckUDPListening);
    s.setRemoteHost("example.invalid");
    EXPECT_FALSE(s.HostResolved());
    EXPECT_EQ(s.RemoteHostIP(), "");
    EXPECT_EQ(s.State(), sckUDPClosed);
}

TEST(ivUDPLifecycle, OnAThreadWithoutAnEventLoopEveryUseIsAnError)
{
    std::vector<int32_t> codes;
    int32_t handle = 0;
    std::thread plain([&] {
        ivUDP s;
        QObject::connect(&s, &ivUDP::Error, [&](int32_t& code, QString&) { codes.push_back(code); });
        s.wsBind("0");
        handle = s.SocketHandle();
        s.setRemoteHost("localhost");
        s.wsSendData(QString("x"));
    });
    plain.join();
    EXPECT_EQ(codes, (std::vector<int32_t>{vWinsock::WSANOTINITIALISED, vWinsock::WSANOTINITIALISED}));
    EXPECT_EQ(handle, -1);
}
