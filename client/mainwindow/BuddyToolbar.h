#pragma once

#include "messaging/Stati.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QToolBar;
class QWidget;

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class BuddyTabs;
class ClientSession;
class PresencePoll;
class SessionDialogs;
class StatusPanels;

// The main window's toolbar buttons for the selected user, with their menu items: "Mute", "Add"
// (for a user who is no buddy), "Block"/"Unblock" (and removing a blocked buddy), "Buddies"
// (the buddy-list editor), the Buddy menu's "Verify..." (the safety number) and "Clear History...";
// and the presence menus ("Available", "Busy"), which show what the service took, as does the
// status bar's presence panel. Requests go through the session's service thread.
class BuddyToolbar : public QObject {
    Q_OBJECT
public:
    // The main window's items this part drives; tool is the toolbar the buttons sit on.
    struct Controls {
        QToolBar* tool;
        QAction* toolMute;
        QAction* mnuMute;
        QAction* toolAdd;
        QAction* toolBlock;
        QAction* toolBuddies;
        QAction* mnuEditBuddyList;
        QAction* mnuVerify;
        QAction* mnuClearHistory;
        QAction* toolVideo;
        QAction* mnuVideo;
        QAction* mnuAvailable;
        QAction* mnuPopupAvailable;
        QAction* mnuBusy;
        QAction* mnuPopupBusy;
    };
    // The buddy of the window's selected tab; nullptr when there is none.
    using SelectedBuddy = std::function<std::shared_ptr<cfb::Buddy>()>;

    // window parents the boxes and the dialogs the buttons open.
    BuddyToolbar(const Controls& controls, QWidget& window, ClientSession& session, BuddyTabs& tabs,
        SessionDialogs& dialogs, PresencePoll& poll, StatusPanels& panels, SelectedBuddy selected);

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

signals:
    // The user is no buddy any more: their tab goes.
    void buddyRemoved(const QString& handle);
    // The buddy list or its marks changed here: the tabs follow it again.
    void buddiesChanged();

private:
    // After a block: asks whether the blocked buddy leaves the buddy list, and removes them.
    void offerRemoval(const QString& handle);

    Controls controls_;
    QWidget& window_;
    ClientSession& session_;
    BuddyTabs& tabs_;
    SessionDialogs& dialogs_;
    PresencePoll& poll_;
    StatusPanels& panels_;
    SelectedBuddy selected_;
};

} // namespace cfb::client
