#include "RelayAddresses.h"

#include <arpa/inet.h>

namespace cfb::service {

void RelayAddresses::set(int32_t userId, const QString& address, int64_t nowSeconds)
{
    const std::lock_guard lock(mutex_);
    if (address.isEmpty())
        entries_.remove(userId);
    else
        entries_.insert(userId, {address, nowSeconds});
    // Entries nobody renewed go at some later change, so the table stays as large as its users.
    if (entries_.size() % 256 == 0)
        for (auto it = entries_.begin(); it != entries_.end();)
            it = nowSeconds - it->at > MaxAgeSeconds ? entries_.erase(it) : std::next(it);
}

QString RelayAddresses::of(int32_t userId, int64_t nowSeconds) const
{
    const std::lock_guard lock(mutex_);
    const auto found = entries_.constFind(userId);
    if (found == entries_.constEnd() || nowSeconds - found->at > MaxAgeSeconds)
        return {};
    return found->address;
}

bool RelayAddresses::wellFormed(const QString& address)
{
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || address.size() > 21)
        return false;
    bool ok = false;
    const uint port = address.mid(colon + 1).toUInt(&ok);
    in_addr host {};
    return ok && port > 0 && port <= 65535 && inet_pton(AF_INET, address.left(colon).toLatin1().constData(), &host) == 1
        && host.s_addr != 0;
}

} // namespace cfb::service
