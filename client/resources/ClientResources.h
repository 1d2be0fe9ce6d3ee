#pragma once

#include <QIcon>
#include <QImage>

namespace cfb::client {

// The client's resources (icon, help pages) live in a static library, whose resource data the
// linker keeps only when something asks for it: every user of a resource calls this first.
void loadClientResources();

// The program's icon (the pictures of confabo.svg at 48 and 256 pixels).
QIcon applicationIcon();

// The picture the setup dialog shows until the user chooses an avatar: a 142 x 139 head and
// shoulders, drawn, with the mouth where a default mouth position finds it.
QImage defaultAvatar();

} // namespace cfb::client
