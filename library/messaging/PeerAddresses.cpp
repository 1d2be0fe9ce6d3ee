#include "messaging/PeerAddresses.h"

#include "transport/vWinsock.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>

#include <arpa/inet.h>

namespace cfb {
namespace {

int64_t nowMs()
{
    return QDeadlineTimer::current().deadline();
}

} // namespace

PeerAddresses::PeerAddresses(QObject* parent)
    : QObject(parent)
{
}

std::optional<QList<uint32_t>> PeerAddresses::resolve(const QString& text)
{
    const QString name = text.trimmed();
    if (name.isEmpty())
        return QList<uint32_t>();
    uint32_t address = 0;
    if (vWinsock::ParseIPv4(name, address))
        return QList<uint32_t>{address};

    const QString key = name.toLower();
    Entry& entry = names_[key];
    if (entry.known && entry.expires > nowMs())
        return entry.addresses;
    if (!entry.looking) {
        // Until the answer comes, the last one (if any) stands.
        entry.looking = true;
        QPointer<PeerAddresses> self(this);
        QHostInfo::lookupHost(name, this, [self, key](const QHostInfo& info) {
            if (!self)
                return;
            Entry& done = self->names_[key];
            done.addresses.clear();
            for (const QHostAddress& a : info.addresses()) {
                bool ok = false;
                const quint32 v4 = a.toIPv4Address(&ok);
                if (ok)
                    done.addresses.append(htonl(v4));
            }
            done.known = true;
            done.looking = false;
            done.expires = nowMs() + KeepMs;
        });
    }
    return entry.known ? std::optional(entry.addresses) : std::nullopt;
}

} // namespace cfb
