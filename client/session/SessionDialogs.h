#pragma once

class QWidget;

namespace cfb::client {

// The dialogs that work on the signed-in session, each shown modally over owner: the setup dialog
// (registering a new account while nobody is signed in, else editing the profile and settings),
// the same dialog registering the first account of an installation, the buddy-list editor and the
// invitation dialog. The main window supplies them, since it owns what they work on; each is
// false when it was not shown (no session is open).
class SessionDialogs {
public:
    virtual ~SessionDialogs() = default;

    virtual bool showSetup(QWidget* owner) = 0;
    // Leaves telling the user of the new account to the caller (the sign-in that follows does,
    // together with the service's welcome). True when an account was registered.
    virtual bool showFirstRegistration(QWidget* owner) = 0;
    virtual bool showBuddyListEditor(QWidget* owner) = 0;
    virtual bool showInvite(QWidget* owner) = 0;
};

} // namespace cfb::client
