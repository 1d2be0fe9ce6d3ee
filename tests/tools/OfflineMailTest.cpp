// A line to a buddy who signed out waits, sealed, in the buddy's mailbox at the real service:
// through a restart of the service it is kept, the service never holds its text, the buddy is
// shown it once at the next sign-in, and the sender gets its delivered mark.
#include "CliClient.h"
#include "FreeDataPort.h"
#include "ServiceProcess.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// What the service keeps on disk: the database and its write-ahead log.
QByteArray storedBytes(const QString& database)
{
    QByteArray bytes;
    for (const char* suffix : {"", "-wal"}) {
        QFile file(database + QLatin1String(suffix));
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
    }
    return bytes;
}

class OfflineMail : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString(); }

    QString profile(const QString& handle) const { return dir_.filePath(handle); }
    CliClient client(const QString& handle, const char* address)
    {
        // Mail is taken every polling interval: a short one, so the receipt comes soon.
        QSettings settings(profile(handle) + "/Confabo/Confabo.ini", QSettings::IniFormat);
        settings.setValue("Data/Polling Interval", "1");
        return CliClient(handle, profile(handle), service_.serverSetting(), port_, address);
    }

    ServiceProcess service_;
    QTemporaryDir dir_;
    const int port_ = freeDataPort().toInt();
};

} // namespace

TEST_F(OfflineMail, ALineToASignedOutBuddyWaitsThroughARestartAndIsShownOnceAndMarkedDelivered)
{
    CliClient amy = client("amelia", "127.0.0.1");
    CliClient bob = client("bertram", "127.0.0.2");
    for (auto [c, handle] : {std::pair{&amy, "amelia"}, std::pair{&bob, "bertram"}})
        ASSERT_EQ(c->run({"register", "--handle", handle, "--password", QString("pw-") + handle, "--email",
                      QString(handle) + "@example.org"}),
            0);
    ASSERT_TRUE(amy.startSession());
    ASSERT_TRUE(bob.startSession());
    amy.say("add bertram");
    bob.say("add amelia");
    ASSERT_TRUE(amy.waitFor("add").value("ok").toBool());
    ASSERT_TRUE(bob.waitFor("add").value("ok").toBool());
    amy.say("buddies"); // looks bertram's key up
    amy.waitFor("buddies");
    EXPECT_EQ(bob.quit(), 0);

    amy.say("buddies");
    amy.waitFor("buddies");
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    amy.say("send bertram while-you-were-out-QWERTY, grüße");
    const QJsonObject sent = amy.waitFor("send");
    EXPECT_TRUE(sent.value("ok").toBool()) << QJsonDocument(sent).toJson().toStdString();
    EXPECT_TRUE(sent.value("queued").toBool());
    const qint64 id = sent.value("id").toInteger();
    EXPECT_NE(id, 0);
    const QJsonObject queued = amy.waitFor("queued");
    EXPECT_EQ(queued.value("id").toInteger(), id);
    EXPECT_EQ(queued.value("to").toString(), "bertram");

    // A stranger's line is refused with the service's reason.
    CliClient cyd = client("cydney", "127.0.0.5");
    ASSERT_EQ(cyd.run({"register", "--handle", "cydney", "--password", "pw-cydney", "--email", "c@example.org"}), 0);
    ASSERT_TRUE(cyd.startSession());
    cyd.say("add bertram");
    cyd.waitFor("add");
    cyd.say("buddies");
    cyd.waitFor("buddies");
    cyd.say("send bertram let me in");
    EXPECT_TRUE(cyd.waitFor("send").value("queued").toBool());
    const QJsonObject refused = cyd.waitFor("not_delivered");
    EXPECT_EQ(refused.value("reason").toString(), "bertram takes mail only from buddies.");
    EXPECT_EQ(cyd.quit(), 0);
    EXPECT_EQ(amy.quit(), 0);

    const QByteArray stored = storedBytes(service_.databasePath());
    ASSERT_FALSE(stored.isEmpty());
    EXPECT_FALSE(stored.contains("QWERTY")) << "the service holds the line's text";
    EXPECT_FALSE(stored.contains("let me in"));

    ASSERT_TRUE(service_.restart()) << service_.errorText().toStdString();

    CliClient amyAgain = client("amelia", "127.0.0.1");
    CliClient bobAgain = client("bertram", "127.0.0.2");
    ASSERT_TRUE(amyAgain.startSession());
    ASSERT_TRUE(bobAgain.startSession());
    const QJsonObject line = bobAgain.waitFor("message");
    EXPECT_EQ(line.value("text").toString(), QString::fromUtf8("while-you-were-out-QWERTY, grüße"));
    EXPECT_EQ(line.value("from").toString(), "amelia");
    EXPECT_TRUE(line.value("secure").toBool());
    EXPECT_TRUE(line.value("queued").toBool());
    const QDateTime written = QDateTime::fromString(line.value("time").toString(), Qt::ISODateWithMs);
    EXPECT_GE(written.toMSecsSinceEpoch(), before);
    EXPECT_LT(written.toMSecsSinceEpoch(), QDateTime::currentMSecsSinceEpoch());

    const QJsonObject delivered = amyAgain.waitFor("delivered", 15000);
    EXPECT_EQ(delivered.value("id").toInteger(), id);
    EXPECT_EQ(delivered.value("to").toString(), "bertram");
    bobAgain.drain(2500); // two more takes
    EXPECT_EQ(count(bobAgain.seen(), "message"), 1) << "shown once";
    EXPECT_EQ(amyAgain.quit(), 0);
    EXPECT_EQ(bobAgain.quit(), 0);
}
