#pragma once

#include "messaging/Stati.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class frmMain;
}

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class BuddyTabs;
class ClientSession;
class SessionDialogs;

// The main window's toolbar buttons for the selected user, with their menu items: "Mute", "Add"
// (for a user who is no buddy), "Block"/"Unblock" (and removing a blocked buddy), "Buddies"
// (the buddy-list editor), the Buddy menu's "Verify..." (the safety number) and "Clear History...";
// and the presence
// menus ("Available", "Busy"), which show what the service took. Requests go through the
// session's service thread.
class BuddyToolbar : public QObject {
public:
    struct Window {
        std::function<std::shared_ptr<cfb::Buddy>()> selected;
        // The user's tab goes; the tabs follow the buddy list again.
        std::function<void(const QString&)> removeTab;
        std::function<void()> reloadTabs;
        // The buddy list changed at the service: a poll shows it.
        std::function<void()> poll;
        // The presence panel's text.
        std::function<void(const QString&)> showPresence;
    };

    BuddyToolbar(Ui::frmMain& ui, QWidget& window, ClientSession& session, BuddyTabs& tabs, SessionDialogs& dialogs,
        Window hooks);

    // The buttons that need a selected user; "Video" also needs a camera.
    void enable(bool enable, bool camera);
    // "Block" or "Unblock", as the selected user is blocked or not.
    void showBlocked();
    // The presence menus and panel as the library object has it.
    void showOwnPresence();
    void setOwnPresence(cfb::Stati status);

    void toolMute_Click(bool pressed);
    void toolAdd_Click();
    void toolBlock_Click(bool pressed);
    void toolBuddies_Click();
    void mnuVerify_Click();
    // After the user confirmed it, the selected user's kept conversation goes from the disk.
    void mnuClearHistory_Click();

private:
    // After a block: asks whether the blocked buddy leaves the buddy list, and removes them.
    void offerRemoval(const QString& handle);

    Ui::frmMain& ui_;
    QWidget& window_;
    ClientSession& session_;
    BuddyTabs& tabs_;
    SessionDialogs& dialogs_;
    Window hooks_;
};

} // namespace cfb::client
