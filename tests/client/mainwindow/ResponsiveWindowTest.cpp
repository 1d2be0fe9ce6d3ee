// The main window against a service that answers late or never: a 10 ms heartbeat on the window's
// thread keeps beating through sign-in, presence, polls, the editors, Setup and Exit, the outcome of
// each comes when the service answers (or fails when it does not), and buddies' messages and frames
// keep showing meanwhile.
#include "../support/StartupTestSupport.h"
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "Heartbeat.h"
#include "NoisyJpeg.h"
#include "PeerSocket.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "StallingProxy.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "buddies/frmBuddyList.h"
#include "channel/Identity.h"
#include "chat/cBuddyInfo.h"
#include "common/modMain.h"
#include "mainwindow/frmMain.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "setup/frmSetup.h"
#include "speech/MouthWidget.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace cfb;
using namespace cfb::client;
using namespace startup_test;

namespace {

constexpr qint64 LongestGapMs = 100;

class ResponsiveWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        Settings::VideoSource.write(QStringLiteral("camera:no-such-device"));
        for (const char* handle : {"amelia", "bertram", "desmond", "eleanor", "cordelia"}) {
            users[handle] = ClientProfile::registerUser(files.path(), QLatin1String(handle), 0xff406080);
            ASSERT_TRUE(users[handle]) << handle;
        }
        ASSERT_TRUE(users["cordelia"]->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        for (const char* buddy : {"amelia", "bertram", "desmond"})
            ASSERT_EQ(users["cordelia"]->AddBuddy(QLatin1String(buddy)), buddy);
        users["cordelia"]->Logout();
        for (const char* buddy : {"amelia", "bertram", "desmond"}) {
            // A plain socket stands in for a buddy's client: its object publishes no key, so the
            // window reaches it in the plain format.
            users[buddy]->setIdentity(std::nullopt);
            ASSERT_TRUE(users[buddy]->Login(buddy, ClientProfile::password(buddy), "127.0.0.1"));
        }
        Settings::BlockAllData.erase();
        Settings::DataPort.write(freeDataPort());
        Settings::Taskbar.write(QStringLiteral("1"));
        // A silent service costs a request these three at most.
        Settings::ConnectTimeout.write(QStringLiteral("1000"));
        Settings::SendTimeout.write(QStringLiteral("1000"));
        Settings::ReceiveTimeout.write(QStringLiteral("1000"));
        Settings::ServiceHost.write(proxy.serverSetting());
        dialogs.boxes.clear();
    }

    void load()
    {
        window = std::make_unique<frmMain>();
        heartbeat.start();
        EXPECT_TRUE(loadMainWindow(*window));
        tabs = window->findChild<QTabBar*>("tabBuddies");
    }

    QStringList tabHandles() const
    {
        QStringList handles;
        for (int i = 0; i < tabs->count(); ++i)
            handles << tabs->tabText(i);
        return handles;
    }

    // Runs the window's events until every request was answered (or failed).
    bool settled(int ms = 8000)
    {
        return waitUntil([&] { return window->session().pending() == 0; }, ms);
    }

    // The next poll tick polls.
    void tick()
    {
        pollAt = pollAt.addSecs(3600);
        window->setClock([this] { return pollAt; });
        window->tmr_Timer();
    }

    TempConfig config;
    ServiceProcess service;
    StallingProxy proxy{quint16(service.port())};
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::map<QString, std::unique_ptr<Confabo>> users;
    std::unique_ptr<frmMain> window;
    QTabBar* tabs = nullptr;
    Heartbeat heartbeat;
    QDateTime pollAt = QDateTime::currentDateTimeUtc();
};

TEST_F(ResponsiveWindowTest, ASlowServiceNeverFreezesTheWindowAndEveryAnswerArrives)
{
    // Sign-in (three requests) and the first poll, each answer held back.
    proxy.delayAnswers(300);
    QElapsedTimer took;
    took.start();
    load();
    EXPECT_GE(took.elapsed(), 900) << "the answers were held back";
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs) << "signing in";
    EXPECT_EQ(tabHandles(), (QStringList{"amelia", "bertram", "desmond"}));

    // Busy, two seconds late: the presence shows once the service took it, the note meanwhile.
    proxy.delayAnswers(2000);
    heartbeat.start();
    window->findChild<QAction*>("mnuBusy")->trigger();
    EXPECT_EQ(window->panelText(2), "Available");
    EXPECT_TRUE(waitUntil(
        [&] { return window->statusBar()->currentMessage() == "Connecting to the Confabo service..."; }, 3000));
    EXPECT_TRUE(settled());
    EXPECT_EQ(window->panelText(2), "Busy");
    EXPECT_EQ(window->statusBar()->currentMessage(), "") << "the note goes with the last answer";
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs) << "Busy";

    // A poll with three buddies: desmond left, so his tab goes when the answer comes.
    proxy.delayAnswers(300);
    users["desmond"]->Logout();
    heartbeat.start();
    tick();
    tick(); // still under way: not asked again
    EXPECT_EQ(tabHandles().size(), 3);
    EXPECT_TRUE(settled());
    EXPECT_EQ(tabHandles(), (QStringList{"amelia", "bertram"}));
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs) << "a poll";

    // The buddy-list editor's Add and Setup's Apply wait with their window disabled. (The gaps
    // are counted from the dialogs' showing: building a window is no wait on the service.)
    bool edited = false;
    whenModal<frmBuddyList>(
        window.get(),
        [&](frmBuddyList* editor) {
            EXPECT_TRUE(settled()); // the block-list button's question
            heartbeat.start();
            child<QLineEdit>(editor, "txtEmail")->setText("eleanor");
            child<QPushButton>(editor, "cmdAdd")->click();
            EXPECT_FALSE(editor->isEnabled()) << "disabled until the answer";
            EXPECT_TRUE(settled());
            auto* list = child<QListWidget>(editor, "lstBuddies");
            EXPECT_EQ(list->findItems("eleanor", Qt::MatchExactly).size(), 1);
            EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs) << "Add";
            editor->reject();
        },
        &edited);
    window->findChild<QAction*>("toolBuddies")->trigger();
    EXPECT_TRUE(edited);
    bool setUp = false;
    whenModal<frmSetup>(
        window.get(),
        [&](frmSetup* setup) {
            heartbeat.start();
            child<QLineEdit>(setup, "txtEmail")->setText("cordelia@new.example.org");
            child<QPushButton>(setup, "cmdOK")->click();
            EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs) << "Setup's OK";
        },
        &setUp);
    window->dialogs().showSetup(window.get());
    EXPECT_TRUE(setUp);
    EXPECT_EQ(window->library()->Email(), "cordelia@new.example.org");
}

TEST_F(ResponsiveWindowTest, ASilentServiceLeavesChatAndVideoWorkingAndExitAtOnce)
{
    load();
    ASSERT_EQ(tabHandles(), (QStringList{"amelia", "bertram", "desmond"}));
    proxy.neverAnswer();
    heartbeat.start();

    // Busy and a poll fail after the timeouts; what the window showed stays.
    window->findChild<QAction*>("mnuBusy")->trigger();
    tick();
    tabs->setCurrentIndex(1);
    EXPECT_EQ(window->SelBuddy()->handle(), "bertram");

    // Messages and frames from a buddy keep showing while the requests wait.
    PeerSocket amelia;
    const int dataPort = window->dataPort();
    tabs->setCurrentIndex(0);
    ASSERT_TRUE(amelia.sendTo(dataPort, PeerDatagram::message("amelia", "amelia@example.org", 0, "still here?")));
    auto* chat = window->findChild<QTextBrowser*>("txtChat");
    EXPECT_TRUE(waitUntil([&] { return chat->toPlainText().contains("amelia: still here?"); }, 1000));
    QByteArray frame;
    PeerDatagram::frameChunk(PeerDatagram::escapedText("amelia"), jpegOfSize(3000, QSize(160, 120)), frame);
    ASSERT_TRUE(amelia.sendTo(dataPort, frame));
    auto* picture = window->findChild<QLabel*>("imgBuddy");
    EXPECT_TRUE(waitUntil([&] { return picture->pixmap().width() > 0 && !window->mouth()->isVisible(); }, 1000));
    EXPECT_GT(window->session().pending(), 0) << "the service has not answered yet";

    // Send and Shout go out without asking the service.
    auto* message = window->findChild<QLineEdit*>("txtMessage");
    message->setText("are you?");
    window->findChild<QPushButton*>("cmdSend")->click();
    message->setText("all of you");
    window->findChild<QPushButton*>("cmdShout")->click();
    EXPECT_TRUE(chat->toPlainText().contains("cordelia: all of you"));

    EXPECT_TRUE(settled());
    EXPECT_EQ(window->panelText(2), "Available") << "the service never took Busy";
    EXPECT_EQ(tabHandles(), (QStringList{"amelia", "bertram", "desmond"})) << "a failed poll keeps the tabs";
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs);
    auto* bar = window->findChild<QStatusBar*>("status");
    const QString unreachable = "Cannot reach the Confabo service; trying again...";
    EXPECT_EQ(bar->currentMessage(), unreachable);
    EXPECT_TRUE(tabs->tabToolTip(0).contains("Presence unknown")) << tabs->tabToolTip(0).toStdString();

    // The service answers again: the next poll puts the bar and the presence back.
    proxy.passThrough();
    tick();
    EXPECT_TRUE(settled());
    EXPECT_NE(bar->currentMessage(), unreachable);
    EXPECT_FALSE(tabs->tabToolTip(0).contains("Presence unknown")) << tabs->tabToolTip(0).toStdString();
    proxy.neverAnswer();

    // Exit with a request still waiting on the silent service ends within moments.
    tick();
    QElapsedTimer exiting;
    exiting.start();
    window->Unload();
    EXPECT_LT(exiting.elapsed(), ClientSession::SignOutWaitMs + 500);
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs) << "Exit";
}

} // namespace
