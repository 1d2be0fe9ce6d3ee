#include "session/BuddyLookup.h"

#include "messaging/Buddies.h"
#include "messaging/Confabo.h"
#include "messaging/modINET.h"

#include <QHash>

namespace cfb::client::BuddyLookup {
namespace {

// Users who are no buddies, as the service thread looks them up: one object each, so that each is
// asked about once an interval like a buddy.
QHash<QString, std::shared_ptr<cfb::Buddy>>& strangers()
{
    thread_local QHash<QString, std::shared_ptr<cfb::Buddy>> known;
    return known;
}

// Whether the last request of this thread got no reply at all.
bool serviceMissing()
{
    return !ServiceChannel::current().lastFailure.isEmpty();
}

LookedUpUser lookUp(cfb::Buddy& buddy)
{
    LookedUpUser user;
    user.userID = buddy.BuddyUserID();
    user.handle = buddy.handle();
    user.email = buddy.Email();
    user.found = true;
    user.values = buddy.lookUp();
    // Only a buddy who is signed in (available or busy) has a tab to show the avatar on; and
    // after a lookup that found no service, the avatar would only wait for it once more.
    if ((user.values.status == CFB_AVAILABLE || user.values.status == CFB_BUSY) && !serviceMissing()) {
        user.values.avatar = buddy.Avatar();
        user.values.defaultAvatar = buddy.usesDefaultAvatar();
    }
    return user;
}

} // namespace

QList<LookedUpUser> everyone(cfb::Confabo& service, const QList<LookedUpUser>& others)
{
    // Lookups that are due ask the service; once one finds no service, the rest of this poll
    // keeps the values it had instead of waiting for it once per buddy.
    ServiceChannel::current().lastFailure.clear();
    QList<LookedUpUser> found;
    for (const auto& buddy : *service.Buddies()) {
        if (serviceMissing())
            return found;
        found.append(lookUp(*buddy));
    }
    QHash<QString, std::shared_ptr<cfb::Buddy>> kept;
    for (const LookedUpUser& other : others) {
        std::shared_ptr<cfb::Buddy> buddy = strangers().value(other.handle);
        if (!buddy || buddy->BuddyUserID() != other.userID) {
            cfb::Buddies one;
            buddy = one.Add(0, other.userID, other.handle, other.email);
        }
        kept.insert(other.handle, buddy);
        if (!serviceMissing())
            found.append(lookUp(*buddy));
    }
    strangers() = std::move(kept);
    return found;
}

LookedUpUser buddy(cfb::Buddy& buddy)
{
    LookedUpUser user = lookUp(buddy);
    user.values.avatar = buddy.Avatar();
    user.values.defaultAvatar = buddy.usesDefaultAvatar();
    return user;
}

LookedUpUser stranger(const QString& handle)
{
    cfb::Buddy user;
    if (!user.LoadByHandle(handle)) {
        LookedUpUser unknown;
        unknown.handle = handle;
        return unknown;
    }
    return buddy(user);
}

QImage avatar(int32_t userID, const QString& handle)
{
    cfb::Buddies one;
    return one.Add(0, userID, handle, QString())->Avatar();
}

std::shared_ptr<cfb::Buddy> strangerBuddy(const LookedUpUser& user)
{
    cfb::Buddies one;
    std::shared_ptr<cfb::Buddy> buddy = one.Add(0, user.userID, user.handle, user.email);
    buddy->setLooksUp(false);
    if (user.found)
        buddy->adopt(user.values);
    return buddy;
}

void adopt(const QList<LookedUpUser>& users, cfb::Confabo& library,
    const std::function<std::shared_ptr<cfb::Buddy>(const QString&)>& others)
{
    const std::shared_ptr<cfb::Buddies> buddies = library.Buddies();
    for (const LookedUpUser& user : users) {
        std::shared_ptr<cfb::Buddy> buddy = buddies->Item(user.handle);
        if (!buddy && others)
            buddy = others(user.handle);
        if (buddy && !buddy->looksUp())
            buddy->adopt(user.values);
    }
}

} // namespace cfb::client::BuddyLookup
