#include "RelayAddresses.h"

#include "Storage.h"

#include <arpa/inet.h>

#include <algorithm>

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
    // Digits only, as buddies are handed it: no sign, no leading zero, no spaces.
    const QStringView digits = QStringView(address).mid(colon + 1);
    if (digits.isEmpty() || digits.size() > 5 || digits.front() == QLatin1Char('0')
        || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    const uint port = digits.toUInt();
    in_addr host {};
    return port <= 65535 && inet_pton(AF_INET, address.left(colon).toLatin1().constData(), &host) == 1
        && host.s_addr != 0;
}

} // namespace cfb::service
