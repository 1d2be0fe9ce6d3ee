#include "messaging/Confabo.h"

#include "audio/CallContent.h"
#include "audio/CallSession.h"

#include "channel/ChannelDatagram.h"
#include "channel/Identity.h"
#include "channel/KeyPins.h"
#include "channel/SafetyNumber.h"
#include "channel/SecureChannel.h"
#include "channel/VideoContent.h"
#include "imaging/modPic.h"
#include "messaging/ConfaboError.h"
#include "messaging/DataPortSockets.h"
#include "messaging/FormRequest.h"
#include "messaging/KeepAlive.h"
#include "messaging/SecureVideo.h"
#include "messaging/Mailbox.h"
#include "messaging/PeerAddresses.h"
#include "messaging/PeerDatagram.h"
#include "messaging/RequiredText.h"
#include "messaging/SenderCheck.h"
#include "messaging/TextNumbers.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "protocol/XmlText.h"
#include "transport/LocalAddress.h"
#include "transport/ivSocketUDPOptions.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QPointer>

#include <QFile>

#include <functional>

namespace cfb {
namespace {

// The objects with a data port signed in on this thread, by handle.
QHash<QString, QPointer<Confabo>>& signedInObjects()
{
    thread_local QHash<QString, QPointer<Confabo>> byHandle;
    return byHandle;
}

QByteArray readAvatarFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ConfaboError(ConfaboError::FileNotFound,
            QStringLiteral("Cannot read the avatar file %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

} // namespace

Confabo::Confabo(QObject* parent)
    : QObject(parent)
    , frames_(PeerDatagram::FrameChunkSize)
    , peerAddresses_(new PeerAddresses(this))
    , senderCheck_(new SenderCheck(*peerAddresses_, this))
    , keepAlive_(new KeepAlive(*this, *peerAddresses_))
{
    connect(senderCheck_, &SenderCheck::dropped, this, &Confabo::ForgedSendersDropped);
    attachReceiver(new ivUDP(this));
    loadIdentity();
    createChannel();
    createMailbox();
    loadChannelSettings();
    blockAllData_ = toBoolean(Settings::BlockAllData.read());
    if (!blockAllData_)
        bindReceiver();
}

Confabo::Confabo(NoDataPort, QObject* parent)
    : QObject(parent)
    , frames_(PeerDatagram::FrameChunkSize)
    , peerAddresses_(new PeerAddresses(this))
    , senderCheck_(new SenderCheck(*peerAddresses_, this))
    , keepAlive_(new KeepAlive(*this, *peerAddresses_))
{
    loadIdentity();
    loadChannelSettings();
    blockAllData_ = toBoolean(Settings::BlockAllData.read());
}

Account Confabo::account() const
{
    Account account;
    account.userID = userID_;
    account.handle = handle_;
    account.password = password_;
    account.email = email_;
    account.status = status_;
    account.avatar = avatar_;
    account.mouthLeft = mouthLeft_;
    account.mouthTop = mouthTop_;
    account.blocked = blocked_;
    account.relay = relayCredentials_;
    if (buddies_)
        for (const auto& buddy : *buddies_)
            account.buddies.append({buddy->BuddyID(), buddy->BuddyUserID(), buddy->handle(), buddy->Email()});
    return account;
}

void Confabo::adopt(const Account& account)
{
    if (account.handle != handle_) {
        DataPortSockets::remove(handle_);
        signedInObjects().remove(handle_);
    }
    userID_ = account.userID;
    handle_ = account.handle;
    password_ = account.password;
    email_ = account.email;
    status_ = account.status;
    avatar_ = account.avatar;
    mouthLeft_ = account.mouthLeft;
    mouthTop_ = account.mouthTop;
    blocked_ = account.blocked;
    takeRelayCredentials(account.relay);
    if (wsReceive_)
        DataPortSockets::set(handle_, wsReceive_);
    registerHere();
    // The object with the data port keeps the way to online buddies open while signed in.
    if (wsReceive_ && userID_ > 0 && status_ != CFB_OFFLINE && !keepAlive_->isActive())
        keepAlive_->start();

    auto buddies = std::make_shared<cfb::Buddies>();
    for (const Account::BuddyRow& row : account.buddies) {
        std::shared_ptr<Buddy> known = buddies_ ? buddies_->Item(row.handle) : nullptr;
        const bool same = known && known->BuddyID() == row.buddyID && known->BuddyUserID() == row.userID
            && known->Email() == row.email;
        const std::shared_ptr<Buddy> buddy = same
            ? buddies->Add(std::move(known), row.handle)
            : buddies->Add(row.buddyID, row.userID, row.handle, row.email, row.handle);
        buddy->setLooksUp(buddiesLookUp_);
    }
    buddies_ = buddies;
}

QString Confabo::signInAddress(const QString& hostname) const
{
    // A receiving socket bound to one address hears only there: that is where buddies must send.
    const QString boundAddress = wsReceive_ ? wsReceive_->LocalHost() : QString();
    return hostname.isEmpty() && !boundAddress.isEmpty() ? boundAddress : hostname;
}

void Confabo::attachReceiver(ivUDP* socket)
{
    wsReceive_ = socket;
    DataPortSockets::set(handle_, socket); // what this user sends leaves from here
    socket->setParent(this);
    connect(socket, &ivUDP::DataArrival, this, [this](int32_t&) { onDataArrival(); });
    connect(socket, &ivUDP::Error, this, [this](int32_t&, QString&) { onReceiveError(); });
}

void Confabo::bindReceiver()
{
    bindDataPort(*wsReceive_, Settings::DataPort.read());
}

// Every client uses the same data port; clients on one machine share it by binding it at
// different local addresses, each of them once.
void Confabo::bindDataPort(ivUDP& socket, const QString& port)
{
    socket.setLocalPort(port);
    socket.setLocalHost(Settings::DataAddress.read().trimmed());
    if (ivSocketUDPOptions* options = socket.SocketOptions())
        options->setReuseAddress(true);
    socket.wsBind(QString());
    // A frame comes as a burst of dozens of small packets: room for several frames while the
    // event loop is busy (the system keeps it within its own limit).
    if (ivSocketUDPOptions* options = socket.SocketOptions(); options && socket.State() == sckUDPListening)
        options->setReceiveBufferSize(DataPortReceiveBuffer);
}

void Confabo::setWsReceive(ivUDP* socket)
{
    if (socket == wsReceive_)
        return;
    if (wsReceive_) {
        wsReceive_->disconnect(this);
        wsReceive_->CloseConection();
        wsReceive_->deleteLater();
        wsReceive_ = nullptr;
    }
    if (socket)
        attachReceiver(socket);
}

// Any error of the receiving socket replaces it by a new one bound to the data port as the store
// names it now. When that bind fails too, the new socket is left unbound (nothing arrives) rather
// than starting the recovery over from inside itself.
void Confabo::onReceiveError()
{
    if (recovering_ || !wsReceive_)
        return;
    recovering_ = true;
    QPointer<Confabo> self(this);
    wsReceive_->ClearLastError();
    setWsReceive(new ivUDP(this));
    wsReceive_->OpenConection();
    bindReceiver();
    if (self)
        recovering_ = false;
}

void Confabo::onDataArrival()
{
    if (!wsReceive_)
        return;
    wsReceive_->wsGetData(arrival_);
    // The relay's answers and what it relays: its STUN messages begin with bytes the channel's
    // types use too, so its address tells them apart.
    SecureChannel::Endpoint from{wsReceive_->senderAddress(), wsReceive_->senderPort()};
    if (wsReceive_->senderIsIPv6())
        from.address6 = wsReceive_->senderAddress6();
    if (peerPaths_ && !from.isIPv6() && peerPaths_->isRelayServer({from.address, from.port})) {
        if (!blockAllData_)
            peerPaths_->receiveFromRelay(arrival_);
        return;
    }
    if (ChannelDatagram::isChannel(arrival_)) {
        if (channel_ && !blockAllData_)
            channel_->receive(arrival_, from);
        return;
    }
    ReceiveDatagram(arrival_, wsReceive_->RemoteHostIP());
}

void Confabo::ReceiveDatagram(QByteArrayView datagram)
{
    receive(datagram, nullptr);
}

void Confabo::ReceiveDatagram(QByteArrayView datagram, const QString& senderAddress)
{
    uint32_t address = 0;
    if (!vWinsock::ParseIPv4(senderAddress, address))
        return;
    receive(datagram, &address);
}

void Confabo::receive(QByteArrayView datagram, const uint32_t* senderAddress)
{
    if (!datagramDocument_)
        datagramDocument_ = std::make_unique<XmlDocument>();
    auto arrival = PeerDatagram::parse(*datagramDocument_, datagram);
    if (!arrival)
        return;
    if (senderAddress && !senderCheck_->accepts(*Buddies(), arrival->fromHandle, *senderAddress))
        return;
    if (plainRefusedFrom(arrival->fromHandle))
        return;
    arrivalSecure_ = false;
    QPointer<Confabo> self(this);
    if (arrival->videoData) {
        if (auto frame = frames_.add(*arrival->videoData); frame && !IsBlocked(arrival->fromHandle)) {
            QImage picture = FrameFromBytes(*frame);
            emit VideoFrameBytes(arrival->fromHandle, *frame);
            if (!self)
                return;
            emit VideoFrame(arrival->fromHandle, picture);
            if (!self)
                return;
        }
    }
    if (!arrival->message.isEmpty() && !IsBlocked(arrival->fromHandle))
        emit NewMessage(arrival->fromHandle, arrival->fromEmail, arrival->videoPort, arrival->message);
}

bool Confabo::SendMessage(const QString& ToHandle, const QString& Message, int16_t VideoPort, int16_t DataPort)
{
    lastLineId_ = 0;
    lastLineQueued_ = false;
    std::shared_ptr<Buddy> buddy = Buddies()->Item(ToHandle);
    if (!buddy) {
        buddy = std::make_shared<Buddy>();
        buddy->LoadByHandle(ToHandle);
    }
    if (buddy->Status() == CFB_OFFLINE)
        return queueForOffline(*buddy, Message);
    return buddy->SendMessage(handle_, email_, Message, VideoPort, DataPort);
}

bool Confabo::SendMessage(int ToIndex, const QString& Message, int16_t VideoPort, int16_t DataPort)
{
    lastLineId_ = 0;
    lastLineQueued_ = false;
    std::shared_ptr<Buddy> buddy = Buddies()->Item(ToIndex);
    if (!buddy) {
        buddy = std::make_shared<Buddy>();
        buddy->LoadByHandle(QString::number(ToIndex));
    }
    if (buddy->Status() == CFB_OFFLINE)
        return queueForOffline(*buddy, Message);
    return buddy->SendMessage(handle_, email_, Message, VideoPort, DataPort);
}

// A buddy who is offline gets the line in their mailbox, when both sides have keys.
bool Confabo::queueForOffline(Buddy& buddy, const QString& Message)
{
    if (!mailbox_ || !mailbox_->isActive() || Message.isEmpty())
        return false;
    if (resolve(buddy.handle(), buddy.knownPublicKey()).security != PeerSecurity::Encrypted)
        return false;
    lastLineId_ = Mailbox::newLineId();
    lastLineQueued_ = true;
    mailbox_->queue(buddy.handle(), lastLineId_, Message, QDateTime::currentMSecsSinceEpoch());
    return true;
}

uint64_t Confabo::QueueMail(const QString& handle, const QString& text, uint64_t id, const QDateTime& written)
{
    if (!mailbox_ || !mailbox_->isActive() || handle.isEmpty() || text.isEmpty())
        return 0;
    if (id == 0)
        id = Mailbox::newLineId();
    mailbox_->queue(
        handle, id, text, written.isValid() ? written.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch());
    return id;
}

void Confabo::TakeMail()
{
    if (mailbox_)
        mailbox_->takeNow();
}

uint32_t Confabo::SendFile(const QString& ToHandle, const QString& Path, bool Picture, int16_t DataPort, QString& Error)
{
    std::shared_ptr<Buddy> buddy = Buddies()->Item(ToHandle);
    if (!buddy) {
        buddy = std::make_shared<Buddy>();
        if (!buddy->LoadByHandle(ToHandle)) {
            Error = QStringLiteral("%1 is not a Confabo user.").arg(ToHandle);
            return 0;
        }
    }
    const std::optional<SecureRoute> route = secureRoute(*buddy, DataPort);
    if (!route) {
        Error = QStringLiteral("%1's client cannot receive files (it has no security key).").arg(buddy->handle());
        return 0;
    }
    if (route->known.security == PeerSecurity::Refused) {
        Error = QStringLiteral("Nothing is sent to %1 until their new security key is accepted.").arg(buddy->handle());
        return 0;
    }
    // The service's presence first: a buddy who signed out still has an address and may still
    // have a session here, and an invite there would only ring out as missed.
    if (buddy->Status() == CFB_OFFLINE
        || (!route->to.isValid() && !channel_->hasSession(route->known.key, buddy->handle()))) {
        Error = QStringLiteral("%1 is not online.").arg(buddy->handle());
        return 0;
    }
    return channel_->sendFile(route->known.key, buddy->handle(), route->to, Path, Picture, Error);
}

bool Confabo::AcceptFile(uint32_t Id, const QString& Path, QString& Error)
{
    if (!channel_) {
        Error = QStringLiteral("Not signed in.");
        return false;
    }
    return channel_->files().accept(Id, Path, Error);
}

void Confabo::DeclineFile(uint32_t Id)
{
    if (channel_)
        channel_->files().decline(Id);
}

void Confabo::CancelFile(uint32_t Id)
{
    if (channel_)
        channel_->files().cancel(Id);
}

Confabo::~Confabo()
{
    // A call on now still ends for the buddy, but nobody is told here: whoever listened may be
    // half gone already.
    if (calls_)
        calls_->disconnect(this);
    CleanUp();
}

void Confabo::loadChannelSettings()
{
    ServiceChannel& channel = ServiceChannel::current();
    channel.scriptPath = Settings::ServicePath.read();
    channel.server = Settings::ServiceHost.read();
    channel.sendTimeout = toLong(Settings::SendTimeout.read());
    channel.recvTimeout = toLong(Settings::ReceiveTimeout.read());
    channel.connTimeout = toLong(Settings::ConnectTimeout.read());
    channel.caFile = Settings::CaFile.read();

    Settings::ServicePath.write(channel.scriptPath);
    Settings::ServiceHost.write(channel.server);
    Settings::SendTimeout.write(QString::number(channel.sendTimeout));
    Settings::ReceiveTimeout.write(QString::number(channel.recvTimeout));
    Settings::ConnectTimeout.write(QString::number(channel.connTimeout));
}

QString Confabo::ownIPv6Address()
{
    const QString bound = Settings::DataAddress.read().trimmed();
    if (bound.isEmpty())
        return LocalAddress::ofDefaultRoute6();
    std::array<uint8_t, 16> bytes{};
    return vWinsock::ParseIPv6(bound, bytes) && LocalAddress::isUsableIPv6(bytes) ? bound : QString();
}

bool Confabo::Login(const QString& handle, const QString& Password, const QString& hostname)
{
    const QString ip = signInAddress(hostname);
    FormRequest login("LOGIN");
    login.add("handle", handle).add("password", Password).add("ip", ip);
    // Older services ignore the extra field; buddies behind the same router are told this one.
    if (ip.isEmpty())
        if (const QString local = LocalAddress::ofDefaultRoute(); !local.isEmpty())
            login.add("local_ip", local);
    // Buddies with IPv6 reach this one there (older services ignore it): the address out of this
    // machine's IPv6 route, while the data port takes both families (no IPv4 address set for it).
    if (const QString six = ownIPv6Address(); !six.isEmpty())
        login.add("ip6", six);
    // Buddies find this key at the service and encrypt to it; without it they send plain.
    if (identity_)
        login.add("public_key", KeyPins::toText(identity_->publicKey()));
    const XmlDocument reply = login.post();
    if (!reply.hasContent())
        return false;

    if (const XmlElement message = reply.selectSingle(QStringLiteral("/body/message"))) {
        const QString text = message.text();
        if (!text.isEmpty())
            UserNotice::show(text, QLatin1String(SettingsStore::AppTitle));
    }

    userID_ = toLong(requiredText(reply, QStringLiteral("/body/user_id")));
    handle_ = requiredText(reply, QStringLiteral("/body/handle"));
    password_ = requiredText(reply, QStringLiteral("/body/password"));
    email_ = requiredText(reply, QStringLiteral("/body/email"));
    mouthLeft_ = leadingInteger(requiredText(reply, QStringLiteral("/body/mouth_left")));
    mouthTop_ = toInteger(requiredText(reply, QStringLiteral("/body/mouth_top")));
    status_ = CFB_AVAILABLE;

    const XmlElement avatar = reply.selectSingle(QStringLiteral("/body/avatar"));
    if (!avatar)
        throw ConfaboError::missingElement(QStringLiteral("/body/avatar"));
    if (const auto bytes = avatar.typedValue()) {
        // Bytes that are no picture keep the previous avatar rather than failing the sign-in.
        QImage picture = PictureFromBytes(*bytes);
        if (!picture.isNull())
            avatar_ = std::move(picture);
    }

    readRelayCredentials(reply);

    if (wsReceive_)
        DataPortSockets::set(handle_, wsReceive_);
    registerHere();
    loadBuddyList();
    loadBlockedUsers();
    if (wsReceive_)
        keepAlive_->start();
    StartMail();
    return true;
}

void Confabo::readRelayCredentials(const XmlDocument& reply)
{
    // Elements older services do not send: without them there is no relay.
    RelayCredentials credentials;
    const auto text = [&reply](const char* name) {
        const XmlElement element = reply.selectSingle(QStringLiteral("/body/") + QLatin1String(name));
        return element ? element.text().left(512) : QString();
    };
    for (const XmlElement& url : reply.elementsByTagName(QStringLiteral("turn_url")))
        if (credentials.urls.size() < 8)
            credentials.urls.append(url.text().left(256));
    credentials.username = text("turn_username");
    credentials.password = text("turn_password");
    credentials.ttlSeconds = text("turn_ttl").toLongLong();
    credentials.receivedAtMs = QDeadlineTimer::current().deadline();
    takeRelayCredentials(credentials.isValid() ? credentials : RelayCredentials {});
}

void Confabo::takeRelayCredentials(const RelayCredentials& credentials)
{
    relayCredentials_ = credentials;
    if (peerPaths_) {
        peerPaths_->setCredentials(credentials);
        peerPaths_->start();
    }
}

bool Confabo::relayCredentialsDue() const
{
    if (!relayCredentials_.isValid() || relayCredentials_.ttlSeconds <= 0)
        return false;
    const int64_t ageSeconds = (QDeadlineTimer::current().deadline() - relayCredentials_.receivedAtMs) / 1000;
    return relayCredentials_.ttlSeconds - ageSeconds < std::min<int64_t>(3600, relayCredentials_.ttlSeconds / 2);
}

bool Confabo::RefreshRelayCredentials()
{
    const XmlDocument reply = FormRequest("TURN_CREDENTIALS").add("user_id", userID_).post();
    if (!reply.hasContent())
        return false;
    readRelayCredentials(reply);
    return relayCredentials_.isValid();
}

bool Confabo::PublishRelayAddress(const QString& address)
{
    return FormRequest("RELAY_ADDRESS").add("user_id", userID_).add("relay", address).post().hasContent();
}

QString Confabo::PathTo(const QString& handle)
{
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    if (!peerPaths_ || !buddy)
        return {};
    switch (peerPaths_->path(*buddy)) {
    case PeerPaths::Path::Direct:
        return QStringLiteral("direct");
    case PeerPaths::Path::DirectIPv6:
        return QStringLiteral("direct over IPv6");
    case PeerPaths::Path::Relay:
        return QStringLiteral("through the relay");
    case PeerPaths::Path::Unknown:
        break;
    }
    return {};
}

std::optional<Key32> Confabo::encryptedKey(Buddy& buddy)
{
    // Looked at in the background, so nothing is pinned or told here: a buddy whose key changed
    // or went is left to the next send, which asks about it.
    if (!channel_ || !channel_->isActive() || !identity_)
        return std::nullopt;
    const KeyLookup looked = buddy.knownPublicKey();
    const std::optional<Key32> pinned = KeyPins::pinned(buddy.handle());
    if (!looked.lookedUp)
        return pinned;
    if (!looked.key || (pinned && *pinned != *looked.key))
        return std::nullopt;
    return looked.key;
}

void Confabo::StartMail()
{
    if (mailbox_ && userID_ > 0 && !(mailbox_->isActive() && mailbox_->userId() == userID_))
        mailbox_->start(identity_.get(), userID_, handle_, std::max(1, Settings::PollingInterval.read().toInt()) * 1000);
}

void Confabo::loadBuddyList()
{
    const XmlDocument reply = FormRequest("BUDDY_LIST").add("user_id", userID_).post();
    auto buddies = std::make_shared<cfb::Buddies>();
    buddies_ = buddies;
    for (const XmlElement& buddy : reply.elementsByTagName(QStringLiteral("buddy"))) {
        const int32_t buddyID = toLong(requiredText(buddy, "buddy_id"));
        const int32_t buddyUserID = toLong(requiredText(buddy, "buddy_user_id"));
        const QString handle = requiredText(buddy, "handle");
        buddies->Add(buddyID, buddyUserID, handle, requiredText(buddy, "email"), handle);
    }
}

void Confabo::loadBlockedUsers()
{
    const XmlDocument reply = FormRequest("BLOCK_LIST").add("user_id", userID_).post();
    blocked_.clear();
    for (const XmlElement& entry : reply.elementsByTagName(QStringLiteral("blocked_user"))) {
        const QString text = requiredText(entry, "handle");
        if (blocked_.contains(text))
            throw ConfaboError(ConfaboError::DuplicateKey, QStringLiteral("\"%1\" is blocked twice").arg(text));
        blocked_.insert(text);
    }
}

bool Confabo::Logout()
{
    // The buddy hears the call end now, not after its silence timeout (while the channel is up).
    if (calls_)
        calls_->hangup();
    keepAlive_->stop();
    if (peerPaths_)
        peerPaths_->stop();
    if (mailbox_) {
        mailbox_->queueUnacknowledged(); // while this user may still leave mail
        mailbox_->stop();
    }
    if (channel_)
        channel_->reset();
    FormRequest("LOGOUT").add("user_id", userID_).post();
    return false;
}

bool Confabo::SetStatus(Stati Status)
{
    const XmlDocument reply = FormRequest("USER_UPDATE").add("user_id", userID_).add("status", int64_t(Status)).post();
    if (!reply.hasContent())
        return false;
    status_ = Status;
    return true;
}

void Confabo::CleanUp()
{
    if (calls_)
        calls_->hangup();
    keepAlive_->stop();
    if (peerPaths_)
        peerPaths_->stop();
    if (mailbox_)
        mailbox_->stop();
    if (channel_)
        channel_->reset();
    if (signedInObjects().value(handle_) == this)
        signedInObjects().remove(handle_);
    DataPortSockets::remove(handle_);
    setWsReceive(nullptr);
    buddies_.reset();
    datagramDocument_.reset();
    frames_ = FrameAssembler(PeerDatagram::FrameChunkSize);
}

bool Confabo::Register(const QString& handle, const QString& Password, const QString& Email, const QString& AvatarPath,
    int16_t MouthLeft, int16_t MouthTop)
{
    if (AccountRules::hasForbiddenHandleCharacter(handle))
        return false;
    const XmlDocument reply = FormRequest("USER_INSERT")
                                  .add("handle", handle)
                                  .add("password", Password)
                                  .add("email", Email)
                                  .add("mouth_top", MouthTop)
                                  .add("mouth_left", MouthLeft)
                                  .post();
    const XmlElement body = reply.selectSingle(QStringLiteral("body"));
    if (!reply.hasContent() || !body)
        return false;
    const int32_t newUserID = toLong(body.text());

    if (!AvatarPath.isEmpty())
        PostAvatarUpload(readAvatarFile(AvatarPath), newUserID);
    return true;
}

bool Confabo::ChangePassword(const QString& NewPassword)
{
    if (userID_ < 1)
        return false;
    if (!FormRequest("USER_UPDATE").add("user_id", userID_).add("password", NewPassword).post().hasContent())
        return false;
    password_ = NewPassword;
    return true;
}

bool Confabo::ChangeEmail(const QString& NewEmail)
{
    if (userID_ < 1)
        return false;
    if (!FormRequest("USER_UPDATE").add("user_id", userID_).add("email", NewEmail).post().hasContent())
        return false;
    email_ = NewEmail;
    return true;
}

bool Confabo::SetAvatar(const QString& AvatarPath, int16_t MouthLeft, int16_t MouthTop)
{
    if (userID_ < 1)
        return false;
    bool answered = FormRequest("USER_UPDATE")
                        .add("user_id", userID_)
                        .add("mouth_top", MouthTop)
                        .add("mouth_left", MouthLeft)
                        .post()
                        .hasContent();
    if (!AvatarPath.isEmpty() && QFile::exists(AvatarPath)) {
        const QByteArray bytes = readAvatarFile(AvatarPath);
        answered = PostAvatarUpload(bytes, userID_).hasContent();
        if (answered) {
            QImage picture = PictureFromBytes(bytes);
            if (picture.isNull())
                throw ConfaboError(ConfaboError::InvalidPicture, QStringLiteral("Invalid picture: %1").arg(AvatarPath));
            avatar_ = std::move(picture);
        }
    }
    return answered;
}

std::shared_ptr<Buddies> Confabo::Buddies()
{
    if (!buddies_)
        buddies_ = std::make_shared<cfb::Buddies>();
    return buddies_;
}

void Confabo::setBuddies(std::shared_ptr<cfb::Buddies> buddies)
{
    buddies_ = std::move(buddies);
}

QString Confabo::AddBuddy(const QString& EmailOrHandle)
{
    const XmlDocument reply = FormRequest("BUDDY_ADD").add("handle", EmailOrHandle).add("user_id", userID_).post();
    if (!reply.hasContent())
        return {};
    if (const XmlElement buddyID = reply.selectSingle(QStringLiteral("/body/buddy_id"))) {
        const int32_t id = toLong(buddyID.text());
        const int32_t userID = toLong(requiredText(reply, QStringLiteral("/body/buddy_user_id")));
        const QString handle = requiredText(reply, QStringLiteral("/body/handle"));
        const QString email = requiredText(reply, QStringLiteral("/body/email"));
        Buddies()->Add(id, userID, handle, email, handle);
    }
    return requiredText(reply, QStringLiteral("/body/handle"));
}

std::shared_ptr<Buddies> Confabo::AvailableUsers()
{
    if (userID_ < 1)
        return nullptr;
    const XmlDocument reply = FormRequest("USER_LIST").add("user_id", userID_).post();
    auto users = std::make_shared<cfb::Buddies>();
    for (const XmlElement& user : reply.elementsByTagName(QStringLiteral("user"))) {
        const int32_t id = toLong(requiredText(user, "user_id"));
        const QString handle = requiredText(user, "handle");
        users->Add(0, id, handle, requiredText(user, "email"), handle);
    }
    return users;
}

bool Confabo::IsBlocked(const QString& handle) const
{
    return blocked_.contains(handle);
}

bool Confabo::BlockUser(const QString& handle)
{
    if (blocked_.contains(handle))
        return false;
    if (!FormRequest("USER_BLOCK").add("user_id", userID_).add("handle", handle).post().hasContent())
        return false;
    blocked_.insert(handle);
    return true;
}

bool Confabo::UnBlockUser(const QString& handle)
{
    if (!blocked_.contains(handle))
        return false;
    if (!FormRequest("USER_UNBLOCK").add("user_id", userID_).add("handle", handle).post().hasContent())
        return false;
    blocked_.remove(handle);
    return true;
}

QStringList Confabo::GetBlockedUserList()
{
    const XmlDocument reply = FormRequest("BLOCK_LIST").add("user_id", userID_).post();
    QStringList list;
    for (const XmlElement& entry : reply.elementsByTagName(QStringLiteral("blocked_user")))
        list.append(requiredText(entry, "handle"));
    list.append(QString());
    return list;
}

QString Confabo::WriteXML()
{
    const auto esc = [](const QString& value) { return XmlText::escaped(value); };
    const QString crlf = QStringLiteral("\r\n");
    QString xml = QStringLiteral("<?xml version=\"1.0\"?>") + crlf + QStringLiteral("<body>") + crlf;
    xml += QStringLiteral("<user_id>%1</user_id>").arg(userID_) + crlf;
    xml += QStringLiteral("<handle>") + esc(handle_) + QStringLiteral("</handle>") + crlf;
    xml += QStringLiteral("<password>") + esc(password_) + QStringLiteral("</password>") + crlf;
    xml += QStringLiteral("<email>") + esc(email_) + QStringLiteral("</email>") + crlf;
    xml += QStringLiteral("<buddies>") + crlf;
    for (const auto& buddy : *Buddies()) {
        xml += QStringLiteral("\t<buddy>") + crlf;
        xml += QStringLiteral("\t\t<handle>") + esc(buddy->handle()) + QStringLiteral("</handle>") + crlf;
        xml += QStringLiteral("\t\t<ip>") + esc(buddy->IPAddress()) + QStringLiteral("</ip>") + crlf;
        xml += QStringLiteral("\t\t<email>") + esc(buddy->Email()) + QStringLiteral("</email>") + crlf;
        xml += QStringLiteral("   </buddy>") + crlf;
    }
    xml += QStringLiteral("</buddies>") + crlf + QStringLiteral("</body>");
    return xml;
}

int32_t Confabo::HTTPSendTimeout() const
{
    return ServiceChannel::current().sendTimeout;
}

void Confabo::setHTTPSendTimeout(int32_t milliseconds)
{
    ServiceChannel::current().sendTimeout = milliseconds;
}

int32_t Confabo::HTTPRecvTimeout() const
{
    return ServiceChannel::current().recvTimeout;
}

void Confabo::setHTTPRecvTimeout(int32_t milliseconds)
{
    ServiceChannel::current().recvTimeout = milliseconds;
}

int32_t Confabo::HTTPConnTimeout() const
{
    return ServiceChannel::current().connTimeout;
}

void Confabo::setHTTPConnTimeout(int32_t milliseconds)
{
    ServiceChannel::current().connTimeout = milliseconds;
}


// The encrypted channel -----------------------------------------------------------------------

void Confabo::loadIdentity()
{
    Identity::LoadResult loaded = Identity::loadOrCreate(Identity::defaultPath());
    if (loaded.identity)
        identity_ = std::make_unique<Identity>(std::move(*loaded.identity));
    else
        identityProblem_ = loaded.problem;
}

bool Confabo::hasIdentity() const
{
    return identity_ != nullptr;
}

std::optional<Key32> Confabo::publicKey() const
{
    return identity_ ? std::optional<Key32>(identity_->publicKey()) : std::nullopt;
}

void Confabo::setIdentity(std::optional<Identity> identity)
{
    if (channel_)
        channel_->setIdentity(nullptr, handle_);
    identity_ = identity ? std::make_unique<Identity>(std::move(*identity)) : nullptr;
    identityProblem_.clear();
    if (channel_ && identity_ && userID_ > 0)
        channel_->setIdentity(identity_.get(), handle_);
}

void Confabo::createChannel()
{
    const auto send = [this](const SecureChannel::Endpoint& to, QByteArrayView datagram) {
        if (to.relayed)
            return peerPaths_ && peerPaths_->sendRelayed({to.address, to.port}, datagram);
        if (to.isIPv6())
            return wsReceive_ && wsReceive_->sendTo6(to.address6, to.port, datagram);
        return wsReceive_ && wsReceive_->sendTo(to.address, to.port, datagram);
    };
    const auto judge = [this](const QString& handle, const Key32& key) {
        const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
        const Resolved known = resolve(handle, buddy ? buddy->knownPublicKey() : KeyLookup {});
        switch (known.security) {
        case PeerSecurity::Encrypted:
            return known.key == key ? SecureChannel::Verdict::Trusted : SecureChannel::Verdict::Forged;
        case PeerSecurity::Refused:
            return SecureChannel::Verdict::Forged;
        case PeerSecurity::Plain:
            break;
        }
        return SecureChannel::Verdict::Unknown;
    };
    channel_ = new SecureChannel(send, judge, this);
    channel_->setBatchSend([this](const SecureChannel::Endpoint& to, const QByteArrayView* datagrams, int count) {
        if (to.relayed) {
            int sent = 0;
            while (sent < count && peerPaths_ && peerPaths_->sendRelayed({to.address, to.port}, datagrams[sent]))
                ++sent;
            return sent;
        }
        if (!wsReceive_)
            return 0;
        return to.isIPv6() ? wsReceive_->sendBatchTo6(to.address6, to.port, datagrams, count)
                           : wsReceive_->sendBatchTo(to.address, to.port, datagrams, count);
    });
    peerPaths_ = new PeerPaths(*this, *channel_, *peerAddresses_);
    connect(peerPaths_, &PeerPaths::relayAddressChanged, this, &Confabo::RelayAddressChanged);
    connect(channel_, &SecureChannel::messageArrived, this, &Confabo::onChannelMessage);
    // The lines' ids as the caller knows them are the ones they carry (see Mailbox).
    connect(channel_, &SecureChannel::lineDelivered, this, [this](const QString& handle, uint64_t id) {
        const std::optional<Mailbox::Direct> line = mailbox_ ? mailbox_->takeDirect(id) : std::nullopt;
        emit LineDelivered(handle, line ? line->wireId : id);
    });
    connect(channel_, &SecureChannel::lineNotDelivered, this, [this](const QString& handle, uint64_t id) {
        const std::optional<Mailbox::Direct> line = mailbox_ ? mailbox_->takeDirect(id) : std::nullopt;
        if (line && mailbox_->isActive())
            mailbox_->queue(line->handle, line->wireId, line->text, line->sentMs); // not acknowledged in 30 s
        else
            emit LineNotDelivered(handle, line ? line->wireId : id);
    });
    connect(channel_, &SecureChannel::frameArrived, this, &Confabo::onChannelFrame);
    video_ = new SecureVideo(*channel_, this);
    // VP8 arrives as JPEG does: the coded bytes, then (once decoded) the picture.
    const auto raise = [this](const QString& handle, bool trusted, const std::function<void(QString&)>& signal) {
        if (IsBlocked(handle))
            return;
        QString from = handle;
        arrivalSecure_ = trusted;
        QPointer<Confabo> self(this);
        signal(from);
        if (self)
            arrivalSecure_ = false;
    };
    connect(video_, &SecureVideo::bytesArrived, this, [this, raise](const QString& handle, bool trusted, const QByteArray& bytes) {
        QByteArray frame = bytes;
        raise(handle, trusted, [&](QString& from) { emit VideoFrameBytes(from, frame); });
    });
    connect(video_, &SecureVideo::pictureArrived, this, [this, raise](const QString& handle, bool trusted, const QImage& image) {
        QImage picture = image;
        raise(handle, trusted, [&](QString& from) { emit VideoFrame(from, picture); });
    });
    connect(channel_, &SecureChannel::forgedDropped, senderCheck_, &SenderCheck::countForged);
    FileTransfers& files = channel_->files();
    connect(&files, &FileTransfers::offered, this,
        [this](const QString& handle, bool trusted, uint32_t id, const QString& name, qint64 size, bool picture) {
            // Only buddies known by their key may offer files; nothing of anyone else's is asked.
            if (!trusted || IsBlocked(handle) || !Buddies()->Item(handle)) {
                channel_->files().decline(id);
                return;
            }
            emit FileOffered(handle, id, name, size, picture);
        });
    createCalls();
    connect(&files, &FileTransfers::progress, this, &Confabo::FileProgress);
    connect(&files, &FileTransfers::finished, this, &Confabo::FileFinished);
    connect(&files, &FileTransfers::failed, this, &Confabo::FileFailed);
}

void Confabo::createCalls()
{
    // Said with the codecs at every session's start: a buddy's client knows this one takes calls.
    channel_->setVideoCodecs(channel_->ownVideoCodecs() | VideoContent::Calls);
    calls_ = new CallSession(
        [this](const QString& handle, QByteArrayView content) {
            const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
            const std::optional<SecureRoute> route = buddy ? secureRoute(*buddy, callPort_) : std::nullopt;
            if (!route || route->known.security != PeerSecurity::Encrypted)
                return false;
            // The buddy's data port is known only when this side called: otherwise the answer
            // goes where the buddy was heard.
            return channel_->sendCallContent(route->known.key, buddy->handle(), callPort_ ? route->to : SecureChannel::Endpoint {}, content);
        },
        this);
    connect(channel_, &SecureChannel::callContentArrived, this,
        [this](const QString& handle, const Key32& key, bool trusted, QByteArrayView content) {
            if (IsBlocked(handle))
                return;
            if (trusted && Buddies()->Item(handle)) {
                calls_->receive(handle, content);
                return;
            }
            // Calls come from buddies only: anyone else hears the invite declined at once, not a
            // ring that nobody here sees until it is missed. The answer goes to the key the invite
            // came with, whoever that is.
            const std::optional<CallContent::Fields> fields = CallContent::read(content);
            if (fields && fields->kind == CallContent::Invite && !Buddies()->Item(handle))
                channel_->sendCallContent(
                    key, handle, SecureChannel::Endpoint {}, CallContent::signal(CallContent::Decline, fields->callId));
        });
    connect(calls_, &CallSession::incoming, this, [this](const QString& handle) {
        callPort_ = 0;
        emit CallIncoming(handle);
    });
    connect(calls_, &CallSession::started, this, &Confabo::CallStarted);
    connect(calls_, &CallSession::ended, this, &Confabo::CallEnded);
}

bool Confabo::Call(const QString& ToHandle, int16_t DataPort, QString& Error)
{
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(ToHandle);
    if (!buddy || !calls_) {
        Error = QStringLiteral("%1 is not a buddy.").arg(ToHandle);
        return false;
    }
    const std::optional<SecureRoute> route = secureRoute(*buddy, DataPort);
    if (!route || route->known.security != PeerSecurity::Encrypted) {
        Error = QStringLiteral("%1's client cannot take calls (it has no security key).").arg(buddy->handle());
        return false;
    }
    // The service's presence first: a buddy who signed out still has an address and may still
    // have a session here, and an invite there would only ring out as missed.
    if (buddy->Status() == CFB_OFFLINE
        || (!route->to.isValid() && !channel_->hasSession(route->known.key, buddy->handle()))) {
        Error = QStringLiteral("%1 is not online.").arg(buddy->handle());
        return false;
    }
    if (calls_->state() != CallSession::State::Idle) {
        Error = QStringLiteral("A call is on already.");
        return false;
    }
    callPort_ = DataPort;
    if (!calls_->call(buddy->handle())) {
        Error = QStringLiteral("The call to %1 could not be sent.").arg(buddy->handle());
        return false;
    }
    return true;
}

bool Confabo::takesCalls(Buddy& buddy)
{
    // Asked now and then by the windows: nothing is pinned or told here (encryptedKey).
    const std::optional<Key32> key = calls_ ? encryptedKey(buddy) : std::nullopt;
    return key && (channel_->videoCodecs(*key, buddy.handle()) & VideoContent::Calls);
}

bool Confabo::Answer()
{
    return calls_ && calls_->answer();
}

bool Confabo::Decline()
{
    return calls_ && calls_->decline();
}

bool Confabo::Hangup()
{
    return calls_ && calls_->hangup();
}

void Confabo::registerHere()
{
    if (!wsReceive_ || handle_.isEmpty())
        return;
    signedInObjects().insert(handle_, this);
    if (channel_)
        channel_->setIdentity(identity_.get(), handle_);
}

Confabo* Confabo::signedInHere(const QString& handle)
{
    return signedInObjects().value(handle).data();
}

Confabo::Resolved Confabo::resolve(const QString& handle, const KeyLookup& looked)
{
    Resolved result;
    if (!identity_ || handle.isEmpty())
        return result;
    const std::optional<Key32> pinned = KeyPins::pinned(handle);
    const auto noticeOnce = [this, &handle](const QString& what) {
        const QString key = handle + QLatin1Char(' ') + what;
        if (keyNotices_.contains(key))
            return false;
        keyNotices_.insert(key);
        return true;
    };
    if (!looked.lookedUp || (!looked.key && !pinned)) {
        // Before the first lookup the pinned key holds; a user never seen with a key is plain.
        if (pinned)
            result = {PeerSecurity::Encrypted, *pinned};
        return result;
    }
    if (!looked.key) {
        result.security = PeerSecurity::Refused;
        if (noticeOnce(QStringLiteral("missing")))
            emit PlainRefused(handle);
        return result;
    }
    if (!pinned) {
        KeyPins::pin(handle, *looked.key);
        return {PeerSecurity::Encrypted, *looked.key};
    }
    if (*pinned == *looked.key)
        return {PeerSecurity::Encrypted, *pinned};
    // Another key than the pinned one: a new installation of the buddy's, or someone between.
    const bool verified = KeyPins::verified(handle);
    if (noticeOnce(KeyPins::toText(*looked.key)))
        emit KeyChanged(handle, verified);
    if (verified) {
        result.security = PeerSecurity::Refused;
        return result;
    }
    KeyPins::pin(handle, *looked.key);
    return {PeerSecurity::Encrypted, *looked.key};
}

PeerSecurity Confabo::security(Buddy& buddy)
{
    return resolve(buddy.handle(), buddy.knownPublicKey()).security;
}

PeerSecurity Confabo::security(const QString& handle)
{
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    return resolve(handle, buddy ? buddy->knownPublicKey() : KeyLookup {}).security;
}

QString Confabo::safetyNumber(const QString& handle)
{
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    const Resolved known = resolve(handle, buddy ? buddy->knownPublicKey() : KeyLookup {});
    const std::optional<Key32> key = known.security == PeerSecurity::Encrypted ? std::optional<Key32>(known.key)
                                                                                : KeyPins::pinned(handle);
    if (!identity_ || !key)
        return {};
    return SafetyNumber::of(identity_->publicKey(), *key);
}

bool Confabo::isVerified(const QString& handle) const
{
    return KeyPins::verified(handle);
}

void Confabo::setVerified(const QString& handle, bool verified)
{
    KeyPins::setVerified(handle, verified);
}

void Confabo::acceptKey(const QString& handle)
{
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    const KeyLookup looked = buddy ? buddy->knownPublicKey() : KeyLookup {};
    if (looked.key)
        KeyPins::pin(handle, *looked.key); // no longer verified: the new key was not compared
    else
        KeyPins::forget(handle);
}

void Confabo::forgetKey(const QString& handle)
{
    KeyPins::forget(handle);
    for (auto it = keyNotices_.begin(); it != keyNotices_.end();)
        it = it->startsWith(handle + QLatin1Char(' ')) ? keyNotices_.erase(it) : std::next(it);
}

bool Confabo::plainRefusedFrom(const QString& handle)
{
    // With a key of its own, nobody may speak in the plain format as a user whose key is known.
    if (!identity_)
        return false;
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    const KeyLookup looked = buddy ? buddy->knownPublicKey() : KeyLookup {};
    switch (resolve(handle, looked).security) {
    case PeerSecurity::Plain:
        return false;
    case PeerSecurity::Refused:
        if (looked.key) // a changed key held back: whoever this is, not the buddy as known
            senderCheck_->countForged();
        return true;
    case PeerSecurity::Encrypted:
        senderCheck_->countForged();
        return true;
    }
    return true;
}

void Confabo::createMailbox()
{
    mailbox_ = new Mailbox([this](const QString& handle) { return mailKeyOf(handle); }, this);
    connect(mailbox_, &Mailbox::lineQueued, this, &Confabo::LineQueued);
    connect(mailbox_, &Mailbox::lineRefused, this, &Confabo::LineRefused);
    connect(mailbox_, &Mailbox::lineNotDelivered, this, &Confabo::LineNotDelivered);
    connect(mailbox_, &Mailbox::lineDelivered, this, &Confabo::LineDelivered);
    connect(mailbox_, &Mailbox::lineArrived, this, &Confabo::onMailArrived);
}

// The key a buddy's mail is sealed to and opened with, as the encrypted channel trusts it.
std::optional<Key32> Confabo::mailKeyOf(const QString& handle)
{
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    KeyLookup looked = buddy ? buddy->knownPublicKey() : KeyLookup {};
    if (buddy && !looked.lookedUp) {
        buddy->PublicKey(); // asks the service
        looked = buddy->knownPublicKey();
    }
    const Resolved known = resolve(handle, looked);
    if (known.security != PeerSecurity::Encrypted)
        return std::nullopt;
    return known.key;
}

void Confabo::onMailArrived(const QString& handle, uint64_t id, const QString& text, int64_t writtenMs)
{
    if (IsBlocked(handle) || (shownBefore_ && shownBefore_(handle, id)))
        return;
    const std::shared_ptr<Buddy> buddy = Buddies()->Item(handle);
    QString from = buddy ? buddy->handle() : handle;
    QString fromEmail = buddy ? buddy->Email() : QString();
    int16_t videoPort = 0; // not known: the sender may not even be online
    QString message = text;
    arrivalSecure_ = true; // opened with the key known for the sender
    arrivalWritten_ = QDateTime::fromMSecsSinceEpoch(writtenMs);
    arrivalId_ = id;
    QPointer<Confabo> self(this);
    emit NewMessage(from, fromEmail, videoPort, message);
    if (self) {
        arrivalSecure_ = false;
        arrivalWritten_ = {};
        arrivalId_ = 0;
    }
}

void Confabo::onChannelMessage(
    const QString& handle, bool trusted, const QString& email, int16_t port, const QString& text, uint64_t wireId)
{
    if (IsBlocked(handle))
        return;
    // A line its sender also left in the mailbox (its receipt was lost) is shown once.
    if (trusted && mailbox_ && mailbox_->seen(handle, wireId))
        return;
    if (trusted && shownBefore_ && shownBefore_(handle, wireId))
        return;
    QString from = handle;
    QString fromEmail = email;
    int16_t videoPort = port;
    QString message = text;
    arrivalSecure_ = trusted;
    arrivalId_ = trusted ? wireId : 0;
    QPointer<Confabo> self(this);
    emit NewMessage(from, fromEmail, videoPort, message);
    if (self) {
        arrivalSecure_ = false;
        arrivalId_ = 0;
    }
}

void Confabo::onChannelFrame(const QString& handle, bool trusted, QByteArray& frame)
{
    if (IsBlocked(handle))
        return;
    QString from = handle;
    QImage picture = FrameFromBytes(frame);
    arrivalSecure_ = trusted;
    QPointer<Confabo> self(this);
    emit VideoFrameBytes(from, frame);
    if (!self)
        return;
    emit VideoFrame(from, picture);
    if (self)
        arrivalSecure_ = false;
}

// Where an encrypted send to the buddy goes: nothing when the buddy is reached in the plain
// format, a route with Refused when nothing may go.
std::optional<Confabo::SecureRoute> Confabo::secureRoute(Buddy& buddy, int16_t port)
{
    if (!channel_ || !channel_->isActive() || !wsReceive_)
        return std::nullopt;
    const Resolved known = resolve(buddy.handle(), buddy.knownPublicKey());
    if (known.security == PeerSecurity::Plain)
        return std::nullopt;
    SecureRoute route {known, {}};
    if (known.security == PeerSecurity::Encrypted) {
        // A dotted address (what the service gives) is read without allocating: frames come here.
        uint32_t address = 0;
        const QString text = buddy.IPAddress();
        if (!vWinsock::ParseIPv4(text, address))
            if (const auto addresses = peerAddresses_->resolve(text); addresses && !addresses->isEmpty())
                address = addresses->first();
        route.to = peerPaths_ ? peerPaths_->directEndpoint(buddy, address, uint16_t(port))
                              : SecureChannel::Endpoint{address, uint16_t(port)};
    }
    return route;
}

std::optional<bool> Confabo::sendSecureMessage(Buddy& buddy, const QString& Message, int16_t VideoPort, int16_t DataPort)
{
    lastLineId_ = 0;
    const std::optional<SecureRoute> route = secureRoute(buddy, DataPort);
    if (!route || route->known.security == PeerSecurity::Refused)
        return route ? std::optional<bool>(false) : std::nullopt;
    ChannelContent::MessageFields fields;
    fields.handle = handle_;
    fields.email = email_;
    fields.videoPort = VideoPort;
    fields.text = Message;
    uint64_t wireId = 0;
    const uint64_t channelId = channel_->sendMessage(route->known.key, buddy.handle(), route->to, fields, &wireId);
    if (channelId == 0)
        return false;
    lastLineId_ = wireId;
    if (mailbox_)
        mailbox_->sentDirect(channelId, {buddy.handle(), wireId, Message, QDateTime::currentMSecsSinceEpoch()});
    return true;
}

std::optional<bool> Confabo::sendSecureFrame(Buddy& buddy, QByteArrayView frame, int16_t VideoPort)
{
    const std::optional<SecureRoute> route = secureRoute(buddy, VideoPort);
    if (!route || route->known.security == PeerSecurity::Refused)
        return route ? std::optional<bool>(false) : std::nullopt;
    return channel_->sendFrame(route->known.key, buddy.handle(), route->to, frame);
}

std::optional<bool> Confabo::sendSecureVideo(Buddy& buddy, const I420View& picture, int captureRate, int16_t VideoPort)
{
    const std::optional<SecureRoute> route = secureRoute(buddy, VideoPort);
    if (!route || route->known.security != PeerSecurity::Encrypted || !video_)
        return std::nullopt;
    return video_->send(route->known.key, buddy.handle(), route->to, picture, captureRate);
}

QString Confabo::videoStatus(Buddy& buddy)
{
    const std::optional<SecureRoute> route = secureRoute(buddy, 0);
    if (!route || route->known.security != PeerSecurity::Encrypted || !video_)
        return {};
    return video_->status(route->known.key, buddy.handle());
}

bool Confabo::takesVp8(Buddy& buddy)
{
    const std::optional<SecureRoute> route = secureRoute(buddy, 0);
    return route && route->known.security == PeerSecurity::Encrypted && video_
        && video_->takesVp8(route->known.key, buddy.handle());
}

bool Confabo::keepAliveSecure(Buddy& buddy, uint32_t address, uint16_t port)
{
    if (!channel_ || !channel_->isActive())
        return false;
    const Resolved known = resolve(buddy.handle(), buddy.knownPublicKey());
    if (known.security == PeerSecurity::Plain)
        return false;
    if (known.security == PeerSecurity::Encrypted)
        channel_->keepAlive(known.key, buddy.handle(),
            peerPaths_ ? peerPaths_->directEndpoint(buddy, address, port) : SecureChannel::Endpoint{address, port});
    return true;
}

} // namespace cfb
