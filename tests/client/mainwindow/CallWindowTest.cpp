// The main window signed in to the real service as cordelia, with amelia as her buddy on a second
// library object in the same process (a key of her own, her own address on the shared data port):
// calls both ways over the encrypted channel, with no sound card (the call sends silence and plays
// nowhere). The window calls amelia, who answers: the status bar's timer runs and the hang-up is a
// line of the conversation and of the history. amelia calls the window: it rings and asks, Yes
// answers; a call nobody answers ends as missed on both sides and its question goes away. A buddy
// on a client from before calls is never offered one.
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "../support/PopupAnswerer.h"
#include "audio/CallSession.h"
#include "channel/Identity.h"
#include "channel/SecureChannel.h"
#include "channel/VideoContent.h"
#include "chat/ChatTranscript.h"
#include "chat/cBuddyInfo.h"
#include "common/frmPopup.h"
#include "history/HistoryStore.h"
#include "mainwindow/CallControl.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

using namespace cfb;
using namespace cfb::client;
using startup_test::PopupAnswerer;

namespace {

class CallWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        Settings::VideoSource.write(QStringLiteral("camera:no-such-device"));
        // amelia on the one data port every client uses, at an address of her own, with her own
        // key (the window's is the profile's).
        Settings::BlockAllData.erase();
        port = freeDataPort().toInt();
        Settings::DataPort.write(QString::number(port));
        Settings::DataAddress.write(QStringLiteral("127.0.0.2"));
        amelia = std::make_unique<Confabo>();
        Key32 secret;
        secret.fill(0xa3);
        amelia->setIdentity(Identity::fromSecret(secret));
        ASSERT_TRUE(amelia->Register("amelia", ClientProfile::password("amelia"), "amelia@example.org"));
        ASSERT_TRUE(amelia->Login("amelia", ClientProfile::password("amelia"), "127.0.0.2"));
        Settings::DataAddress.erase();

        Settings::BlockAllData.write(QStringLiteral("True")); // cordelia's set-up object binds nothing
        auto cordelia = ClientProfile::registerUser(files.path(), QStringLiteral("cordelia"), 0xff808080);
        ASSERT_TRUE(cordelia && cordelia->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        ASSERT_EQ(cordelia->AddBuddy("amelia"), "amelia");
        cordelia->Logout();
        ASSERT_EQ(amelia->AddBuddy("cordelia"), "cordelia");

        Settings::BlockAllData.erase();
        QObject::connect(amelia.get(), &Confabo::CallIncoming, [this](const QString& h) { atAmelia << "incoming:" + h; });
        QObject::connect(amelia.get(), &Confabo::CallStarted, [this](const QString& h) { atAmelia << "started:" + h; });
        QObject::connect(amelia.get(), &Confabo::CallEnded,
            [this](const QString& h, const QString& reason) { atAmelia << "ended:" + h + ":" + reason; });
    }

    void TearDown() override
    {
        window.reset();
        amelia.reset();
    }

    // The window signed in, amelia's tab selected, a line each way so that each side knows the
    // other's key and the encrypted session is up.
    void openWindow()
    {
        window = std::make_unique<frmMain>();
        ASSERT_TRUE(loadMainWindow(*window));
        tabs = window->findChild<QTabBar*>("tabBuddies");
        ASSERT_TRUE(waitUntil([&] {
            window->tmr_Timer();
            return tabs->count() == 1;
        }, 10000));
        ASSERT_EQ(window->SelBuddy()->handle(), "amelia");
        ASSERT_TRUE(amelia->SendMessage("cordelia", "hi", int16_t(port), int16_t(port)));
        ASSERT_TRUE(waitUntil([&] { return transcriptHas("amelia: hi"); }, 10000));
        window->findChild<QLineEdit*>("txtMessage")->setText("hello");
        window->cmdSend_Click();
        call = window->findChild<QAction*>("toolCall");
        ASSERT_TRUE(call);
    }

    bool transcriptHas(const QString& text) const
    {
        cBuddyInfo* record = window->buddyInfo("amelia");
        if (!record)
            return false;
        for (const ChatTranscript::Line& line : record->transcript().lines())
            if (line.text() == text)
                return true;
        return false;
    }

    static frmPopup* openQuestion()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* popup = qobject_cast<frmPopup*>(w);
                popup && popup->isVisible() && popup->prompt() == CallControl::question("amelia") && popup->MsgBoxResult() == 0)
                return popup;
        return nullptr;
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    int port = 0;
    std::unique_ptr<Confabo> amelia;
    std::unique_ptr<frmMain> window;
    QTabBar* tabs = nullptr;
    QAction* call = nullptr;
    QStringList atAmelia;
};

} // namespace

TEST_F(CallWindowTest, TheWindowCallsAmeliaSheAnswersTheTimerRunsAndTheHangUpIsKept)
{
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return call->isEnabled(); }, 10000)) << call->toolTip().toStdString();
    EXPECT_EQ(call->text(), "Call");
    QObject::connect(amelia.get(), &Confabo::CallIncoming, [this] { amelia->Answer(); });

    call->trigger();
    EXPECT_EQ(call->text(), "Hang Up");
    EXPECT_EQ(window->callPanelText(), "Calling amelia...");
    ASSERT_TRUE(waitUntil([&] { return window->callPanelText().startsWith("Call with amelia"); }, 5000))
        << window->callPanelText().toStdString() << " " << atAmelia.join(' ').toStdString();
    // Two seconds on: the timer counts them, the tooltip tells how the sound comes.
    runFor(2300);
    EXPECT_TRUE(window->callPanelText().startsWith("Call with amelia 0:02")) << window->callPanelText().toStdString();
    EXPECT_TRUE(window->callPanelToolTip().contains("% of the sound lost")) << window->callPanelToolTip().toStdString();
    EXPECT_TRUE(QRegularExpression("^Round trip [0-9]+ ms, ").match(window->callPanelToolTip()).hasMatch())
        << window->callPanelToolTip().toStdString();
    ASSERT_TRUE(amelia->calls()->jitter());
    EXPECT_GT(amelia->calls()->jitter()->counters().decoded, 50) << "amelia got none of the window's sound";
    EXPECT_EQ(amelia->calls()->state(), CallSession::State::Active);

    call->trigger();
    ASSERT_TRUE(waitUntil([&] { return atAmelia.contains("ended:cordelia:hangup"); }, 5000)) << atAmelia.join(' ').toStdString();
    EXPECT_EQ(atAmelia, QStringList({"incoming:cordelia", "started:cordelia", "ended:cordelia:hangup"}));
    EXPECT_TRUE(transcriptHas("You ended the call with amelia (0:02).")) << "no line says the call ended";
    EXPECT_EQ(window->callPanelText(), "");
    EXPECT_EQ(call->text(), "Call");
    // The history keeps the line: it is there after a restart.
    HistoryStore kept(HistoryStore::defaultPath());
    QStringList texts;
    for (const HistoryLine& line : kept.last("amelia", 10))
        texts << line.text;
    EXPECT_TRUE(texts.contains("You ended the call with amelia (0:02).")) << texts.join(" | ").toStdString();
}

TEST_F(CallWindowTest, AmeliasCallRingsAndAsksYesAnswersItAndOneNobodyAnswersEndsAsMissed)
{
    openWindow();
    QString error;
    ASSERT_TRUE(amelia->Call("cordelia", int16_t(port), error)) << error.toStdString();
    bool asked = false;
    PopupAnswerer answerer([&](frmPopup* popup) {
        if (popup->prompt() == CallControl::question("amelia") && !asked) {
            asked = true;
            EXPECT_TRUE(window->calls()->ringing()) << "the question comes with a ring";
            EXPECT_EQ(window->findChild<QAction*>("toolCall")->text(), "Hang Up");
            PopupAnswerer::click(popup, "cmdOK");
        }
    });
    ASSERT_TRUE(waitUntil([&] { return atAmelia.contains("started:cordelia"); }, 5000)) << atAmelia.join(' ').toStdString();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(window->calls()->ringing());
    ASSERT_TRUE(waitUntil([&] { return window->callPanelText().startsWith("Call with amelia"); }, 3000));
    runFor(500);
    ASSERT_TRUE(amelia->Hangup());
    ASSERT_TRUE(waitUntil([&] { return transcriptHas("amelia ended the call (0:00)."); }, 5000));
    EXPECT_EQ(window->callPanelText(), "");
    answerer.stop();

    // Again, and nobody answers: after two seconds of ringing (not 45) both give up.
    Settings::CallRingSeconds.write(QStringLiteral("2"));
    amelia->calls()->setRingMs(2000);
    ASSERT_TRUE(amelia->Call("cordelia", int16_t(port), error)) << error.toStdString();
    // The question waits in an event loop of its own: it is seen from a timer that runs there.
    bool ringingAsked = false;
    PopupAnswerer watch([&](frmPopup* popup) {
        ringingAsked |= popup->prompt() == CallControl::question("amelia") && window->calls()->ringing();
    });
    ASSERT_TRUE(waitUntil([&] { return atAmelia.contains("ended:cordelia:missed"); }, 6000)) << atAmelia.join(' ').toStdString();
    ASSERT_TRUE(waitUntil([&] { return transcriptHas("Missed call from amelia."); }, 5000));
    EXPECT_TRUE(ringingAsked) << "no ringing question for the second call";
    EXPECT_TRUE(waitUntil([&] { return openQuestion() == nullptr; }, 3000)) << "the question stayed after the call ended";
    EXPECT_FALSE(window->calls()->ringing());
    EXPECT_EQ(window->callPanelText(), "");
}

TEST_F(CallWindowTest, ABuddyOnAClientFromBeforeCallsIsNeverOfferedOne)
{
    // amelia's client says its codecs but nothing of calls.
    amelia->secureChannel()->setVideoCodecs(amelia->secureChannel()->ownVideoCodecs() & ~VideoContent::Calls);
    openWindow();
    // Her codecs came (she takes VP8), and the items looked again since.
    ASSERT_TRUE(waitUntil([&] { return window->library()->takesVp8(*window->SelBuddy()); }, 10000));
    runFor(1500);
    EXPECT_FALSE(call->isEnabled());
    EXPECT_EQ(call->toolTip().toStdString(), "amelia's Confabo cannot take calls (an older version), or amelia is not online");
    EXPECT_FALSE(window->findChild<QAction*>("mnuCall")->isEnabled());
}
