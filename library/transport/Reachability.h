#pragma once

#include <QMetaType>
#include <QString>

#include <cstdint>

namespace cfb {

// How buddies can reach this client, as far as it can tell.
struct Reachability {
    enum Kind {
        Unknown, // not found out yet
        Direct, // nothing translates addresses in between
        Mapped, // the router forwards the data port
        BehindRouter, // only buddies this client has sent to come through
    };
    Kind kind = Unknown;
    uint16_t port = 0; // the mapped port

    // What the status bar and confabo-cli say; empty while unknown.
    QString text() const;

    friend bool operator==(const Reachability& a, const Reachability& b)
    {
        return a.kind == b.kind && a.port == b.port;
    }
};

} // namespace cfb

Q_DECLARE_METATYPE(cfb::Reachability)
