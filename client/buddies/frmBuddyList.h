#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

class QListWidgetItem;

namespace Ui {
class frmBuddyList;
}

namespace cfb {
class Confabo;
}

namespace cfb::client {

class ClientSession;
struct LookedUpUser;

// The buddy-list editor, shown modally from the main window: adds a buddy by e-mail address or
// handle, shows a buddy's details (with "Verify..." for the safety number and "Send a message",
// which opens the conversation with them in the main window, online or not), removes the checked
// buddies and opens the block-list editor.
// While it is open it is the main window's current window.
class frmBuddyList : public QDialog {
    Q_OBJECT
public:
    frmBuddyList(ClientSession& session, QWidget* owner);
    ~frmBuddyList() override;

    void done(int result) override;

signals:
    // The block-list button shows what the service answered (at the start and after the
    // block-list editor closed).
    void blockListShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void lstBuddies_Click();
    void selectEntry(QListWidgetItem* entry);
    void showBlockListButton();
    void cmdAdd_Click();
    void addBuddy();
    void showAdded(const QString& text, const LookedUpUser& buddy, const QString& unreachable);
    void cmdRemove_Click();
    void cmdBlockList_Click();
    void cmdVerify_Click();
    void cmdMessage_Click();
    void informAlreadyListed(const QString& text);

    std::unique_ptr<Ui::frmBuddyList> ui;
    ClientSession& session_;
    cfb::Confabo* library_;
};

} // namespace cfb::client
