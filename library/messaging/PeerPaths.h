#pragma once

#include "channel/SecureChannel.h"
#include "path/Ipv4Endpoint.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>

namespace cfb {

class Buddy;
class Confabo;
class PeerAddresses;
class TurnAllocation;
class TurnStream;
struct TurnServerUrl;

// The relay credentials the service hands a signed-in user (see docs/peer-protocol.md).
struct RelayCredentials {
    QStringList urls;
    QString username;
    QString password;
    int64_t ttlSeconds = 0;
    int64_t receivedAtMs = -1; // monotonic
    bool isValid() const { return !urls.isEmpty() && !username.isEmpty() && !password.isEmpty(); }
};

// How the encrypted channel reaches each buddy: the looked-up address first (the channel answers
// wherever authenticated datagrams come from, so a router that changed the port is reached
// without help). A buddy not heard from within DirectGraceMs of trying gets a relayed address of
// this client's own at the TURN relay, with a permission for the buddy's address, which the owner
// publishes through the service; handshakes go to the buddy's relayed address once the buddy has
// one. While a conversation goes through a relay, an empty datagram tries the direct way every
// ProbeMs: the first that authenticates on the other side moves both off the relay.
//
// The relay servers are tried in turn, UDP ones first, then TCP and TLS ones (for networks that
// let out nothing else): the next when one fails, does not answer within ServerSilentMs, or goes
// away later (its connection ends, or it stops answering the allocation's quiet-time Refresh).
// A buddy that publishes a new relayed address while the conversation went through its old one
// is sent handshakes at the new one at once.
// Where both sides have IPv6 (this data port takes it and has a route out, the buddy published
// an address), the direct way is the buddy's IPv6 address; unanswered for DirectGraceMs, it is
// the IPv4 one (with a grace of its own before the relay) until the buddy's IPv6 address changes
// or the buddy goes offline.
class PeerPaths : public QObject {
    Q_OBJECT

public:
    static constexpr int DirectGraceMs = 2000;
    static constexpr int TickMs = 500;
    static constexpr int ProbeMs = 10000;
    static constexpr int64_t HeardLatelyMs = 45000;
    static constexpr int64_t RetryAllocationMs = 30000;
    static constexpr int64_t ServerSilentMs = 3000;
    // The service forgets a relayed address not said again within 15 minutes.
    static constexpr int64_t RepublishMs = 300000;

    enum class Path { Unknown, Direct, Relay, DirectIPv6 };
    // How often this machine's IPv6 route is looked at again.
    static constexpr int64_t OwnIPv6CheckMs = 10000;

    PeerPaths(Confabo& owner, SecureChannel& channel, PeerAddresses& addresses);
    ~PeerPaths() override;

    void setCredentials(const RelayCredentials& credentials) { credentials_ = credentials; }
    const RelayCredentials& credentials() const { return credentials_; }
    void start();
    // Gives the relayed address back and forgets every buddy's state.
    void stop();

    // Whether a datagram from `from` is the relay server's (over UDP), and handling it.
    bool isRelayServer(const Ipv4Endpoint& from) const;
    void receiveFromRelay(QByteArrayView datagram);
    // Sends a channel datagram through this client's relayed address.
    bool sendRelayed(const Ipv4Endpoint& peer, QByteArrayView datagram);

    Path path(Buddy& buddy) const;
    // Where the channel tries the buddy directly at port: the buddy's IPv6 address as said
    // above, else address4 (IPv4, network order). Allocates nothing (frames ask for every one).
    SecureChannel::Endpoint directEndpoint(const Buddy& buddy, uint32_t address4, uint16_t port) const;
    // "a.b.c.d:port" while this client holds a relayed address, else empty.
    QString relayedAddress() const;
    TurnAllocation& allocation() const { return *allocation_; }
    // The relay server in use or being tried ("turn:...", as the service named it), else empty.
    QString relayServer() const;

signals:
    // The relayed address to publish (again), or "" when there is none any more.
    void relayAddressChanged(const QString& address);

private:
    struct Tracking {
        int64_t triedSince = -1;
        int64_t probedAt = -1;
        QString relay; // the buddy's last relayed address (a none in between is not kept)
    };
    void tick();
    void allocate(int64_t now);
    // The allocation or its connection went away: the next server at the next need.
    void lost();
    QList<TurnServerUrl> servers() const;
    void checkOwnIPv6(int64_t now) const;

    Confabo& owner_;
    SecureChannel& channel_;
    PeerAddresses& addresses_;
    TurnAllocation* allocation_; // child
    TurnStream* stream_; // child: the connection to a TCP or TLS relay
    RelayCredentials credentials_;
    QTimer timer_;
    QHash<QString, Tracking> tracking_; // by lower-case handle
    int64_t allocationTriedAt_ = -1;
    int candidate_ = 0; // the next of servers() to try
    QString server_; // the URL of the one in use
    int64_t publishedAt_ = -1;
    QString published_;
    mutable bool ownIPv6_ = false; // the data port takes IPv6 and the machine has a route out
    mutable int64_t ownIPv6CheckedAt_ = -1;
    // Buddies whose IPv6 address went unanswered, with that address. Keyed by the object, so a
    // look-up allocates nothing; forgotten when the buddy is offline.
    QHash<const Buddy*, std::array<uint8_t, 16>> ipv6Unanswered_;
};

} // namespace cfb
