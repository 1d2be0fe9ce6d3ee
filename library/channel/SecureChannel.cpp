#include "channel/SecureChannel.h"

#include "channel/ChannelDatagram.h"
#include "channel/FileContent.h"
#include "channel/FrameInbox.h"
#include "channel/FrameOutbox.h"
#include "channel/Identity.h"
#include "channel/NoiseHandshake.h"
#include "channel/PeerSession.h"
#include "channel/VideoLink.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QPointer>

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

namespace cfb {

namespace {

// The share of the handshake budget an address draws on: an IPv4 address, or an IPv6 /64 (one
// subscriber's network, whose 2^64 addresses must not each get a share of their own).
uint32_t guardBucket(const SecureChannel::Endpoint& from)
{
    if (!from.isIPv6())
        return from.address;
    uint32_t high = 0;
    uint32_t low = 0;
    std::memcpy(&high, from.address6.data(), 4);
    std::memcpy(&low, from.address6.data() + 4, 4);
    return high ^ ((low << 16) | (low >> 16)) ^ 0x9e3779b9u;
}

// A line id is the epoch above the line's number: an epoch below 2^21 keeps every id below 2^53,
// exact wherever ids travel as floating-point numbers (JSON).
uint32_t newEpoch()
{
    return 1 + randombytes_uniform((1u << 21) - 1);
}

} // namespace

using namespace ChannelDatagram;

namespace {

const QByteArray Prologue = QByteArrayLiteral("Confabo peer channel 1");
constexpr size_t MaxSessionsPerPeer = 3;
// An unknown key's peer with nothing going on is forgotten after this long.
constexpr int64_t IdlePeerMs = PeerSession::RejectAfterMs;
// A peer sends at least every 20 s (its keep-alive): one heard within this is there.
constexpr int64_t HeardLatelyMs = 45000;

QByteArrayView keyView(const Key32& key)
{
    return QByteArrayView(reinterpret_cast<const char*>(key.data()), key.size());
}

// Peers are told apart by key and handle (two users of one profile share its key); handles are
// unique whatever their letter case.
QByteArray peerId(const Key32& key, const QString& handle)
{
    return keyView(key).toByteArray() + handle.toLower().toUtf8();
}

} // namespace

struct SecureChannel::Pending {
    std::unique_ptr<NoiseHandshake> handshake;
    uint32_t index = 0;
    QByteArray initiation; // as sent: its mac1 opens a cookie reply
    int64_t sentAt = 0;
    int tries = 0;
};

struct SecureChannel::Peer {
    Key32 key {};
    QString handle;
    bool trusted = false;
    Endpoint target; // where handshakes go: the address the owner gave
    Endpoint endpoint; // where its authenticated datagrams came from last
    int64_t heardAt = -1; // when the last of them came
    std::optional<Pending> pending;
    std::vector<std::unique_ptr<PeerSession>> sessions; // newest first
    Mac cookie {};
    int64_t cookieAt = -1;
    uint64_t lastTimestamp = 0; // the newest initiation accepted from this key
    struct Queued {
        QByteArray content;
        int64_t at = 0;
    };
    std::deque<Queued> queue;
    int64_t lastActivity = 0;
    // Lines sent and not yet acknowledged, by number, and the next number.
    struct Outgoing {
        uint64_t id = 0; // as the caller knows it
        ChannelContent::MessageFields fields;
        int64_t firstAt = 0;
        int64_t nextAt = 0;
        int64_t backoff = FirstResendMs;
    };
    std::map<uint32_t, Outgoing> unacked;
    uint32_t nextLine = 1;
    // Lines received, per epoch of the sender: the next number to show, those held back until it.
    struct Incoming {
        uint32_t next = 0; // 0: nothing seen yet
        std::map<uint32_t, ChannelContent::MessageFields> held;
        int64_t gapSince = -1;
    };
    QHash<uint32_t, Incoming> incoming;
    FrameOutbox outbox; // frames sent, for the packets asked for again
    FrameInbox inbox; // frames coming in
    VideoLink video; // coded video, both ways

    Endpoint sendTo() const { return endpoint.isValid() ? endpoint : target; }
};

VideoLink& SecureChannel::videoOf(Peer& peer)
{
    return peer.video;
}

const VideoLink& SecureChannel::videoOf(const Peer& peer)
{
    return peer.video;
}

SecureChannel::PeerFacts SecureChannel::factsOf(const Peer& peer)
{
    return {peer.handle, peer.trusted, peer.sendTo()};
}

const SecureChannel::Peer* SecureChannel::findPeer(const Key32& key, const QString& handle) const
{
    // The frames of a video stream find their peer without building the id (allocating).
    if (const std::shared_ptr<Peer> last = lastPeer_.lock();
        last && last->key == key && last->handle.compare(handle, Qt::CaseInsensitive) == 0)
        return last.get();
    const auto found = peers_.constFind(peerId(key, handle));
    return found == peers_.constEnd() ? nullptr : found->get();
}

SecureChannel::SecureChannel(Send send, Judge judge, QObject* parent)
    : QObject(parent)
    , send_(std::move(send))
    , judge_(std::move(judge))
    , clock_([] { return QDeadlineTimer::current().deadline(); })
    , files_([this](const QByteArray& id, QByteArrayView content) {
        const std::shared_ptr<Peer> peer = peers_.value(id);
        if (!peer)
            return false;
        // A file's packets never wait in the queue that lines wait in for a handshake.
        if (uint8_t(content[0]) == FileContent::Data && !sendingSession(*peer, now())) {
            startHandshake(*peer, now());
            return false;
        }
        return sendContent(*peer, {}, content);
    })
{
    timer_.setInterval(500);
    connect(&timer_, &QTimer::timeout, this, &SecureChannel::onTimer);
    frameTimer_.setSingleShot(true);
    frameTimer_.setInterval(FrameInbox::NackAfterMs);
    connect(&frameTimer_, &QTimer::timeout, this, &SecureChannel::onFrameTimer);
    epoch_ = newEpoch();
    nextFrame_ = randombytes_random();
}

SecureChannel::~SecureChannel() = default;

void SecureChannel::setIdentity(const Identity* identity, const QString& ownHandle)
{
    if (identity != identity_)
        reset();
    identity_ = identity;
    ownHandle_ = ownHandle;
    if (identity_)
        ownMac1Key_ = mac1Key(identity_->publicKey());
}

void SecureChannel::reset()
{
    peers_.clear();
    byIndex_.clear();
    timer_.stop();
    frameTimer_.stop();
    epoch_ = newEpoch();
    files_.reset();
}

SecureChannel::Peer& SecureChannel::peerFor(const Key32& key, const QString& handle)
{
    // A stream of frames to one buddy finds its peer without building the id (allocating).
    if (const std::shared_ptr<Peer> last = lastPeer_.lock();
        last && last->key == key && last->handle.compare(handle, Qt::CaseInsensitive) == 0) {
        last->handle = handle;
        last->trusted = true;
        last->lastActivity = now();
        return *last;
    }
    const QByteArray id = peerId(key, handle);
    auto found = peers_.find(id);
    if (found == peers_.end()) {
        auto peer = std::make_shared<Peer>();
        peer->key = key;
        found = peers_.insert(id, peer);
    }
    Peer& peer = **found;
    lastPeer_ = *found;
    // The caller knows this key as the handle's.
    peer.handle = handle;
    peer.trusted = true;
    peer.lastActivity = now();
    if (!timer_.isActive())
        timer_.start();
    return peer;
}

// A peer judged unknown at its handshake is asked about again: the owner may have learnt the key
// since (a new buddy's first presence lookup came after the buddy's first datagram), and the
// session then counts as that buddy's from here on.
bool SecureChannel::trustedNow(Peer& peer)
{
    if (!peer.trusted && judge_(peer.handle, peer.key) == Verdict::Trusted)
        peer.trusted = true;
    return peer.trusted;
}

SecureChannel::Peer* SecureChannel::peerOf(const Key32& key, const QString& handle)
{
    const auto found = peers_.constFind(peerId(key, handle));
    return found == peers_.constEnd() ? nullptr : found->get();
}

uint32_t SecureChannel::newIndex()
{
    for (;;) {
        const uint32_t index = randombytes_random();
        if (index != 0 && !byIndex_.contains(index))
            return index;
    }
}

PeerSession* SecureChannel::sendingSession(Peer& peer, int64_t now)
{
    for (const auto& session : peer.sessions)
        if (session->maySend(now))
            return session.get();
    return nullptr;
}

bool SecureChannel::hasSession(const Key32& key, const QString& handle) const
{
    const auto found = peers_.constFind(peerId(key, handle));
    if (found == peers_.constEnd())
        return false;
    const int64_t t = now();
    return std::any_of((*found)->sessions.begin(), (*found)->sessions.end(),
        [t](const auto& session) { return session->maySend(t); });
}

std::optional<SecureChannel::Heard> SecureChannel::heard(const Key32& key, const QString& handle) const
{
    const auto found = peers_.constFind(peerId(key, handle));
    if (found == peers_.constEnd() || (*found)->heardAt < 0)
        return std::nullopt;
    return Heard {(*found)->endpoint, now() - (*found)->heardAt};
}

void SecureChannel::retarget(const Key32& key, const QString& handle, const Endpoint& to)
{
    if (!identity_ || !to.isValid())
        return;
    Peer& peer = peerFor(key, handle);
    if (peer.target == to)
        return;
    peer.target = to;
    const int64_t t = now();
    if (peer.heardAt >= 0 || sendingSession(peer, t))
        return;
    if (peer.pending) {
        const int tries = peer.pending->tries;
        sendInitiation(peer);
        peer.pending->tries = tries;
    } else {
        startHandshake(peer, t);
    }
}

bool SecureChannel::probe(const Key32& key, const QString& handle, const Endpoint& to)
{
    Peer* peer = identity_ && to.isValid() ? peerOf(key, handle) : nullptr;
    if (!peer)
        return false;
    const int64_t t = now();
    PeerSession* session = sendingSession(*peer, t);
    static const char empty = char(ChannelContent::KeepAlive);
    return session && session->seal(QByteArrayView(&empty, 1), sealed_, t) && send_(to, sealed_);
}

bool SecureChannel::sendContent(Peer& peer, const Endpoint& to, QByteArrayView content)
{
    if (!identity_)
        return false;
    if (to.isValid())
        peer.target = to;
    const int64_t t = now();
    if (PeerSession* session = sendingSession(peer, t)) {
        const Endpoint where = peer.sendTo();
        const bool sent = where.isValid() && session->seal(content, sealed_, t) && send_(where, sealed_);
        if (session->wantsRekey(t))
            startHandshake(peer, t);
        return sent;
    }
    if (!peer.sendTo().isValid())
        return false;
    if (peer.queue.size() >= MaxQueued)
        peer.queue.pop_front();
    peer.queue.push_back({content.toByteArray(), t});
    startHandshake(peer, t);
    return true;
}

uint64_t SecureChannel::sendMessage(const Key32& key, const QString& handle, const Endpoint& to,
    const ChannelContent::MessageFields& fields, uint64_t* wireId)
{
    if (!identity_ || !ChannelContent::message(fields))
        return 0;
    Peer& peer = peerFor(key, handle);
    if (to.isValid())
        peer.target = to;
    if (!peer.sendTo().isValid())
        return 0;
    const int64_t t = now();
    const uint32_t number = peer.nextLine++;
    Peer::Outgoing& line = peer.unacked[number];
    line.id = nextLineId_++;
    line.fields = fields;
    line.fields.id = uint64_t(epoch_) << 32 | number;
    line.firstAt = t;
    if (wireId)
        *wireId = line.fields.id;
    transmitLine(peer, number, t);
    timer_.setInterval(100);
    return line.id;
}

void SecureChannel::transmitLine(Peer& peer, uint32_t number, int64_t t)
{
    Peer::Outgoing& line = peer.unacked.at(number);
    line.nextAt = t + line.backoff;
    line.backoff = std::min<int64_t>(line.backoff * 2, MaxResendMs);
    PeerSession* session = sendingSession(peer, t);
    const Endpoint where = peer.sendTo();
    if (!session || !where.isValid()) {
        startHandshake(peer, t);
        return;
    }
    line.fields.firstUnacknowledged = peer.unacked.begin()->first;
    const std::optional<QByteArray> content = ChannelContent::message(line.fields);
    if (content && session->seal(*content, sealed_, t))
        send_(where, sealed_);
    if (session->wantsRekey(t))
        startHandshake(peer, t);
}

bool SecureChannel::sendCallContent(const Key32& key, const QString& handle, const Endpoint& to, QByteArrayView content)
{
    using namespace ChannelContent;
    if (!identity_ || content.isEmpty() || uint8_t(content[0]) < FirstCallKind || uint8_t(content[0]) > LastCallKind)
        return false;
    return sendContent(peerFor(key, handle), to, content);
}

bool SecureChannel::sendFrame(const Key32& key, const QString& handle, const Endpoint& to, QByteArrayView frame)
{
    using namespace ChannelContent;
    if (!identity_ || frame.isEmpty())
        return false;
    const qsizetype count = (frame.size() + FramePacketBytes - 1) / FramePacketBytes;
    if (count > MaxFramePackets)
        return false;
    Peer& peer = peerFor(key, handle);
    const uint32_t number = nextFrame_++;
    peer.outbox.keep(number, frame, uint16_t(count));
    if (to.isValid())
        peer.target = to;
    const int64_t t = now();
    PeerSession* session = sendingSession(peer, t);
    if (sendBatch_ && session && peer.sendTo().isValid()) {
        if (batch_.size() < size_t(count)) {
            batch_.resize(size_t(count));
            batchViews_.resize(size_t(count));
        }
        for (qsizetype i = 0; i < count; ++i) {
            const QByteArrayView bytes
                = frame.sliced(i * FramePacketBytes, std::min(FramePacketBytes, frame.size() - i * FramePacketBytes));
            framePacket(number, uint16_t(i), uint16_t(count), bytes, chunk_);
            if (!session->seal(chunk_, batch_[size_t(i)], t))
                return false;
            batchViews_[size_t(i)] = batch_[size_t(i)];
        }
        const bool sent = sendBatch_(peer.sendTo(), batchViews_.data(), int(count)) == int(count);
        if (session->wantsRekey(t))
            startHandshake(peer, t);
        return sent;
    }
    bool sent = true;
    for (qsizetype i = 0; sent && i < count; ++i) {
        const QByteArrayView bytes
            = frame.sliced(i * FramePacketBytes, std::min(FramePacketBytes, frame.size() - i * FramePacketBytes));
        framePacket(number, uint16_t(i), uint16_t(count), bytes, chunk_);
        sent = sendContent(peer, to, chunk_);
    }
    return sent;
}

uint32_t SecureChannel::sendFile(
    const Key32& key, const QString& handle, const Endpoint& to, const QString& path, bool picture, QString& error)
{
    if (!identity_) {
        error = QStringLiteral("Not signed in.");
        return 0;
    }
    Peer& peer = peerFor(key, handle);
    if (to.isValid())
        peer.target = to;
    return files_.send(peerId(key, handle), handle, path, picture, error);
}

void SecureChannel::sendNow(Peer& peer, QByteArrayView content, int64_t t)
{
    PeerSession* session = sendingSession(peer, t);
    if (session && peer.sendTo().isValid() && session->seal(content, sealed_, t))
        send_(peer.sendTo(), sealed_);
}

void SecureChannel::takeFrames(const std::shared_ptr<Peer>& from, int64_t t)
{
    Peer& peer = *from;
    QList<QByteArray> ready;
    QList<ChannelContent::NackFields> nacks;
    peer.inbox.poll(t, ready, nacks);
    // Each ask goes twice, and what it asks for comes twice: one round trip is all a frame has
    // before the next one is due, so the ask and the answer must both get through.
    for (const ChannelContent::NackFields& nack : nacks) {
        const QByteArray content = ChannelContent::frameNack(nack.frame, nack.packets);
        sendNow(peer, content, t);
        sendNow(peer, content, t);
    }
    if (peer.inbox.pending() && !frameTimer_.isActive())
        frameTimer_.start();
    const QString handle = peer.handle;
    const bool trusted = peer.trusted;
    QPointer<SecureChannel> self(this);
    for (QByteArray& frame : ready) {
        emit frameArrived(handle, trusted, frame);
        if (!self)
            return;
    }
}

void SecureChannel::onFrameTimer()
{
    const int64_t t = now();
    QList<std::shared_ptr<Peer>> waiting;
    for (const auto& peer : std::as_const(peers_))
        if (peer->inbox.pending() || peer->video.inbox.pending())
            waiting.append(peer);
    QPointer<SecureChannel> self(this);
    for (const auto& peer : waiting) {
        if (peer->inbox.pending())
            takeFrames(peer, t);
        if (!self)
            return;
        if (peer->video.inbox.pending())
            takeVideoFrames(peer, t);
        if (!self)
            return;
    }
}

void SecureChannel::keepAlive(const Key32& key, const QString& handle, const Endpoint& to)
{
    if (!identity_)
        return;
    Peer& peer = peerFor(key, handle);
    if (to.isValid())
        peer.target = to;
    const int64_t t = now();
    if (PeerSession* session = sendingSession(peer, t)) {
        static const char empty = char(ChannelContent::KeepAlive);
        const Endpoint where = peer.sendTo();
        if (videoCodecs_ != 0)
            sendCodecs(peer, t); // a keep-alive that says again what this client decodes
        else if (where.isValid() && session->seal(QByteArrayView(&empty, 1), sealed_, t))
            send_(where, sealed_);
        if (session->wantsRekey(t))
            startHandshake(peer, t);
        return;
    }
    startHandshake(peer, t);
}

void SecureChannel::startHandshake(Peer& peer, int64_t now)
{
    if (peer.pending && now - peer.pending->sentAt < RetryMs)
        return;
    // A session this side answered waits for the initiator's first datagram: no second
    // handshake while that is still on its way.
    for (const auto& session : peer.sessions)
        if (!session->confirmed() && now - session->createdMs() < RetryMs)
            return;
    if (!peer.target.isValid() && !peer.endpoint.isValid())
        return;
    if (!peer.pending)
        peer.pending.emplace();
    peer.pending->tries = 0;
    sendInitiation(peer);
}

void SecureChannel::sendInitiation(Peer& peer)
{
    const int64_t t = now();
    QByteArray payload(InitiationPayloadSize, '\0');
    payload[0] = char(ProtocolVersion);
    // A timestamp that only grows, even when the wall clock steps back.
    static thread_local uint64_t lastStamp = 0;
    lastStamp = std::max(lastStamp + 1, uint64_t(QDateTime::currentMSecsSinceEpoch()));
    writeUint64(reinterpret_cast<uint8_t*>(payload.data()) + 1, lastStamp);
    QByteArray handle = ownHandle_.toUtf8().left(HandleRoom);
    payload[9] = char(uint8_t(handle.size()));
    std::memcpy(payload.data() + 10, handle.constData(), size_t(handle.size()));

    auto handshake = std::make_unique<NoiseHandshake>(
        NoiseHandshake::initiator(identity_->secretKey(), identity_->publicKey(), peer.key, Prologue));
    QByteArray message;
    if (!handshake->writeMessage(payload, message) || message.size() != InitiationNoiseSize)
        return;
    sodium_memzero(payload.data(), size_t(payload.size()));

    if (peer.pending && peer.pending->index)
        byIndex_.remove(peer.pending->index);
    const uint32_t index = newIndex();
    QByteArray datagram(InitiationSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(datagram.data());
    p[0] = Initiation;
    writeIndex(p + 4, index);
    std::memcpy(p + 8, message.constData(), size_t(message.size()));
    const bool haveCookie = peer.cookieAt >= 0 && t - peer.cookieAt < HandshakeGuard::CookieSecretMs - 10000;
    sign(datagram, mac1Key(peer.key), haveCookie ? &peer.cookie : nullptr);

    Pending& pending = *peer.pending;
    pending.handshake = std::move(handshake);
    pending.index = index;
    pending.initiation = datagram;
    pending.sentAt = t;
    ++pending.tries;
    byIndex_.insert(index, peers_.value(peerId(peer.key, peer.handle)));
    // A peer heard from lately gets its new handshake where it is heard: the way through its
    // router (or this client's relay) that works, which the address given may not be.
    const bool heardLately = peer.heardAt >= 0 && t - peer.heardAt < HeardLatelyMs && peer.endpoint.isValid();
    const Endpoint where = heardLately || !peer.target.isValid() ? peer.endpoint : peer.target;
    send_(where, datagram);
}

void SecureChannel::addSession(Peer& peer, std::unique_ptr<PeerSession> session)
{
    byIndex_.insert(session->localIndex(), peers_.value(peerId(peer.key, peer.handle)));
    peer.sessions.insert(peer.sessions.begin(), std::move(session));
    peer.video.sessionAt = now();
    while (peer.sessions.size() > MaxSessionsPerPeer) {
        byIndex_.remove(peer.sessions.back()->localIndex());
        peer.sessions.pop_back();
    }
    ++handshakesCompleted_;
    if (!timer_.isActive())
        timer_.start();
}

void SecureChannel::flush(Peer& peer, int64_t now)
{
    PeerSession* session = sendingSession(peer, now);
    const Endpoint where = peer.sendTo();
    if (!session || !where.isValid())
        return;
    for (auto& [number, line] : peer.unacked)
        transmitLine(peer, number, now);
    while (!peer.queue.empty()) {
        const Peer::Queued item = std::move(peer.queue.front());
        peer.queue.pop_front();
        if (now - item.at <= QueueMs && session->seal(item.content, sealed_, now))
            send_(where, sealed_);
    }
}

void SecureChannel::receive(QByteArrayView datagram, const Endpoint& from)
{
    if (!identity_ || !from.isValid())
        return;
    const int64_t t = now();
    switch (typeOf(datagram)) {
    case Initiation:
        onInitiation(datagram, from, t);
        break;
    case Response:
        onResponse(datagram, from, t);
        break;
    case CookieReply:
        onCookieReply(datagram);
        break;
    case Data:
        onData(datagram, from, t);
        break;
    default:
        break; // not of this channel's making
    }
}

void SecureChannel::onInitiation(QByteArrayView datagram, const Endpoint& from, int64_t t)
{
    // Only a sender that knows this user's public key gets past the first, cheap check.
    if (!hasMac1(datagram, ownMac1Key_))
        return;
    const QByteArrayView source = from.isIPv6()
        ? QByteArrayView(reinterpret_cast<const char*>(from.address6.data()), 16)
        : QByteArrayView(reinterpret_cast<const char*>(&from.address), 4);
    const uint32_t bucket = guardBucket(from);
    if (guard_.noteInitiation(t) && !guard_.hasValidCookie(datagram, source, from.port, t)) {
        if (!guard_.mayReplyWithCookie(bucket, t))
            return;
        const Mac cookie = guard_.cookieFor(source, from.port, t);
        QByteArray reply(CookieReplySize, '\0');
        auto* p = reinterpret_cast<uint8_t*>(reply.data());
        p[0] = CookieReply;
        std::memcpy(p + 4, datagram.data() + 4, 4); // the initiator's index
        randombytes_buf(p + 8, CookieNonceSize);
        const MacKey key = cookieKey(identity_->publicKey());
        crypto_aead_xchacha20poly1305_ietf_encrypt(p + 8 + CookieNonceSize, nullptr, cookie.data(), cookie.size(),
            reinterpret_cast<const uint8_t*>(datagram.data()) + mac1Offset(datagram), MacSize, nullptr, p + 8,
            key.data());
        if (send_(from, reply))
            ++cookieRepliesSent_;
        return;
    }
    if (!guard_.admits(bucket, t))
        return;

    NoiseHandshake handshake = NoiseHandshake::responder(identity_->secretKey(), identity_->publicKey(), Prologue);
    QByteArray payload;
    if (!handshake.readMessage(datagram.sliced(8, InitiationNoiseSize), payload) || payload.size() != InitiationPayloadSize
        || uint8_t(payload[0]) != ProtocolVersion || uint8_t(payload[9]) > HandleRoom) {
        emit forgedDropped();
        return;
    }
    const uint64_t stamp = readUint64(payload.constData() + 1);
    const QString handle = QString::fromUtf8(QByteArrayView(payload).sliced(10, uint8_t(payload[9])));
    const Key32 key = handshake.remoteStatic();
    const Verdict verdict = judge_(handle, key);
    if (verdict == Verdict::Forged) {
        emit forgedDropped();
        return;
    }
    Peer* known = peerOf(key, handle);
    if (known && stamp <= known->lastTimestamp) {
        emit forgedDropped(); // an initiation played again
        return;
    }
    Peer& peer = peerFor(key, handle);
    peer.trusted = verdict == Verdict::Trusted;
    peer.lastTimestamp = stamp;

    QByteArray message;
    if (!handshake.writeMessage({}, message) || message.size() != ResponseNoiseSize)
        return;
    const uint32_t index = newIndex();
    QByteArray response(ResponseSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(response.data());
    p[0] = Response;
    writeIndex(p + 4, index);
    std::memcpy(p + 8, datagram.data() + 4, 4);
    std::memcpy(p + 12, message.constData(), size_t(message.size()));
    sign(response, mac1Key(key), nullptr);
    auto [sending, receiving] = handshake.split();
    addSession(peer, std::make_unique<PeerSession>(index, readIndex(datagram, 4), std::move(sending), std::move(receiving), false, t));
    peer.endpoint = from;
    send_(from, response);
}

void SecureChannel::onResponse(QByteArrayView datagram, const Endpoint& from, int64_t t)
{
    if (!hasMac1(datagram, ownMac1Key_))
        return;
    const uint32_t index = readIndex(datagram, 8);
    const std::shared_ptr<Peer> peer = byIndex_.value(index).lock();
    if (!peer || !peer->pending || peer->pending->index != index)
        return;
    QByteArray payload;
    std::unique_ptr<NoiseHandshake> handshake = std::move(peer->pending->handshake);
    byIndex_.remove(index);
    peer->pending.reset();
    if (!handshake || !handshake->readMessage(datagram.sliced(12, ResponseNoiseSize), payload) || !payload.isEmpty()) {
        emit forgedDropped();
        return;
    }
    auto [sending, receiving] = handshake->split();
    addSession(*peer, std::make_unique<PeerSession>(index, readIndex(datagram, 4), std::move(sending), std::move(receiving), true, t));
    peer->endpoint = from;
    peer->heardAt = t;
    peer->lastActivity = t;
    // The first datagram confirms the keys to the responder: what waited, or an empty one.
    if (videoCodecs_ != 0) {
        sendCodecs(*peer, t); // what this client decodes, which also confirms the keys
        flush(*peer, t);
    } else if (peer->queue.empty() && peer->unacked.empty()) {
        static const char empty = char(ChannelContent::KeepAlive);
        if (PeerSession* session = sendingSession(*peer, t); session && session->seal(QByteArrayView(&empty, 1), sealed_, t))
            send_(from, sealed_);
    } else {
        flush(*peer, t);
    }
}

void SecureChannel::onCookieReply(QByteArrayView datagram)
{
    const uint32_t index = readIndex(datagram, 4);
    const std::shared_ptr<Peer> peer = byIndex_.value(index).lock();
    if (!peer || !peer->pending || peer->pending->index != index)
        return;
    const QByteArray& initiation = peer->pending->initiation;
    const MacKey key = cookieKey(peer->key);
    Mac cookie;
    const auto* p = reinterpret_cast<const uint8_t*>(datagram.data());
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(cookie.data(), nullptr, nullptr, p + 8 + CookieNonceSize,
            MacSize + TagSize, reinterpret_cast<const uint8_t*>(initiation.constData()) + mac1Offset(initiation), MacSize,
            p + 8, key.data())
        != 0)
        return;
    peer->cookie = cookie;
    peer->cookieAt = now();
    // Once a cookie reply for this initiation: the next carries the cookie.
    peer->pending->initiation.clear();
    if (peer->pending->tries <= MaxTries)
        sendInitiation(*peer);
}

void SecureChannel::onData(QByteArrayView datagram, const Endpoint& from, int64_t t)
{
    const uint32_t index = readIndex(datagram, 4);
    const std::shared_ptr<Peer> peer = byIndex_.value(index).lock();
    if (!peer)
        return; // a session forgotten here (after a sign-out, say): nothing to hold against it
    const auto found = std::find_if(peer->sessions.begin(), peer->sessions.end(),
        [index](const auto& session) { return session->localIndex() == index; });
    if (found == peer->sessions.end())
        return;
    PeerSession& session = **found;
    const bool wasConfirmed = session.confirmed();
    if (!session.open(datagram, opened_, t)) {
        emit forgedDropped();
        return;
    }
    const bool moved = peer->endpoint.isValid() && !(peer->endpoint == from);
    peer->endpoint = from;
    peer->heardAt = t;
    peer->lastActivity = t;
    if (!wasConfirmed) {
        flush(*peer, t);
        sendCodecs(*peer, t);
    }
    // A probe that came another way (a new relay, or direct again) is answered there at once, so
    // the prober moves too instead of sending on into a way that has gone.
    if (moved && opened_.size() == 1 && uint8_t(opened_[0]) == ChannelContent::KeepAlive) {
        static const char empty = char(ChannelContent::KeepAlive);
        if (PeerSession* answer = sendingSession(*peer, t); answer && answer->seal(QByteArrayView(&empty, 1), sealed_, t))
            send_(from, sealed_);
        return;
    }
    deliver(peer, opened_);
}

void SecureChannel::deliver(const std::shared_ptr<Peer>& from, QByteArrayView content)
{
    using namespace ChannelContent;
    Peer& peer = *from;
    if (content.isEmpty())
        return;
    switch (uint8_t(content[0])) {
    case KeepAlive:
        return;
    case Message: {
        auto fields = readMessage(content);
        if (!fields || fields->handle.compare(peer.handle, Qt::CaseInsensitive) != 0 || uint32_t(fields->id) == 0) {
            emit forgedDropped();
            return;
        }
        receiveLine(from, std::move(*fields), now());
        return;
    }
    case Receipt: {
        const auto ids = readReceipt(content);
        if (!ids)
            return;
        QList<uint64_t> delivered;
        for (const uint64_t id : *ids) {
            if (uint32_t(id >> 32) != epoch_)
                continue; // a receipt for lines of an earlier sign-in
            const auto line = peer.unacked.find(uint32_t(id));
            if (line == peer.unacked.end())
                continue;
            delivered.append(line->second.id);
            peer.unacked.erase(line);
        }
        const QString handle = peer.handle;
        QPointer<SecureChannel> self(this);
        for (const uint64_t id : delivered) {
            emit lineDelivered(handle, id);
            if (!self)
                return;
        }
        return;
    }
    case FramePacket: {
        const auto packet = readFramePacket(content);
        if (!packet)
            return;
        peer.inbox.add(*packet, now());
        takeFrames(from, now());
        return;
    }
    case FrameNack: {
        const auto nack = readFrameNack(content);
        if (!nack)
            return;
        const int64_t t = now();
        for (const uint16_t index : nack->packets) {
            uint16_t count = 0;
            if (const auto bytes = peer.outbox.resend(nack->frame, index, count)) {
                framePacket(nack->frame, index, count, *bytes, chunk_);
                sendNow(peer, chunk_, t);
                sendNow(peer, chunk_, t);
            }
        }
        return;
    }
    case FileContent::Offer:
    case FileContent::Reply:
    case FileContent::Data:
    case FileContent::Ack:
    case FileContent::Cancel:
        files_.receive(peerId(peer.key, peer.handle), peer.handle, trustedNow(peer), content);
        return;
    case VideoContent::Codecs:
    case VideoContent::Packet:
    case VideoContent::Nack:
    case VideoContent::Report:
    case VideoContent::KeyFrameAsk:
        deliverVideo(from, content, now());
        return;
    default:
        if (uint8_t(content[0]) >= FirstCallKind && uint8_t(content[0]) <= LastCallKind)
            emit callContentArrived(peer.handle, peer.key, trustedNow(peer), content);
        return; // other kinds are of later versions
    }
}

void SecureChannel::receiveLine(const std::shared_ptr<Peer>& from, ChannelContent::MessageFields fields, int64_t t)
{
    Peer& peer = *from;
    // The receipt goes at once, for a line seen before too: the first receipt may have been lost.
    if (PeerSession* session = sendingSession(peer, t); session && peer.sendTo().isValid()
        && session->seal(ChannelContent::receipt({fields.id}), sealed_, t))
        send_(peer.sendTo(), sealed_);
    // The handle as its owner writes it.
    peer.handle = fields.handle;

    const uint32_t epoch = uint32_t(fields.id >> 32);
    const uint32_t number = uint32_t(fields.id);
    if (!peer.incoming.contains(epoch) && peer.incoming.size() >= 4)
        peer.incoming.clear(); // the sender signed in anew several times: its old lines are over
    Peer::Incoming& in = peer.incoming[epoch];
    if (in.next == 0)
        in.next = fields.firstUnacknowledged != 0 ? std::min(number, fields.firstUnacknowledged) : number;
    QList<ChannelContent::MessageFields> shown;
    // The sender gave up on the lines before its first unacknowledged one: stop waiting for them.
    if (fields.firstUnacknowledged > in.next) {
        while (!in.held.empty() && in.held.begin()->first < fields.firstUnacknowledged) {
            shown.append(std::move(in.held.begin()->second));
            in.held.erase(in.held.begin());
        }
        in.next = fields.firstUnacknowledged;
    }
    if (number >= in.next && !in.held.contains(number) && in.held.size() < size_t(MaxHeldLines))
        in.held.emplace(number, std::move(fields));
    while (!in.held.empty() && in.held.begin()->first <= in.next) {
        if (in.held.begin()->first == in.next) {
            shown.append(std::move(in.held.begin()->second));
            ++in.next;
        }
        in.held.erase(in.held.begin());
    }
    in.gapSince = in.held.empty() ? -1 : (in.gapSince < 0 ? t : in.gapSince);
    emitLines(from, shown);
}

void SecureChannel::emitLines(const std::shared_ptr<Peer>& peer, const QList<ChannelContent::MessageFields>& lines)
{
    QPointer<SecureChannel> self(this);
    for (const ChannelContent::MessageFields& line : lines) {
        if (line.text.isEmpty())
            continue;
        emit messageArrived(line.handle, trustedNow(*peer), line.email, line.videoPort, line.text, line.id);
        if (!self)
            return;
    }
}

void SecureChannel::onTimer()
{
    const int64_t t = now();
    QPointer<SecureChannel> self(this);
    QList<std::pair<QString, uint64_t>> givenUp;
    QList<std::pair<std::shared_ptr<Peer>, QList<ChannelContent::MessageFields>>> released;
    bool waiting = false;
    for (auto it = peers_.begin(); it != peers_.end();) {
        Peer& peer = **it;
        if (peer.pending && t - peer.pending->sentAt >= RetryMs) {
            if (peer.pending->tries >= MaxTries) {
                byIndex_.remove(peer.pending->index);
                peer.pending.reset();
                peer.queue.clear();
            } else {
                sendInitiation(peer);
            }
        }
        while (!peer.queue.empty() && t - peer.queue.front().at > QueueMs)
            peer.queue.pop_front();
        for (auto line = peer.unacked.begin(); line != peer.unacked.end();) {
            if (t - line->second.firstAt >= GiveUpMs) {
                givenUp.append({peer.handle, line->second.id});
                line = peer.unacked.erase(line);
                continue;
            }
            if (t >= line->second.nextAt)
                transmitLine(peer, line->first, t);
            ++line;
        }
        waiting = waiting || !peer.unacked.empty();
        reportVideo(peer, t);
        // Lines held behind one that never came, once its sender must have given up on it.
        for (Peer::Incoming& in : peer.incoming) {
            if (in.gapSince < 0 || t - in.gapSince <= GiveUpMs + RetryMs)
                continue;
            QList<ChannelContent::MessageFields> lines;
            for (auto& [number, fields] : in.held) {
                lines.append(std::move(fields));
                in.next = number + 1;
            }
            in.held.clear();
            in.gapSince = -1;
            released.append({*it, lines});
        }
        for (auto s = peer.sessions.begin(); s != peer.sessions.end();) {
            if ((*s)->mayReceive(t)) {
                ++s;
            } else {
                byIndex_.remove((*s)->localIndex());
                s = peer.sessions.erase(s);
            }
        }
        const bool idle = peer.sessions.empty() && !peer.pending && peer.queue.empty() && peer.unacked.empty();
        if (idle && !peer.trusted && t - peer.lastActivity > IdlePeerMs)
            it = peers_.erase(it);
        else
            ++it;
    }
    timer_.setInterval(waiting ? 100 : 500);
    if (peers_.isEmpty())
        timer_.stop();
    for (const auto& [peer, lines] : released) {
        emitLines(peer, lines);
        if (!self)
            return;
    }
    for (const auto& [handle, id] : givenUp) {
        emit lineNotDelivered(handle, id);
        if (!self)
            return;
    }
}

} // namespace cfb
