#pragma once

#include <QIcon>
#include <QImage>

namespace cfb::client {

// The client's resources (icon, help pages) live in a static library, whose resource data the
// linker keeps only when something asks for it: every user of a resource calls this first.
void loadClientResources();

// The program's icon (the pictures of confabo.svg at 48 and 256 pixels).
QIcon applicationIcon();

} // namespace cfb::client
