#include "path/TurnAllocation.h"

#include "path/TurnChannelData.h"

#include <QDeadlineTimer>

#include <algorithm>

namespace cfb {
namespace {

constexpr uint32_t UdpTransport = uint32_t(17) << 24; // REQUESTED-TRANSPORT: UDP, then three zero bytes
constexpr int TimerMs = 250;

QString reasonOf(const StunMessage& answer)
{
    const auto code = answer.errorCode();
    return code ? QStringLiteral("error %1").arg(*code) : QStringLiteral("an error without a code");
}

} // namespace

TurnAllocation::TurnAllocation(Send send, Arrived arrived, QObject* parent)
    : QObject(parent)
    , send_(std::move(send))
    , arrived_(std::move(arrived))
    , clock_([] { return QDeadlineTimer::current().deadline(); })
    , nextChannel_(TurnChannelData::FirstChannel)
{
    timer_.setInterval(TimerMs);
    connect(&timer_, &QTimer::timeout, this, &TurnAllocation::onTimer);
}

TurnAllocation::~TurnAllocation() = default;

void TurnAllocation::start(const Ipv4Endpoint& server, const QString& username, const QString& password, bool overStream)
{
    forget();
    server_ = server;
    overStream_ = overStream;
    username_ = username;
    password_ = password;
    state_ = State::Allocating;
    failure_.clear();
    StunMessage allocate = StunMessage::make(StunMessage::Allocate, StunMessage::Request);
    allocate.addUint32(StunMessage::RequestedTransport, UdpTransport);
    allocate.addUint32(StunMessage::Lifetime, RequestedLifetimeSeconds);
    request(std::move(allocate));
    timer_.start();
}

void TurnAllocation::release()
{
    if (state_ == State::Allocated && !key_.isEmpty()) {
        StunMessage refresh = StunMessage::make(StunMessage::Refresh, StunMessage::Request);
        refresh.addUint32(StunMessage::Lifetime, 0);
        refresh.addText(StunMessage::Username, username_)
            .addText(StunMessage::Realm, realm_)
            .addText(StunMessage::Nonce, nonce_);
        send_(server_, refresh.encode(key_));
    }
    forget();
    state_ = State::Idle;
}

void TurnAllocation::forget()
{
    timer_.stop();
    transactions_.clear();
    permissions_.clear();
    channels_.clear();
    byChannel_.clear();
    nextChannel_ = TurnChannelData::FirstChannel;
    relayed_ = {};
    lastHeardAt_ = -1;
    realm_.clear();
    nonce_.clear();
    key_.clear();
}

void TurnAllocation::fail(const QString& reason)
{
    forget();
    state_ = State::Failed;
    failure_ = reason;
    emit failed(reason);
}

void TurnAllocation::request(StunMessage message, bool retriedNonce, int maxSends)
{
    const StunMessage::TransactionId id = message.transaction();
    Transaction& transaction = transactions_[id];
    transaction.request = std::move(message);
    transaction.retriedNonce = retriedNonce;
    transaction.maxSends = maxSends;
    StunMessage sent = transaction.request;
    if (!key_.isEmpty()) {
        sent.addText(StunMessage::Username, username_)
            .addText(StunMessage::Realm, realm_)
            .addText(StunMessage::Nonce, nonce_);
        transaction.authenticated = true;
    }
    transaction.bytes = sent.encode(key_);
    transmit(transaction);
}

void TurnAllocation::transmit(Transaction& transaction)
{
    transaction.sentAt = now();
    ++transaction.sends;
    send_(server_, transaction.bytes);
}

void TurnAllocation::permit(uint32_t peerAddress)
{
    if (peerAddress == 0)
        return;
    auto found = permissions_.find(peerAddress);
    if (found != permissions_.end()) {
        found->usedAt = now();
        return;
    }
    if (permissions_.size() >= MaxPermissions)
        return;
    permissions_.insert(peerAddress, Permission {-1, now()});
    if (state_ == State::Allocated)
        askPermission(peerAddress);
}

void TurnAllocation::askPermission(uint32_t peerAddress)
{
    StunMessage message = StunMessage::make(StunMessage::CreatePermission, StunMessage::Request);
    message.addAddress(StunMessage::XorPeerAddress, {peerAddress, 0});
    request(std::move(message));
}

void TurnAllocation::bindChannel(const Ipv4Endpoint& peer, uint16_t number)
{
    StunMessage message = StunMessage::make(StunMessage::ChannelBind, StunMessage::Request);
    QByteArray value(4, '\0');
    value[0] = char(uint8_t(number >> 8));
    value[1] = char(uint8_t(number));
    message.add(StunMessage::ChannelNumber, value);
    message.addAddress(StunMessage::XorPeerAddress, peer);
    request(std::move(message));
}

bool TurnAllocation::send(const Ipv4Endpoint& peer, QByteArrayView bytes)
{
    if (state_ != State::Allocated || !peer.isValid())
        return false;
    const int64_t t = now();
    if (auto permission = permissions_.find(peer.address); permission != permissions_.end())
        permission->usedAt = t;
    else
        permit(peer.address);
    auto channel = channels_.find(endpointKey(peer));
    if (channel == channels_.end() && channels_.size() < MaxChannels && nextChannel_ <= TurnChannelData::LastChannel) {
        const uint16_t number = nextChannel_++;
        channel = channels_.insert(endpointKey(peer), Channel {number, false, -1, t});
        byChannel_.insert(number, peer);
        bindChannel(peer, number);
    }
    bool sent = false;
    if (channel != channels_.end() && channel->bound) {
        channel->usedAt = t;
        TurnChannelData::frame(channel->number, bytes, framed_);
        sent = send_(server_, framed_);
    } else {
        if (channel != channels_.end())
            channel->usedAt = t;
        StunMessage indication = StunMessage::make(StunMessage::Send, StunMessage::Indication);
        indication.addAddress(StunMessage::XorPeerAddress, peer);
        indication.add(StunMessage::DataAttribute, bytes);
        sent = send_(server_, indication.encode());
    }
    if (sent)
        ++relayedOut_;
    return sent;
}

void TurnAllocation::receive(QByteArrayView datagram)
{
    if (state_ == State::Idle)
        return;
    if (TurnChannelData::looksLikeChannelData(datagram)) {
        const auto frame = TurnChannelData::parse(datagram);
        if (!frame || state_ != State::Allocated)
            return;
        const auto peer = byChannel_.constFind(frame->channel);
        if (peer == byChannel_.constEnd())
            return;
        ++relayedIn_;
        lastHeardAt_ = now();
        arrived_(*peer, frame->bytes);
        return;
    }
    const std::optional<StunMessage> message = StunMessage::parse(datagram);
    if (!message)
        return;
    lastHeardAt_ = now();
    if (message->messageClass() == StunMessage::Indication) {
        if (message->method() != StunMessage::Data || state_ != State::Allocated)
            return;
        const auto peer = message->address(StunMessage::XorPeerAddress);
        const auto bytes = message->attribute(StunMessage::DataAttribute);
        if (!peer || !bytes)
            return;
        ++relayedIn_;
        arrived_(*peer, *bytes);
        return;
    }
    if (message->messageClass() == StunMessage::Success || message->messageClass() == StunMessage::Error)
        onAnswer(*message);
}

void TurnAllocation::onAnswer(const StunMessage& answer)
{
    const auto found = transactions_.find(answer.transaction());
    if (found == transactions_.end() || found->second.request.method() != answer.method())
        return;
    // Only the server that knows the key can say yes to a request made with it.
    if (answer.messageClass() == StunMessage::Success && found->second.authenticated && !answer.hasIntegrity(key_))
        return;
    const Transaction transaction = std::move(found->second);
    transactions_.erase(found);
    const bool success = answer.messageClass() == StunMessage::Success;
    const int code = answer.errorCode().value_or(0);

    // A nonce the server no longer takes: the request once more with the new one.
    if (!success && code == 438 && !transaction.retriedNonce && answer.text(StunMessage::Nonce)) {
        nonce_ = *answer.text(StunMessage::Nonce);
        StunMessage again = transaction.request;
        StunMessage fresh = StunMessage::make(again.method(), StunMessage::Request);
        // The same attributes under a new transaction id.
        for (const uint16_t type : {uint16_t(StunMessage::RequestedTransport), uint16_t(StunMessage::Lifetime),
                 uint16_t(StunMessage::ChannelNumber), uint16_t(StunMessage::XorPeerAddress)})
            if (const auto value = again.attribute(type))
                fresh.add(type, *value);
        request(std::move(fresh), true);
        return;
    }

    switch (transaction.request.method()) {
    case StunMessage::Allocate:
        onAllocateAnswer(answer, transaction);
        return;
    case StunMessage::Refresh:
        if (success) {
            const uint32_t lifetime = answer.uint32(StunMessage::Lifetime).value_or(RequestedLifetimeSeconds);
            refreshAt_ = now() + std::max<int64_t>(30, int64_t(lifetime) - 60) * 1000;
        } else {
            fail(QStringLiteral("the relay did not renew the allocation (%1)").arg(reasonOf(answer)));
        }
        return;
    case StunMessage::CreatePermission: {
        const auto peer = transaction.request.address(StunMessage::XorPeerAddress);
        if (!peer)
            return;
        // Refused (a peer in a range the relay will not reach): asked again only at the next renewal.
        if (auto permission = permissions_.find(peer->address); permission != permissions_.end())
            permission->refreshedAt = now();
        return;
    }
    case StunMessage::ChannelBind: {
        const auto peer = transaction.request.address(StunMessage::XorPeerAddress);
        if (!peer)
            return;
        const auto channel = channels_.find(endpointKey(*peer));
        if (channel == channels_.end())
            return;
        if (success) {
            channel->bound = true;
            channel->refreshedAt = now();
            // A binding also holds the peer's permission (RFC 8656 12.2).
            if (auto permission = permissions_.find(peer->address); permission != permissions_.end())
                permission->refreshedAt = now();
        } else if (!channel->bound) {
            // Send indications still work without the channel.
            channel->refreshedAt = now() + ChannelRefreshMs;
        }
        return;
    }
    default:
        return;
    }
}

void TurnAllocation::onAllocateAnswer(const StunMessage& answer, const Transaction& transaction)
{
    if (answer.messageClass() == StunMessage::Success) {
        const auto relayed = answer.address(StunMessage::XorRelayedAddress);
        if (!relayed || !relayed->isValid()) {
            fail(QStringLiteral("the relay answered without an IPv4 relayed address"));
            return;
        }
        relayed_ = *relayed;
        state_ = State::Allocated;
        const uint32_t lifetime = answer.uint32(StunMessage::Lifetime).value_or(RequestedLifetimeSeconds);
        refreshAt_ = now() + std::max<int64_t>(30, int64_t(lifetime) - 60) * 1000;
        for (auto it = permissions_.begin(); it != permissions_.end(); ++it)
            askPermission(it.key());
        emit allocated(relayed_);
        return;
    }
    const int code = answer.errorCode().value_or(0);
    const auto realm = answer.text(StunMessage::Realm);
    const auto nonce = answer.text(StunMessage::Nonce);
    if (code == 401 && !transaction.authenticated && realm && nonce && !realm->isEmpty()) {
        realm_ = *realm;
        nonce_ = *nonce;
        key_ = StunMessage::longTermKey(username_, realm_, password_);
        StunMessage allocate = StunMessage::make(StunMessage::Allocate, StunMessage::Request);
        allocate.addUint32(StunMessage::RequestedTransport, UdpTransport);
        allocate.addUint32(StunMessage::Lifetime, RequestedLifetimeSeconds);
        request(std::move(allocate));
        return;
    }
    if (code == 401)
        fail(QStringLiteral("the relay refused the credentials"));
    else
        fail(QStringLiteral("the relay refused the allocation (%1)").arg(reasonOf(answer)));
}

void TurnAllocation::refresh(int maxSends)
{
    StunMessage message = StunMessage::make(StunMessage::Refresh, StunMessage::Request);
    message.addUint32(StunMessage::Lifetime, RequestedLifetimeSeconds);
    request(std::move(message), false, maxSends);
}

void TurnAllocation::onTimer()
{
    const int64_t t = now();
    QList<StunMessage::TransactionId> given;
    for (auto& [id, transaction] : transactions_) {
        if (t - transaction.sentAt < transaction.backoff)
            continue;
        if (transaction.sends >= transaction.maxSends) {
            given.append(id);
            continue;
        }
        transaction.backoff *= 2;
        if (overStream_) {
            // Nothing is lost on a stream: only the time it may take runs on.
            transaction.sentAt = t;
            ++transaction.sends;
        } else {
            transmit(transaction);
        }
    }
    for (const auto& id : given) {
        const auto found = transactions_.find(id);
        const StunMessage::Method method = found->second.request.method();
        transactions_.erase(found);
        if (method == StunMessage::Allocate || method == StunMessage::Refresh) {
            fail(QStringLiteral("the relay does not answer"));
            return;
        }
    }
    if (state_ != State::Allocated)
        return;
    const bool refreshing = std::any_of(transactions_.begin(), transactions_.end(),
        [](const auto& entry) { return entry.second.request.method() == StunMessage::Refresh; });
    if (t >= refreshAt_) {
        refreshAt_ = t + 30000; // the answer sets the next time; without one, again in 30 s
        refresh(MaxSends);
    } else if (!refreshing && t - lastHeardAt_ >= QuietMs) {
        refresh(QuietProbeSends);
    }
    for (auto it = channels_.begin(); it != channels_.end();) {
        if (t - it->usedAt > IdleMs) {
            byChannel_.remove(it->number);
            it = channels_.erase(it);
            continue;
        }
        if (it->refreshedAt >= 0 && t - it->refreshedAt >= ChannelRefreshMs) {
            it->refreshedAt = t;
            if (const auto peer = byChannel_.constFind(it->number); peer != byChannel_.constEnd())
                bindChannel(*peer, it->number);
        }
        ++it;
    }
    for (auto it = permissions_.begin(); it != permissions_.end();) {
        if (t - it->usedAt > IdleMs) {
            it = permissions_.erase(it);
            continue;
        }
        if (it->refreshedAt >= 0 && t - it->refreshedAt >= PermissionRefreshMs) {
            it->refreshedAt = t;
            askPermission(it.key());
        }
        ++it;
    }
}

} // namespace cfb
