// The main window and amelia's headless client, both with keys, on the real service: a line the
// window writes to amelia while she is signed out waits in her mailbox (the conversation says so),
// reaches her client when she signs in and then gets its delivered mark; a line she leaves while
// the window's user is signed out opens her tab at the next sign-in, with the time she wrote it, and
// the tab stays while she is offline. A line the history still held as waiting for its mark (the
// window ended first) goes to her mailbox at the next sign-in, with the id it went with before: a
// line she had seen already is not shown twice.
#include "../../tools/CliClient.h"
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "chat/ChatTranscript.h"
#include "chat/cBuddyInfo.h"
#include "history/HistoryLine.h"
#include "history/HistoryStore.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

using namespace cfb;
using namespace cfb::client;

namespace {

class OfflineMailWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        Settings::VideoSource.write(QStringLiteral("camera:no-such-device"));
        Settings::OfferInvitation.write(QStringLiteral("0")); // nobody may be online at a sign-in
        port = freeDataPort().toInt();
        amelia = std::make_unique<CliClient>(
            QStringLiteral("amelia"), files.filePath("amelia"), service.serverSetting(), port, QStringLiteral("127.0.0.2"));
        ASSERT_EQ(amelia->run({"register", "--handle", "amelia", "--password", "pw-amelia", "--email",
                      "amelia@example.org"}),
            0);
        auto cordelia = ClientProfile::registerUser(files.path(), QStringLiteral("cordelia"), 0xff808080);
        ASSERT_TRUE(cordelia && cordelia->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        ASSERT_EQ(cordelia->AddBuddy("amelia"), "amelia");
        cordelia->Logout();
        Settings::BlockAllData.erase();
        Settings::DataPort.write(QString::number(port));
    }

    void TearDown() override { window.reset(); }

    void openWindow()
    {
        window = std::make_unique<frmMain>();
        EXPECT_TRUE(loadMainWindow(*window));
        tabs = window->findChild<QTabBar*>("tabBuddies");
    }

    bool pollUntil(const std::function<bool()>& done, int ms = 10000)
    {
        return waitUntil(
            [&] {
                window->tmr_Timer();
                return done();
            },
            ms);
    }

    ChatTranscript& transcript() { return window->buddyInfo("amelia")->transcript(); }

    void send(const QString& text)
    {
        window->findChild<QLineEdit*>("txtMessage")->setText(text);
        window->findChild<QPushButton*>("cmdSend")->click();
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    int port = 0;
    std::unique_ptr<CliClient> amelia;
    std::unique_ptr<frmMain> window;
    QTabBar* tabs = nullptr;
};

} // namespace

TEST_F(OfflineMailWindowTest, LinesWaitForWhoeverIsSignedOutAndArriveAtSignIn)
{
    ASSERT_TRUE(amelia->startSession());
    amelia->say("add cordelia");
    ASSERT_TRUE(amelia->waitFor("add").value("ok").toBool());
    openWindow();
    ASSERT_TRUE(pollUntil([&] { return tabs->count() == 1; }));
    amelia->say("buddies"); // looks cordelia's key up
    amelia->waitFor("buddies");
    send("hello amelia");
    ASSERT_TRUE(waitUntil([&] { return transcript().lines().last().delivery == ChatTranscript::Delivery::Delivered; }));

    // She signs out: her tab stays, greyed, for the open conversation.
    EXPECT_EQ(amelia->quit(), 0);
    ASSERT_TRUE(pollUntil([&] { return window->buddyInfo("amelia")->Buddy()->Status() == CFB_OFFLINE; }));
    ASSERT_EQ(tabs->count(), 1);
    EXPECT_TRUE(tabs->tabToolTip(0).contains("Offline")) << tabs->tabToolTip(0).toStdString();
    send("while you were out");
    ASSERT_TRUE(waitUntil([&] { return transcript().lines().last().notice; }));
    EXPECT_EQ(transcript().lines().last().message.toStdString(), "(will be delivered when amelia signs in)");
    const auto& lines = transcript().lines();
    EXPECT_EQ(lines.at(lines.size() - 2).message.toStdString(), "while you were out");
    EXPECT_EQ(lines.at(lines.size() - 2).delivery, ChatTranscript::Delivery::Pending);

    ASSERT_TRUE(amelia->startSession());
    QJsonObject line;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const QJsonObject& event : amelia->drain(0))
                if (event.value("event") == "message")
                    line = event;
            return !line.isEmpty();
        },
        15000));
    EXPECT_EQ(line.value("text").toString().toStdString(), "while you were out");
    EXPECT_TRUE(line.value("queued").toBool());
    EXPECT_TRUE(pollUntil(
        [&] {
            const auto& now = transcript().lines();
            return now.at(now.size() - 2).delivery == ChatTranscript::Delivery::Delivered;
        },
        15000))
        << "the receipt comes back through the mailbox";

    // Now cordelia is signed out, and amelia writes.
    window.reset();
    amelia->say("buddies");
    amelia->waitFor("buddies");
    // Several lines, all waiting at once at sign-in: they show in the order written.
    for (int i = 1; i <= 8; ++i) {
        amelia->say("send cordelia left " + QByteArray::number(i));
        ASSERT_TRUE(amelia->waitFor("send").value("queued").toBool());
    }
    const QDateTime written = QDateTime::currentDateTime();
    amelia->say("send cordelia left for you");
    const QJsonObject sent = amelia->waitFor("send");
    EXPECT_TRUE(sent.value("queued").toBool()) << QJsonDocument(sent).toJson().toStdString();
    ASSERT_FALSE(amelia->waitFor("queued").isEmpty());
    EXPECT_EQ(amelia->quit(), 0);
    waitUntil([] { return false; }, 1200); // the line is older than the sign-in
    {
        // The window ended (as in a crash) before two lines of cordelia's got their marks. One
        // reached amelia directly before (her history has it with its id), its receipt lost.
        HistoryStore history(HistoryStore::defaultPath());
        HistoryLine line;
        line.buddy = "amelia";
        line.outgoing = true;
        line.sender = "cordelia";
        line.text = "said before the crash";
        line.secure = true;
        line.delivery = HistoryDelivery::Pending;
        line.wireId = 0x51ab0000001;
        ASSERT_NE(history.append(line), 0) << history.problem().toStdString();
        line.text = "seen before the crash";
        line.wireId = 0x51ab0000002;
        ASSERT_NE(history.append(line), 0);
        HistoryStore hers(files.filePath("amelia") + "/Confabo/history.sqlite");
        HistoryLine seen = line;
        seen.buddy = "cordelia";
        seen.outgoing = false;
        seen.delivery = HistoryDelivery::Received;
        ASSERT_NE(hers.append(seen), 0) << hers.problem().toStdString();
    }

    openWindow();
    ASSERT_TRUE(waitUntil(
        [&] {
            cBuddyInfo* record = window->buddyInfo("amelia");
            return record && !record->transcript().lines().isEmpty()
                && record->transcript().lines().last().message == "left for you";
        },
        15000));
    EXPECT_GE(tabs->count(), 1);
    const ChatTranscript::Line& left = transcript().lines().last();
    EXPECT_EQ(left.handle.toStdString(), "amelia");
    EXPECT_TRUE(left.secure);
    EXPECT_LT(std::abs(left.when.msecsTo(written)), 1000) << "shown with the time she wrote it";
    QStringList order;
    for (const ChatTranscript::Line& line : transcript().lines())
        if (line.handle == "amelia")
            order << line.message;
    EXPECT_EQ(order.join(", ").toStdString(), "left 1, left 2, left 3, left 4, left 5, left 6, left 7, left 8, left for you");
    // She is offline: the polls keep her tab, greyed, for the answer.
    EXPECT_TRUE(pollUntil([&] { return tabs->count() == 1 && tabs->tabToolTip(0).contains("Offline"); }))
        << tabs->count();

    // The line the history kept as waiting went to her mailbox at sign-in.
    ASSERT_TRUE(amelia->startSession());
    QJsonObject again;
    EXPECT_TRUE(waitUntil(
        [&] {
            for (const QJsonObject& event : amelia->drain(0))
                if (event.value("event") == "message" && event.value("text") == "said before the crash")
                    again = event;
            return !again.isEmpty();
        },
        15000));
    EXPECT_TRUE(again.value("queued").toBool());
    // Both waiting lines get their marks in the conversation restored from the history: the one
    // she had seen is acknowledged again, and not shown a second time.
    const auto markOf = [&](const QString& text) {
        for (const ChatTranscript::Line& line : transcript().lines())
            if (line.message == text)
                return line.delivery;
        return ChatTranscript::Delivery::Unmarked;
    };
    EXPECT_TRUE(pollUntil(
        [&] {
            return markOf("said before the crash") == ChatTranscript::Delivery::Delivered
                && markOf("seen before the crash") == ChatTranscript::Delivery::Delivered;
        },
        15000));
    for (const QJsonObject& event : amelia->drain(0))
        EXPECT_NE(event.value("text").toString().toStdString(), "seen before the crash");
    EXPECT_EQ(amelia->quit(), 0);

    // A line her mailbox took before the window closed is not sent again by the next window.
    ASSERT_TRUE(pollUntil([&] { return window->buddyInfo("amelia")->Buddy()->Status() == CFB_OFFLINE; }));
    send("only once");
    ASSERT_TRUE(waitUntil([&] {
        return transcript().lines().last().message == "(will be delivered when amelia signs in)";
    }));
    window.reset();
    openWindow();
    runFor(2000); // the new window's mail starts, with what its history holds as waiting
    ASSERT_TRUE(amelia->startSession());
    runFor(4000);
    int shown = 0, crash = 0;
    for (const QJsonObject& event : amelia->drain(0)) {
        shown += event.value("event") == "message" && event.value("text") == "only once";
        crash += event.value("event") == "message"
            && (event.value("text") == "said before the crash" || event.value("text") == "seen before the crash");
    }
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(crash, 1) << "nor is the line sent again after the crash";
    EXPECT_EQ(amelia->quit(), 0);
}
