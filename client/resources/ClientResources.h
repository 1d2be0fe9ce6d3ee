#pragma once

#include <QIcon>

namespace cfb::client {

// The client's resources (icon, help pages) live in a static library, whose resource data the
// linker keeps only when something asks for it: every user of a resource calls this first.
void loadClientResources();

// The program's icon (":/confabo.svg").
QIcon applicationIcon();

} // namespace cfb::client
