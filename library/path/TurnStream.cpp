#include "path/TurnStream.h"

#include "path/StunMessage.h"
#include "path/TurnChannelData.h"

#include <QSslCertificate>
#include <QSslConfiguration>

namespace cfb {
namespace {

constexpr char Padding[4] = {};

qsizetype padded(qsizetype size)
{
    return (size + 3) & ~qsizetype(3);
}

} // namespace

TurnStream::TurnStream(Arrived arrived, QObject* parent)
    : QObject(parent)
    , arrived_(std::move(arrived))
{
    connect(&socket_, &QSslSocket::connected, this, [this] {
        if (!tls_)
            onConnected();
    });
    connect(&socket_, &QSslSocket::encrypted, this, &TurnStream::onConnected);
    connect(&socket_, &QSslSocket::readyRead, this, &TurnStream::onReadable);
    connect(&socket_, &QSslSocket::disconnected, this, [this] { end(QStringLiteral("the relay closed the connection")); });
    connect(&socket_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        end(QStringLiteral("the connection to the relay failed: %1").arg(socket_.errorString()));
    });
    connect(&socket_, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        end(QStringLiteral("the relay's certificate is not trusted: %1")
                .arg(errors.isEmpty() ? QString() : errors.first().errorString()));
    });
}

TurnStream::~TurnStream()
{
    state_ = State::Closed;
    socket_.abort();
}

void TurnStream::open(const QString& address, uint16_t port, bool tls, const QString& peerName, const QString& caFile)
{
    close();
    state_ = State::Connecting;
    tls_ = tls;
    if (!tls) {
        socket_.connectToHost(address, port);
        return;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!caFile.isEmpty())
        configuration.setCaCertificates(QSslCertificate::fromPath(caFile));
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_.setSslConfiguration(configuration);
    socket_.connectToHostEncrypted(address, port, peerName);
}

void TurnStream::close()
{
    state_ = State::Closed;
    socket_.abort();
    buffer_.clear();
    pending_.clear();
}

void TurnStream::end(const QString& reason)
{
    if (state_ == State::Closed)
        return;
    close();
    emit closed(reason);
}

void TurnStream::onConnected()
{
    if (state_ != State::Connecting)
        return;
    state_ = State::Connected;
    if (!pending_.isEmpty()) {
        socket_.write(pending_);
        pending_.clear();
    }
}

bool TurnStream::write(QByteArrayView message)
{
    if (state_ == State::Closed)
        return false;
    const qsizetype padding = TurnChannelData::looksLikeChannelData(message) ? padded(message.size()) - message.size() : 0;
    if (state_ == State::Connecting) {
        if (pending_.size() + message.size() > MaxUnsent)
            return false;
        pending_.append(message.data(), message.size()).append(Padding, padding);
        return true;
    }
    if (socket_.bytesToWrite() + message.size() > MaxUnsent) {
        // A datagram path would drop it; a stream that does not drain has a server that is gone.
        end(QStringLiteral("the relay does not read"));
        return false;
    }
    socket_.write(message.data(), message.size());
    if (padding)
        socket_.write(Padding, padding);
    return true;
}

qsizetype TurnStream::nextMessageSize(QByteArrayView buffer)
{
    if (buffer.size() < TurnChannelData::HeaderSize)
        return 0;
    const qsizetype length = uint8_t(buffer[2]) << 8 | uint8_t(buffer[3]);
    qsizetype size = 0;
    if (TurnChannelData::looksLikeChannelData(buffer)) {
        size = padded(TurnChannelData::HeaderSize + length);
    } else if ((uint8_t(buffer[0]) & 0xC0) == 0 && length % 4 == 0) {
        if (buffer.size() < 8)
            return 0;
        const uint32_t cookie = uint32_t(uint8_t(buffer[4])) << 24 | uint8_t(buffer[5]) << 16 | uint8_t(buffer[6]) << 8
            | uint8_t(buffer[7]);
        if (cookie != StunMessage::MagicCookie)
            return -1;
        size = StunMessage::HeaderSize + length;
    } else {
        return -1;
    }
    return buffer.size() >= size ? size : 0;
}

void TurnStream::onReadable()
{
    if (state_ != State::Connected)
        return;
    buffer_.append(socket_.readAll());
    qsizetype at = 0;
    while (state_ == State::Connected) {
        const QByteArrayView rest = QByteArrayView(buffer_).sliced(at);
        const qsizetype size = nextMessageSize(rest);
        if (size < 0) {
            end(QStringLiteral("the relay sent something that is not TURN"));
            return;
        }
        if (size == 0)
            break;
        // Channel data is handed on without its padding: its own length says where it ends.
        arrived_(rest.first(size));
        at += size;
    }
    if (state_ == State::Connected)
        buffer_.remove(0, at);
}

} // namespace cfb
