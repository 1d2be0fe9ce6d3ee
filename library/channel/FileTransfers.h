#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace cfb {

class FileReceiver;
class FileSender;

// Every file transfer of one channel, both ways: ids for the caller, offers bounded per buddy,
// the timer that paces packets and sends acknowledgements, and what the caller hears of each
// (offered, progress, finished, failed), each transfer's end once.
class FileTransfers : public QObject {
    Q_OBJECT

public:
    // Sends one content to the peer of that id (as the channel names it); false when it did not
    // leave.
    using SendTo = std::function<bool(const QByteArray& peer, QByteArrayView content)>;

    static constexpr int MaxOffersPerPeer = 4; // waiting for the user's answer
    static constexpr int MaxIncoming = 16;
    static constexpr int MaxOutgoing = 32;
    // An ended transfer is remembered this long, to answer its peer's repeats.
    static constexpr int64_t KeepEndedUs = 60000000;
    static constexpr int64_t ProgressEveryUs = 250000;

    explicit FileTransfers(SendTo sendTo, QObject* parent = nullptr);
    ~FileTransfers() override;

    // Starts sending the file at path to the peer; the transfer's id, or 0 with error.
    uint32_t send(const QByteArray& peer, const QString& handle, const QString& path, bool picture, QString& error);
    // Answers an offer: saved at path (written beside it until whole), declined, or stopped.
    bool accept(uint32_t id, const QString& path, QString& error);
    void decline(uint32_t id);
    void cancel(uint32_t id);

    // One content of a file transfer's kinds from the peer, authenticated by the channel.
    void receive(const QByteArray& peer, const QString& handle, bool trusted, QByteArrayView content);
    // Ends every transfer (at sign-out) without a word to the peers.
    void reset();

    bool isActive(uint32_t id) const;
    void setClock(std::function<int64_t()> microseconds) { clock_ = std::move(microseconds); }

signals:
    void offered(const QString& handle, bool trusted, uint32_t id, const QString& name, qint64 size, bool picture);
    void progress(const QString& handle, uint32_t id, bool incoming, qint64 done, qint64 total);
    void finished(const QString& handle, uint32_t id, bool incoming, const QString& path, const QString& sha256);
    void failed(const QString& handle, uint32_t id, bool incoming, const QString& reason);

private:
    struct Transfer;
    std::function<bool(QByteArrayView)> outTo(const QByteArray& peer);
    Transfer* incomingFrom(const QByteArray& peer, uint32_t wire);
    void onOffer(const QByteArray& peer, const QString& handle, bool trusted, QByteArrayView content, int64_t now);
    void settle(Transfer& transfer, int64_t now);
    void onTimer();
    void schedule();
    void emitPending();
    uint32_t newWireId() const;

    SendTo sendTo_;
    std::function<int64_t()> clock_;
    QTimer timer_;
    uint32_t nextId_ = 1;
    std::map<uint32_t, std::unique_ptr<Transfer>> transfers_; // by the caller's id
    QHash<uint32_t, uint32_t> outgoingByWire_; // this side's transfer numbers
    QHash<QByteArray, uint32_t> incomingByWire_; // the peer and its transfer number
    std::vector<std::function<void()>> events_; // emitted once the state is consistent
};

} // namespace cfb
