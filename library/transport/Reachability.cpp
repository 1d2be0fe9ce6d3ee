#include "transport/Reachability.h"

namespace cfb {

QString Reachability::text() const
{
    switch (kind) {
    case Direct:
        return QStringLiteral("Direct");
    case Mapped:
        return QStringLiteral("Router mapped port %1").arg(port);
    case BehindRouter:
        return QStringLiteral("Behind a router (buddies can reach you only after you contact them)");
    case Unknown:
        break;
    }
    return QString();
}

} // namespace cfb
