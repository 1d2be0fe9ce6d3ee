#pragma once

#include "session/SessionDialogs.h"

#include <QObject>

class QWidget;

namespace cfb::client {

class ClientSession;

// The dialogs the client's windows open on the signed-in session: Setup (which registers an
// account while nobody is signed in), the buddy-list editor and the invitation dialog; and the
// offer to invite someone when no buddy is online. Each dialog opens only while the session is.
class DialogOpeners : public QObject, public SessionDialogs {
public:
    DialogOpeners(QWidget& window, ClientSession& session);

    bool showSetup(QWidget* owner) override;
    bool showFirstRegistration(QWidget* owner) override;
    bool showBuddyListEditor(QWidget* owner) override;
    bool showInvite(QWidget* owner) override;

    // "You currently have no buddies online..." and, on Yes, the invitation dialog.
    void offerInvitation();

private:
    bool openSetup(QWidget* owner, bool* registered);
    template <typename Dialog> bool open();

    QWidget& window_;
    ClientSession& session_;
};

} // namespace cfb::client
