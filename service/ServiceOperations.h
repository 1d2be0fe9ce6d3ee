#pragma once

#include "HttpServer.h"
#include "RelayAddresses.h"
#include "Storage.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace cfb::service {

class AddressRateLimiter;
class FormFields;
class GroupCommit;
class HashingPool;
class PresenceLookups;
class PasswordHasher;
class TurnCredentials;

// The service's operations: reads the form of each request, applies it to the storage and
// builds the reply. A refusal (wrong password, unknown user, a change from an address that is not
// signed in as the user, bad input) is an empty reply body, which clients read as "no content".
// Operations that hash a password (sign-in, registration, password change) cost their address a
// token and run on the hashing pool; with no token left or the pool's queue full they are refused
// at once. A user's change to their own status, e-mail address or mouth position is committed
// with the others arriving at the same moment (GroupCommit), and answered once it is; where the
// store gathers lookups, presence lookups are gathered the same way (PresenceLookups).
class ServiceOperations {
public:
    static constexpr int MaxListedUsers = 1000;

    // Lines a MAIL_TAKE hands out at most, and their sealed bytes (past the first line).
    static constexpr int MaxTakenLines = 100;
    static constexpr int64_t MaxTakenBytes = 1024 * 1024;

    // `lookups` may be null: every lookup is then made on the thread that reads its request.
    // `mailLimiter` is spent per sender (by user id) for every line stored in a mailbox.
    ServiceOperations(Storage& storage, const PasswordHasher& hasher, HashingPool& hashing, GroupCommit& commits,
        PresenceLookups* lookups, AddressRateLimiter& hashLimiter, AddressRateLimiter& mailLimiter, std::string path,
        bool logRequests, MailLimits mailLimits = {});

    // Answers through `respond`, now or later from the hashing pool, the group commit or the
    // presence lookups.
    void handle(const HttpRequest& request, const HttpServer::Respond& respond);
    // With a relay: each sign-in (and TURN_CREDENTIALS) hands out credentials for it; may be null.
    void setTurnCredentials(const TurnCredentials* turn) { turn_ = turn; }

private:
    struct Call; // one request being answered
    struct Outcome; // what the log line says about it
    using Reply = std::optional<QByteArray>; // nullopt: refused

    // Work an operation may leave to a batch instead of doing it on the request's thread.
    struct Deferred {
        std::optional<OwnChange> change; // answered with the reply once committed
        std::optional<int32_t> lookup; // the user whose presence is the reply
    };

    // The reply; when `deferred` is given, an operation may leave its work there instead.
    HttpResponse answer(
        const HttpRequest& request, const FormFields& fields, Outcome& outcome, Deferred* deferred = nullptr);
    void commitThenRespond(const HttpRequest& request, OwnChange change, HttpResponse response, Outcome outcome,
        HttpServer::Respond respond);
    void lookUpThenRespond(const HttpRequest& request, int32_t userId, Outcome outcome, HttpServer::Respond respond);
    Reply makeOwnChange(Call& call, OwnChange change);
    // The presence as a USER_INFO reply to a request from requesterAddress.
    Reply presenceReply(int32_t userId, const std::optional<UserPresence>& presence, const QString& requesterAddress) const;
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
    Reply turnCredentials(Call& call);
    Reply relayAddress(Call& call);
    // Whether the caller's address is the one the user is signed in from.
    bool signedInFrom(Call& call, int32_t userId);
    Reply mailPut(Call& call);
    Reply mailTake(Call& call);
    Reply mailAck(Call& call);

    Storage& storage_;
    const PasswordHasher& hasher_;
    HashingPool& hashing_;
    GroupCommit& commits_;
    PresenceLookups* lookups_;
    AddressRateLimiter& hashLimiter_;
    AddressRateLimiter& mailLimiter_;
    MailLimits mailLimits_;
    std::string path_;
    bool logRequests_;
    const TurnCredentials* turn_ = nullptr;
    RelayAddresses relays_;
};

} // namespace cfb::service
