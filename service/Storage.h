#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace cfb::service {

// A storage failure (the database cannot be opened, a statement fails). The request that met it
// gets an empty reply; the service keeps running.
class StorageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct UserRecord {
    int32_t id = 0;
    QString handle;
    QString email;
    QByteArray passwordHash; // argon2id string as made by PasswordHasher
    int32_t status = 0;
    QString ip;
    int16_t mouthTop = 0;
    int16_t mouthLeft = 0;
};

struct NewUser {
    QString handle;
    QString email;
    QByteArray passwordHash;
    int16_t mouthTop = 0;
    int16_t mouthLeft = 0;
    QString address; // network address the registration came from
};

struct UserPresence {
    int32_t status = 0;
    QString ip;
    int16_t mouthTop = 0;
    int16_t mouthLeft = 0;
    QString boundAddress; // the address the last sign-in came from
    QString localIp; // the local address the user's machine gave at that sign-in, if any
    QByteArray publicKey; // the 32-byte X25519 key that sign-in gave; empty when it gave none
    QString ip6; // the IPv6 address of that sign-in, if any
};

struct BuddyRecord {
    int32_t buddyId = 0; // id of the relation
    int32_t userId = 0; // the buddy's user id
    QString handle;
    QString email;
};

struct UserSummary {
    int32_t userId = 0;
    QString handle;
    QString email;
};

// Who asks for a change: the account and the network address the request came from.
struct Caller {
    int32_t userId = 0;
    QString address;
};

// One change a user makes to their own record: the status, password hash, e-mail address or
// mouth position, whichever `field` names.
struct OwnChange {
    enum class Field { Status, Password, Email, Mouth };
    Caller caller;
    Field field = Field::Status;
    int32_t status = 0;
    QByteArray passwordHash;
    QString email;
    int16_t mouthTop = 0;
    int16_t mouthLeft = 0;
};

struct BuddyAddition {
    enum Result { Created, Existing, NotFound, Refused };
    Result result = NotFound;
    BuddyRecord buddy;
};

// Mail a user leaves for another who is offline. The sender's client seals it to the recipient's
// key, so the service keeps bytes it cannot read: the sealed line, the two users, its size and
// when it came. Only a user who has the sender as a buddy, and has not blocked them, takes mail
// from them.
struct MailLimits {
    int64_t maxLines = 500; // waiting for one recipient
    int64_t maxBytes = 2 * 1024 * 1024; // sealed bytes waiting for one recipient
    int64_t maxAgeSeconds = 30 * 24 * 3600; // older mail is dropped
};

struct NewMail {
    Caller sender;
    QString recipientHandle;
    QByteArray mailId; // the sender's id for the line: a second line with it from them stores nothing
    QByteArray sealed;
    int64_t now = 0; // seconds since 1970
};

struct MailPut {
    enum Result { Stored, NotBound, NoSuchUser, NotAccepted, TooManyLines, TooManyBytes, TooFast };
    Result result = NotBound;
    QString recipientHandle; // as the recipient spells it; empty for NoSuchUser and NotBound
};

struct MailLine {
    int64_t id = 0; // the service's, which MAIL_ACK names
    int32_t senderId = 0;
    QString senderHandle;
    QByteArray mailId;
    QByteArray sealed;
    int64_t storedAt = 0; // seconds since 1970
};

struct MailBatch {
    std::vector<MailLine> lines;
    bool more = false; // more is waiting than this batch holds
};

// Everything the service keeps. Handles compare without regard to letter case. Every change made
// on behalf of a Caller applies only when the caller's address is the one that last signed in as
// that user (or registered it, before its first sign-in); otherwise nothing changes and the call
// reports false or Refused. Implementations are safe to call from many threads at once.
class Storage {
public:
    virtual ~Storage() = default;

    virtual std::optional<UserRecord> userByHandle(const QString& handle) = 0;
    virtual std::optional<UserPresence> presence(int32_t userId) = 0;
    // Several users' presence at once, an element per id (nullopt for an unknown user).
    virtual std::vector<std::optional<UserPresence>> presences(std::span<const int32_t> userIds);
    // Whether lookups are worth gathering into one call: true where each costs a round trip to a
    // database server.
    virtual bool gathersLookups() const { return false; }
    // The user's picture (empty when none); nullopt for an unknown user.
    virtual std::optional<QByteArray> avatar(int32_t userId) = 0;
    // The lists are nullopt for an unknown user.
    virtual std::optional<std::vector<BuddyRecord>> buddies(int32_t userId) = 0;
    virtual std::optional<std::vector<QString>> blockedHandles(int32_t userId) = 0;
    // Users available now other than the asking one, at most `limit` of them.
    virtual std::optional<std::vector<UserSummary>> availableUsers(int32_t askingUserId, int limit) = 0;

    // The new user's id, or nullopt when the handle is taken.
    virtual std::optional<int32_t> insertUser(const NewUser& user) = 0;
    // Marks the user available at `ip` (and `ip6`), bound to `address`, with the machine's own
    // `localIp` and the client's `publicKey` (each empty when not given; an empty key replaces the
    // one kept); returns the number of earlier sign-ins, nullopt for an unknown user.
    virtual std::optional<int64_t> signIn(int32_t userId, const QString& ip, const QString& address,
        const QString& localIp = QString(), const QByteArray& publicKey = QByteArray(), const QString& ip6 = QString())
        = 0;

    // Makes the changes in order, each as if on its own, and commits them together (one
    // transaction, so several cost about as much as one); element i is true when change i applied.
    // Throws StorageError when they could not be made, and then none of them is.
    virtual std::vector<bool> applyChanges(std::span<const OwnChange> changes) = 0;
    // One change each.
    bool setStatus(const Caller& caller, int32_t status);
    bool setPassword(const Caller& caller, const QByteArray& passwordHash);
    bool setEmail(const Caller& caller, const QString& email);
    bool setMouth(const Caller& caller, int16_t mouthTop, int16_t mouthLeft);
    virtual bool setAvatar(const Caller& caller, const QByteArray& picture) = 0;
    // Finds the buddy by handle, else by e-mail address (both ignoring letter case).
    virtual BuddyAddition addBuddy(const Caller& caller, const QString& handleOrEmail) = 0;
    // The relation is removed only when `address` is bound to the user who owns it.
    virtual bool removeBuddy(int32_t buddyId, const QString& address) = 0;
    // False also when the handle names nobody, or the caller themself.
    virtual bool block(const Caller& caller, const QString& handle) = 0;
    // True when the handle is not blocked afterwards (also when it never was).
    virtual bool unblock(const Caller& caller, const QString& handle) = 0;

    // Stores the sender's line for the recipient, or says why not. Mail older than the limits'
    // age is dropped first; the recipient's waiting lines and bytes are counted then. `admit` is
    // asked once the sender is signed in from their address and the recipient takes their mail
    // (and the line is new): false refuses it as TooFast.
    virtual MailPut putMail(const NewMail& mail, const MailLimits& limits, const std::function<bool()>& admit) = 0;
    // The recipient's waiting lines in the order they came, stored at `oldest` or later and from
    // senders the recipient has not blocked since: at most maxLines of them, and no more bytes
    // than maxBytes unless the first line alone holds more. Older lines are dropped. Nothing is
    // deleted until ackMail. nullopt when the caller is not signed in from their address.
    virtual std::optional<MailBatch> takeMail(const Caller& recipient, int64_t oldest, int maxLines, int64_t maxBytes)
        = 0;
    // Deletes those of the recipient's lines; how many there were. nullopt as for takeMail.
    virtual std::optional<int64_t> ackMail(const Caller& recipient, std::span<const int64_t> ids) = 0;

    // The relayed address the user holds at the TURN relay, said (again) at `now`; an empty one
    // forgets it, and so does every setting the addresses said before `oldest`.
    virtual void setRelay(int32_t userId, const QString& address, int64_t now, int64_t oldest) = 0;
    // The user's relayed address if said at `oldest` or later, else empty.
    virtual QString relay(int32_t userId, int64_t oldest) = 0;
};

} // namespace cfb::service
