#include "Storage.h"

namespace cfb::service {

std::vector<std::optional<UserPresence>> Storage::presences(std::span<const int32_t> userIds)
{
    std::vector<std::optional<UserPresence>> found;
    found.reserve(userIds.size());
    for (const int32_t id : userIds)
        found.push_back(presence(id));
    return found;
}

bool Storage::setStatus(const Caller& caller, int32_t status)
{
    OwnChange change;
    change.caller = caller;
    change.field = OwnChange::Field::Status;
    change.status = status;
    return applyChanges({&change, 1}).front();
}

bool Storage::setPassword(const Caller& caller, const QByteArray& passwordHash)
{
    OwnChange change;
    change.caller = caller;
    change.field = OwnChange::Field::Password;
    change.passwordHash = passwordHash;
    return applyChanges({&change, 1}).front();
}

bool Storage::setEmail(const Caller& caller, const QString& email)
{
    OwnChange change;
    change.caller = caller;
    change.field = OwnChange::Field::Email;
    change.email = email;
    return applyChanges({&change, 1}).front();
}

bool Storage::setMouth(const Caller& caller, int16_t mouthTop, int16_t mouthLeft)
{
    OwnChange change;
    change.caller = caller;
    change.field = OwnChange::Field::Mouth;
    change.mouthTop = mouthTop;
    change.mouthLeft = mouthLeft;
    return applyChanges({&change, 1}).front();
}

} // namespace cfb::service
