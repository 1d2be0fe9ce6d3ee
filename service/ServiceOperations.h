#pragma once

#include "HttpServer.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace cfb::service {

class AddressRateLimiter;
class FormFields;
class HashingPool;
class PasswordHasher;
class Storage;

// The service's operations: reads the form of each request, applies it to the storage and
// builds the reply. A refusal (wrong password, unknown user, a change from an address that is not
// signed in as the user, bad input) is an empty reply body, which clients read as "no content".
// Operations that hash a password (sign-in, registration, password change) cost their address a
// token and run on the hashing pool; with no token left or the pool's queue full they are refused
// at once.
class ServiceOperations {
public:
    static constexpr int MaxListedUsers = 1000;

    ServiceOperations(Storage& storage, const PasswordHasher& hasher, HashingPool& hashing,
        AddressRateLimiter& hashLimiter, std::string path, bool logRequests);

    // Answers through `respond`, now or later from the hashing pool.
    void handle(const HttpRequest& request, const HttpServer::Respond& respond);

private:
    struct Call; // one request being answered
    struct Outcome; // what the log line says about it
    using Reply = std::optional<QByteArray>; // nullopt: refused

    HttpResponse answer(const HttpRequest& request, const FormFields& fields, Outcome& outcome);
    void log(const HttpRequest& request, const Outcome& outcome) const;
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
    HashingPool& hashing_;
    AddressRateLimiter& hashLimiter_;
    std::string path_;
    bool logRequests_;
};

} // namespace cfb::service
