#include "messaging/SenderCheck.h"

#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/PeerAddresses.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkInterface>

#include <arpa/inet.h>

namespace cfb {

SenderCheck::SenderCheck(PeerAddresses& addresses, QObject* parent)
    : QObject(parent)
    , addresses_(addresses)
{
    reportTimer_.setSingleShot(true);
    connect(&reportTimer_, &QTimer::timeout, this, &SenderCheck::report);
}

bool SenderCheck::accepts(Buddies& buddies, const QString& fromHandle, uint32_t senderAddress)
{
    const std::shared_ptr<Buddy> buddy = buddies.Item(fromHandle);
    if (!buddy)
        return true;
    const QString known = buddy->knownAddress();
    if (known.trimmed().isEmpty())
        return true;
    const auto addresses = addresses_.resolve(known);
    if ((addresses && addresses->contains(senderAddress)) || fromThisMachine(senderAddress))
        return true;
    countForged();
    return false;
}

bool SenderCheck::fromThisMachine(uint32_t senderAddress)
{
    // Interfaces change seldom; read them again at most every ten seconds.
    const int64_t now = QDeadlineTimer::current().deadline();
    if (ownAddressesRead_ == 0 || now - ownAddressesRead_ > 10000) {
        ownAddressesRead_ = now;
        ownAddresses_.clear();
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            bool ok = false;
            const quint32 v4 = a.toIPv4Address(&ok);
            if (ok)
                ownAddresses_.append(htonl(v4));
        }
    }
    return ownAddresses_.contains(senderAddress);
}

void SenderCheck::countForged()
{
    ++pending_;
    if (reportTimer_.isActive())
        return;
    const int64_t now = QDeadlineTimer::current().deadline();
    const int64_t wait = lastReport_ == 0 ? 0 : lastReport_ + ReportEveryMs - now;
    if (wait <= 0)
        report();
    else
        reportTimer_.start(int(wait));
}

void SenderCheck::report()
{
    if (pending_ == 0)
        return;
    lastReport_ = QDeadlineTimer::current().deadline();
    const int count = pending_;
    pending_ = 0;
    emit dropped(count);
}

} // namespace cfb
