#include "messaging/Buddy.h"

#include "channel/KeyPins.h"
#include "imaging/modPic.h"
#include "messaging/Confabo.h"
#include "messaging/ConfaboError.h"
#include "messaging/DataPortSockets.h"
#include "messaging/FormRequest.h"
#include "messaging/PeerDatagram.h"
#include "messaging/PollingClock.h"
#include "messaging/RequiredText.h"
#include "messaging/TextNumbers.h"
#include "platform/Settings.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <QCoreApplication>
#include <QTimer>

#include <QFile>

#include <limits>

namespace cfb {

Buddy::Buddy()
{
    pollingInterval_ = toInteger(Settings::PollingInterval.read());
    forgetLookups();
}

Buddy::~Buddy() = default;

void Buddy::forgetLookups()
{
    infoRefresh_ = std::numeric_limits<int64_t>::min();
    avatarRefresh_ = std::numeric_limits<int64_t>::min();
}

namespace {

// A send socket may go once its datagrams have left. Sending to a dotted address happens at
// once; a host name is looked up first, so the socket then lives until the look-up ended (or
// an error, or a minute at most) instead of taking the waiting datagram with it.
void releaseSendSocket(std::unique_ptr<ivUDP> socket)
{
    if (socket->HostResolved() || !QCoreApplication::instance()) {
        socket.reset();
        return;
    }
    ivUDP* s = socket.release();
    s->setParent(QCoreApplication::instance());
    QObject::connect(s, &ivUDP::StateChange, s, [s](ivUDPState& now, ivUDPState&) {
        if (now == sckUDPResolvedHost || now == sckUDPResolveError || now == sckUDPError)
            s->deleteLater();
    });
    QObject::connect(s, &ivUDP::Error, s, [s](int32_t&, QString&) { s->deleteLater(); });
    QTimer::singleShot(60000, s, [s] { s->deleteLater(); });
}

} // namespace

void Buddy::init(int32_t buddyID, int32_t buddyUserID, const QString& handle, const QString& email)
{
    buddyID_ = buddyID;
    buddyUserID_ = buddyUserID;
    handle_ = handle;
    email_ = email;
}

bool Buddy::LoadByHandle(const QString& handle)
{
    const XmlDocument reply = FormRequest("USER_FIND").add("handle", handle).post();
    if (!reply.hasContent())
        return false;
    const int32_t userID = toLong(requiredText(reply, QStringLiteral("/body/user_id")));
    const QString email = requiredText(reply, QStringLiteral("/body/email"));
    init(0, userID, handle, email);
    return true;
}

void Buddy::refreshInfo()
{
    const int64_t now = PollingClock::nowSeconds();
    if (holdInfo_ || now <= infoRefresh_)
        return;
    // One USER_INFO a polling interval answers the status, the address and the mouth.
    infoRefresh_ = now + pollingInterval_;
    XmlDocument reply = FormRequest("USER_INFO").add("user_id", buddyUserID_).post();
    if (reply.hasContent()) {
        info_ = std::move(reply);
        ++infoReply_;
    }
}

bool Buddy::freshInfo(Looked value)
{
    if (!looksUp_)
        return false;
    refreshInfo();
    // Each value is read from a reply once; a failed lookup keeps the values read before.
    if (infoReply_ == 0 || readReply_[value] == infoReply_)
        return false;
    readReply_[value] = infoReply_;
    return true;
}

Stati Buddy::Status()
{
    if (freshInfo(StatusValue)) {
        const int32_t value = toLong(requiredText(info_, QStringLiteral("/body/status")));
        // A presence this library does not know is treated as not reachable.
        status_ = (value == CFB_AVAILABLE || value == CFB_BUSY) ? Stati(value) : CFB_OFFLINE;
    }
    return status_;
}

QString Buddy::IPAddress()
{
    if (freshInfo(AddressValue))
        ipAddress_ = requiredText(info_, QStringLiteral("/body/ip"));
    return ipAddress_;
}

int16_t Buddy::MouthTop()
{
    if (freshInfo(MouthTopValue))
        mouthTop_ = toInteger(requiredText(info_, QStringLiteral("/body/mouth_top")));
    return mouthTop_;
}

int16_t Buddy::MouthLeft()
{
    if (freshInfo(MouthLeftValue))
        mouthLeft_ = toInteger(requiredText(info_, QStringLiteral("/body/mouth_left")));
    return mouthLeft_;
}

namespace {

std::optional<Key32> publicKeyIn(const XmlDocument& reply)
{
    // Older services send no such element; a malformed one counts as none.
    const XmlElement element = reply.selectSingle(QStringLiteral("/body/public_key"));
    return element ? KeyPins::fromText(element.text()) : std::nullopt;
}

} // namespace

std::optional<Key32> Buddy::PublicKey()
{
    if (freshInfo(PublicKeyValue)) {
        publicKey_ = publicKeyIn(info_);
        keyLookedUp_ = true;
    }
    return publicKey_;
}

KeyLookup Buddy::knownPublicKey() const
{
    if (infoReply_ == 0 || readReply_[PublicKeyValue] == infoReply_)
        return {keyLookedUp_, publicKey_};
    // Read from each reply once: frames ask for every one they send.
    if (keyParsedFrom_ != infoReply_) {
        keyParsedFrom_ = infoReply_;
        parsedKey_ = publicKeyIn(info_);
    }
    return {true, parsedKey_};
}

Stati Buddy::knownStatus() const
{
    if (infoReply_ == 0 || readReply_[StatusValue] == infoReply_)
        return status_;
    const XmlElement element = info_.selectSingle(QStringLiteral("/body/status"));
    const int32_t value = element ? element.text().toInt() : 0;
    return (value == CFB_AVAILABLE || value == CFB_BUSY) ? Stati(value) : CFB_OFFLINE;
}

QString Buddy::knownAddress() const
{
    if (infoReply_ == 0 || readReply_[AddressValue] == infoReply_)
        return ipAddress_;
    const XmlElement element = info_.selectSingle(QStringLiteral("/body/ip"));
    return element ? element.text() : ipAddress_;
}

QString Buddy::knownRelay() const
{
    if (infoReply_ == 0)
        return {};
    const XmlElement element = info_.selectSingle(QStringLiteral("/body/relay"));
    return element ? element.text().left(32) : QString();
}

std::optional<std::array<uint8_t, 16>> Buddy::knownAddress6() const
{
    if (infoReply_ == 0)
        return std::nullopt;
    // Frames ask for every one they send: parsed once a reply.
    if (address6ParsedFrom_ != infoReply_) {
        address6ParsedFrom_ = infoReply_;
        address6_.reset();
        const XmlElement element = info_.selectSingle(QStringLiteral("/body/ip6"));
        std::array<uint8_t, 16> bytes{};
        if (element && vWinsock::ParseIPv6(element.text().trimmed(), bytes))
            address6_ = bytes;
    }
    return address6_;
}

const QImage& Buddy::Avatar()
{
    if (!looksUp_)
        return avatar_.isNull() ? DefaultAvatar() : avatar_;
    const bool firstLook = avatar_.isNull() && !defaultAvatarInUse_;
    const int64_t now = PollingClock::nowSeconds();
    if (firstLook || now > avatarRefresh_) {
        avatarRefresh_ = now + pollingInterval_;
        defaultAvatarInUse_ = false;
        if (!handle_.isEmpty() || buddyUserID_ > 0) {
            const XmlDocument reply = FormRequest("USER_AVATAR").add("user_id", buddyUserID_).post();
            const auto bytes
                = reply.hasContent() ? reply.selectSingle(QStringLiteral("/body/avatar")).typedValue() : std::nullopt;
            QImage picture = bytes ? PictureFromBytes(*bytes) : QImage();
            if (picture.isNull())
                useDefaultAvatar();
            else
                avatar_ = std::move(picture);
        }
    }
    return avatar_;
}

BuddyLookups Buddy::lookUp()
{
    if (looksUp_)
        refreshInfo();
    holdInfo_ = true;
    BuddyLookups found;
    try {
        found.status = Status();
        found.ipAddress = IPAddress();
        found.mouthTop = MouthTop();
        found.mouthLeft = MouthLeft();
        found.publicKey = PublicKey();
    } catch (...) {
        holdInfo_ = false;
        throw;
    }
    holdInfo_ = false;
    return found;
}

void Buddy::adopt(const BuddyLookups& lookups)
{
    status_ = lookups.status;
    ipAddress_ = lookups.ipAddress;
    mouthTop_ = lookups.mouthTop;
    mouthLeft_ = lookups.mouthLeft;
    publicKey_ = lookups.publicKey;
    keyLookedUp_ = true;
    if (!lookups.avatar.isNull())
        avatar_ = lookups.avatar;
    defaultAvatarInUse_ = lookups.defaultAvatar;
    adopted_ = true;
}

void Buddy::useDefaultAvatar()
{
    defaultAvatarInUse_ = true;
    avatar_ = DefaultAvatar();
}

const QImage& Buddy::DefaultAvatar()
{
    static const QImage picture = [] {
        QFile file(QStringLiteral(":/confabo/default_avatar.gif"));
        file.open(QIODevice::ReadOnly);
        return PictureFromBytes(file.readAll());
    }();
    return picture;
}

bool Buddy::SendMessage(
    const QString& FromHandle, const QString& FromEmail, const QString& Message, int16_t VideoPort, int16_t DataPort)
{
    if (Status() != CFB_AVAILABLE)
        return false;
    // Between Confabo clients with keys, encrypted; to a client without one, plain.
    if (Confabo* sender = Confabo::signedInHere(FromHandle))
        if (const std::optional<bool> sent = sender->sendSecureMessage(*this, Message, VideoPort, DataPort))
            return *sent;
    const QByteArray datagram = PeerDatagram::message(FromHandle, FromEmail, VideoPort, Message);
    uint32_t address = 0;
    if (ivUDP* dataPort = DataPortSockets::of(FromHandle); dataPort && uint16_t(DataPort) != 0
        && vWinsock::ParseIPv4(IPAddress(), address) && dataPort->sendTo(address, uint16_t(DataPort), datagram))
        return true;
    // Not signed in here, not bound, or a host name to look up: a socket of its own.
    auto socket = std::make_unique<ivUDP>();
    const QString port = QString::number(uint16_t(DataPort)); // above 32767 it comes negative
    socket->setRemotePort(port);
    // Leave from the data port where it is free; on the machine that receives on that port the
    // bind fails (an error the socket reports) and the datagram leaves from any port.
    socket->wsBind(port);
    socket->setRemoteHost(IPAddress());
    socket->wsSendData(datagram);
    socket->wsBind(QStringLiteral("-1"));
    releaseSendSocket(std::move(socket));
    return true;
}

bool Buddy::SendFrame(QByteArrayView buf, const QString& FromHandle, int16_t VideoPort)
{
    using PeerDatagram::FrameChunkSize;
    if (buf.isEmpty())
        return false;
    if (Status() != CFB_AVAILABLE)
        return false;
    // A port above 32767 comes as a negative 16-bit number; port 0 reaches nobody.
    const uint16_t port = uint16_t(VideoPort);
    if (port == 0)
        return false;
    if (Confabo* sender = Confabo::signedInHere(FromHandle))
        if (const std::optional<bool> sent = sender->sendSecureFrame(*this, buf, VideoPort))
            return *sent;
    if (FromHandle != frameFrom_) {
        frameFrom_ = FromHandle;
        frameFromEscaped_ = PeerDatagram::escapedText(FromHandle);
    }
    // Only the first chunk can be the largest; if it does not fit, none of the frame arrives
    // whole, so nothing is sent.
    if (PeerDatagram::frameChunkSize(frameFromEscaped_, qMin(buf.size(), FrameChunkSize))
        > PeerDatagram::MaxDatagramSize)
        return false;

    const QString host = IPAddress();
    if (host != frameHost_) {
        frameHost_ = host;
        frameAddress_ = 0;
        vWinsock::ParseIPv4(host, frameAddress_);
    }
    // From the sender's data port where it can: the first chunk tells.
    if (ivUDP* dataPort = DataPortSockets::of(FromHandle); dataPort && frameAddress_ != 0) {
        bool sent = true;
        for (qsizetype offset = 0; sent && offset < buf.size(); offset += FrameChunkSize) {
            const QByteArrayView chunk = buf.sliced(offset, qMin(FrameChunkSize, buf.size() - offset));
            PeerDatagram::frameChunk(frameFromEscaped_, chunk, frameDatagram_);
            sent = dataPort->sendTo(frameAddress_, port, frameDatagram_);
            if (!sent && offset > 0)
                return true; // a later chunk lost, as on any datagram path
        }
        if (sent)
            return true;
    }
    if (!frameSocket_) {
        frameSocket_ = std::make_unique<ivUDP>();
        framePort_ = 0;
    }
    if (frameSocket_->RemoteHost() != host)
        frameSocket_->setRemoteHost(host);
    if (port != framePort_) {
        framePort_ = port;
        frameSocket_->setRemotePort(QString::number(port));
    }
    for (qsizetype offset = 0; offset < buf.size(); offset += FrameChunkSize) {
        const QByteArrayView chunk = buf.sliced(offset, qMin(FrameChunkSize, buf.size() - offset));
        PeerDatagram::frameChunk(frameFromEscaped_, chunk, frameDatagram_);
        frameSocket_->wsSendData(frameDatagram_);
    }
    if (!frameSocket_->HostResolved())
        releaseSendSocket(std::move(frameSocket_)); // a look-up is under way: let it finish
    return true;
}

bool Buddy::Remove()
{
    const XmlDocument reply = FormRequest("BUDDY_REMOVE").add("buddy_id", buddyID_).post();
    if (!reply.hasContent())
        return false;
    return requiredText(reply, QStringLiteral("/body")) == QLatin1String("1");
}

} // namespace cfb
