// Reaching buddies across routers, on loopback addresses standing in for machines: the datagrams
// that keep the way open to online buddies, and datagrams that name a buddy but come from
// somewhere else.
#include "messaging/Buddy.h"
#include "channel/Identity.h"
#include "messaging/Confabo.h"
#include "messaging/KeepAlive.h"
#include "messaging/PeerDatagram.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace cfb;

namespace {

// A buddy's machine: a plain socket at its own loopback address and the shared data port.
class Machine {
public:
    Machine(const char* address, int port)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        ::inet_pton(AF_INET, address, &a.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Machine() { ::close(fd_); }
    bool bound() const { return bound_; }

    // Datagrams that arrived since the last call, with where each came from ("127.0.0.1:4000").
    QStringList take()
    {
        QStringList got;
        char buf[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &length)) >= 0) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            got << QStringLiteral("%1:%2 %3")
                       .arg(QString::fromLatin1(text))
                       .arg(ntohs(from.sin_port))
                       .arg(QString::fromLatin1(QByteArray(buf, int(n)).toPercentEncoding()));
            length = sizeof from;
        }
        return got;
    }

    void sendTo(int port, const QByteArray& datagram)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd_, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

class ReachTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString();
        previous_ = UserNotice::setHandler([](const QString&, const QString&) {});
        SettingsStore::save("Data", "CFBSERVER", service_.serverSetting());
        SettingsStore::save("Data", "DataPort", port_);
        SettingsStore::save("Data", "Data Address", "127.0.0.1");
    }
    void TearDown() override { UserNotice::setHandler(previous_); }

    // Registers an account and, unless `at` is empty, signs it in from there, as a client on
    // another machine would; the object binds no data port of its own.
    std::unique_ptr<Confabo> account(const QString& handle, const QString& at)
    {
        SettingsStore::save("Debug", "Block All Data", "True");
        auto c = std::make_unique<Confabo>();
        c->setIdentity(std::nullopt); // the plain format: keep-alives older peers drop
        SettingsStore::save("Debug", "Block All Data", "False");
        EXPECT_TRUE(c->Register(handle, "PW", handle.toLower() + "@example.org"));
        if (!at.isEmpty()) {
            EXPECT_TRUE(c->Login(handle, "PW", at));
        }
        return c;
    }

    // Amelia at 127.0.0.1 with buddies who signed in elsewhere, each looked up once, as the
    // presence poll does.
    std::unique_ptr<Confabo> amelia(const QStringList& buddies)
    {
        auto amy = std::make_unique<Confabo>();
        amy->setIdentity(std::nullopt);
        EXPECT_TRUE(amy->Register("Amelia", "PW", "amelia@example.org"));
        EXPECT_TRUE(amy->Login("Amelia", "PW"));
        EXPECT_EQ(amy->wsReceive()->State() == sckUDPListening, !amy->blocksAllData());
        for (const QString& handle : buddies)
            EXPECT_EQ(amy->AddBuddy(handle), handle);
        for (const auto& buddy : *amy->Buddies())
            buddy->Status();
        return amy;
    }

    int port() const { return port_.toInt(); }

    TempConfig config_;
    ServiceProcess service_;
    UserNotice::Handler previous_;
    QString port_ = freeDataPort();
};

} // namespace

TEST_F(ReachTest, TheWayIsKeptOpenToOnlineBuddiesOnlyFromTheDataPort)
{
    Machine boMachine("127.0.0.2", port()), cyMachine("127.0.0.3", port()), deeMachine("127.0.0.4", port());
    ASSERT_TRUE(boMachine.bound() && cyMachine.bound() && deeMachine.bound());
    auto bo = account("Bonnie", "127.0.0.2");
    auto cy = account("Cyrano", "127.0.0.3");
    auto dee = account("Dee-Dee", QString()); // never signs in
    auto amy = amelia({"Bonnie", "Cyrano", "Dee-Dee"});
    ASSERT_TRUE(amy->BlockUser("Cyrano"));

    // Bonnie is online: hers leaves at once, from Amelia's data port, and is nothing any peer
    // takes for a message.
    const QString fromDataPort = QStringLiteral("127.0.0.1:%1 ").arg(port());
    amy->keepAlive().setIntervalMs(400);
    amy->keepAlive().start();
    QStringList atBo;
    ASSERT_TRUE(waitUntil([&] { return !(atBo += boMachine.take()).isEmpty(); }, 2000));
    EXPECT_EQ(atBo.first(), fromDataPort + QString::fromLatin1(KeepAlive::Datagram.toPercentEncoding()));
    XmlDocument document;
    EXPECT_FALSE(PeerDatagram::parse(document, KeepAlive::Datagram)) << "an older peer drops it";

    // One per interval, never more; blocked and offline buddies get none.
    QElapsedTimer elapsed;
    elapsed.start();
    runFor(1300);
    atBo += boMachine.take();
    EXPECT_GE(atBo.size(), 3);
    EXPECT_LE(atBo.size(), 1 + elapsed.elapsed() / 400 + 1);
    EXPECT_TRUE(cyMachine.take().isEmpty()) << "blocked";
    EXPECT_TRUE(deeMachine.take().isEmpty()) << "offline";

    // Bonnie leaves; once Amelia has looked that up, nothing more goes to her.
    bo->Logout();
    amy->Buddies()->Item("Bonnie")->forgetLookups();
    ASSERT_EQ(amy->Buddies()->Item("Bonnie")->Status(), CFB_OFFLINE);
    boMachine.take();
    runFor(900);
    EXPECT_TRUE(boMachine.take().isEmpty());

    // Signed out: nothing at all.
    bo->Login("Bonnie", "PW", "127.0.0.2");
    amy->Buddies()->Item("Bonnie")->forgetLookups();
    amy->Buddies()->Item("Bonnie")->Status();
    amy->Logout();
    runFor(900);
    EXPECT_TRUE(boMachine.take().isEmpty());
    (void)cy;
    (void)dee;
}

TEST_F(ReachTest, BlockAllDataSendsNothing)
{
    Machine boMachine("127.0.0.2", port());
    ASSERT_TRUE(boMachine.bound());
    auto bo = account("Bonnie", "127.0.0.2");
    SettingsStore::save("Debug", "Block All Data", "True");
    auto amy = amelia({"Bonnie"});
    amy->keepAlive().setIntervalMs(200);
    amy->keepAlive().start();
    runFor(700);
    EXPECT_TRUE(boMachine.take().isEmpty());
    EXPECT_EQ(amy->keepAlive().sent(), 0);
}

TEST_F(ReachTest, OnlyABuddysOwnAddressSpeaksAsThatBuddy)
{
    auto bo = account("Bonnie", "127.0.0.2");
    auto cy = account("Cyrano", "localhost"); // a host name, looked up in the background
    Machine boMachine("127.0.0.2", 0), elsewhere("127.0.0.3", 0), cyMachine("127.0.0.1", 0);
    auto amy = amelia({"Bonnie", "Cyrano"});
    QStringList shown;
    QList<int> dropped;
    QObject::connect(amy.get(), &Confabo::NewMessage,
        [&](QString& from, QString&, int16_t&, QString& text) { shown << from + ": " + text; });
    QObject::connect(amy.get(), &Confabo::ForgedSendersDropped, [&](int count) { dropped << count; });

    elsewhere.sendTo(port(), PeerDatagram::message("Bonnie", "", 0, "I am Bonnie, honest"));
    elsewhere.sendTo(port(), PeerDatagram::message("bonnie", "", 0, "me too"));
    boMachine.sendTo(port(), PeerDatagram::message("Bonnie", "", 0, "really me"));
    elsewhere.sendTo(port(), PeerDatagram::message("Zed", "", 0, "a stranger says hello"));
    ASSERT_TRUE(waitUntil([&] { return shown.size() == 2; }));
    EXPECT_EQ(shown, QStringList({"Bonnie: really me", "Zed: a stranger says hello"}));
    EXPECT_EQ(dropped, QList<int>{1}) << "the first at once, the rest within the minute later";

    // A buddy known by a host name is held to the name's addresses (looked up in the background);
    // this machine's own address speaks for whoever uses the machine.
    cyMachine.sendTo(port(), PeerDatagram::message("Cyrano", "", 0, "from this machine"));
    ASSERT_TRUE(waitUntil([&] { return shown.contains("Cyrano: from this machine"); }));
    elsewhere.sendTo(port(), PeerDatagram::message("Cyrano", "", 0, "not from localhost"));
    runFor(300);
    EXPECT_FALSE(shown.contains("Cyrano: not from localhost"));
    EXPECT_EQ(dropped, QList<int>{1}) << "at most one report a minute";
}
