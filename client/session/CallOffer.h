#pragma once

#include <QString>

namespace cfb::client {

class ClientSession;

// What a Call item (the Buddy menu's, the toolbar's, a detached window's button) offers for a
// buddy now: "Call" while nothing is on, "Hang Up" during a call with that buddy (or while it
// rings); disabled, with the reason in its tooltip, where no call can be made: a call with
// someone else is on, or the buddy's client never said it takes calls (an older Confabo, or no
// encrypted session with it yet).
struct CallOffer {
    QString text;
    bool enabled = false;
    QString toolTip;
    bool hangsUp = false; // the item ends the call with the buddy

    static CallOffer of(ClientSession& session, const QString& handle);
};

} // namespace cfb::client
