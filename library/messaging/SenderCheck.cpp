#include "messaging/SenderCheck.h"

#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/PeerAddresses.h"

#include <QDeadlineTimer>

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
    if (addresses && addresses->contains(senderAddress))
        return true;
    countDrop();
    return false;
}

void SenderCheck::countDrop()
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
