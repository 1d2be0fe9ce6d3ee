// The buddy-list editor, the block-list editor and the invitation dialog, opened from a main window
// signed in to the real service, with other users of the library as buddies and peers.
#include "../support/PopupAnswerer.h"
#include "StartupTestSupport.h"

#include "ClientProfile.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "buddies/frmBlockList.h"
#include "buddies/frmBuddyList.h"
#include "buddies/frmInvite.h"
#include "channel/Identity.h"
#include "common/frmPopup.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "session/ClientSession.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace cfb;
using namespace cfb::client;
using namespace startup_test;

namespace {

QStringList entries(QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

void check(QListWidget* list, const QString& text)
{
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    found.first()->setCheckState(Qt::Checked);
}

void pressEnter(QWidget* field)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(field, &press);
}

class ListDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        const std::pair<const char*, QRgb> people[]
            = {{"amelia", 0xffd03020}, {"bertram", 0xff20a040}, {"desmond", 0xff2040d0}, {"cordelia", 0xff808080}};
        for (const auto& [name, colour] : people)
            addUser(QLatin1String(name), colour);
    }

    void TearDown() override { window.reset(); }

    void addUser(const QString& handle, QRgb colour)
    {
        colours[handle] = colour;
        users[handle] = ClientProfile::registerUser(files.path(), handle, colour);
        ASSERT_TRUE(users[handle]) << "the service refused " << qPrintable(handle);
    }

    void signIn(const char* handle, const char* address = "127.0.0.1")
    {
        // A plain socket stands in for the buddy's client: its object publishes no key, so the
        // window reaches it in the plain format.
        users[handle]->setIdentity(std::nullopt);
        ASSERT_TRUE(users[handle]->Login(handle, ClientProfile::password(handle), address));
    }

    // cordelia's buddies, as the service keeps them (a fresh sign-in reads them).
    QStringList buddiesAtService()
    {
        Confabo again;
        EXPECT_TRUE(again.Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        QStringList handles;
        for (const auto& buddy : *again.Buddies())
            handles << buddy->handle();
        return handles;
    }

    void load()
    {
        Settings::BlockAllData.erase();
        window = std::make_unique<frmMain>();
        EXPECT_TRUE(loadMainWindow(*window));
        tabs = window->findChild<QTabBar*>("tabBuddies");
        ASSERT_TRUE(tabs);
        dialogs.boxes.clear(); // the service's welcome on the first sign-in
    }

    // Lets the event loop run until every request asked has been answered.
    bool answered() const
    {
        return waitFor([this] { return window->session().pending() == 0; });
    }

    QStringList tabHandles() const
    {
        QStringList handles;
        for (int i = 0; i < tabs->count(); ++i)
            handles << tabs->tabText(i);
        return handles;
    }

    QRgb avatarCentre(QWidget* dialog)
    {
        const QPixmap shown = child<QLabel>(dialog, "imgBuddy")->pixmap();
        const QImage image = shown.toImage();
        return image.isNull() ? 0 : image.pixel(image.width() / 2, image.height() / 2);
    }

    QString lastBox() const
    {
        return dialogs.boxes.isEmpty() ? QString() : dialogs.boxes.last().title + ": " + dialogs.boxes.last().text;
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

TEST_F(ListDialogsTest, BuddyListEditorAddsAndRemovesAndTheMainWindowFollows)
{
    signIn("cordelia");
    for (const char* buddy : {"amelia", "bertram"})
        ASSERT_EQ(users["cordelia"]->AddBuddy(QString::fromLatin1(buddy) + "@example.org"), buddy);
    users["cordelia"]->Logout();
    for (const char* handle : {"amelia", "bertram", "desmond"})
        signIn(handle);
    load();
    ASSERT_EQ(tabHandles(), (QStringList{"amelia", "bertram"}));

    bool opened = false;
    whenModal<frmBuddyList>(
        window.get(),
        [&](frmBuddyList* editor) {
            EXPECT_TRUE(answered());
            EXPECT_EQ(editor->windowTitle(), "Edit Buddy List");
            EXPECT_EQ(window->currentWindow(), editor);
            auto* list = child<QListWidget>(editor, "lstBuddies");
            auto* field = child<QLineEdit>(editor, "txtEmail");
            auto* add = child<QPushButton>(editor, "cmdAdd");
            ASSERT_EQ(entries(list), (QStringList{"amelia", "bertram"}));
            EXPECT_EQ(
                list->item(1)->data(Qt::UserRole).toInt(), window->library()->Buddies()->Item("bertram")->BuddyID());
            EXPECT_EQ(child<QLabel>(editor, "lblHandle")->text(), "amelia");
            EXPECT_EQ(child<QLabel>(editor, "lblEmail")->text(), "amelia@example.org");
            EXPECT_EQ(avatarCentre(editor), colours["amelia"]);
            EXPECT_FALSE(child<QPushButton>(editor, "cmdBlockList")->isEnabled()) << "nobody is blocked";

            // A buddy's own address, letter case equal: answered from the list. Enter adds.
            field->setText("  bertram@example.org ");
            pressEnter(field);
            EXPECT_TRUE(answered());
            EXPECT_EQ(lastBox(), "Edit Buddy List: 'bertram' is already on your Buddy List.");
            EXPECT_EQ(dialogs.boxes.last().icon, UserDialogs::Icon::Information);
            EXPECT_EQ(field->text(), "bertram@example.org");
            // Other letter case goes to the service, which names an existing buddy.
            field->setText("BERTRAM@Example.org");
            add->click();
            EXPECT_TRUE(answered());
            EXPECT_EQ(lastBox(), "Edit Buddy List: 'bertram' is already on your buddy list.");
            EXPECT_EQ(entries(list), (QStringList{"amelia", "bertram"}));

            const qsizetype boxesBefore = dialogs.boxes.size();
            field->setText("   ");
            add->click();
            EXPECT_TRUE(answered());
            EXPECT_EQ(dialogs.beeps, 1);
            EXPECT_EQ(dialogs.boxes.size(), boxesBefore) << "an empty field only beeps";

            field->setText("nobody@example.org");
            add->click();
            EXPECT_TRUE(answered());
            EXPECT_EQ(dialogs.beeps, 2);
            EXPECT_EQ(lastBox(), "Edit Buddy List: Could not find a match for 'nobody@example.org'.");
            EXPECT_EQ(dialogs.boxes.last().icon, UserDialogs::Icon::Exclamation);

            // A new buddy by handle: listed, shown, and its tab appears at once.
            field->setText("desmond");
            pressEnter(field);
            EXPECT_TRUE(answered());
            EXPECT_EQ(entries(list), (QStringList{"amelia", "bertram", "desmond"}));
            EXPECT_EQ(list->currentItem()->text(), "desmond");
            EXPECT_EQ(child<QLabel>(editor, "lblEmail")->text(), "desmond@example.org");
            EXPECT_EQ(avatarCentre(editor), colours["desmond"]);
            EXPECT_TRUE(field->text().isEmpty());
            EXPECT_EQ(tabHandles(), (QStringList{"amelia", "bertram", "desmond"}));

            check(list, "amelia");
            check(list, "desmond");
            child<QPushButton>(editor, "cmdRemove")->click();
            EXPECT_TRUE(answered());
            EXPECT_EQ(entries(list), QStringList{"bertram"});
            EXPECT_EQ(child<QLabel>(editor, "lblHandle")->text(), "bertram");
            EXPECT_FALSE(window->buddyInfo("amelia"));
            EXPECT_FALSE(window->buddyInfo("desmond"));
            child<QPushButton>(editor, "cmdCancel")->click();
        },
        &opened);
    window->findChild<QAction*>("mnuEditBuddyList")->trigger();
    ASSERT_TRUE(opened);
    EXPECT_EQ(window->currentWindow(), window.get());
    EXPECT_EQ(tabHandles(), QStringList{"bertram"});
    EXPECT_EQ(buddiesAtService(), QStringList{"bertram"});
}

TEST_F(ListDialogsTest, BlockListUnblocksAndTheButtonsFollow)
{
    signIn("cordelia");
    for (const char* buddy : {"amelia", "bertram"})
        ASSERT_EQ(users["cordelia"]->AddBuddy(QString::fromLatin1(buddy)), buddy);
    users["cordelia"]->Logout();
    for (const char* handle : {"amelia", "bertram"})
        signIn(handle);
    load();
    ASSERT_EQ(tabHandles(), (QStringList{"amelia", "bertram"}));
    QAction* block = window->findChild<QAction*>("toolBlock");
    dialogs.answers = {UserDialogs::AnswerNo}; // blocked, kept as a buddy
    block->trigger();
    ASSERT_TRUE(waitFor([&] { return block->text() == "Unblock"; }));
    bool blockedDesmond = false;
    window->session().ask<bool>(
        "Block", window.get(), [](Confabo& service) { return service.BlockUser("desmond"); },
        [&](bool blocked) { blockedDesmond = blocked; });
    ASSERT_TRUE(waitFor([&] { return blockedDesmond; }));

    bool editorOpened = false;
    bool blockListOpened = false;
    whenModal<frmBuddyList>(
        window.get(),
        [&](frmBuddyList* editor) {
            EXPECT_TRUE(answered());
            auto* openBlockList = child<QPushButton>(editor, "cmdBlockList");
            EXPECT_TRUE(openBlockList->isEnabled());
            whenModal<frmBlockList>(
                editor,
                [&](frmBlockList* blocked) {
                    EXPECT_TRUE(answered());
                    EXPECT_EQ(blocked->windowTitle(), "Blocked User List");
                    EXPECT_EQ(window->currentWindow(), blocked);
                    auto* list = child<QListWidget>(blocked, "lstBlocked");
                    EXPECT_EQ(list->toolTip(), "These buddies are currently blocked");
                    ASSERT_EQ(entries(list), (QStringList{"amelia", "desmond"})) << "every handle, no empty entry";
                    check(list, "amelia");
                    check(list, "desmond");
                    child<QPushButton>(blocked, "cmdRemove")->click();
                    EXPECT_TRUE(answered());
                    EXPECT_EQ(list->count(), 0);
                    EXPECT_FALSE(window->library()->IsBlocked("amelia"));
                    EXPECT_EQ(block->text(), "Block") << "the selected tab's button follows";
                    child<QPushButton>(blocked, "cmdCancel")->click();
                },
                &blockListOpened);
            openBlockList->click();
            EXPECT_TRUE(answered());
            EXPECT_TRUE(blockListOpened);
            EXPECT_FALSE(openBlockList->isEnabled()) << "nobody is blocked any more";
            EXPECT_EQ(window->currentWindow(), editor);

            // A removal the service does not take leaves the buddy listed and checked.
            auto* list = child<QListWidget>(editor, "lstBuddies");
            check(list, "bertram");
            ASSERT_TRUE(service.stop());
            child<QPushButton>(editor, "cmdRemove")->click();
            EXPECT_TRUE(answered());
            EXPECT_EQ(entries(list), (QStringList{"amelia", "bertram"}));
            EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
            EXPECT_TRUE(window->library()->Buddies()->Item("bertram"));
            // An Add the service never answered says so; it found nobody is not the answer.
            child<QLineEdit>(editor, "txtEmail")->setText("desmond");
            child<QPushButton>(editor, "cmdAdd")->click();
            EXPECT_TRUE(answered());
            EXPECT_TRUE(lastBox().startsWith("Edit Buddy List: Cannot reach the Confabo service at "))
                << lastBox().toStdString();
            editor->close();
        },
        &editorOpened);
    window->findChild<QAction*>("toolBuddies")->trigger();
    ASSERT_TRUE(editorOpened);
    EXPECT_EQ(window->currentWindow(), window.get());
}

TEST_F(ListDialogsTest, InvitationsGoFromTheLastCheckedUserAndTheMailLinkIsExact)
{
    // Each peer is a machine of its own (127.0.0.x); one socket on the agreed data port takes what
    // reaches any of them, in the order it was sent.
    const QString dataPort = freeDataPort();
    QUdpSocket machines;
    ASSERT_TRUE(machines.bind(QHostAddress::AnyIPv4, quint16(dataPort.toUInt()), QAbstractSocket::DontShareAddress));
    Settings::DataPort.write(dataPort);
    const std::map<QString, QString> addresses
        = {{"127.0.0.2", "amelia"}, {"127.0.0.3", "bertram"}, {"127.0.0.4", "desmond"}};
    signIn("amelia", "127.0.0.2");
    signIn("bertram", "127.0.0.3");

    // Nobody is a buddy, so the window offers the invitation at start-up; Yes opens it.
    PopupAnswerer answerer([&](frmPopup* popup) {
        answerer.stop();
        PopupAnswerer::click(popup, "cmdOK");
    });

    QStringList order;
    bool opened = false;
    whenModal<frmInvite>(
        answerer.scope(),
        [&](frmInvite* invite) {
            EXPECT_TRUE(answered());
            EXPECT_EQ(invite->windowTitle(), "Confabo - Invite Users");
            EXPECT_EQ(window->currentWindow(), invite);
            auto* list = child<QListWidget>(invite, "lstUsers");
            auto* message = child<QLineEdit>(invite, "txtMessage");
            auto* send = child<QPushButton>(invite, "cmdInvite");
            const QStringList first = entries(list);
            EXPECT_TRUE(first.contains("amelia") && first.contains("bertram") && !first.contains("desmond"))
                << first.join(' ').toStdString();
            EXPECT_EQ(child<QLabel>(invite, "lblHandle")->text(), first.value(0));
            EXPECT_EQ(child<QLabel>(invite, "lblEmail")->text(), first.value(0) + "@example.org");
            EXPECT_EQ(avatarCentre(invite), colours[first.value(0)]);

            signIn("desmond", "127.0.0.4");
            child<QPushButton>(invite, "cmdRefresh")->click();
            EXPECT_TRUE(answered());
            order = entries(list);
            ASSERT_TRUE(order.contains("desmond")) << order.join(' ').toStdString();
            const int daveRow = int(order.indexOf("desmond"));
            EXPECT_EQ(list->item(daveRow)->data(Qt::UserRole).toInt(), users["desmond"]->userID());

            check(list, "amelia");
            message->setText("   ");
            send->click();
            EXPECT_EQ(lastBox(), "Confabo - Invite Users: An invitation message is required.");
            EXPECT_EQ(dialogs.beeps, 1);
            list->item(list->row(list->findItems("amelia", Qt::MatchExactly).first()))->setCheckState(Qt::Unchecked);
            message->setText("Come and chat");
            send->click();
            EXPECT_EQ(lastBox(),
                "Confabo - Invite Users: Select users from the list that you want to invite for 'vid-chatting'.");
            EXPECT_EQ(dialogs.beeps, 2);
            EXPECT_TRUE(invite->isVisible());

            auto* email = child<QPushButton>(invite, "cmbEmail");
            dialogs.urlOpens = false;
            email->click();
            EXPECT_EQ(lastBox(),
                "Confabo - Invite Users: Error opening email client. Make sure that you have your email client "
                "correctly installed and configured");
            EXPECT_EQ(dialogs.boxes.last().icon, UserDialogs::Icon::Critical);
            ASSERT_EQ(dialogs.urls.size(), 1);
            EXPECT_EQ(dialogs.urls[0].toString(),
                "mailto:?subject=Check Out Confabo!&body=Hello!,%0D%0DA friend has invited you to try Confabo, a "
                "free, peer-to-peer chat and video messaging program.%0D%0DGo to https://confabo.example.org/download "
                "and get your free copy to start  'vid-chatting' with your friends.%0D%0D%0DPeace,%0D%0DThe Confabo "
                "Team%0D%0D------------------------------------------------------------------------%0D");
            EXPECT_TRUE(invite->isVisible());

            for (const QString& handle : order)
                if (handle == "amelia" || handle == "bertram" || handle == "desmond")
                    check(list, handle);
            send->click();
            EXPECT_TRUE(answered());
            ASSERT_FALSE(dialogs.boxes.isEmpty());
            EXPECT_EQ(lastBox(),
                "Confabo - Invite Users: Your invitation(s) have been sent. If your invitation is accepted, a new "
                "Buddy Tab will be created for that user.");
            EXPECT_EQ(dialogs.boxes.last().helpContext, 103);
            EXPECT_FALSE(invite->isVisible()) << "the dialog closes after sending";
        },
        &opened);
    load();
    ASSERT_TRUE(opened);
    EXPECT_EQ(window->currentWindow(), window.get());

    QStringList expected;
    for (const QString& handle : order)
        if (handle == "amelia" || handle == "bertram" || handle == "desmond")
            expected.prepend(handle);
    ASSERT_EQ(expected.size(), 3);
    QStringList arrived;
    ASSERT_TRUE(waitFor([&] {
        while (machines.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = machines.receiveDatagram();
            const QString to = datagram.destinationAddress().toString();
            EXPECT_TRUE(datagram.data().contains("Come and chat")) << datagram.data().toStdString();
            EXPECT_TRUE(datagram.data().contains("cordelia")) << datagram.data().toStdString();
            arrived << (addresses.count(to) ? addresses.at(to) : to);
        }
        return arrived.size() >= 3;
    })) << arrived.join(' ').toStdString();
    EXPECT_EQ(arrived.join(' '), expected.join(' '))
        << "the last checked user first; nothing from the refused attempts";
}

} // namespace
