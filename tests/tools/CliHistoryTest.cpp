// The headless client keeps its conversations: what a session said and heard is there after the
// session ends (even by a crash) and comes back with its times through "history".
#include "CliClient.h"
#include "FreeDataPort.h"
#include "ServiceProcess.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

void registerUser(CliClient& client, const QString& handle)
{
    ASSERT_EQ(client.run({"register", "--handle", handle, "--password", "pw-" + handle, "--email",
                  handle + "@example.org"}),
        0);
}

QStringList field(const QJsonArray& lines, const QString& name)
{
    QStringList values;
    for (const QJsonValue& line : lines)
        values << line.toObject().value(name).toVariant().toString();
    return values;
}

} // namespace

TEST(CliHistory, ASessionsLinesComeBackAfterARestartWithTheirTimes)
{
    ServiceProcess service;
    ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
    QTemporaryDir dir;
    const int port = freeDataPort().toInt();
    CliClient amy("amelia", dir.filePath("amelia"), service.serverSetting(), port);
    CliClient bob("bertram", dir.filePath("bertram"), service.serverSetting(), port, "127.0.0.2");
    CliClient cyd("cydney", dir.filePath("cydney"), service.serverSetting(), port, "127.0.0.3");
    registerUser(amy, "amelia");
    registerUser(bob, "bertram");
    registerUser(cyd, "cydney");
    const QString bobsFile = dir.filePath("elsewhere/bertram.history");
    bob.addSessionOptions({"--history", bobsFile});

    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    ASSERT_TRUE(amy.startSession());
    ASSERT_TRUE(bob.startSession());
    ASSERT_TRUE(cyd.startSession());
    amy.say("add bertram");
    ASSERT_TRUE(amy.waitFor("add").value("ok").toBool());
    bob.say("add amelia");
    ASSERT_TRUE(bob.waitFor("add").value("ok").toBool());

    amy.say("send bertram good morning, bertram");
    const QJsonObject sent = amy.waitFor("send");
    ASSERT_TRUE(sent.value("ok").toBool());
    ASSERT_TRUE(sent.value("secure").toBool()) << "both sessions have keys";
    EXPECT_EQ(amy.waitFor("delivered").value("id"), sent.value("id"));
    EXPECT_EQ(bob.waitFor("message").value("text").toString(), "good morning, bertram");
    bob.say("send amelia morning! coffee at ten?");
    EXPECT_EQ(amy.waitFor("message").value("text").toString(), "morning! coffee at ten?");
    // A stranger nobody accepted writes nothing into amelia's history, however much it sends.
    for (int i = 0; i < 20; ++i)
        cyd.say("send amelia buy now " + QByteArray::number(i));
    for (int i = 0; i < 20; ++i)
        ASSERT_FALSE(amy.waitFor("message").isEmpty());
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(1);

    // A crash, not a sign-out: what was stored is there all the same.
    amy.kill();
    CliClient again("amelia", dir.filePath("amelia"), service.serverSetting(), port);
    ASSERT_TRUE(again.startSession());
    again.say("history bertram");
    const QJsonObject history = again.waitFor("history");
    EXPECT_EQ(history.value("handle").toString(), "bertram");
    const QJsonArray lines = history.value("lines").toArray();
    ASSERT_EQ(lines.size(), 2) << QJsonDocument(history).toJson().constData();
    EXPECT_EQ(field(lines, "from"), (QStringList{"amelia", "bertram"}));
    EXPECT_EQ(field(lines, "text"), (QStringList{"good morning, bertram", "morning! coffee at ten?"}));
    EXPECT_EQ(field(lines, "delivered"), (QStringList{"true", "true"}));
    EXPECT_EQ(field(lines, "secure"), (QStringList{"true", "true"}));
    EXPECT_EQ(field(lines, "direction"), (QStringList{"out", "in"}));
    QDateTime previous = before;
    for (const QString& text : field(lines, "time")) {
        const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << text.toStdString();
        EXPECT_EQ(time.timeSpec(), Qt::UTC) << text.toStdString();
        EXPECT_GE(time, previous);
        EXPECT_LE(time, after);
        previous = time;
    }
    again.say("history bertram 1");
    EXPECT_EQ(field(again.waitFor("history").value("lines").toArray(), "text"), QStringList{"morning! coffee at ten?"});
    again.say("history cydney");
    EXPECT_TRUE(again.waitFor("history").value("lines").toArray().isEmpty());
    again.say("history bertram lots");
    EXPECT_EQ(again.waitFor("error").value("command").toString(), "history");

    // The file --history names holds bertram's side, private to its owner.
    bob.say("history amelia");
    EXPECT_EQ(field(bob.waitFor("history").value("lines").toArray(), "from"), (QStringList{"amelia", "bertram"}));
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(bobsFile).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(QFile::exists(dir.filePath("bertram/Confabo/history.sqlite")));
    EXPECT_EQ(again.quit(), 0);
    EXPECT_EQ(bob.quit(), 0);
    EXPECT_EQ(cyd.quit(), 0);
}
