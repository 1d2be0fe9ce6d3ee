#pragma once

#include <QDialog>
#include <QList>

#include <memory>

namespace Ui {
class frmInvite;
}

namespace cfb {
class Buddies;
class Confabo;
} // namespace cfb

namespace cfb::client {

class ClientSession;
struct LookedUpUser;

// The invitation dialog, shown modally from the main window: lists the users online now, sends
// the checked ones an invitation as a chat message, or opens the user's e-mail program with an
// invitation to get the program. While it is open it is the main window's current window.
class frmInvite : public QDialog {
    Q_OBJECT
public:
    frmInvite(ClientSession& session, QWidget* owner);
    ~frmInvite() override;

    void done(int result) override;

    // The e-mail invitation: a mailto link whose body names the installer's address. Line breaks
    // stand as "%0D" and nothing else of the fixed text is encoded; the address has "%", "&" and
    // "#" encoded so that it cannot end the body or the link.
    static QString invitationLink(const QString& downloadUrl);

signals:
    // The list of users online has arrived from the service and is shown.
    void refreshed();

private:
    void cmdRefresh_Click();
    void showUsers(std::shared_ptr<cfb::Buddies> users);
    void sendInvitations(const QList<LookedUpUser>& users);
    void lstUsers_Click();
    void cmdInvite_Click();
    void invite();
    void cmbEmail_Click();
    void showBox(const QString& text);

    std::unique_ptr<Ui::frmInvite> ui;
    ClientSession& session_;
    cfb::Confabo* library_;
    std::shared_ptr<cfb::Buddies> users_;
};

} // namespace cfb::client
