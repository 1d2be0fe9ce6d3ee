#include "mainwindow/BuddyToolbar.h"

#include "buddies/VerifyDialog.h"
#include "chat/ChatHistory.h"
#include "chat/cBuddyInfo.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "mainwindow/BuddyTabs.h"
#include "mainwindow/PresencePoll.h"
#include "mainwindow/StatusPanels.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/ClientSession.h"
#include "session/SessionDialogs.h"

#include <QAction>
#include <QToolBar>

namespace cfb::client {

BuddyToolbar::BuddyToolbar(const Controls& controls, QWidget& window, ClientSession& session, BuddyTabs& tabs,
    SessionDialogs& dialogs, PresencePoll& poll, StatusPanels& panels, SelectedBuddy selected)
    : QObject(&window)
    , controls_(controls)
    , window_(window)
    , session_(session)
    , tabs_(tabs)
    , dialogs_(dialogs)
    , poll_(poll)
    , panels_(panels)
    , selected_(std::move(selected))
{
    connect(controls.toolMute, &QAction::triggered, this, &BuddyToolbar::toolMute_Click);
    connect(controls.toolAdd, &QAction::triggered, this, &BuddyToolbar::toolAdd_Click);
    connect(controls.toolBlock, &QAction::triggered, this, &BuddyToolbar::toolBlock_Click);
    connect(controls.toolBuddies, &QAction::triggered, this, &BuddyToolbar::toolBuddies_Click);
    connect(controls.mnuEditBuddyList, &QAction::triggered, this, &BuddyToolbar::toolBuddies_Click);
    connect(controls.mnuVerify, &QAction::triggered, this, &BuddyToolbar::mnuVerify_Click);
    connect(controls.mnuClearHistory, &QAction::triggered, this, &BuddyToolbar::mnuClearHistory_Click);
    connect(controls.mnuMute, &QAction::triggered, controls.toolMute, &QAction::trigger);
    connect(controls.mnuAvailable, &QAction::triggered, this, [this] { setOwnPresence(CFB_AVAILABLE); });
    connect(controls.mnuPopupAvailable, &QAction::triggered, this, [this] { setOwnPresence(CFB_AVAILABLE); });
    connect(controls.mnuBusy, &QAction::triggered, this, [this] { setOwnPresence(CFB_BUSY); });
    connect(controls.mnuPopupBusy, &QAction::triggered, this, [this] { setOwnPresence(CFB_BUSY); });
}

void BuddyToolbar::enable(bool enable, bool camera)
{
    for (QAction* button : {controls_.toolMute, controls_.toolAdd, controls_.toolBlock})
        button->setEnabled(enable);
    controls_.mnuMute->setEnabled(enable);
    controls_.mnuVerify->setEnabled(enable);
    controls_.mnuClearHistory->setEnabled(enable);
    controls_.toolVideo->setEnabled(enable && camera);
    controls_.mnuVideo->setEnabled(enable && camera);
}

void BuddyToolbar::showBlocked()
{
    const std::shared_ptr<cfb::Buddy> selected = selected_();
    const bool blocked = selected && session_.library() && session_.library()->IsBlocked(selected->handle());
    controls_.toolBlock->setChecked(blocked);
    controls_.toolBlock->setText(blocked ? QStringLiteral("Unblock") : QStringLiteral("Block"));
}

void BuddyToolbar::setOwnPresence(cfb::Stati status)
{
    if (!session_.library())
        return;
    // The menus show what the service took, not what was asked, once it answers.
    session_.ask<bool>(
        "SetStatus", this, [status](Confabo& service) { return service.SetStatus(status); },
        [this](bool) { showOwnPresence(); });
}

void BuddyToolbar::showOwnPresence()
{
    const Stati status = session_.library() ? session_.library()->Status() : CFB_OFFLINE;
    controls_.mnuAvailable->setChecked(status == CFB_AVAILABLE);
    controls_.mnuPopupAvailable->setChecked(status == CFB_AVAILABLE);
    controls_.mnuBusy->setChecked(status == CFB_BUSY);
    controls_.mnuPopupBusy->setChecked(status == CFB_BUSY);
    panels_.setText(StatusPanels::Presence,
        status == CFB_AVAILABLE  ? QStringLiteral("Available")
            : status == CFB_BUSY ? QStringLiteral("Busy")
                                 : QStringLiteral("Offline"));
}

// The button silences every buddy's speech; the selected buddy's record keeps the state.
void BuddyToolbar::toolMute_Click(bool pressed)
{
    withErrorReport("Mute", [&] {
        controls_.mnuMute->setChecked(pressed);
        if (const std::shared_ptr<cfb::Buddy> selected = selected_())
            if (cBuddyInfo* record = tabs_.record(selected->handle()))
                record->setAudio(pressed);
    });
}

void BuddyToolbar::toolAdd_Click()
{
    const std::shared_ptr<cfb::Buddy> selected = selected_();
    if (!selected || !session_.library())
        return;
    const QString handle = selected->handle();
    const QString email = selected->Email();
    session_.ask<QString>(
        "Add", this, [email](Confabo& service) { return service.AddBuddy(email); },
        [this, handle](const QString& found) {
            // Only while the same user is selected: a later selection has its own button.
            if (const std::shared_ptr<cfb::Buddy> now = selected_(); now && now->handle() == handle)
                controls_.toolAdd->setVisible(found.isEmpty());
            if (!found.isEmpty())
                poll_.poll(PresencePoll::InBackground);
        });
}

void BuddyToolbar::toolBlock_Click(bool pressed)
{
    const std::shared_ptr<cfb::Buddy> selected = selected_();
    if (!selected || !session_.library()) {
        controls_.toolBlock->setChecked(false);
        return;
    }
    const QString handle = selected->handle();
    QWidget* button = controls_.tool->widgetForAction(controls_.toolBlock);
    // The button shows what the service took once it answered, whatever a poll answered
    // meanwhile.
    if (!pressed) {
        session_.askFrom<bool>(
            "Block", button, [handle](Confabo& service) { return service.UnBlockUser(handle); },
            [this](bool) { showBlocked(); }, [this] { showBlocked(); });
        return;
    }
    session_.askFrom<bool>(
        "Block", button, [handle](Confabo& service) { return service.BlockUser(handle); },
        [this, handle](bool blocked) {
            showBlocked();
            // The buddy list as it is now: the user may have been removed while the answer came.
            if (blocked && session_.library() && session_.library()->Buddies()->Item(handle))
                withErrorReport("Block", [&] { offerRemoval(handle); });
        },
        [this] { showBlocked(); });
}

void BuddyToolbar::offerRemoval(const QString& handle)
{
    const QString question
        = QStringLiteral("'%1' has been blocked. Do you want to remove '%1' from your buddy list?").arg(handle);
    if (UserDialogs::current().messageBox(&window_, question, UserDialogs::Buttons::YesNo, UserDialogs::Icon::Question,
            QStringLiteral("Remove Buddy"))
        != UserDialogs::AnswerYes)
        return;
    // The library keeps a removed buddy in its list; this window drops it, so its tab goes.
    session_.askFrom<bool>(
        "Block", controls_.tool->widgetForAction(controls_.toolBlock),
        [handle](Confabo& service) {
            const std::shared_ptr<Buddy> gone = service.Buddies()->Item(handle);
            if (!gone || !gone->Remove())
                return false;
            service.Buddies()->Remove(handle);
            return true;
        },
        [this, handle](bool removed) {
            if (removed)
                emit buddyRemoved(handle);
            emit buddiesChanged();
        });
}

void BuddyToolbar::toolBuddies_Click()
{
    withErrorReport("Buddies", [this] {
        dialogs_.showBuddyListEditor(&window_);
        emit buddiesChanged();
    });
}

// The tabs' marks follow what the dialog changed (a key accepted or forgotten).
void BuddyToolbar::mnuVerify_Click()
{
    withErrorReport("Verify", [this] {
        const std::shared_ptr<cfb::Buddy> selected = selected_();
        if (!selected || !session_.library())
            return;
        VerifyDialog verify(session_, selected, &window_);
        verify.exec();
        emit buddiesChanged();
    });
}

void BuddyToolbar::mnuClearHistory_Click()
{
    withErrorReport("ClearHistory", [this] {
        const std::shared_ptr<cfb::Buddy> selected = selected_();
        if (!selected)
            return;
        const QString handle = selected->handle();
        const int answer = UserDialogs::current().messageBox(&window_,
            QStringLiteral("Delete the whole conversation with %1 from this computer? This cannot be undone.")
                .arg(handle),
            UserDialogs::Buttons::YesNo, UserDialogs::Icon::Question, QStringLiteral("Confabo - Clear History"));
        if (answer != UserDialogs::AnswerYes)
            return;
        if (!tabs_.clearHistory(handle))
            UserDialogs::current().messageBox(&window_,
                QStringLiteral("The conversation with %1 could not be deleted: %2")
                    .arg(handle, tabs_.history().lastError()),
                UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo - Clear History"));
    });
}

} // namespace cfb::client
