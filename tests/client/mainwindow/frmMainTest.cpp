// The main window signed in to the real service, with other users of the library as its buddies:
// tabs follow the presence poll, blocking can remove a buddy, the status menus reach the service,
// and the window is never lost when closed.
#include "../support/PopupAnswerer.h"
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "chat/cBuddyInfo.h"
#include "common/frmPopup.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "session/ClientSession.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

using namespace cfb;
using namespace cfb::client;
using startup_test::PopupAnswerer;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        // Whatever this machine has, these windows have no camera.
        Settings::VideoSource.write(QStringLiteral("camera:no-such-device"));
        const std::pair<const char*, QRgb> buddies[]
            = {{"amelia", 0xffd03020}, {"bertram", 0xff20a040}, {"desmond", 0xff2040d0}};
        for (const auto& [name, colour] : buddies)
            addUser(QLatin1String(name), colour);
        addUser(QStringLiteral("cordelia"), 0xff808080);
        ASSERT_TRUE(users["cordelia"]->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        for (const char* buddy : {"amelia", "bertram", "desmond"})
            ASSERT_EQ(users["cordelia"]->AddBuddy(QString::fromLatin1(buddy) + "@example.org"), buddy);
        users["cordelia"]->Logout();
        Settings::BlockAllData.erase();
        Settings::DataPort.write(freeDataPort());
        dialogs.boxes.clear(); // the service's welcome on each first sign-in
    }

    void TearDown() override { window.reset(); }

    void addUser(const QString& handle, QRgb colour)
    {
        colours[handle] = colour;
        users[handle] = ClientProfile::registerUser(files.path(), handle, colour);
        ASSERT_TRUE(users[handle]) << "the service refused " << qPrintable(handle);
    }

    void signIn(const char* handle)
    {
        ASSERT_TRUE(users[handle]->Login(handle, ClientProfile::password(handle), "127.0.0.1"));
    }

    // The service's view of a user's presence, asked as any other client would.
    Stati statusAtService(const QString& handle)
    {
        Buddy probe;
        EXPECT_TRUE(probe.LoadByHandle(handle));
        return probe.Status();
    }

    void load()
    {
        window = std::make_unique<frmMain>();
        EXPECT_TRUE(loadMainWindow(*window));
        tabs = window->findChild<QTabBar*>("tabBuddies");
        ASSERT_TRUE(tabs);
    }

    QAction* action(const char* name) { return window->findChild<QAction*>(name); }

    QStringList tabHandles() const
    {
        QStringList handles;
        for (int i = 0; i < tabs->count(); ++i)
            handles << tabs->tabText(i);
        return handles;
    }

    // Every tab shows its own buddy's avatar (each avatar has a colour of its own).
    void expectOwnAvatars()
    {
        for (int i = 0; i < tabs->count(); ++i) {
            const QImage icon = tabs->tabIcon(i).pixmap(QSize(45, 60)).toImage();
            EXPECT_EQ(icon.pixel(icon.width() / 2, icon.height() / 2), colours[tabs->tabText(i)])
                << "tab " << tabs->tabText(i).toStdString();
            // The e-mail address, then how messages reach the buddy.
            EXPECT_EQ(tabs->tabToolTip(i).section(u'\n', 0, 0), tabs->tabText(i) + "@example.org");
        }
    }

    void expectBuddyButtons(bool enabled)
    {
        for (const char* button : {"toolMute", "toolBlock"})
            EXPECT_EQ(action(button)->isEnabled(), enabled) << button;
        EXPECT_FALSE(action("toolAdd")->isEnabled()) << "hidden for a buddy, disabled without one";
        EXPECT_FALSE(action("toolVideo")->isEnabled()) << "no camera yet";
    }

    // Buddies cache their presence for the current second at least, so a change shows at one of
    // the next polls: ticks until the tabs are the expected ones (bounded).
    bool pollUntil(const QStringList& expected, const std::function<void()>& beforeTick = {})
    {
        return pollUntilTrue([&] { return tabHandles() == expected; }, beforeTick);
    }
    bool pollUntilTrue(const std::function<bool()>& done, const std::function<void()>& beforeTick = {})
    {
        QElapsedTimer timer;
        timer.start();
        do {
            if (beforeTick)
                beforeTick();
            window->tmr_Timer();
            if (done())
                return true;
            QEventLoop wait;
            QTimer::singleShot(50, &wait, &QEventLoop::quit);
            wait.exec();
        } while (timer.elapsed() < 5000);
        return false;
    }

    QString tabTip(const QString& handle) const
    {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == handle)
                return tabs->tabToolTip(i);
        return QStringLiteral("<no tab>");
    }

    QString boxes() const
    {
        QStringList all;
        for (const auto& box : dialogs.boxes)
            all << box.title + ": " + box.text;
        return all.join('\n');
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::map<QString, std::unique_ptr<Confabo>> users;
    std::map<QString, QRgb> colours;
    std::unique_ptr<frmMain> window;
    QTabBar* tabs = nullptr;
};

TEST_F(MainWindowTest, TabsFollowThePollAndNeverShowAnotherBuddysAvatar)
{
    signIn("amelia");
    load();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Confabo - cordelia");
    EXPECT_EQ(tabHandles(), QStringList{"amelia"});
    ASSERT_TRUE(window->SelBuddy());
    EXPECT_EQ(window->SelBuddy()->handle(), "amelia");
    EXPECT_EQ(window->panelText(1), "cordelia");
    EXPECT_EQ(window->panelText(2), "Available");
    EXPECT_EQ(window->panelText(3), "Video: Off");
    EXPECT_EQ(window->panelText(4), "(No Video)");
    EXPECT_FALSE(action("mnuVideo")->isEnabled());
    expectBuddyButtons(true);
    EXPECT_TRUE(dialogs.boxes.isEmpty());

    signIn("bertram");
    signIn("desmond");
    ASSERT_TRUE(pollUntil({"amelia", "bertram", "desmond"})) << tabHandles().join(' ').toStdString();
    expectOwnAvatars();
    EXPECT_EQ(window->SelBuddy()->handle(), "amelia") << "a poll keeps the selected tab";

    // A buddy who turns busy keeps the tab, greyed and saying so, and the conversation with it;
    // a line to them is not sent, and the transcript says why while the box keeps the line.
    window->ShowBuddy("amelia", "amelia", "back in five", 0, false);
    ASSERT_TRUE(users["amelia"]->SetStatus(CFB_BUSY));
    ASSERT_TRUE(pollUntilTrue([&] { return tabTip("amelia").contains("Busy: amelia gets no messages"); }))
        << tabTip("amelia").toStdString();
    EXPECT_EQ(tabHandles(), (QStringList{"amelia", "bertram", "desmond"}));
    ASSERT_TRUE(window->buddyInfo("amelia"));
    EXPECT_EQ(window->SelBuddy()->handle(), "amelia");
    EXPECT_EQ(tabs->tabTextColor(0), QColor(0x80, 0x80, 0x80));
    const QImage busyIcon = tabs->tabIcon(0).pixmap(QSize(45, 60)).toImage();
    EXPECT_NE(busyIcon.pixel(busyIcon.width() / 2, busyIcon.height() / 2), colours["amelia"]) << "greyed";
    auto* message = window->findChild<QLineEdit*>("txtMessage");
    message->setText("still there?");
    window->findChild<QPushButton*>("cmdSend")->click();
    EXPECT_EQ(message->text(), "still there?");
    EXPECT_EQ(window->buddyInfo("amelia")->Chat(),
        "amelia: back in five\r\namelia is busy and gets no messages until available again; this line was not "
        "sent.");
    message->clear();

    // Signed out, the tab goes and the others move up, their avatars with them; signed in again,
    // the tab comes back with the conversation.
    users["amelia"]->Logout();
    ASSERT_TRUE(pollUntil({"bertram", "desmond"})) << tabHandles().join(' ').toStdString();
    expectOwnAvatars();
    EXPECT_FALSE(window->buddyInfo("amelia"));
    ASSERT_TRUE(window->SelBuddy());
    EXPECT_NE(window->SelBuddy()->handle(), "amelia");
    signIn("amelia");
    ASSERT_TRUE(pollUntil({"bertram", "desmond", "amelia"})) << tabHandles().join(' ').toStdString();
    expectOwnAvatars();
    ASSERT_TRUE(window->buddyInfo("amelia"));
    EXPECT_TRUE(window->buddyInfo("amelia")->Chat().startsWith("amelia: back in five\r\n"));
    users["amelia"]->Logout();

    users["bertram"]->Logout();
    ASSERT_TRUE(pollUntil({"desmond"})) << tabHandles().join(' ').toStdString();
    expectOwnAvatars();
    EXPECT_EQ(window->SelBuddy()->handle(), "desmond");

    // While the window is hidden the poll waits, but its clock runs on.
    Settings::PollingInterval.write(QStringLiteral("30"));
    QDateTime now = QDateTime::currentDateTimeUtc().addDays(1);
    window->setClock([&now] { return now; });
    window->hide();
    users["desmond"]->Logout();
    window->tmr_Timer();
    window->show();
    now = now.addSecs(10);
    window->tmr_Timer();
    EXPECT_EQ(tabHandles(), QStringList{"desmond"}) << "the hidden tick set the next poll 30 s ahead";
    now = now.addSecs(21);
    EXPECT_TRUE(pollUntil({}, [&now] { now = now.addSecs(31); }));
    EXPECT_EQ(window->SelBuddy(), nullptr);
    expectBuddyButtons(false);
    EXPECT_TRUE(window->findChild<QTextEdit*>("txtChat")->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, BlockCanRemoveTheBuddyAndTheStatusMenusReachTheService)
{
    signIn("amelia");
    signIn("bertram");
    // Offscreen there is no notification area to live in, so the window shows all the same.
    Settings::Taskbar.write(QStringLiteral("1"));
    Settings::MapDataPort.write(QStringLiteral("0")); // no router is asked from a test
    load();
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(tabHandles(), (QStringList{"amelia", "bertram"}));

    // The status bar says once, across the bar, how buddies reach this client; then the user's
    // own panels have the room their text needs, and its end keeps the rest.
    auto* bar = window->findChild<QStatusBar*>("status");
    QWidget* reach = window->findChild<QWidget*>("statusReachability");
    ASSERT_TRUE(bar && reach);
    const QString about = QStringLiteral("How buddies reach you: ");
    ASSERT_TRUE(waitUntil([&] { return reach->toolTip().startsWith(about); }));
    const QString said = reach->toolTip().mid(about.size());
    EXPECT_TRUE(said == "Direct" || said.startsWith("Behind a router (")) << said.toStdString();
    EXPECT_EQ(bar->currentMessage().left(6), said.left(6));
    bar->clearMessage();
    const auto panelsFit = [&] {
        for (int panel = 1; panel <= 4; ++panel) {
            const auto* label = bar->findChild<QLabel*>(QStringLiteral("statusPanel%1").arg(panel));
            if (!label || label->width() < label->sizeHint().width())
                return false;
        }
        return reach->isVisible() && reach->width() > 0;
    };
    EXPECT_TRUE(waitUntil(panelsFit)) << "a panel is cut short";
    ASSERT_EQ(window->SelBuddy()->handle(), "amelia");

    dialogs.boxes.clear();
    dialogs.answers = {UserDialogs::AnswerYes};
    action("toolBlock")->trigger();
    EXPECT_FALSE(window->findChild<QToolBar*>("tool")->widgetForAction(action("toolBlock"))->isEnabled())
        << "no second block while the first is asked";
    EXPECT_TRUE(waitUntil([&] { return window->session().pending() == 0; }));
    ASSERT_EQ(dialogs.boxes.size(), 1) << boxes().toStdString();
    EXPECT_EQ(dialogs.boxes[0].title, "Remove Buddy");
    EXPECT_EQ(dialogs.boxes[0].text, "'amelia' has been blocked. Do you want to remove 'amelia' from your buddy list?");
    EXPECT_EQ(dialogs.boxes[0].buttons, UserDialogs::Buttons::YesNo);
    EXPECT_EQ(tabHandles(), QStringList{"bertram"});
    expectOwnAvatars();
    EXPECT_TRUE(window->library()->GetBlockedUserList().contains("amelia"));
    window->tmr_Timer();
    EXPECT_EQ(tabHandles(), QStringList{"bertram"}) << "a removed buddy does not come back at the poll";

    // Blocking without removing keeps the tab and shows "Unblock"; releasing unblocks.
    dialogs.answers = {UserDialogs::AnswerNo};
    action("toolBlock")->trigger();
    EXPECT_TRUE(waitUntil([&] { return window->session().pending() == 0; }));
    EXPECT_EQ(tabHandles(), QStringList{"bertram"});
    EXPECT_TRUE(window->library()->IsBlocked("bertram"));
    EXPECT_EQ(action("toolBlock")->text(), "Unblock");
    action("toolBlock")->trigger();
    EXPECT_TRUE(waitUntil([&] { return window->session().pending() == 0; }));
    EXPECT_FALSE(window->library()->IsBlocked("bertram"));
    EXPECT_EQ(action("toolBlock")->text(), "Block");

    // The presence menus answer when the service has: the window does not wait for it.
    action("mnuBusy")->trigger();
    EXPECT_TRUE(waitUntil([&] { return window->panelText(2) == "Busy"; }));
    EXPECT_EQ(statusAtService("cordelia"), CFB_BUSY);
    EXPECT_TRUE(action("mnuPopupBusy")->isChecked());
    EXPECT_FALSE(action("mnuAvailable")->isChecked());
    action("mnuPopupAvailable")->trigger();
    EXPECT_TRUE(waitUntil([&] { return window->panelText(2) == "Available"; }));
    EXPECT_EQ(statusAtService("cordelia"), CFB_AVAILABLE);
    EXPECT_TRUE(action("mnuAvailable")->isChecked());
    EXPECT_FALSE(action("mnuBusy")->isChecked());

    // The menus show what the service took: with the service gone nothing changes.
    ASSERT_TRUE(service.stop());
    action("mnuBusy")->trigger();
    EXPECT_TRUE(waitUntil([&] { return window->session().pending() == 0; }));
    EXPECT_EQ(window->panelText(2), "Available");
    EXPECT_TRUE(action("mnuAvailable")->isChecked());
    EXPECT_FALSE(action("mnuBusy")->isChecked());

    // The next poll finds no service: the bar says so and the buddy's presence is unknown, not
    // the last value, while the tab and the conversation stay.
    QDateTime now = QDateTime::currentDateTimeUtc().addDays(1);
    window->setClock([&now] { return now; });
    window->tmr_Timer();
    EXPECT_TRUE(waitUntil([&] { return window->session().pending() == 0; }));
    EXPECT_EQ(bar->currentMessage(), "Cannot reach the Confabo service; trying again...");
    EXPECT_EQ(tabHandles(), QStringList{"bertram"});
    EXPECT_TRUE(tabTip("bertram").contains("Presence unknown")) << tabTip("bertram").toStdString();
    now = now.addSecs(3600);
    window->tmr_Timer();
    EXPECT_TRUE(waitUntil([&] { return window->session().pending() == 0; }));
    EXPECT_EQ(bar->currentMessage(), "Cannot reach the Confabo service; trying again...") << "still";

    // A fresh sign-in reads the buddy list the service now keeps.
    ASSERT_TRUE(service.restart());
    Settings::ServiceHost.write(service.serverSetting());
    Settings::BlockAllData.write(QStringLiteral("True"));
    Confabo again;
    ASSERT_TRUE(again.Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
    EXPECT_FALSE(again.Buddies()->Item("amelia"));
    EXPECT_TRUE(again.Buddies()->Item("bertram"));
    EXPECT_TRUE(again.IsBlocked("amelia"));
}

TEST_F(MainWindowTest, AloneWithABusyDataPortTheWindowSaysSoAndIsNeverLost)
{
    Settings::DisplayErrors.write(QStringLiteral("1"));
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(
        QHostAddress::AnyIPv4, quint16(Settings::DataPort.read().toUInt()), QAbstractSocket::DontShareAddress));

    // With nobody online the window offers to invite someone, in the program's own question.
    QString title, prompt;
    int context = 0;
    bool openWhileAsked = true;
    PopupAnswerer answerer([&](frmPopup* popup) {
        title = popup->windowTitle();
        prompt = popup->prompt();
        context = popup->helpContext();
        openWhileAsked = window->findChild<QAction*>("mnuPopupOpen")->isEnabled();
        answerer.stop();
        PopupAnswerer::click(popup, "cmdNo");
    });
    load();
    EXPECT_EQ(title, "Confabo - Invite Users");
    EXPECT_EQ(prompt, "You currently have no buddies online. Would you like to invite a user to chat?");
    EXPECT_EQ(context, 144);
    EXPECT_FALSE(openWhileAsked);
    EXPECT_TRUE(action("mnuPopupOpen")->isEnabled());

    EXPECT_EQ(window->SelBuddy(), nullptr);
    expectBuddyButtons(false);
    EXPECT_EQ(window->dataPort(), Settings::DataPort.read().toInt()) << "sends still name the agreed port";
    const QString notice = window->findChild<QStatusBar*>("status")->currentMessage();
    EXPECT_TRUE(notice.contains("data port " + Settings::DataPort.read())) << notice.toStdString();
    EXPECT_TRUE(notice.contains("Data Address"))
        << "held by another: the way for a second user; " << notice.toStdString();
    ASSERT_EQ(dialogs.boxes.size(), 1) << boxes().toStdString();
    EXPECT_EQ(dialogs.boxes[0].title, "Confabo Error");
    EXPECT_TRUE(dialogs.boxes[0].text.contains(notice));

    QSystemTrayIcon* tray = window->trayIcon();
    ASSERT_TRUE(tray);
    EXPECT_EQ(tray->toolTip(), "Confabo - cordelia");

    // Without a notification area a close minimises: the window stays reachable.
    window->setSystemTrayAvailable(false);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());

    window->setSystemTrayAvailable(true);
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->isVisible());
    action("mnuPopupOpen")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    window->close();
    ASSERT_FALSE(window->isVisible());
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window->isVisible());
    window->close();
    ASSERT_FALSE(window->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger); // a single click opens it too
    EXPECT_TRUE(window->isVisible());

    // The exit sequence signs the user out at the service.
    window->Unload();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->trayIcon(), nullptr);
    EXPECT_EQ(window->library(), nullptr);
    EXPECT_EQ(statusAtService("cordelia"), CFB_OFFLINE);
}

} // namespace
