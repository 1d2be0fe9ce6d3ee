// Two headless clients on one machine, driven through their standard input and output, signed
// in to the real service: they share one data port at two loopback addresses, as two users of one
// machine do, see each other, exchange messages and frames, block and unblock.
#include "CliClient.h"
#include "FreeDataPort.h"
#include "ServiceProcess.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

TEST(CliEndToEnd, TwoClientsTalk)
{
    ServiceProcess service;
    ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
    QTemporaryDir dir;
    const int port = freeDataPort().toInt();
    CliClient amy("amelia", dir.filePath("amelia"), service.serverSetting(), port);
    CliClient bob("bertram", dir.filePath("bertram"), service.serverSetting(), port, "127.0.0.2");

    ASSERT_EQ(
        amy.run({"register", "--handle", "amelia", "--password", "pw-amelia", "--email", "amelia@example.org"}), 0);
    ASSERT_EQ(
        bob.run({"register", "--handle", "bertram", "--password", "pw-bertram", "--email", "bertram@example.org"}), 0);
    QByteArray err;
    EXPECT_EQ(
        bob.run({"register", "--handle", "BERTRAM", "--password", "x", "--email", "x@example.org"}, nullptr, &err), 1);
    EXPECT_TRUE(err.contains("refused")) << err.constData();
    // The bot does not register a handle too short for a new account, and says why it cannot sign in.
    EXPECT_EQ(bob.run({"bot", "--handle", "echo", "--password", "pw-echo"}, nullptr, &err), 1);
    EXPECT_TRUE(err.contains("6 to 30 characters")) << err.constData();

    ASSERT_TRUE(amy.startSession());
    ASSERT_TRUE(bob.startSession());
    EXPECT_EQ(count(amy.seen(), "notice"), 1) << "a welcome on the first sign-in";

    amy.say("add bertram@example.org");
    EXPECT_EQ(amy.waitFor("add").value("handle").toString(), "bertram");
    bob.say("add amelia");
    EXPECT_TRUE(bob.waitFor("add").value("added").toBool());
    amy.say("online");
    EXPECT_EQ(amy.waitFor("online").value("users").toArray().size(), 1);

    amy.say("send bertram hello  bertram, <&> café");
    EXPECT_TRUE(amy.waitFor("send").value("ok").toBool());
    const QJsonObject message = bob.waitFor("message");
    EXPECT_EQ(message.value("from").toString(), "amelia");
    EXPECT_EQ(message.value("text").toString(), QString::fromUtf8("hello  bertram, <&> café"));
    EXPECT_EQ(message.value("video_port").toInt(), amy.port());

    const QString picture = dir.filePath("frame.gif");
    {
        QFile f(picture);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray::fromBase64("R0lGODlhAgABAIAAAAAAAP///yH5BAAAAAAALAAAAAACAAEAAAICDAoAOw=="));
    }
    bob.say("frame amelia " + picture.toUtf8());
    EXPECT_TRUE(bob.waitFor("frame").value("ok").toBool());
    const QJsonObject frame = amy.waitFor("frame");
    EXPECT_EQ(frame.value("from").toString(), "bertram");
    EXPECT_EQ(frame.value("width").toInt(), 2);
    EXPECT_EQ(frame.value("height").toInt(), 1);

    bob.say("block amelia");
    EXPECT_TRUE(bob.waitFor("block").value("ok").toBool());
    amy.say("send bertram are you there?");
    amy.waitFor("send");
    bob.drain(500);
    EXPECT_EQ(count(bob.seen(), "message"), 1) << "a blocked sender is not heard";
    bob.say("unblock amelia");
    EXPECT_TRUE(bob.waitFor("unblock").value("ok").toBool());
    amy.say("send --port " + QByteArray::number(bob.port()) + " bertram back again");
    EXPECT_EQ(bob.waitFor("message").value("text").toString(), "back again");

    bob.say("status busy");
    EXPECT_EQ(bob.waitFor("status").value("status").toString(), "busy");
    bob.say("no-such-command");
    EXPECT_EQ(bob.waitFor("error").value("command").toString(), "no-such-command");

    bob.say("send amelia no echo of myself");
    EXPECT_TRUE(bob.waitFor("send").value("ok").toBool());
    EXPECT_EQ(amy.waitFor("message").value("text").toString(), "no echo of myself");
    EXPECT_EQ(count(bob.drain(300), "message"), 2) << "what bertram sends reaches amelia, not himself";

    // The data port at an address another client holds: the session says so right after signing in.
    CliClient cyd("cydney", dir.filePath("cydney"), service.serverSetting(), port, "127.0.0.2");
    ASSERT_EQ(
        cyd.run({"register", "--handle", "cydney", "--password", "pw-cydney", "--email", "cydney@example.org"}), 0);
    ASSERT_TRUE(cyd.startSession());
    const QJsonObject unbound = cyd.waitFor("error");
    EXPECT_EQ(unbound.value("command").toString(), "data_port");
    EXPECT_EQ(unbound.value("port").toInt(), port);
    EXPECT_TRUE(unbound.value("message").toString().contains("Address already in use"))
        << qPrintable(unbound.value("message").toString());
    EXPECT_TRUE(unbound.value("message").toString().contains("--data-address"));
    EXPECT_EQ(cyd.quit(), 0);

    amy.say("buddies");
    EXPECT_EQ(amy.waitFor("buddies").value("buddies").toArray().at(0).toObject().value("status").toString(), "busy");
    ASSERT_TRUE(service.stop());
    amy.say("buddies");
    const QJsonObject lost = amy.waitFor("error");
    EXPECT_EQ(lost.value("command").toString(), "buddies");
    EXPECT_TRUE(lost.value("message").toString().contains("cannot reach the service"))
        << qPrintable(lost.value("message").toString());

    EXPECT_EQ(amy.quit(), 0);
    EXPECT_EQ(count(amy.drain(0), "signed_out"), 1);
    EXPECT_EQ(count(amy.seen(), "error"), 1) << "amelia's data port was free; only the lost service was an error";
    EXPECT_EQ(bob.quit(), 0);
}

TEST(CliEndToEnd, BadArgumentsAndNoServiceFailClearly)
{
    QTemporaryDir dir;
    CliClient nobody("amy", dir.path(), "127.0.0.1:1", 20001);
    QByteArray out, err;
    EXPECT_EQ(nobody.run({"--help"}, &out), 0);
    EXPECT_TRUE(out.contains("confabo-cli session")) << out.constData();
    EXPECT_EQ(
        nobody.run({"session", "--handle", "amy", "--password", "x", "--data-address", "here"}, nullptr, &err), 2);
    EXPECT_EQ(nobody.run({"session", "--handle", "amy"}, nullptr, &err), 2);
    EXPECT_TRUE(err.contains("--password")) << err.constData();
    EXPECT_EQ(nobody.run({"fly", "--handle", "amy"}, nullptr, &err), 2);
    EXPECT_EQ(nobody.run({"session", "--handle", "amy", "--password", "x", "--status", "sleepy"}, nullptr, &err), 2);
    EXPECT_EQ(nobody.run({"session", "--handle", "amy", "--password", "x"}, nullptr, &err), 1);
    EXPECT_TRUE(err.contains("cannot reach the service")) << err.constData();
    // A handle too short for a new account is refused before the service is asked.
    EXPECT_EQ(
        nobody.run({"register", "--handle", "amy", "--password", "x", "--email", "amy@example.org"}, nullptr, &err), 2);
    EXPECT_TRUE(err.contains("6 to 30 characters")) << err.constData();
}
