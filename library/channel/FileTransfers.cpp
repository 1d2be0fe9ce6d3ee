#include "channel/FileTransfers.h"

#include "channel/FileContent.h"
#include "channel/FileReceiver.h"
#include "channel/FileSender.h"
#include "channel/LittleEndian.h"

#include <QDeadlineTimer>
#include <QPointer>

#include <sodium.h>

namespace cfb {

using namespace FileContent;

struct FileTransfers::Transfer {
    uint32_t id = 0;
    uint32_t wire = 0;
    QByteArray peer;
    QString handle;
    std::unique_ptr<FileSender> out;
    std::unique_ptr<FileReceiver> in;
    int64_t endedUs = -1;
    int64_t reportedUs = -1;
    int64_t reportedBytes = -1;

    bool incoming() const { return in != nullptr; }
    bool ended() const { return endedUs >= 0; }
    bool finished() const { return in ? in->finished() : out->finished(); }
    bool busy() const { return !ended() && (out ? out->sending() : in->state() == FileReceiver::State::Receiving); }
};

namespace {

QByteArray wireKey(const QByteArray& peer, uint32_t wire)
{
    QByteArray key = peer;
    LittleEndian::append(key, wire, 4);
    return key;
}

QString hex(const Sha256& digest)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest.data()), qsizetype(digest.size())).toHex());
}

} // namespace

FileTransfers::FileTransfers(SendTo sendTo, QObject* parent)
    : QObject(parent)
    , sendTo_(std::move(sendTo))
    , clock_([] { return QDeadlineTimer::current().deadlineNSecs() / 1000; })
{
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FileTransfers::onTimer);
}

FileTransfers::~FileTransfers() = default;

std::function<bool(QByteArrayView)> FileTransfers::outTo(const QByteArray& peer)
{
    return [this, peer](QByteArrayView content) { return sendTo_(peer, content); };
}

uint32_t FileTransfers::newWireId() const
{
    for (;;) {
        const uint32_t wire = randombytes_random();
        if (wire != 0 && !outgoingByWire_.contains(wire))
            return wire;
    }
}

uint32_t FileTransfers::send(const QByteArray& peer, const QString& handle, const QString& path, bool picture, QString& error)
{
    int outgoing = 0;
    for (const auto& [id, transfer] : transfers_)
        outgoing += !transfer->incoming() && !transfer->ended() ? 1 : 0;
    if (outgoing >= MaxOutgoing) {
        error = QStringLiteral("Too many files are on their way; wait for one to finish.");
        return 0;
    }
    auto transfer = std::make_unique<Transfer>();
    transfer->wire = newWireId();
    transfer->out = std::make_unique<FileSender>(transfer->wire, path, picture);
    if (!transfer->out->start(clock_(), error))
        return 0;
    transfer->id = nextId_++;
    transfer->peer = peer;
    transfer->handle = handle;
    const uint32_t id = transfer->id;
    outgoingByWire_.insert(transfer->wire, id);
    transfers_.emplace(id, std::move(transfer));
    schedule();
    return id;
}

bool FileTransfers::accept(uint32_t id, const QString& path, QString& error)
{
    const auto found = transfers_.find(id);
    if (found == transfers_.end() || !found->second->in || found->second->ended()) {
        error = QStringLiteral("The transfer has ended.");
        return false;
    }
    Transfer& transfer = *found->second;
    const int64_t now = clock_();
    int incoming = 0;
    for (const auto& [other, t] : transfers_)
        incoming += t->incoming() && t->busy() ? 1 : 0;
    if (incoming >= MaxIncoming) {
        error = QStringLiteral("Too many files are coming in; wait for one to finish.");
        return false;
    }
    const bool accepted = transfer.in->accept(path, now, outTo(transfer.peer), error);
    settle(transfer, now);
    schedule();
    emitPending();
    return accepted;
}

void FileTransfers::decline(uint32_t id)
{
    const auto found = transfers_.find(id);
    if (found == transfers_.end() || !found->second->in)
        return;
    found->second->in->decline(outTo(found->second->peer));
    settle(*found->second, clock_());
    emitPending();
}

void FileTransfers::cancel(uint32_t id)
{
    const auto found = transfers_.find(id);
    if (found == transfers_.end())
        return;
    Transfer& transfer = *found->second;
    if (transfer.in)
        transfer.in->cancel(outTo(transfer.peer));
    else
        transfer.out->cancel(outTo(transfer.peer));
    settle(transfer, clock_());
    emitPending();
}

bool FileTransfers::isActive(uint32_t id) const
{
    const auto found = transfers_.find(id);
    return found != transfers_.end() && !found->second->ended();
}

FileTransfers::Transfer* FileTransfers::incomingFrom(const QByteArray& peer, uint32_t wire)
{
    const auto id = incomingByWire_.constFind(wireKey(peer, wire));
    if (id == incomingByWire_.constEnd())
        return nullptr;
    const auto found = transfers_.find(*id);
    return found == transfers_.end() ? nullptr : found->second.get();
}

void FileTransfers::receive(const QByteArray& peer, const QString& handle, bool trusted, QByteArrayView content)
{
    if (content.isEmpty())
        return;
    const int64_t now = clock_();
    const auto out = outTo(peer);
    switch (uint8_t(content[0])) {
    case Offer:
        onOffer(peer, handle, trusted, content, now);
        break;
    case Data:
        if (const auto data = readData(content)) {
            if (Transfer* transfer = incomingFrom(peer, data->transfer)) {
                transfer->in->onData(*data, now, out);
                settle(*transfer, now);
            } else {
                out(reply(data->transfer, Answer::Cancelled)); // nothing here knows it
            }
        }
        break;
    case Cancel:
        if (const auto wire = readCancel(content))
            if (Transfer* transfer = incomingFrom(peer, *wire)) {
                transfer->in->onCancel();
                settle(*transfer, now);
            }
        break;
    case Reply:
    case Ack: {
        const uint32_t wire = uint8_t(content[0]) == Reply ? (readReply(content) ? readReply(content)->transfer : 0)
                                                            : (readAck(content) ? readAck(content)->transfer : 0);
        const auto id = outgoingByWire_.constFind(wire);
        const auto found = id == outgoingByWire_.constEnd() ? transfers_.end() : transfers_.find(*id);
        if (found == transfers_.end() || found->second->peer != peer) {
            if (wire != 0 && uint8_t(content[0]) == Ack)
                out(FileContent::cancel(wire)); // a transfer that ended here long ago
            break;
        }
        Transfer& transfer = *found->second;
        if (uint8_t(content[0]) == Reply)
            transfer.out->onReply(readReply(content)->answer, now, out);
        else
            transfer.out->onAck(*readAck(content), now, out);
        settle(transfer, now);
        break;
    }
    default:
        break;
    }
    schedule();
    emitPending();
}

void FileTransfers::onOffer(const QByteArray& peer, const QString& handle, bool trusted, QByteArrayView content, int64_t now)
{
    const std::optional<OfferFields> offer = readOffer(content);
    if (!offer)
        return;
    const auto out = outTo(peer);
    if (Transfer* known = incomingFrom(peer, offer->transfer)) {
        known->in->onOffer(now, out);
        return;
    }
    int waiting = 0;
    int fromPeer = 0;
    for (const auto& [id, t] : transfers_) {
        if (!t->incoming() || t->ended())
            continue;
        ++waiting;
        fromPeer += t->peer == peer && t->in->state() == FileReceiver::State::Asked ? 1 : 0;
    }
    const bool tooBig = (offer->flags & Picture) && offer->size > MaxPictureBytes;
    if (tooBig || fromPeer >= MaxOffersPerPeer || waiting >= MaxIncoming + MaxOffersPerPeer) {
        out(reply(offer->transfer, Answer::Declined));
        return;
    }
    auto transfer = std::make_unique<Transfer>();
    transfer->id = nextId_++;
    transfer->wire = offer->transfer;
    transfer->peer = peer;
    transfer->handle = handle;
    transfer->in = std::make_unique<FileReceiver>(*offer, now);
    const uint32_t id = transfer->id;
    const QString name = transfer->in->offer().name;
    incomingByWire_.insert(wireKey(peer, offer->transfer), id);
    transfers_.emplace(id, std::move(transfer));
    out(reply(offer->transfer, Answer::Asked));
    const bool picture = offer->flags & Picture;
    const qint64 size = offer->size;
    events_.push_back([this, handle, trusted, id, name, size, picture] { emit offered(handle, trusted, id, name, size, picture); });
}

void FileTransfers::settle(Transfer& transfer, int64_t now)
{
    if (transfer.ended())
        return;
    const QString handle = transfer.handle;
    const uint32_t id = transfer.id;
    const bool incoming = transfer.incoming();
    if (transfer.finished()) {
        transfer.endedUs = now;
        const bool done = incoming ? transfer.in->state() == FileReceiver::State::Done
                                   : transfer.out->state() == FileSender::State::Done;
        if (done) {
            const QString path = incoming ? transfer.in->path() : transfer.out->path();
            const QString sha = hex(incoming ? transfer.in->offer().sha256 : transfer.out->sha256());
            const qint64 size = incoming ? transfer.in->offer().size : transfer.out->size();
            events_.push_back([this, handle, id, incoming, path, sha, size] {
                emit progress(handle, id, incoming, size, size);
                emit finished(handle, id, incoming, path, sha);
            });
        } else {
            const QString why = incoming ? transfer.in->failure() : transfer.out->failure();
            events_.push_back([this, handle, id, incoming, why] { emit failed(handle, id, incoming, why); });
        }
        return;
    }
    const qint64 done = incoming ? transfer.in->bytesReceived() : transfer.out->bytesAcknowledged();
    const qint64 total = incoming ? transfer.in->offer().size : transfer.out->size();
    if (done != transfer.reportedBytes && (transfer.reportedUs < 0 || now - transfer.reportedUs >= ProgressEveryUs)) {
        transfer.reportedUs = now;
        transfer.reportedBytes = done;
        events_.push_back([this, handle, id, incoming, done, total] { emit progress(handle, id, incoming, done, total); });
    }
}

void FileTransfers::onTimer()
{
    const int64_t now = clock_();
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        Transfer& transfer = *it->second;
        if (transfer.ended()) {
            if (now - transfer.endedUs > KeepEndedUs) {
                if (transfer.in)
                    incomingByWire_.remove(wireKey(transfer.peer, transfer.wire));
                else
                    outgoingByWire_.remove(transfer.wire);
                it = transfers_.erase(it);
                continue;
            }
        } else {
            const auto out = outTo(transfer.peer);
            if (transfer.in)
                transfer.in->tick(now, out);
            else
                transfer.out->tick(now, out);
            settle(transfer, now);
        }
        ++it;
    }
    schedule();
    emitPending();
}

void FileTransfers::schedule()
{
    if (transfers_.empty()) {
        timer_.stop();
        return;
    }
    bool sending = false;
    bool receiving = false;
    for (const auto& [id, transfer] : transfers_) {
        if (!transfer->busy())
            continue;
        (transfer->incoming() ? receiving : sending) = true;
    }
    // Packets are paced a couple of milliseconds apart; acknowledgements wait at most a few.
    const int interval = sending ? 2 : receiving ? 5 : 100;
    if (!timer_.isActive() || timer_.interval() != interval)
        timer_.start(interval);
}

void FileTransfers::emitPending()
{
    QPointer<FileTransfers> self(this);
    while (!events_.empty() && self) {
        const std::function<void()> event = std::move(events_.front());
        events_.erase(events_.begin());
        event();
    }
}

void FileTransfers::reset()
{
    for (const auto& [id, transfer] : transfers_) {
        if (transfer->ended())
            continue;
        const QString handle = transfer->handle;
        const bool incoming = transfer->incoming();
        const uint32_t which = id;
        events_.push_back([this, handle, which, incoming] {
            emit failed(handle, which, incoming, QStringLiteral("Signed out before it was finished."));
        });
    }
    std::vector<std::function<void()>> ending = std::move(events_);
    events_.clear();
    transfers_.clear();
    outgoingByWire_.clear();
    incomingByWire_.clear();
    timer_.stop();
    events_ = std::move(ending);
    emitPending();
}

} // namespace cfb
