#include "Ipv6Text.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace cfb::service::Ipv6Text {

QString usable(const QString& text)
{
    const QByteArray latin = text.trimmed().toLatin1();
    if (latin.isEmpty() || latin.size() >= INET6_ADDRSTRLEN)
        return {};
    in6_addr a{};
    if (inet_pton(AF_INET6, latin.constData(), &a) != 1)
        return {};
    if (IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_LOOPBACK(&a) || IN6_IS_ADDR_LINKLOCAL(&a)
        || IN6_IS_ADDR_MULTICAST(&a) || IN6_IS_ADDR_V4MAPPED(&a) || IN6_IS_ADDR_V4COMPAT(&a))
        return {};
    char canonical[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, &a, canonical, sizeof canonical))
        return {};
    return QString::fromLatin1(canonical);
}

} // namespace cfb::service::Ipv6Text
