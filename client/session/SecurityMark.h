#pragma once

#include <QPixmap>
#include <QString>

namespace cfb {
class Buddy;
class Confabo;
} // namespace cfb

namespace cfb::client {

// How the windows mark the way a user's lines, pictures and video travel: a small green closed
// padlock for the encrypted channel; an open amber one for the plain format (the user's Confabo
// has no key, or this one has none it can use); a red one while the library holds everything
// back because the user's key changed or went missing.
namespace SecurityMark {

enum class State { Encrypted, Plain, OwnKeyMissing, KeyChanged, KeyMissing };

// As the library object (the window's, which asks no service) sees the user now.
State of(cfb::Confabo& library, cfb::Buddy& user);

// The mark's tooltip: what it means for the user's messages.
QString explanation(State state, const QString& handle);
// The few words shown beside the padlock.
QString caption(State state);
// The padlock, size pixels square on a light disc that keeps it readable on any picture.
QPixmap badge(State state, int size);

} // namespace SecurityMark
} // namespace cfb::client
