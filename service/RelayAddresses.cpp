#include "RelayAddresses.h"

#include "Storage.h"

#include <arpa/inet.h>

namespace cfb::service {

void RelayAddresses::set(int32_t userId, const QString& address, int64_t nowSeconds)
{
    storage_.setRelay(userId, address, nowSeconds, nowSeconds - MaxAgeSeconds);
}

QString RelayAddresses::of(int32_t userId, int64_t nowSeconds) const
{
    return storage_.relay(userId, nowSeconds - MaxAgeSeconds);
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
