#pragma once

#include <QObject>

class QWidget;

namespace cfb::client {

class ClientSession;

// The dialogs every window of the client can open on the signed-in session (through modMain):
// Setup (which registers an account while nobody is signed in), the buddy-list editor and
// the invitation dialog; and the offer to invite someone when no buddy is online.
class DialogOpeners : public QObject {
public:
    DialogOpeners(QWidget& window, ClientSession& session);

    // Hands the openers to modMain, and takes them back.
    void install();
    static void uninstall();

    // "You currently have no buddies online..." and, on Yes, the invitation dialog.
    void offerInvitation();

private:
    bool openSetup(QWidget* owner, bool* registered);
    template <typename Dialog> bool open();

    QWidget& window_;
    ClientSession& session_;
};

} // namespace cfb::client
