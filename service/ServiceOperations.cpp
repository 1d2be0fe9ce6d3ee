#include "ServiceOperations.h"

#include "AddressRateLimiter.h"
#include "BadRequest.h"
#include "FormFields.h"
#include "GroupCommit.h"
#include "HashingPool.h"
#include "Ipv6Text.h"
#include "MailFields.h"
#include "MultipartForm.h"
#include "PasswordHasher.h"
#include "PresenceLookups.h"
#include "PublicKeyField.h"
#include "RelayAddresses.h"
#include "Storage.h"
#include "TurnCredentials.h"
#include "WireText.h"
#include "XmlReply.h"
#include "protocol/AccountRules.h"

#include <QDateTime>

#include <chrono>
#include <cstdio>
#include <limits>

namespace cfb::service {

using namespace Qt::StringLiterals;

namespace {

constexpr int64_t MaxId = std::numeric_limits<int32_t>::max();
constexpr int64_t MinShort = std::numeric_limits<int16_t>::min();
constexpr int64_t MaxShort = std::numeric_limits<int16_t>::max();
constexpr qsizetype MaxLookup = 254; // a handle or an e-mail address to look up
constexpr qsizetype MaxPassword = 512;
constexpr qsizetype MaxEmail = 254;
constexpr qsizetype MaxIp = 255;

QByteArray done()
{
    return XmlReply().rootText(u"1").finish();
}

// Only a new account's handle: existing accounts with shorter handles keep working.
bool validHandle(const QString& handle)
{
    return AccountRules::hasNewHandleLength(handle) && !AccountRules::hasForbiddenHandleCharacter(handle);
}

// Pictures the clients can show: GIF, JPEG, BMP, PNG.
bool looksLikePicture(const QByteArray& bytes)
{
    return bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a") || bytes.startsWith("\xFF\xD8\xFF")
        || bytes.startsWith("BM") || bytes.startsWith("\x89PNG\r\n\x1A\n");
}

int64_t secondsSince1970()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A line the mailbox did not take, with the reason its sender is shown.
QByteArray mailRefused(const QString& reason)
{
    return XmlReply().element("stored", 0).element("message", reason).finish();
}

bool samePath(const std::string& a, const std::string& b)
{
    return QByteArrayView(a).compare(QByteArrayView(b), Qt::CaseInsensitive) == 0;
}

// Sign-in, registration and a password change run argon2id.
bool costsAHash(const FormFields& fields)
{
    const QByteArray* mode = fields.find("mode");
    if (!mode)
        return false;
    return *mode == "LOGIN" || *mode == "USER_INSERT" || (*mode == "USER_UPDATE" && fields.has("password"));
}

} // namespace

struct ServiceOperations::Call {
    const FormFields& fields;
    const std::string& address;
    Deferred* deferred = nullptr; // where work may be left for a batch
    int32_t userId = 0; // for the log

    int32_t id(const char* name)
    {
        const auto value = int32_t(fields.integer(name, 1, MaxId));
        if (userId == 0)
            userId = value;
        return value;
    }
    Caller caller() { return Caller{id("user_id"), QString::fromStdString(address)}; }
};

struct ServiceOperations::Outcome {
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    QByteArray mode = "-";
    int32_t userId = 0;
    const char* result = "ok";
    std::string reason;
};

ServiceOperations::ServiceOperations(Storage& storage, const PasswordHasher& hasher, HashingPool& hashing,
    GroupCommit& commits, PresenceLookups* lookups, AddressRateLimiter& hashLimiter, AddressRateLimiter& mailLimiter,
    std::string path, bool logRequests, MailLimits mailLimits)
    : storage_(storage)
    , hasher_(hasher)
    , hashing_(hashing)
    , commits_(commits)
    , lookups_(lookups)
    , hashLimiter_(hashLimiter)
    , mailLimiter_(mailLimiter)
    , mailLimits_(mailLimits)
    , path_(std::move(path))
    , logRequests_(logRequests)
    , relays_(storage)
{
}

void ServiceOperations::handle(const HttpRequest& request, const HttpServer::Respond& respond)
{
    Outcome outcome;
    HttpResponse response;
    if (!samePath(request.path, path_)) {
        response.status = 404;
        outcome.result = "not-found";
    } else {
        std::optional<FormFields> fields;
        if (request.contentType.trimmed().startsWith("multipart/form-data"))
            fields = MultipartForm::parse(request.body, MultipartForm::boundaryOf(request.contentType));
        else
            fields = FormFields::parseUrlEncoded(request.body);
        if (const QByteArray* m = fields ? fields->find("mode") : nullptr)
            outcome.mode = m->left(32);
        if (!fields) {
            outcome.result = "bad-request";
            outcome.reason = "malformed body";
        } else if (!costsAHash(*fields)) {
            Deferred deferred;
            response = answer(request, *fields, outcome, &deferred);
            if (deferred.change)
                return commitThenRespond(request, std::move(*deferred.change), std::move(response), outcome, respond);
            if (deferred.lookup)
                return lookUpThenRespond(request, *deferred.lookup, outcome, respond);
        } else if (!hashLimiter_.take(request.peerAddress)) {
            outcome.result = "throttled";
            outcome.reason = "too many sign-ins from this address";
        } else {
            const bool queued
                = hashing_.submit([this, request, fields = std::move(*fields), outcome, respond]() mutable {
                      HttpResponse later = answer(request, fields, outcome);
                      log(request, outcome);
                      respond(std::move(later));
                  });
            if (queued)
                return;
            outcome.result = "busy";
            outcome.reason = "the hashing queue is full";
        }
    }
    log(request, outcome);
    respond(std::move(response));
}

void ServiceOperations::commitThenRespond(
    const HttpRequest& request, OwnChange change, HttpResponse response, Outcome outcome, HttpServer::Respond respond)
{
    commits_.submit(std::move(change),
        [this, request, response = std::move(response), outcome, respond = std::move(respond)](
            const GroupCommit::Result& result) mutable {
            if (!result.applied) {
                response.body.clear();
                outcome.result = result.error.empty() ? "refused" : "error";
                outcome.reason = result.error;
            }
            log(request, outcome);
            respond(std::move(response));
        });
}

void ServiceOperations::lookUpThenRespond(
    const HttpRequest& request, int32_t userId, Outcome outcome, HttpServer::Respond respond)
{
    lookups_->submit(
        userId, [this, userId, request, outcome, respond = std::move(respond)](const PresenceLookups::Result& result) mutable {
            HttpResponse response;
            std::string error = result.error;
            try {
                // The reply reads the relay table too, outside the batch: a lost database fails
                // this request here rather than escaping into the lookup thread.
                if (const Reply reply
                    = presenceReply(userId, result.presence, QString::fromStdString(request.peerAddress)))
                    response.body = *reply;
            } catch (const std::exception& e) {
                error = e.what();
            }
            if (response.body.isEmpty()) {
                outcome.result = error.empty() ? "refused" : "error";
                outcome.reason = error;
            }
            log(request, outcome);
            respond(std::move(response));
        });
}

HttpResponse ServiceOperations::answer(
    const HttpRequest& request, const FormFields& fields, Outcome& outcome, Deferred* deferred)
{
    HttpResponse response;
    Call call{fields, request.peerAddress, deferred};
    try {
        const Reply reply = dispatch(call);
        if (reply)
            response.body = *reply;
        else
            outcome.result = "refused";
    } catch (const BadRequest& e) {
        outcome.result = "bad-request";
        outcome.reason = e.what();
    } catch (const std::exception& e) {
        outcome.result = "error";
        outcome.reason = e.what();
    }
    outcome.userId = call.userId;
    return response;
}

void ServiceOperations::log(const HttpRequest& request, const Outcome& outcome) const
{
    if (!logRequests_)
        return;
    const auto micros
        = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - outcome.started)
              .count();
    QByteArray mode = outcome.mode;
    for (char& c : mode) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e)
            c = '?'; // keep the log one line of plain text
    }
    char line[512];
    const int n = std::snprintf(line, sizeof line, "%s user=%d from=%s %s %lldus%s%s\n", mode.constData(),
        outcome.userId, request.peerAddress.c_str(), outcome.result, static_cast<long long>(micros),
        outcome.reason.empty() ? "" : " ", outcome.reason.c_str());
    std::fwrite(line, 1, size_t(std::min<int>(n, sizeof line - 1)), stderr);
}

ServiceOperations::Reply ServiceOperations::dispatch(Call& call)
{
    using Operation = Reply (ServiceOperations::*)(Call&);
    static const struct {
        const char* mode;
        Operation operation;
    } operations[] = {
        {"LOGIN", &ServiceOperations::login},
        {"LOGOUT", &ServiceOperations::logout},
        {"USER_UPDATE", &ServiceOperations::userUpdate},
        {"USER_FIND", &ServiceOperations::userFind},
        {"USER_INFO", &ServiceOperations::userInfo},
        {"USER_AVATAR", &ServiceOperations::userAvatar},
        {"BUDDY_LIST", &ServiceOperations::buddyList},
        {"BUDDY_ADD", &ServiceOperations::buddyAdd},
        {"BUDDY_REMOVE", &ServiceOperations::buddyRemove},
        {"BLOCK_LIST", &ServiceOperations::blockList},
        {"USER_BLOCK", &ServiceOperations::userBlock},
        {"USER_UNBLOCK", &ServiceOperations::userUnblock},
        {"USER_LIST", &ServiceOperations::userList},
        {"USER_INSERT", &ServiceOperations::userInsert},
        {"AVATAR_UPDATE", &ServiceOperations::avatarUpdate},
        {"TURN_CREDENTIALS", &ServiceOperations::turnCredentials},
        {"RELAY_ADDRESS", &ServiceOperations::relayAddress},
        {"MAIL_PUT", &ServiceOperations::mailPut},
        {"MAIL_TAKE", &ServiceOperations::mailTake},
        {"MAIL_ACK", &ServiceOperations::mailAck},
    };
    const QByteArray mode = call.fields.bytes("mode", 32);
    for (const auto& entry : operations) {
        if (mode == entry.mode)
            return (this->*entry.operation)(call);
    }
    throw BadRequest("unknown mode");
}

ServiceOperations::Reply ServiceOperations::login(Call& call)
{
    const QString handle = call.fields.text("handle", MaxLookup);
    const QString password = call.fields.text("password", MaxPassword);
    const QByteArray passwordBytes = call.fields.bytes("password", MaxPassword);
    const QString ip = call.fields.has("ip") ? call.fields.text("ip", MaxIp).trimmed() : QString();
    const QString localIp = call.fields.has("local_ip") ? call.fields.text("local_ip", MaxIp).trimmed() : QString();
    const QString claimedIp6 = call.fields.has("ip6") ? call.fields.text("ip6", MaxIp) : QString();
    // Read before anything is looked up: a malformed key refuses the sign-in as a whole. A sign-in
    // without one clears the key kept, as the client signed in now cannot decrypt: buddies must not
    // encrypt to it.
    const QByteArray publicKey = PublicKeyField::read(call.fields);

    const std::optional<UserRecord> user = storage_.userByHandle(handle);
    if (!user) {
        hasher_.verifyNothing(passwordBytes);
        return std::nullopt;
    }
    call.userId = user->id;
    if (!hasher_.verify(user->passwordHash, passwordBytes))
        return std::nullopt;
    // An empty address asks the service to take the one the request came from.
    const QString address = QString::fromStdString(call.address);
    // A sign-in over IPv6 says the user's IPv6 address, and no IPv4 one: clients that know only
    // IPv4 get none rather than one they cannot read. Over IPv4, the client's own word for its
    // IPv6 address is taken as its word for `ip` is, if it is a unicast literal.
    const QString sourceIp6 = Ipv6Text::usable(address);
    const bool overIpv6 = address.contains(QLatin1Char(':'));
    const QString ip6 = overIpv6 ? sourceIp6 : Ipv6Text::usable(claimedIp6);
    // A named address (the "hostname" setting) is the one everybody gets; only a user who names
    // none is reached at the machine's own address from behind the same router.
    const std::optional<int64_t> earlier
        = storage_.signIn(user->id, ip.isEmpty() ? (overIpv6 ? QString() : address) : ip, address,
            ip.isEmpty() ? localIp : QString(), publicKey, ip6);
    if (!earlier)
        return std::nullopt;

    XmlReply reply;
    if (*earlier == 0) {
        reply.element("message",
            QStringLiteral("Welcome to Confabo, %1! Add your buddies by handle or e-mail address to see when they "
                           "are online.")
                .arg(user->handle));
    }
    reply.element("user_id", user->id)
        .element("handle", user->handle)
        .element("password", password)
        .element("email", user->email)
        .element("mouth_left", user->mouthLeft)
        .element("mouth_top", user->mouthTop)
        .base64Element("avatar", storage_.avatar(user->id).value_or(QByteArray()));
    // After everything older clients read by path: the relay and credentials for it.
    relays_.set(user->id, QString(), QDateTime::currentSecsSinceEpoch());
    if (turn_)
        turn_->appendTo(reply, user->id);
    return reply.finish();
}

bool ServiceOperations::signedInFrom(Call& call, int32_t userId)
{
    const std::optional<UserPresence> presence = storage_.presence(userId);
    return presence && presence->status != 0 && !presence->boundAddress.isEmpty()
        && presence->boundAddress == QString::fromStdString(call.address);
}

// New relay credentials before the ones of the sign-in expire.
ServiceOperations::Reply ServiceOperations::turnCredentials(Call& call)
{
    const int32_t userId = call.id("user_id");
    if (!turn_ || !signedInFrom(call, userId))
        return std::nullopt;
    XmlReply reply;
    turn_->appendTo(reply, userId);
    return reply.finish();
}

// The relayed address the user now holds ("a.b.c.d:port"), or none (empty).
ServiceOperations::Reply ServiceOperations::relayAddress(Call& call)
{
    const int32_t userId = call.id("user_id");
    const QString relay = call.fields.text("relay", 32).trimmed();
    if (!relay.isEmpty() && !RelayAddresses::wellFormed(relay))
        throw BadRequest("relay is not IPV4:PORT");
    if (!signedInFrom(call, userId))
        return std::nullopt;
    relays_.set(userId, relay, QDateTime::currentSecsSinceEpoch());
    return done();
}

ServiceOperations::Reply ServiceOperations::logout(Call& call)
{
    OwnChange change;
    change.caller = call.caller();
    change.field = OwnChange::Field::Status;
    change.status = 0;
    // A relayed address is of no use to anybody once its holder is gone.
    if (signedInFrom(call, change.caller.userId))
        relays_.set(change.caller.userId, QString(), QDateTime::currentSecsSinceEpoch());
    return makeOwnChange(call, std::move(change));
}

ServiceOperations::Reply ServiceOperations::makeOwnChange(Call& call, OwnChange change)
{
    if (call.deferred) {
        call.deferred->change = std::move(change);
        return done(); // sent once the change is committed
    }
    return storage_.applyChanges({&change, 1}).front() ? Reply(done()) : std::nullopt;
}

ServiceOperations::Reply ServiceOperations::userUpdate(Call& call)
{
    const FormFields& f = call.fields;
    const int kinds = int(f.has("status")) + int(f.has("password")) + int(f.has("email"))
        + int(f.has("mouth_top") || f.has("mouth_left"));
    if (kinds != 1)
        throw BadRequest("USER_UPDATE needs exactly one of status, password, email, mouth");
    using Field = OwnChange::Field;
    OwnChange change;
    change.caller = call.caller();
    if (f.has("status")) {
        change.field = Field::Status;
        change.status = int32_t(f.integer("status", 0, 2));
    } else if (f.has("password")) {
        (void)f.text("password", MaxPassword); // no control characters
        const QByteArray password = f.bytes("password", MaxPassword);
        if (password.isEmpty())
            throw BadRequest("empty password");
        change.field = Field::Password;
        change.passwordHash = hasher_.hash(password);
    } else if (f.has("email")) {
        change.field = Field::Email;
        change.email = f.text("email", MaxEmail).trimmed();
    } else {
        change.field = Field::Mouth;
        change.mouthTop = int16_t(f.integer("mouth_top", MinShort, MaxShort));
        change.mouthLeft = int16_t(f.integer("mouth_left", MinShort, MaxShort));
    }
    return makeOwnChange(call, std::move(change));
}

ServiceOperations::Reply ServiceOperations::userFind(Call& call)
{
    const std::optional<UserRecord> user = storage_.userByHandle(call.fields.text("handle", MaxLookup));
    if (!user)
        return std::nullopt;
    return XmlReply().element("user_id", user->id).element("email", user->email).finish();
}

ServiceOperations::Reply ServiceOperations::userInfo(Call& call)
{
    const int32_t userId = call.id("user_id");
    if (call.deferred && lookups_) {
        call.deferred->lookup = userId;
        return QByteArray(); // the reply comes with the presence
    }
    return presenceReply(userId, storage_.presence(userId), QString::fromStdString(call.address));
}

ServiceOperations::Reply ServiceOperations::presenceReply(
    int32_t userId, const std::optional<UserPresence>& presence, const QString& requesterAddress) const
{
    if (!presence)
        return std::nullopt;
    // Peers need the address only to reach a user who is online; an offline user's last address
    // is nobody's business. A requester at the user's own public address sits behind the same
    // router, which seldom loops datagrams back in: it gets the machine's local address.
    const bool online = presence->status != 0;
    const bool sameHome
        = !presence->localIp.isEmpty() && !requesterAddress.isEmpty() && requesterAddress == presence->boundAddress;
    XmlReply reply;
    reply.element("status", presence->status)
        .element("ip", online ? (sameHome ? presence->localIp : presence->ip) : QString())
        .element("mouth_top", presence->mouthTop)
        .element("mouth_left", presence->mouthLeft);
    // Last, so clients that read the elements above by path see no change. A public key is no
    // secret: it stays listed while the user is offline, for buddies to check it against the one
    // they know. A user whose client gave none gets no element.
    if (!presence->publicKey.isEmpty())
        reply.element("public_key", QString::fromLatin1(presence->publicKey.toBase64()));
    // Where the user's relay takes datagrams for them, while they are online and hold one.
    if (const QString relay = online ? relays_.of(userId, QDateTime::currentSecsSinceEpoch()) : QString();
        !relay.isEmpty())
        reply.element("relay", relay);
    // The user's IPv6 address beside ip, while online; older clients read by path and never see it.
    if (online && !presence->ip6.isEmpty())
        reply.element("ip6", presence->ip6);
    return reply.finish();
}

ServiceOperations::Reply ServiceOperations::userAvatar(Call& call)
{
    const std::optional<QByteArray> picture = storage_.avatar(call.id("user_id"));
    if (!picture)
        return std::nullopt;
    return XmlReply().base64Element("avatar", *picture).finish();
}

ServiceOperations::Reply ServiceOperations::buddyList(Call& call)
{
    const auto buddies = storage_.buddies(call.id("user_id"));
    if (!buddies)
        return std::nullopt;
    XmlReply reply;
    for (const BuddyRecord& buddy : *buddies) {
        reply.open("buddy")
            .element("buddy_id", buddy.buddyId)
            .element("buddy_user_id", buddy.userId)
            .element("handle", buddy.handle)
            .element("email", buddy.email)
            .close("buddy");
    }
    return reply.finish();
}

ServiceOperations::Reply ServiceOperations::buddyAdd(Call& call)
{
    const QString wanted = call.fields.text("handle", MaxLookup).trimmed();
    const BuddyAddition addition = storage_.addBuddy(call.caller(), wanted);
    switch (addition.result) {
    case BuddyAddition::Refused:
        return std::nullopt;
    case BuddyAddition::NotFound:
        return XmlReply().element("handle", u"").finish();
    case BuddyAddition::Existing:
        return XmlReply().element("handle", addition.buddy.handle).finish();
    case BuddyAddition::Created:
        break;
    }
    return XmlReply()
        .element("buddy_id", addition.buddy.buddyId)
        .element("buddy_user_id", addition.buddy.userId)
        .element("handle", addition.buddy.handle)
        .element("email", addition.buddy.email)
        .finish();
}

ServiceOperations::Reply ServiceOperations::buddyRemove(Call& call)
{
    const auto buddyId = int32_t(call.fields.integer("buddy_id", 1, MaxId));
    if (!storage_.removeBuddy(buddyId, QString::fromStdString(call.address)))
        return std::nullopt;
    return done();
}

ServiceOperations::Reply ServiceOperations::blockList(Call& call)
{
    const auto blocked = storage_.blockedHandles(call.id("user_id"));
    if (!blocked)
        return std::nullopt;
    XmlReply reply;
    for (const QString& handle : *blocked)
        reply.open("blocked_user").element("handle", handle).close("blocked_user");
    return reply.finish();
}

ServiceOperations::Reply ServiceOperations::userBlock(Call& call)
{
    const Caller caller = call.caller();
    if (!storage_.block(caller, call.fields.text("handle", MaxLookup)))
        return std::nullopt;
    return done();
}

ServiceOperations::Reply ServiceOperations::userUnblock(Call& call)
{
    const Caller caller = call.caller();
    if (!storage_.unblock(caller, call.fields.text("handle", MaxLookup)))
        return std::nullopt;
    return done();
}

ServiceOperations::Reply ServiceOperations::userList(Call& call)
{
    const auto users = storage_.availableUsers(call.id("user_id"), MaxListedUsers);
    if (!users)
        return std::nullopt;
    XmlReply reply;
    for (const UserSummary& user : *users) {
        reply.open("user")
            .element("user_id", user.userId)
            .element("handle", user.handle)
            .element("email", user.email)
            .close("user");
    }
    return reply.finish();
}

ServiceOperations::Reply ServiceOperations::userInsert(Call& call)
{
    const FormFields& f = call.fields;
    NewUser user;
    user.handle = f.text("handle", AccountRules::MaxHandleLength);
    (void)f.text("password", MaxPassword);
    const QByteArray password = f.bytes("password", MaxPassword);
    user.email = f.text("email", MaxEmail).trimmed();
    user.mouthTop = int16_t(f.integer("mouth_top", MinShort, MaxShort));
    user.mouthLeft = int16_t(f.integer("mouth_left", MinShort, MaxShort));
    user.address = QString::fromStdString(call.address);
    if (!validHandle(user.handle))
        throw BadRequest("invalid handle");
    if (password.isEmpty())
        throw BadRequest("empty password");
    user.passwordHash = hasher_.hash(password);

    const std::optional<int32_t> id = storage_.insertUser(user);
    if (!id)
        return std::nullopt; // the handle is taken
    call.userId = *id;
    return XmlReply().rootText(QString::number(*id)).finish();
}

ServiceOperations::Reply ServiceOperations::avatarUpdate(Call& call)
{
    const Caller caller = call.caller();
    const QByteArray* picture = call.fields.find("avatar");
    if (!picture)
        throw BadRequest("missing field avatar");
    if (picture->size() > AccountRules::MaxAvatarSize)
        throw BadRequest("avatar larger than " + std::to_string(AccountRules::MaxAvatarSize) + " bytes");
    if (!looksLikePicture(*picture))
        throw BadRequest("avatar is not a GIF, JPEG, BMP or PNG picture");
    if (!storage_.setAvatar(caller, *picture))
        return std::nullopt;
    return done();
}

ServiceOperations::Reply ServiceOperations::mailPut(Call& call)
{
    NewMail mail;
    mail.sender = call.caller();
    mail.recipientHandle = call.fields.text("handle", MaxLookup).trimmed();
    mail.mailId = MailFields::mailId(call.fields);
    mail.sealed = MailFields::sealed(call.fields);
    mail.now = secondsSince1970();
    if (mail.sealed.size() > MailFields::MaxSealedBytes)
        return mailRefused(u"A line of more than 64 KB cannot wait in a mailbox."_s);
    const MailPut put = storage_.putMail(mail, mailLimits_, [&] {
        return mailLimiter_.take(std::to_string(mail.sender.userId));
    });
    switch (put.result) {
    case MailPut::NotBound:
        return std::nullopt;
    case MailPut::NoSuchUser:
        return mailRefused(u"There is nobody called %1."_s.arg(mail.recipientHandle));
    case MailPut::NotAccepted:
        // The same words for a blocked sender as for a stranger: a block is nobody else's business.
        return mailRefused(u"%1 takes mail only from buddies."_s.arg(put.recipientHandle));
    case MailPut::TooManyLines:
    case MailPut::TooManyBytes:
        return mailRefused(u"%1's mailbox is full."_s.arg(put.recipientHandle));
    case MailPut::TooFast:
        return mailRefused(u"Too many lines at once: wait a minute before leaving more."_s);
    case MailPut::Stored:
        break;
    }
    return XmlReply().element("stored", 1).finish();
}

ServiceOperations::Reply ServiceOperations::mailTake(Call& call)
{
    const Caller recipient = call.caller();
    const std::optional<MailBatch> batch
        = storage_.takeMail(recipient, secondsSince1970() - mailLimits_.maxAgeSeconds, MaxTakenLines, MaxTakenBytes);
    if (!batch)
        return std::nullopt;
    XmlReply reply;
    for (const MailLine& line : batch->lines) {
        reply.open("mail")
            .element("id", line.id)
            .element("from", line.senderHandle)
            .element("from_user_id", line.senderId)
            .element("mail_id", QString::fromLatin1(line.mailId))
            .element("time", line.storedAt)
            .base64Element("sealed", line.sealed)
            .close("mail");
    }
    return reply.element("more", batch->more ? 1 : 0).finish();
}

ServiceOperations::Reply ServiceOperations::mailAck(Call& call)
{
    const Caller recipient = call.caller();
    const std::vector<int64_t> ids = MailFields::ids(call.fields);
    const std::optional<int64_t> deleted = storage_.ackMail(recipient, ids);
    if (!deleted)
        return std::nullopt;
    return XmlReply().element("deleted", *deleted).finish();
}

} // namespace cfb::service
