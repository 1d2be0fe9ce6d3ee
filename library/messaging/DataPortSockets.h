#pragma once

#include <QString>

namespace cfb {

class ivUDP;

// The receiving socket of each signed-in user on this thread, by handle, so that what a user sends
// to a peer leaves from the data port the peer sends back to: a router between them then keeps
// one mapping for both directions. A socket that has gone is forgotten by itself.
namespace DataPortSockets {

void set(const QString& handle, ivUDP* socket);
void remove(const QString& handle);
// The bound receiving socket of that user, or nullptr.
ivUDP* of(const QString& handle);

} // namespace DataPortSockets
} // namespace cfb
