#include "resources/ClientResources.h"

// Q_INIT_RESOURCE must be called outside any namespace.
static void initConfaboResources()
{
    Q_INIT_RESOURCE(confabo);
}

namespace cfb::client {

void loadClientResources()
{
    static const bool loaded = [] {
        initConfaboResources();
        return true;
    }();
    (void)loaded;
}

QIcon applicationIcon()
{
    loadClientResources();
    return QIcon(QStringLiteral(":/confabo.svg"));
}

} // namespace cfb::client
