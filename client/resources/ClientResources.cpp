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
    // Drawn pictures, so the icon needs no SVG plug-in.
    QIcon icon;
    icon.addFile(QStringLiteral(":/confabo-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/confabo-256.png"), QSize(256, 256));
    return icon;
}

} // namespace cfb::client
