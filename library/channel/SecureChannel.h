#pragma once

#include "channel/ChannelContent.h"
#include "channel/FileTransfers.h"
#include "channel/HandshakeGuard.h"
#include "channel/NoiseTypes.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace cfb {

class Identity;
class NoiseHandshake;
class PeerSession;
struct VideoLink;

// The encrypted channel of one signed-in user to the other Confabo clients: a Noise IK
// handshake per pair of users (the initiator knows the other's public key from the service),
// then sessions found by an index, each with its own keys, counters and replay window, replaced
// every two minutes. Nothing here asks the service or knows buddies: the owner says who a key
// belongs to (the judge) and hands every channel datagram of its data port in.
class SecureChannel : public QObject {
    Q_OBJECT

public:
    struct Endpoint {
        uint32_t address = 0; // IPv4, network byte order; 0 for an IPv6 endpoint
        uint16_t port = 0;
        // Reached through this client's relay (the address is the peer's as the relay sees it).
        bool relayed = false;
        std::array<uint8_t, 16> address6{}; // an IPv6 endpoint's address; all zero for IPv4
        bool isIPv6() const { return address6 != std::array<uint8_t, 16>{}; }
        bool isValid() const { return (address != 0 || isIPv6()) && port != 0; }
        bool operator==(const Endpoint&) const = default;
    };
    // Sends one datagram from the data port; false when it did not leave.
    using Send = std::function<bool(const Endpoint& to, QByteArrayView datagram)>;
    // Sends count datagrams to one endpoint at once; how many left.
    using SendBatch = std::function<int(const Endpoint& to, const QByteArrayView* datagrams, int count)>;
    // What the owner says of a key that a handshake shows for a handle.
    enum class Verdict {
        Trusted, // the key the service publishes (or the user pinned) for that handle
        Unknown, // nobody this user knows: accepted, but not as that handle's
        Forged, // that handle has another key: refused
    };
    using Judge = std::function<Verdict(const QString& handle, const Key32& key)>;

    // A handshake not answered in this time is sent again, a few times.
    static constexpr int RetryMs = 2000;
    static constexpr int MaxTries = 5;
    // What waits for a handshake is sent when it completes, or dropped after this long.
    static constexpr int QueueMs = 12000;
    static constexpr int MaxQueued = 64;
    // Lines are acknowledged: sent again, backing off, until the buddy's receipt comes or
    // GiveUpMs have passed. The receiver shows each line once and, for one sender, in the order
    // sent; a line missing ahead of others is waited for until its sender gives up on it.
    static constexpr int GiveUpMs = 30000;
    static constexpr int FirstResendMs = 300;
    static constexpr int MaxResendMs = 4000;
    static constexpr int MaxHeldLines = 256;

    SecureChannel(Send send, Judge judge, QObject* parent = nullptr);
    ~SecureChannel() override;

    // The user's key pair and handle; without an identity nothing is sent or received.
    void setIdentity(const Identity* identity, const QString& ownHandle);
    bool isActive() const { return identity_ != nullptr; }
    // A frame's packets then leave in one call, not one call each.
    void setBatchSend(SendBatch sendBatch) { sendBatch_ = std::move(sendBatch); }
    // Forgets every session and handshake (at sign-out).
    void reset();

    // Sends to the holder of key, known to the caller as handle, through the newest session, or
    // after a handshake to the given endpoint (the address the service gave). A line returns its
    // id (lineDelivered or lineNotDelivered follows), 0 when it cannot be sent; a frame false.
    // wireId, when given, gets the id the line carries to the buddy (see messageArrived).
    uint64_t sendMessage(const Key32& key, const QString& handle, const Endpoint& to,
        const ChannelContent::MessageFields& fields, uint64_t* wireId = nullptr);
    bool sendFrame(const Key32& key, const QString& handle, const Endpoint& to, QByteArrayView frame);
    // A call's content (ChannelContent's call kinds), through the newest session or after a
    // handshake; false when it did not leave.
    bool sendCallContent(const Key32& key, const QString& handle, const Endpoint& to, QByteArrayView content);
    // Offers the file at path to the holder of key (a picture: shown when it arrives, at most
    // 16 MB); its transfer goes on in files(). The transfer's id, or 0 with error.
    uint32_t sendFile(const Key32& key, const QString& handle, const Endpoint& to, const QString& path, bool picture, QString& error);
    // Every transfer, both ways: answers to offers, cancelling, and what happens to each.
    FileTransfers& files() { return files_; }
    // Keeps a session with that key up: a handshake when there is none (or it is due for
    // replacing), an empty datagram otherwise. Sends at most one a call.
    void keepAlive(const Key32& key, const QString& handle, const Endpoint& to);
    // Whether a session with the key's holder, known as handle, can carry datagrams now.
    bool hasSession(const Key32& key, const QString& handle) const;
    // Where the peer's last authenticated datagram came from (where the channel answers), and how
    // long ago; nullopt before the first.
    struct Heard {
        Endpoint from;
        int64_t agoMs = 0;
    };
    std::optional<Heard> heard(const Key32& key, const QString& handle) const;
    // Handshakes to the peer go to `to` from now on: one at once when none has been answered yet.
    void retarget(const Key32& key, const QString& handle, const Endpoint& to);
    // An empty datagram through the current session to `to`, wherever the peer was heard last:
    // the peer answers there only once it authenticated, so a way that opens is taken.
    bool probe(const Key32& key, const QString& handle, const Endpoint& to);

    // One datagram from the data port whose first byte marks it as the channel's.
    void receive(QByteArrayView datagram, const Endpoint& from);

    // For tests and benchmarks: the clock the channel runs on (monotonic milliseconds).
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }
    int64_t handshakesCompleted() const { return handshakesCompleted_; }
    // What the channel's timer runs twice a second: handshakes not answered are sent again (and
    // given up after a few tries), old sessions and contents that waited too long are dropped.
    void onTimer();
    // What the frame timer runs while frames are being put together: packets asked for again,
    // frames handed on or given up.
    void onFrameTimer();
    int64_t cookieRepliesSent() const { return cookieRepliesSent_; }

    // Video coded between Confabo clients (SecureChannelVideo.cpp). codecs: VideoContent::Codec
    // bits this client decodes, said to every peer on each new session and with every keep-alive;
    // 0 says nothing, as a client from before them.
    void setVideoCodecs(uint8_t codecs) { videoCodecs_ = codecs; }
    uint8_t ownVideoCodecs() const { return videoCodecs_; }
    // What the peer said it decodes; 0 when it said nothing (it gets JPEG frames, sendFrame).
    uint8_t videoCodecs(const Key32& key, const QString& handle) const;
    // One coded frame in video packets through the current session (nothing waits for a
    // handshake: the next frame will do); false when it did not leave.
    bool sendVideoFrame(const Key32& key, const QString& handle, const Endpoint& to, uint8_t codec,
        QByteArrayView encoded, bool keyFrame);
    // The rate the path to the peer carries now, by the peer's reports: the encoder's target.
    int videoRateKbps(const Key32& key, const QString& handle) const;
    // What the peer's last report said: kbit/s received and the fraction lost.
    std::pair<int, double> videoReceived(const Key32& key, const QString& handle) const;
    // The peer is asked for a key frame (at most every VideoLink::KeyFrameAskMs).
    void askKeyFrame(const Key32& key, const QString& handle);
    void askKeyFrame(const QString& handle); // every peer of that handle that sends video

signals:
    // trusted: the sender's key is the one known for handle (see Judge). wireId: the id the
    // sender's channel gave the line, which stays the line's when it also goes another way.
    void messageArrived(const QString& handle, bool trusted, const QString& email, int16_t videoPort,
        const QString& text, uint64_t wireId);
    void frameArrived(const QString& handle, bool trusted, QByteArray& frame);
    // A whole video frame: VideoContent's frame header, then the codec's bytes. afterLoss: frames
    // before it were lost for good (a key frame was asked for already).
    void videoFrameArrived(const QString& handle, bool trusted, const QByteArray& frame, bool afterLoss);
    // The peer asks for a key frame: the pictures it has are spoiled by a loss.
    void keyFrameAsked(const QString& handle);
    // A content of one of the call kinds, as it came (see CallSession); key: the sender's, which
    // an answer to someone not known as handle goes to.
    void callContentArrived(const QString& handle, const cfb::Key32& key, bool trusted, QByteArrayView content);
    // The buddy's receipt for a line came; or it did not within GiveUpMs.
    void lineDelivered(const QString& handle, uint64_t id);
    void lineNotDelivered(const QString& handle, uint64_t id);
    // A datagram that failed to authenticate, came again, or showed a key that is not the
    // handle's.
    void forgedDropped();

private:
    struct Pending;
    struct Peer;
    Peer& peerFor(const Key32& key, const QString& handle);
    bool trustedNow(Peer& peer);
    Peer* peerOf(const Key32& key, const QString& handle);
    PeerSession* sendingSession(Peer& peer, int64_t now);
    bool sendContent(Peer& peer, const Endpoint& to, QByteArrayView content);
    void startHandshake(Peer& peer, int64_t now);
    void sendInitiation(Peer& peer);
    void flush(Peer& peer, int64_t now);
    void addSession(Peer& peer, std::unique_ptr<PeerSession> session);
    void onInitiation(QByteArrayView datagram, const Endpoint& from, int64_t now);
    void onResponse(QByteArrayView datagram, const Endpoint& from, int64_t now);
    void onCookieReply(QByteArrayView datagram);
    void onData(QByteArrayView datagram, const Endpoint& from, int64_t now);
    void deliver(const std::shared_ptr<Peer>& peer, QByteArrayView content);
    void transmitLine(Peer& peer, uint32_t number, int64_t now);
    void receiveLine(const std::shared_ptr<Peer>& peer, ChannelContent::MessageFields fields, int64_t now);
    void sendNow(Peer& peer, QByteArrayView content, int64_t now);
    void takeFrames(const std::shared_ptr<Peer>& peer, int64_t now);
    // Video (SecureChannelVideo.cpp), which sees a peer through these.
    struct PeerFacts {
        QString handle;
        bool trusted = false;
        Endpoint sendTo;
    };
    static VideoLink& videoOf(Peer& peer);
    static const VideoLink& videoOf(const Peer& peer);
    static PeerFacts factsOf(const Peer& peer);
    const Peer* findPeer(const Key32& key, const QString& handle) const;
    void sendCodecs(Peer& peer, int64_t now);
    void deliverVideo(const std::shared_ptr<Peer>& peer, QByteArrayView content, int64_t now);
    void takeVideoFrames(const std::shared_ptr<Peer>& peer, int64_t now);
    void reportVideo(Peer& peer, int64_t now);
    void askKeyFrame(Peer& peer, int64_t now);
    void emitLines(const std::shared_ptr<Peer>& peer, const QList<ChannelContent::MessageFields>& lines);
    uint32_t newIndex();
    int64_t now() const { return clock_(); }

    Send send_;
    SendBatch sendBatch_;
    Judge judge_;
    const Identity* identity_ = nullptr;
    QString ownHandle_;
    ChannelDatagram::MacKey ownMac1Key_ {};
    HandshakeGuard guard_;
    std::function<int64_t()> clock_;
    QTimer timer_;
    QTimer frameTimer_;
    QHash<QByteArray, std::shared_ptr<Peer>> peers_; // by key and handle
    QHash<uint32_t, std::weak_ptr<Peer>> byIndex_; // local index of a session or a handshake
    std::weak_ptr<Peer> lastPeer_; // the one peerFor found last
    QByteArray opened_; // reused for every datagram
    QByteArray sealed_;
    QByteArray chunk_;
    std::vector<QByteArray> batch_; // a frame's sealed packets, storage reused
    std::vector<QByteArrayView> batchViews_;
    uint32_t nextFrame_ = 1;
    uint32_t epoch_ = 0; // of this channel's line ids, new at every reset
    uint64_t nextLineId_ = 1;
    int64_t handshakesCompleted_ = 0;
    int64_t cookieRepliesSent_ = 0;
    FileTransfers files_;
    uint8_t videoCodecs_ = 0;
    QByteArray videoFrame_; // a video frame with its header, storage reused
};

} // namespace cfb
