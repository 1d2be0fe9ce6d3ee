#pragma once

#include "path/Ipv4Endpoint.h"
#include "path/StunMessage.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>

namespace cfb {

// A relayed address at a TURN server over UDP (RFC 8656), from the data-port socket: Allocate
// with the long-term credential (the server's 401 names the realm and nonce; a stale nonce is
// taken and the request made again), kept by Refresh; permissions for the peers' addresses and
// channels bound to the peers' endpoints, both kept fresh while in use. Datagrams go out as
// channel data once a channel is bound, as Send indications before; what the server relays in
// is handed to the arrival function with the peer it came from. Requests are sent again on a
// time-out (500 ms, doubling) and given up after a few tries; over a stream (TURN over TCP or TLS)
// they are sent once and given up after as long. A server quiet for QuietMs is asked for a
// Refresh, given up sooner: a relay that went away is so noticed within seconds, and the
// router's mapping towards the relay is kept while nothing else passes.
class TurnAllocation : public QObject {
    Q_OBJECT

public:
    using Send = std::function<bool(const Ipv4Endpoint& to, QByteArrayView datagram)>;
    using Arrived = std::function<void(const Ipv4Endpoint& peer, QByteArrayView bytes)>;
    enum class State { Idle, Allocating, Allocated, Failed };

    static constexpr int FirstRetransmitMs = 500;
    static constexpr int MaxSends = 6;
    static constexpr uint32_t RequestedLifetimeSeconds = 600;
    // Permissions last five minutes and channels ten (RFC 8656 9, 12): renewed well before.
    static constexpr int64_t PermissionRefreshMs = 240000;
    static constexpr int64_t ChannelRefreshMs = 480000;
    // An unused channel or permission is let go after this long.
    static constexpr int64_t IdleMs = 600000;
    static constexpr int64_t QuietMs = 15000;
    static constexpr int QuietProbeSends = 3; // 3.5 s
    static constexpr int MaxPermissions = 256;
    static constexpr int MaxChannels = 512;

    TurnAllocation(Send send, Arrived arrived, QObject* parent = nullptr);
    ~TurnAllocation() override;

    // Asks server for a relayed address with these credentials (TURN REST ones: they name their
    // own expiry); allocated or failed follows. overStream: the send function writes to a TCP or
    // TLS connection, which loses nothing, so requests are not sent again.
    void start(const Ipv4Endpoint& server, const QString& username, const QString& password, bool overStream = false);
    // Gives the allocation back (a Refresh with lifetime 0) and forgets everything.
    void release();

    State state() const { return state_; }
    const Ipv4Endpoint& server() const { return server_; }
    const Ipv4Endpoint& relayed() const { return relayed_; }
    QString failure() const { return failure_; }
    bool isServer(const Ipv4Endpoint& from) const { return state_ != State::Idle && from == server_; }
    // Whether the server answered anything since start.
    bool serverAnswered() const { return lastHeardAt_ >= 0; }

    // Lets datagrams from peerAddress (any port) through the relay; kept while in use.
    void permit(uint32_t peerAddress);
    // Relays bytes to peer; false when there is no allocation or the socket refused them.
    bool send(const Ipv4Endpoint& peer, QByteArrayView bytes);
    // One datagram that came from the server: an answer, or data relayed from a peer.
    void receive(QByteArrayView datagram);

    // What the timer runs: requests sent again, the allocation, permissions and channels renewed.
    void onTimer();
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }
    int64_t relayedOut() const { return relayedOut_; }
    int64_t relayedIn() const { return relayedIn_; }

signals:
    void allocated(const cfb::Ipv4Endpoint& relayed);
    void failed(const QString& reason);

private:
    struct Transaction {
        StunMessage request {StunMessage::Binding, StunMessage::Request, {}}; // without the credential attributes, which each sending adds
        QByteArray bytes; // as sent
        int64_t sentAt = 0;
        int64_t backoff = FirstRetransmitMs;
        int sends = 0;
        int maxSends = MaxSends;
        bool authenticated = false;
        bool retriedNonce = false;
    };
    struct Permission {
        int64_t refreshedAt = -1; // -1: asked for, not yet granted
        int64_t usedAt = 0;
    };
    struct Channel {
        uint16_t number = 0;
        bool bound = false;
        int64_t refreshedAt = -1;
        int64_t usedAt = 0;
    };

    void request(StunMessage message, bool retriedNonce = false, int maxSends = MaxSends);
    void refresh(int maxSends);
    void transmit(Transaction& transaction);
    void onAnswer(const StunMessage& answer);
    void onAllocateAnswer(const StunMessage& answer, const Transaction& transaction);
    void askPermission(uint32_t peerAddress);
    void bindChannel(const Ipv4Endpoint& peer, uint16_t number);
    void fail(const QString& reason);
    void forget();
    static quint64 endpointKey(const Ipv4Endpoint& endpoint) { return quint64(endpoint.address) << 16 | endpoint.port; }
    int64_t now() const { return clock_(); }

    Send send_;
    Arrived arrived_;
    std::function<int64_t()> clock_;
    QTimer timer_;
    State state_ = State::Idle;
    QString failure_;
    Ipv4Endpoint server_;
    Ipv4Endpoint relayed_;
    QString username_;
    QString password_;
    QString realm_;
    QString nonce_;
    QByteArray key_; // the long-term credential key once the realm is known
    int64_t refreshAt_ = 0;
    int64_t lastHeardAt_ = -1;
    bool overStream_ = false;
    std::map<StunMessage::TransactionId, Transaction> transactions_;
    QHash<uint32_t, Permission> permissions_;
    QHash<quint64, Channel> channels_; // by peer endpoint
    QHash<uint16_t, Ipv4Endpoint> byChannel_;
    uint16_t nextChannel_;
    QByteArray framed_; // reused for every datagram sent
    int64_t relayedOut_ = 0;
    int64_t relayedIn_ = 0;
};

} // namespace cfb
