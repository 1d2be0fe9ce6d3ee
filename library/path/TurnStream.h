#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSslSocket>
#include <QString>

#include <cstdint>
#include <functional>

namespace cfb {

// A connection to a TURN server over TCP or TLS (RFC 8656 over a stream, the relayed side still
// UDP): STUN messages and channel data one after another, channel data padded to four bytes. What
// the server sends is cut into whole messages before anything reads it; a length that cannot be a
// TURN message ends the connection. Writes wait in the socket while it connects; a server that
// does not read ends it too rather than taking memory without bound.
class TurnStream : public QObject {
    Q_OBJECT

public:
    using Arrived = std::function<void(QByteArrayView message)>;
    // More than a fast relay holds in flight: beyond it the server is not reading.
    static constexpr qint64 MaxUnsent = 4 * 1024 * 1024;

    explicit TurnStream(Arrived arrived, QObject* parent = nullptr);
    ~TurnStream() override;

    // Connects to address:port; with tls the server's certificate must be valid for peerName
    // (the URL's host) and signed by caFile's certificates, or the system's when caFile is empty.
    void open(const QString& address, uint16_t port, bool tls, const QString& peerName, const QString& caFile);
    void close();
    bool isOpen() const { return state_ != State::Closed; }
    bool isConnected() const { return state_ == State::Connected; }

    // One STUN message or channel data frame; false once the connection is gone.
    bool write(QByteArrayView message);

    // The size of the first whole message in buffer: 0 when more bytes are needed, -1 when the
    // bytes cannot begin a STUN message or channel data.
    static qsizetype nextMessageSize(QByteArrayView buffer);

signals:
    // The connection ended (or never came): the allocation over it is gone.
    void closed(const QString& reason);

private:
    enum class State { Closed, Connecting, Connected };
    void onReadable();
    void onConnected();
    void end(const QString& reason);

    Arrived arrived_;
    QSslSocket socket_;
    State state_ = State::Closed;
    bool tls_ = false;
    QByteArray buffer_; // what arrived and is not yet a whole message
    QByteArray pending_; // written before the connection was up
};

} // namespace cfb
