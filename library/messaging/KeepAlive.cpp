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
        if (!addresses || addresses->isEmpty())
            continue; // a name still being looked up: a later tick sends
        lastSent_.insert(key, now);
        // A buddy with a key: a handshake the first time, an encrypted empty datagram after.
        if (owner_.keepAliveSecure(*buddy, addresses->first(), port))
            ++sent_;
        else if (socket->sendTo(addresses->first(), port, Datagram))
            ++sent_;
    }
}

} // namespace cfb
