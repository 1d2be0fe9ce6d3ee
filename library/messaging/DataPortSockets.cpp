#include "messaging/DataPortSockets.h"

#include "transport/ivUDP.h"

#include <QHash>
#include <QPointer>

namespace cfb::DataPortSockets {
namespace {

QHash<QString, QPointer<ivUDP>>& sockets()
{
    thread_local QHash<QString, QPointer<ivUDP>> byHandle;
    return byHandle;
}

} // namespace

void set(const QString& handle, ivUDP* socket)
{
    if (!handle.isEmpty())
        sockets().insert(handle, socket);
}

void remove(const QString& handle)
{
    sockets().remove(handle);
}

ivUDP* of(const QString& handle)
{
    const auto found = sockets().constFind(handle);
    if (found == sockets().constEnd() || !*found || (*found)->State() != sckUDPListening)
        return nullptr;
    return found->data();
}

} // namespace cfb::DataPortSockets
