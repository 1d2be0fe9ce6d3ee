#include "messaging/PeerPaths.h"

#include "channel/ChannelDatagram.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerAddresses.h"
#include "messaging/modINET.h"
#include "path/TurnAllocation.h"
#include "path/TurnServerUrl.h"
#include "path/TurnStream.h"
#include "transport/LocalAddress.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <QDeadlineTimer>

namespace cfb {
namespace {

int64_t nowMs()
{
    return QDeadlineTimer::current().deadline();
}

std::optional<Ipv4Endpoint> parseEndpoint(const QString& text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    uint32_t address = 0;
    bool ok = false;
    const uint port = colon > 0 ? text.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535 || !vWinsock::ParseIPv4(text.left(colon), address) || address == 0)
        return std::nullopt;
    return Ipv4Endpoint {address, uint16_t(port)};
}

QString endpointText(const Ipv4Endpoint& endpoint)
{
    return vWinsock::DottedAddress(endpoint.address) + QLatin1Char(':') + QString::number(endpoint.port);
}

SecureChannel::Endpoint channelEndpoint(const Ipv4Endpoint& endpoint, bool relayed = false)
{
    return {endpoint.address, endpoint.port, relayed};
}

} // namespace

PeerPaths::PeerPaths(Confabo& owner, SecureChannel& channel, PeerAddresses& addresses)
    : QObject(&owner)
    , owner_(owner)
    , channel_(channel)
    , addresses_(addresses)
{
    const auto send = [this](const Ipv4Endpoint& to, QByteArrayView datagram) {
        if (stream_->isOpen())
            return stream_->write(datagram);
        ivUDP* socket = owner_.wsReceive();
        return socket && socket->sendTo(to.address, to.port, datagram);
    };
    const auto arrived = [this](const Ipv4Endpoint& peer, QByteArrayView bytes) {
        // Only the channel's datagrams are relayed: what the relay hands on is opened by its keys.
        if (ChannelDatagram::isChannel(bytes) && !owner_.blocksAllData())
            channel_.receive(bytes, channelEndpoint(peer, true));
    };
    allocation_ = new TurnAllocation(send, arrived, this);
    stream_ = new TurnStream(
        [this](QByteArrayView message) {
            if (!owner_.blocksAllData())
                allocation_->receive(message);
        },
        this);
    connect(stream_, &TurnStream::closed, this, [this](const QString&) {
        allocation_->release();
        lost();
    });
    connect(allocation_, &TurnAllocation::allocated, this, [this](const Ipv4Endpoint& relayed) {
        published_ = endpointText(relayed);
        publishedAt_ = nowMs();
        emit relayAddressChanged(published_);
    });
    connect(allocation_, &TurnAllocation::failed, this, [this](const QString&) {
        stream_->close();
        lost();
    });
    timer_.setInterval(TickMs);
    connect(&timer_, &QTimer::timeout, this, &PeerPaths::tick);
}

PeerPaths::~PeerPaths() = default;

void PeerPaths::start()
{
    // Called again whenever the account is taken over: the timer keeps its pace.
    if (!timer_.isActive())
        timer_.start();
}

void PeerPaths::stop()
{
    timer_.stop();
    allocation_->release();
    stream_->close();
    tracking_.clear();
    ipv6Unanswered_.clear();
    ownIPv6CheckedAt_ = -1;
    allocationTriedAt_ = -1;
    candidate_ = 0;
    server_.clear();
    published_.clear();
}

void PeerPaths::lost()
{
    server_.clear();
    if (!published_.isEmpty()) {
        published_.clear();
        emit relayAddressChanged(QString());
    }
}

QString PeerPaths::relayServer() const
{
    return server_;
}

QList<TurnServerUrl> PeerPaths::servers() const
{
    // UDP first: a stream is for networks that let out nothing else.
    QList<TurnServerUrl> found;
    for (const TurnServerUrl::Transport transport :
        {TurnServerUrl::Transport::Udp, TurnServerUrl::Transport::Tcp, TurnServerUrl::Transport::Tls})
        for (const QString& url : credentials_.urls)
            if (const auto server = TurnServerUrl::parse(url); server && server->transport == transport)
                found.append(*server);
    return found;
}

bool PeerPaths::isRelayServer(const Ipv4Endpoint& from) const
{
    return !stream_->isOpen() && allocation_->isServer(from);
}

void PeerPaths::receiveFromRelay(QByteArrayView datagram)
{
    allocation_->receive(datagram);
}

bool PeerPaths::sendRelayed(const Ipv4Endpoint& peer, QByteArrayView datagram)
{
    return allocation_->send(peer, datagram);
}

QString PeerPaths::relayedAddress() const
{
    return allocation_->state() == TurnAllocation::State::Allocated ? endpointText(allocation_->relayed()) : QString();
}

PeerPaths::Path PeerPaths::path(Buddy& buddy) const
{
    const std::optional<Key32> key = owner_.encryptedKey(buddy);
    if (!key)
        return Path::Unknown;
    const auto heard = channel_.heard(*key, buddy.handle());
    if (!heard || heard->agoMs >= HeardLatelyMs)
        return Path::Unknown;
    // Through this client's relay, or sent to the buddy's relayed address and answered from it.
    const std::optional<Ipv4Endpoint> buddyRelay = parseEndpoint(buddy.knownRelay());
    const bool viaBuddyRelay = buddyRelay && heard->from.address == buddyRelay->address && heard->from.port == buddyRelay->port;
    if (heard->from.relayed || viaBuddyRelay)
        return Path::Relay;
    return heard->from.isIPv6() ? Path::DirectIPv6 : Path::Direct;
}

SecureChannel::Endpoint PeerPaths::directEndpoint(const Buddy& buddy, uint32_t address4, uint16_t port) const
{
    checkOwnIPv6(nowMs());
    if (ownIPv6_) {
        if (const auto six = buddy.knownAddress6()) {
            const auto unanswered = ipv6Unanswered_.constFind(&buddy);
            if (unanswered == ipv6Unanswered_.constEnd() || *unanswered != *six) {
                SecureChannel::Endpoint to;
                to.address6 = *six;
                to.port = port;
                return to;
            }
        }
    }
    return {address4, port};
}

void PeerPaths::checkOwnIPv6(int64_t now) const
{
    if (ownIPv6CheckedAt_ >= 0 && now - ownIPv6CheckedAt_ < OwnIPv6CheckMs)
        return;
    ownIPv6CheckedAt_ = now;
    ivUDP* socket = owner_.wsReceive();
    ownIPv6_ = socket && socket->takesIPv6() && !Confabo::ownIPv6Address().isEmpty();
}

void PeerPaths::allocate(int64_t now)
{
    if (!credentials_.isValid())
        return;
    const TurnAllocation::State state = allocation_->state();
    if (state == TurnAllocation::State::Allocating || state == TurnAllocation::State::Allocated)
        return;
    const QList<TurnServerUrl> candidates = servers();
    if (candidate_ >= candidates.size()) {
        // Every server tried: from the first again after a pause.
        if (allocationTriedAt_ >= 0 && now - allocationTriedAt_ < RetryAllocationMs)
            return;
        candidate_ = 0;
    }
    for (; candidate_ < candidates.size(); ++candidate_) {
        const TurnServerUrl& server = candidates[candidate_];
        const auto addresses = addresses_.resolve(server.host);
        if (!addresses)
            return; // a name being looked up: a later tick
        if (addresses->isEmpty())
            continue;
        allocationTriedAt_ = now;
        ++candidate_;
        server_ = credentials_.urls.value(0);
        for (const QString& url : credentials_.urls) {
            const auto parsed = TurnServerUrl::parse(url);
            if (parsed && parsed->host == server.host && parsed->port == server.port && parsed->transport == server.transport)
                server_ = url;
        }
        if (server.transport == TurnServerUrl::Transport::Udp) {
            stream_->close();
            allocation_->start({addresses->first(), server.port}, credentials_.username, credentials_.password);
            return;
        }
        const bool tls = server.transport == TurnServerUrl::Transport::Tls;
        stream_->open(vWinsock::DottedAddress(addresses->first()), server.port, tls, server.host,
            ServiceChannel::current().caFile);
        allocation_->start({}, credentials_.username, credentials_.password, true);
        return;
    }
}

void PeerPaths::tick()
{
    ivUDP* socket = owner_.wsReceive();
    if (owner_.blocksAllData() || !socket || socket->State() != sckUDPListening || owner_.Status() == CFB_OFFLINE)
        return;
    const uint16_t port = uint16_t(socket->LocalPort().toInt());
    const int64_t now = nowMs();
    checkOwnIPv6(now);
    bool needsRelay = false;
    QList<uint32_t> toPermit;
    for (const auto& buddy : *owner_.Buddies()) {
        if (buddy->knownStatus() == CFB_OFFLINE || owner_.IsBlocked(buddy->handle())) {
            ipv6Unanswered_.remove(buddy.get());
            continue;
        }
        const std::optional<Key32> key = owner_.encryptedKey(*buddy);
        if (!key)
            continue;
        const auto addresses = addresses_.resolve(buddy->knownAddress());
        if (!addresses || addresses->isEmpty() || port == 0)
            continue;
        const Ipv4Endpoint direct {addresses->first(), port};
        const SecureChannel::Endpoint tryFirst = directEndpoint(*buddy, direct.address, port);
        const std::optional<Ipv4Endpoint> buddyRelay = parseEndpoint(buddy->knownRelay());
        Tracking& tracking = tracking_[buddy->handle().toLower()];
        const auto heard = channel_.heard(*key, buddy->handle());
        if (buddyRelay && buddy->knownRelay() != tracking.relay) {
            // The buddy's relay went away and it has another (it says none in between, which
            // changes nothing): talked to through the old one, the buddy is tried at once where it is now.
            const std::optional<Ipv4Endpoint> old = parseEndpoint(tracking.relay);
            tracking.relay = buddy->knownRelay();
            if (heard && old && !heard->from.relayed && heard->from.address == old->address && heard->from.port == old->port) {
                const SecureChannel::Endpoint where = channelEndpoint(*buddyRelay);
                channel_.retarget(*key, buddy->handle(), where);
                channel_.probe(*key, buddy->handle(), where);
            }
        }
        if (heard && heard->agoMs < HeardLatelyMs) {
            tracking.triedSince = -1;
            const bool viaBuddyRelay
                = buddyRelay && heard->from.address == buddyRelay->address && heard->from.port == buddyRelay->port;
            if (heard->from.relayed) {
                toPermit.append(heard->from.address); // keeps the permission in use
                // Heard through this client's relay, which has gone: another one.
                needsRelay = needsRelay || allocation_->state() != TurnAllocation::State::Allocated;
            }
            if ((heard->from.relayed || viaBuddyRelay) && now - tracking.probedAt >= ProbeMs) {
                tracking.probedAt = now;
                channel_.probe(*key, buddy->handle(), tryFirst);
            }
            continue;
        }
        if (tracking.triedSince < 0) {
            tracking.triedSince = now; // the keep-alive tries the direct way first
            continue;
        }
        if (now - tracking.triedSince < DirectGraceMs)
            continue;
        if (tryFirst.isIPv6()) {
            // Nothing came back over IPv6: IPv4 now, with its own grace before the relay.
            ipv6Unanswered_.insert(buddy.get(), tryFirst.address6);
            tracking.triedSince = now;
            channel_.retarget(*key, buddy->handle(), channelEndpoint(direct));
            continue;
        }
        needsRelay = true;
        toPermit.append(direct.address);
        channel_.retarget(*key, buddy->handle(), channelEndpoint(buddyRelay ? *buddyRelay : direct));
    }
    if (allocation_->state() == TurnAllocation::State::Allocating && !allocation_->serverAnswered()
        && now - allocationTriedAt_ >= ServerSilentMs) {
        // Nothing came back (UDP that does not get out, a port that is closed): the next server.
        allocation_->release();
        stream_->close();
        lost();
    }
    if (needsRelay)
        allocate(now);
    for (const uint32_t address : toPermit)
        allocation_->permit(address);
    if (!published_.isEmpty() && now - publishedAt_ >= RepublishMs) {
        publishedAt_ = now;
        emit relayAddressChanged(published_);
    }
}

} // namespace cfb
