#include "common/ServiceFailure.h"

#include "messaging/modINET.h"

namespace cfb::client {

void ServiceFailure::clear()
{
    ServiceChannel::current().lastFailure.clear();
}

QString ServiceFailure::unreachableText()
{
    const ServiceChannel& channel = ServiceChannel::current();
    QString reason = channel.lastFailure.trimmed();
    if (reason.isEmpty())
        return {};
    if (!reason.endsWith(u'.'))
        reason += u'.';
    return QStringLiteral("Cannot reach the Confabo service at %1: %2").arg(channel.server, reason);
}

} // namespace cfb::client
