#include "session/CallOffer.h"

#include "audio/CallSession.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/ClientSession.h"

namespace cfb::client {

CallOffer CallOffer::of(ClientSession& session, const QString& handle)
{
    CallOffer offer{QStringLiteral("Call")};
    Confabo* library = session.library();
    CallSession* calls = library ? library->calls() : nullptr;
    if (handle.isEmpty()) {
        offer.toolTip = QStringLiteral("Select a buddy to call");
        return offer;
    }
    if (!calls) {
        offer.toolTip = QStringLiteral("Calls need a data port of your own");
        return offer;
    }
    if (calls->state() != CallSession::State::Idle) {
        if (calls->peer().compare(handle, Qt::CaseInsensitive) == 0) {
            offer.text = QStringLiteral("Hang Up");
            offer.enabled = offer.hangsUp = true;
            offer.toolTip = QStringLiteral("End the call with %1").arg(handle);
        } else {
            offer.toolTip = QStringLiteral("You are on a call with %1").arg(calls->peer());
        }
        return offer;
    }
    const std::shared_ptr<Buddy> buddy = library->Buddies()->Item(handle);
    if (!buddy || !library->takesCalls(*buddy)) {
        offer.toolTip = QStringLiteral("%1's Confabo cannot take calls (an older version), or %1 is not online").arg(handle);
        return offer;
    }
    offer.enabled = true;
    offer.toolTip = QStringLiteral("Call %1").arg(handle);
    return offer;
}

} // namespace cfb::client
