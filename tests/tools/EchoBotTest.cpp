// The echobot bot as a community runs it: its own process beside the real service, reached by a
// library client over loopback UDP.
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/FormRequest.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "NoisyJpeg.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

// confabo-cli bot, with the JSON lines it has written so far.
class BotProcess {
public:
    BotProcess(const QString& configDir, const QString& server, const QString& dataPort, const QString& password)
    {
        process_.start(CONFABO_CLI_BINARY,
            {"bot", "--handle", "EchoBot", "--password", password, "--config-dir", configDir, "--server", server,
                "--data-port", dataPort});
    }
    ~BotProcess()
    {
        process_.kill();
        process_.waitForFinished();
    }

    // The first line whose "event" is `kind`, waiting at most 10 s in the event loop.
    QJsonObject waitFor(const QString& kind)
    {
        QJsonObject found;
        waitUntil(
            [&] {
                while (process_.canReadLine()) {
                    const QJsonObject o = QJsonDocument::fromJson(process_.readLine()).object();
                    if (o.value("event").toString() == kind && found.isEmpty())
                        found = o;
                }
                return !found.isEmpty() || process_.state() == QProcess::NotRunning;
            },
            10000);
        return found;
    }

    // Stops it as systemd does; its exit code, or -1 when it did not end by itself.
    int terminate()
    {
        process_.terminate();
        if (!waitUntil([&] { return process_.state() == QProcess::NotRunning; }, 10000))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
};

Stati statusOfEcho()
{
    Buddy echo;
    return echo.LoadByHandle("EchoBot") ? echo.Status() : CFB_OFFLINE;
}

} // namespace

TEST(EchoBotCli, AnswersMessagesReturnsFramesAndAddsItsCorrespondents)
{
    TempConfig config;
    ServiceProcess service;
    ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
    const auto previous = UserNotice::setHandler([](const QString&, const QString&) {});
    SettingsStore::save("Data", "CFBSERVER", service.serverSetting());
    SettingsStore::save("Data", "DataPort", freeDataPort());

    Confabo amy;
    QStringList messages;
    QList<QByteArray> frames;
    QObject::connect(&amy, &Confabo::NewMessage,
        [&](QString& from, QString&, int16_t&, QString& text) { messages << from + ": " + text; });
    QObject::connect(&amy, &Confabo::VideoFrameBytes, [&](QString&, QByteArray& bytes) { frames << bytes; });
    ASSERT_TRUE(amy.Register("Amelia", "PW", "amelia@example.org"));
    ASSERT_TRUE(amy.Login("Amelia", "PW", "127.0.0.1"));
    const auto amyPort = int16_t(amy.wsReceive()->LocalPort().toInt());
    QString botPort = freeDataPort();
    while (botPort.toInt() == amyPort)
        botPort = freeDataPort();

    {
        BotProcess bot(config.path() + "/bot", service.serverSetting(), botPort, "bot-password");
        const QJsonObject started = bot.waitFor("signed_in");
        ASSERT_EQ(started.value("handle").toString(), "EchoBot");
        EXPECT_TRUE(started.value("registered").toBool());

        const QString longText(500, u'x');
        ASSERT_TRUE(
            amy.SendMessage("echobot", QString::fromUtf8("hi <bot> & café"), amyPort, int16_t(botPort.toInt())));
        ASSERT_TRUE(amy.SendMessage("echobot", longText, amyPort, int16_t(botPort.toInt())));
        ASSERT_TRUE(waitUntil([&] { return messages.size() >= 2; }, 10000)) << "no answer from the bot";
        EXPECT_EQ(messages[0], QString::fromUtf8("EchoBot: Got your message: \"hi <bot> & café\""));
        EXPECT_EQ(messages[1], "EchoBot: Got your message: \"" + QString(200, u'x') + "...\"");

        const QByteArray jpeg = jpegOfSize(20000, {160, 120});
        Buddy echo;
        ASSERT_TRUE(echo.LoadByHandle("EchoBot"));
        ASSERT_TRUE(echo.SendFrame(jpeg, "Amelia", int16_t(botPort.toInt())));
        ASSERT_TRUE(waitUntil([&] { return !frames.isEmpty(); }, 10000)) << "no frame came back";
        EXPECT_EQ(frames.first(), jpeg);

        const XmlDocument buddies = FormRequest("BUDDY_LIST").add("user_id", echo.BuddyUserID()).post();
        EXPECT_EQ(buddies.selectSingle("/body/buddy/handle").text(), "Amelia");
        EXPECT_EQ(buddies.elementsByTagName("buddy").size(), 1) << "added once, however often Amelia writes";

        EXPECT_EQ(statusOfEcho(), CFB_AVAILABLE);
        EXPECT_EQ(bot.terminate(), 0);
        EXPECT_EQ(statusOfEcho(), CFB_OFFLINE) << "signed out on SIGTERM";
    }

    // Started again, it finds its handle taken by itself and signs in; with another password the
    // handle is someone else's.
    BotProcess again(config.path() + "/bot", service.serverSetting(), botPort, "bot-password");
    const QJsonObject restarted = again.waitFor("signed_in");
    EXPECT_EQ(restarted.value("handle").toString(), "EchoBot");
    EXPECT_FALSE(restarted.value("registered").toBool());
    EXPECT_EQ(again.terminate(), 0);
    BotProcess impostor(config.path() + "/bot", service.serverSetting(), botPort, "other-password");
    EXPECT_TRUE(impostor.waitFor("signed_in").isEmpty());
    EXPECT_EQ(impostor.terminate(), 1);
    UserNotice::setHandler(previous);
}
