#pragma once

#include "HttpServer.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace cfb::service {

class FormFields;
class PasswordHasher;
class Storage;

// The service's operations: reads the form of each request, applies it to the storage and
// builds the reply. A refusal (wrong password, unknown user, a change from an address that is not
// signed in as the user, bad input) is an empty reply body, which clients read as "no content".
class ServiceOperations {
public:
    static constexpr int MaxListedUsers = 1000;

    ServiceOperations(Storage& storage, const PasswordHasher& hasher, std::string path, bool logRequests);

    HttpResponse handle(const HttpRequest& request);

private:
    struct Call; // one request being answered
    using Reply = std::optional<QByteArray>; // nullopt: refused

    Reply dispatch(Call& call);
    Reply login(Call& call);
    Reply logout(Call& call);
    Reply userUpdate(Call& call);
    Reply userFind(Call& call);
    Reply userInfo(Call& call);
    Reply userAvatar(Call& call);
    Reply buddyList(Call& call);
    Reply buddyAdd(Call& call);
    Reply buddyRemove(Call& call);
    Reply blockList(Call& call);
    Reply userBlock(Call& call);
    Reply userUnblock(Call& call);
    Reply userList(Call& call);
    Reply userInsert(Call& call);
    Reply avatarUpdate(Call& call);

    Storage& storage_;
    const PasswordHasher& hasher_;
    std::string path_;
    bool logRequests_;
};

} // namespace cfb::service
