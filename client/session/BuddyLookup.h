#pragma once

#include "messaging/Buddy.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace cfb {
class Confabo;
} // namespace cfb

namespace cfb::client {

// A user the service knows: who it is, and what was looked up for them.
struct LookedUpUser {
    int32_t userID = 0;
    QString handle;
    QString email;
    bool found = false; // false: the service did not know the handle (or was not reached)
    cfb::BuddyLookups values;
};

// Lookups made on the service thread, for buddies on the user-interface thread to adopt.
namespace BuddyLookup {

// Every buddy's presence, address and mouth, each looked up at most once a polling interval, with
// the avatar of those available; and the same for the others named (users on tabs who are no
// buddies), kept between calls on this thread.
QList<LookedUpUser> everyone(cfb::Confabo& service, const QList<LookedUpUser>& others);

// One buddy, avatar and all.
LookedUpUser buddy(cfb::Buddy& buddy);

// A user who is no buddy, by handle.
LookedUpUser stranger(const QString& handle);

// A user's avatar (the default picture when there is none), by user id.
QImage avatar(int32_t userID, const QString& handle);

// A buddy object for a user who is no buddy, showing what was looked up and never asking itself.
std::shared_ptr<cfb::Buddy> strangerBuddy(const LookedUpUser& user);

// Hands the values over to the buddies of service (by handle), or to others (by handle).
void adopt(const QList<LookedUpUser>& users, cfb::Confabo& library,
    const std::function<std::shared_ptr<cfb::Buddy>(const QString&)>& others);

} // namespace BuddyLookup

} // namespace cfb::client
