#include "messaging/KeepAlive.h"

#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerAddresses.h"
#include "transport/ivUDP.h"

#include <QDeadlineTimer>

namespace cfb {

const QByteArray KeepAlive::Datagram = QByteArrayLiteral("\n");

KeepAlive::KeepAlive(Confabo& owner, PeerAddresses& addresses)
    : QObject(&owner)
    , owner_(owner)
    , addresses_(addresses)
{
    connect(&timer_, &QTimer::timeout, this, &KeepAlive::tick);
    setIntervalMs(DefaultIntervalMs);
}

void KeepAlive::setIntervalMs(int ms)
{
    intervalMs_ = qMax(1, ms);
    timer_.setInterval(qBound(1, intervalMs_ / 10, 1000));
}

void KeepAlive::start()
{
    lastSent_.clear();
    timer_.start();
    tick(); // buddies already known online get theirs now
}

void KeepAlive::stop()
{
    timer_.stop();
}

void KeepAlive::tick()
{
    ivUDP* socket = owner_.wsReceive();
    if (owner_.blocksAllData() || !socket || socket->State() != sckUDPListening || owner_.Status() == CFB_OFFLINE)
        return;
    const uint16_t port = uint16_t(socket->LocalPort().toInt());
    if (port == 0)
        return;
    const int64_t now = QDeadlineTimer::current().deadline();
    for (const auto& buddy : *owner_.Buddies()) {
        if (buddy->knownStatus() == CFB_OFFLINE || owner_.IsBlocked(buddy->handle()))
            continue;
        const QString key = buddy->handle().toLower();
        const auto last = lastSent_.constFind(key);
        if (last != lastSent_.constEnd() && now - *last < intervalMs_)
            continue;
        const auto addresses = addresses_.resolve(buddy->knownAddress());
        if (!addresses)
            continue; // a name still being looked up: a later tick sends
        // A buddy with IPv6 only has no IPv4 address; the channel may still reach it.
        const uint32_t address4 = addresses->isEmpty() ? 0 : addresses->first();
        if (address4 == 0 && !buddy->knownAddress6())
            continue;
        lastSent_.insert(key, now);
        // A buddy with a key: a handshake the first time, an encrypted empty datagram after. The
        // plain format stays IPv4.
        if (owner_.keepAliveSecure(*buddy, address4, port))
            ++sent_;
        else if (address4 != 0 && socket->sendTo(address4, port, Datagram))
            ++sent_;
    }
}

} // namespace cfb
