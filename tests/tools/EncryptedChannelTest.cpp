// Two headless clients signed in to the real service, with a relay on the path between them
// that records every datagram and can play them again or forge its own: what one user says
// reaches the other encrypted and authenticated, what an observer sees tells nothing, and what
// an observer sends is refused. A client without a key is still heard, marked as not secure.
#include "CliClient.h"
#include "FreeDataPort.h"
#include "PathRelay.h"
#include "ServiceProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QList<QJsonObject> ofKind(const QList<QJsonObject>& lines, const QString& event)
{
    QList<QJsonObject> found;
    for (const QJsonObject& o : lines)
        if (o.value("event") == event)
            found.append(o);
    return found;
}

// The service, a folder for the profiles and one data port for every client.
class EncryptedChannel : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString(); }

    QString server() const { return service_.serverSetting(); }


    ServiceProcess service_;
    QTemporaryDir dir_;
    const int port_ = freeDataPort().toInt();
};

} // namespace

TEST_F(EncryptedChannel, BuddiesTalkPrivatelyAndAnObserverNeitherReadsNorSpeaks)
{
    PathRelay relay(port_, {{"127.0.0.1", "127.0.0.3"}, {"127.0.0.2", "127.0.0.4"}, {"127.0.0.5", "127.0.0.6"}});
    ASSERT_TRUE(relay.ok());
    enum { Amelia, Bertram };
    const QString server = this->server();
    const int port = port_;
    QTemporaryDir& dir = dir_;
    CliClient amy("amelia", dir.filePath("amelia"), server, port, "127.0.0.1", "127.0.0.3");
    CliClient bob("bertram", dir.filePath("bertram"), server, port, "127.0.0.2", "127.0.0.4");
    ASSERT_TRUE(meet(amy, "amelia", bob, "bertram"));
    struct stat key {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("amelia/Confabo/identity.key")).constData(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u) << "the key file is its owner's alone";

    amy.say("send bertram hello-token-XYZZY from amelia, grüße 🎉");
    const QJsonObject sent = amy.waitFor("send");
    EXPECT_TRUE(sent.value("ok").toBool());
    EXPECT_TRUE(sent.value("secure").toBool());
    const QJsonObject line = bob.waitFor("message");
    EXPECT_EQ(line.value("text").toString(), QString::fromUtf8("hello-token-XYZZY from amelia, grüße 🎉"));
    EXPECT_TRUE(line.value("secure").toBool());
    bob.say("send amelia the answer");
    EXPECT_TRUE(amy.waitFor("message").value("secure").toBool());

    const QList<QByteArray> onTheWay = relay.seen();
    ASSERT_FALSE(onTheWay.isEmpty());
    for (const QByteArray& datagram : onTheWay) {
        EXPECT_FALSE(datagram.contains("XYZZY")) << "a line in clear on the path";
        EXPECT_FALSE(datagram.contains("amelia") || datagram.contains("bertram")) << "a handle in clear on the path";
        EXPECT_LT(uint8_t(datagram[0]), 0x20);
    }

    // The relay plays amelia's datagrams again, and speaks as amelia in the plain format.
    const QList<QByteArray> recorded = relay.seen("127.0.0.1");
    ASSERT_FALSE(recorded.isEmpty());
    for (const QByteArray& datagram : recorded)
        relay.inject(Amelia, Bertram, datagram);
    relay.inject(Amelia, Bertram, "<body><from_handle>amelia</from_handle><email>amelia@example.org</email>"
                        "<video_port>80</video_port><message>forged in the plain format</message></body>");
    const QJsonObject dropped = bob.waitFor("dropped_forged");
    EXPECT_GE(dropped.value("count").toInt(), 1);
    bob.drain(500);
    EXPECT_EQ(ofKind(bob.seen(), "message").size(), 1) << "nothing replayed or forged is shown";

    amy.say("safety bertram");
    bob.say("safety amelia");
    const QString number = amy.waitFor("safety").value("number").toString();
    EXPECT_EQ(number.size(), 71) << qPrintable(number);
    EXPECT_EQ(bob.waitFor("safety").value("number").toString(), number);

    // A buddy whose client has no usable key (its key file readable by others) is heard, as not secure.
    CliClient cyd("cydney", dir.filePath("cydney"), server, port, "127.0.0.5", "127.0.0.6");
    ASSERT_EQ(cyd.run({"register", "--handle", "cydney", "--password", "pw-cydney", "--email", "c@example.org"}), 0);
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("cydney/Confabo/identity.key"),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(cyd.startSession());
    EXPECT_TRUE(ofKind(cyd.seen(), "error").value(0).value("message").toString().contains("identity.key"));
    bob.say("add cydney");
    bob.waitFor("add");
    cyd.say("add bertram");
    cyd.waitFor("add");
    bob.say("buddies");
    bob.waitFor("buddies");
    cyd.say("send bertram plain but heard");
    const QJsonObject plain = bob.waitFor("message");
    EXPECT_EQ(plain.value("text").toString(), "plain but heard");
    EXPECT_FALSE(plain.value("secure").toBool(true));
    bob.say("safety cydney");
    const QJsonObject none = bob.waitFor("safety");
    EXPECT_FALSE(none.value("ok").toBool(true));
    EXPECT_FALSE(none.contains("number"));
    EXPECT_EQ(cyd.quit(), 0);

    // amelia on a second installation: a new key, which bertram is told of and then uses.
    EXPECT_EQ(amy.quit(), 0);
    CliClient amy2("amelia", dir.filePath("amelia-laptop"), server, port, "127.0.0.1", "127.0.0.3");
    ASSERT_TRUE(amy2.startSession());
    amy2.say("buddies");
    amy2.waitFor("buddies");
    bob.say("buddies");
    bob.waitFor("buddies");
    bob.say("send amelia welcome back");
    EXPECT_EQ(bob.waitFor("key_changed").value("handle").toString(), "amelia");
    const QJsonObject back = amy2.waitFor("message");
    EXPECT_EQ(back.value("text").toString(), "welcome back");
    EXPECT_TRUE(back.value("secure").toBool());
    bob.say("safety amelia");
    EXPECT_NE(bob.waitFor("safety").value("number").toString(), number);

    // Once bertram has verified that key, another one is not taken without asking him.
    bob.say("verify amelia");
    EXPECT_TRUE(bob.waitFor("verify").value("ok").toBool());
    EXPECT_EQ(amy2.quit(), 0);
    CliClient amy4("amelia", dir.filePath("amelia-phone"), server, port, "127.0.0.1", "127.0.0.3");
    ASSERT_TRUE(amy4.startSession());
    bob.say("buddies");
    bob.waitFor("buddies");
    bob.say("send amelia are you really you?");
    const QJsonObject held = bob.waitFor("key_changed");
    EXPECT_TRUE(held.value("verified").toBool());
    EXPECT_FALSE(bob.waitFor("send").value("ok").toBool(true)) << "nothing goes to an unconfirmed key";
    amy4.drain(300);
    EXPECT_TRUE(ofKind(amy4.seen(), "message").isEmpty());
    EXPECT_EQ(amy4.quit(), 0);

    // And without a key at all: never taken as amelia's in the plain format without a word.
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("amelia/Confabo/identity.key"),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    CliClient amy3("amelia", dir.filePath("amelia"), server, port, "127.0.0.1", "127.0.0.3");
    ASSERT_TRUE(amy3.startSession());
    amy3.say("buddies");
    amy3.waitFor("buddies");
    bob.say("buddies");
    bob.waitFor("buddies");
    amy3.say("send bertram downgraded");
    EXPECT_EQ(bob.waitFor("plain_refused").value("handle").toString(), "amelia");
    bob.drain(500);
    for (const QJsonObject& o : ofKind(bob.seen(), "message"))
        EXPECT_NE(o.value("text").toString(), "downgraded");
    EXPECT_EQ(amy3.quit(), 0);
    EXPECT_EQ(bob.quit(), 0);
}

TEST_F(EncryptedChannel, LinesOnALossyPathArriveOnceInOrderAndEachSenderIsToldTheyWereDelivered)
{
    PathRelay relay(port_, {{"127.0.0.1", "127.0.0.3"}, {"127.0.0.2", "127.0.0.4"}});
    ASSERT_TRUE(relay.ok());
    CliClient amy("amelia", dir_.filePath("amelia"), server(), port_, "127.0.0.1", "127.0.0.3");
    CliClient bob("bertram", dir_.filePath("bertram"), server(), port_, "127.0.0.2", "127.0.0.4");
    ASSERT_TRUE(meet(amy, "amelia", bob, "bertram"));

    // A busy Wi-Fi: 5% lost, 20 ms each way, nothing over 1,500 bytes.
    relay.degrade(0.05, 20, 1500);
    QStringList sentByAmy, sentByBob;
    for (int i = 0; i < 30; ++i) {
        sentByAmy << QStringLiteral("amelia's line %1").arg(i);
        sentByBob << QStringLiteral("bertram's line %1").arg(i);
        amy.say(sentByAmy.last().prepend("send bertram ").toUtf8());
        bob.say(sentByBob.last().prepend("send amelia ").toUtf8());
        sentByAmy.last().remove(0, 13);
        sentByBob.last().remove(0, 12);
    }
    const auto settled = [](CliClient& client) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000 && count(client.drain(200), "delivered") + count(client.seen(), "not_delivered") < 30) {
        }
        return client.seen();
    };
    const QList<QJsonObject> atAmy = settled(amy), atBob = settled(bob);
    const auto texts = [](const QList<QJsonObject>& lines) {
        QStringList found;
        for (const QJsonObject& o : lines)
            if (o.value("event") == "message")
                found << o.value("text").toString();
        return found;
    };
    EXPECT_EQ(texts(atBob), sentByAmy) << "each of amelia's lines once, in order";
    EXPECT_EQ(texts(atAmy), sentByBob) << "each of bertram's lines once, in order";
    EXPECT_EQ(count(atAmy, "delivered"), 30);
    EXPECT_EQ(count(atBob, "delivered"), 30);
    EXPECT_EQ(count(atAmy, "not_delivered") + count(atBob, "not_delivered"), 0);
    QSet<qint64> ids;
    for (const QJsonObject& o : atAmy)
        if (o.value("result") == "send")
            ids.insert(o.value("id").toInteger());
    EXPECT_EQ(ids.size(), 30) << "every line has an id of its own";
    EXPECT_EQ(amy.quit(), 0);
    EXPECT_EQ(bob.quit(), 0);
}

TEST_F(EncryptedChannel, AFileOnALossyPathArrivesWholeAndACancelledOneLeavesNothingBehind)
{
    PathRelay relay(port_, {{"127.0.0.1", "127.0.0.3"}, {"127.0.0.2", "127.0.0.4"}});
    ASSERT_TRUE(relay.ok());
    CliClient amy("amelia", dir_.filePath("amelia"), server(), port_, "127.0.0.1", "127.0.0.3");
    CliClient bob("bertram", dir_.filePath("bertram"), server(), port_, "127.0.0.2", "127.0.0.4");
    const QString downloads = dir_.filePath("bertram-downloads");
    bob.addSessionOptions({"--downloads", downloads});
    ASSERT_TRUE(meet(amy, "amelia", bob, "bertram"));

    // 5 MB that do not compress, over a path that loses 5% with 20 ms each way.
    const auto writeFile = [this](const QString& name, qsizetype size) {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator random {uint32_t(size)};
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == size);
        return std::pair {file.fileName(), bytes};
    };
    const auto [path, bytes] = writeFile("holiday photos.tar", 5 << 20);
    relay.degrade(0.05, 20, 1500);
    amy.say("file bertram " + path.toUtf8());
    const QJsonObject offered = amy.waitFor("file");
    ASSERT_TRUE(offered.value("ok").toBool()) << offered.value("message").toString().toStdString();
    const QJsonObject arrived = bob.waitFor("file", 120000);
    ASSERT_EQ(arrived.value("name").toString(), "holiday photos.tar");
    const QString sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(arrived.value("sha256").toString(), sha256);
    EXPECT_EQ(arrived.value("bytes").toInteger(), 5 << 20);
    QFile saved(arrived.value("path").toString());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll() == bytes) << "the file saved is the file sent";
    const QJsonObject sent = amy.waitFor("file_sent");
    EXPECT_EQ(sent.value("id").toInteger(), offered.value("id").toInteger());
    EXPECT_EQ(sent.value("sha256").toString(), sha256);
    for (const QByteArray& datagram : relay.seen())
        ASSERT_LE(datagram.size(), 1200) << "a datagram that a path would cut into fragments";

    // A second one, stopped by its sender once it is on its way: nothing of it stays behind.
    relay.degrade(0, 20, 1500);
    const auto [other, otherBytes] = writeFile("movie.mkv", 40 << 20);
    amy.say("file bertram " + other.toUtf8());
    const qint64 id = amy.waitFor("file").value("id").toInteger();
    QJsonObject progress;
    while ((progress = bob.waitFor("file_progress")).value("done").toInteger() == 0 && !progress.isEmpty()) {
    }
    ASSERT_FALSE(progress.isEmpty()) << "the second file never got going";
    amy.say("cancel " + QByteArray::number(id));
    EXPECT_TRUE(bob.waitFor("file_failed").value("message").toString().contains("cancelled"));
    EXPECT_EQ(amy.waitFor("file_failed").value("id").toInteger(), id);
    bob.drain(300);
    EXPECT_EQ(count(bob.seen(), "file"), 1);
    EXPECT_EQ(QDir(downloads).entryList(QDir::Files | QDir::Hidden), QStringList {"holiday photos.tar"});
    EXPECT_EQ(amy.quit(), 0);
    EXPECT_EQ(bob.quit(), 0);
}
