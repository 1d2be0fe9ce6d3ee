#include "chat/ChatHistory.h"

#include "common/EventLog.h"
#include "history/HistoryStore.h"

namespace cfb::client {

using cfb::HistoryDelivery;
using cfb::HistoryLine;
using Delivery = ChatTranscript::Delivery;

ChatHistory::ChatHistory(QObject* parent)
    : QObject(parent)
{
}

ChatHistory::~ChatHistory() = default;

HistoryStore* ChatHistory::store()
{
    if (!store_)
        store_ = std::make_unique<HistoryStore>(HistoryStore::defaultPath());
    if (!store_->isOpen() && !problemLogged_) {
        problemLogged_ = true;
        EventLog::write(QStringLiteral("Confabo: conversations are not kept. ") + store_->problem(), EventLog::Warning);
    }
    return store_.get();
}

QString ChatHistory::problem()
{
    HistoryStore* history = store();
    return history->isOpen() ? QString() : history->problem();
}

QString ChatHistory::lastError() const
{
    return store_ ? store_->problem() : QString();
}

ChatTranscript::Line ChatHistory::transcriptLine(const HistoryLine& kept)
{
    ChatTranscript::Line line;
    line.handle = kept.sender;
    line.message = kept.text;
    line.notice = line.kept = kept.sender.isEmpty(); // an event of the conversation (a call)
    line.when = QDateTime::fromMSecsSinceEpoch(kept.timeMs);
    line.secure = kept.secure;
    line.lineId = kept.wireId; // a waiting line's mark comes when it is taken after all
    switch (kept.delivery) {
    case HistoryDelivery::Delivered:
        line.delivery = Delivery::Delivered;
        break;
    case HistoryDelivery::NotDelivered:
        line.delivery = Delivery::NotDelivered;
        break;
    case HistoryDelivery::Pending:
    case HistoryDelivery::Queued:
        line.delivery = Delivery::Pending; // no acknowledgement of this session names it
        break;
    case HistoryDelivery::Received:
    case HistoryDelivery::Sent:
        break;
    }
    return line;
}

void ChatHistory::attach(const QString& handle, ChatTranscript& transcript, bool load)
{
    HistoryStore* history = store();
    if (!history->isOpen()) {
        if (load) // said once, in the conversation's first transcript this session
            transcript.appendNotice(QStringLiteral("This conversation is not kept: %1").arg(history->problem()));
        return;
    }
    if (load) {
        QList<ChatTranscript::Line> lines;
        for (const HistoryLine& kept : history->last(handle, LinesShown))
            lines.append(transcriptLine(kept));
        if (!lines.isEmpty())
            transcript.restore(std::move(lines));
    }
    connect(&transcript, &ChatTranscript::lineAdded, this,
        [this, handle](const ChatTranscript::Line& line) { keep(handle, line); });
    connect(&transcript, &ChatTranscript::lineChanged, this,
        [this](qsizetype, const ChatTranscript::Line& line) { noteDelivery(line); });
}

void ChatHistory::keep(const QString& handle, const ChatTranscript::Line& line)
{
    if ((line.notice && !line.kept) || line.isPicture() || !store_ || !store_->isOpen())
        return;
    HistoryLine kept;
    kept.timeMs = line.when.toMSecsSinceEpoch();
    kept.buddy = handle;
    kept.sender = line.handle;
    kept.outgoing = line.handle.compare(handle, Qt::CaseInsensitive) != 0;
    kept.text = line.message;
    kept.secure = line.secure;
    kept.wireId = line.lineId;
    switch (line.delivery) {
    case Delivery::Unmarked:
        kept.delivery = kept.outgoing ? HistoryDelivery::Sent : HistoryDelivery::Received;
        break;
    case Delivery::Pending:
        kept.delivery = HistoryDelivery::Pending;
        break;
    case Delivery::Delivered:
        kept.delivery = HistoryDelivery::Delivered;
        break;
    case Delivery::NotDelivered:
        kept.delivery = HistoryDelivery::NotDelivered;
        break;
    }
    const int64_t id = store_->append(kept);
    if (id == 0)
        EventLog::write(QStringLiteral("Confabo: a line was not kept. ") + store_->problem(), EventLog::Warning);
    else if (kept.delivery == HistoryDelivery::Pending)
        waiting_.insert(line.lineId, id);
}

void ChatHistory::noteDelivery(const ChatTranscript::Line& line)
{
    const auto found = waiting_.constFind(line.lineId);
    if (found == waiting_.constEnd() || !store_)
        return;
    store_->setDelivery(
        *found, line.delivery == Delivery::Delivered ? HistoryDelivery::Delivered : HistoryDelivery::NotDelivered);
    waiting_.erase(found);
}

void ChatHistory::sendPendingAgain(const std::function<uint64_t(const cfb::HistoryLine&)>& queue)
{
    HistoryStore* history = store();
    if (!history->isOpen())
        return;
    for (const HistoryLine& line : history->pendingOutgoing())
        if (const uint64_t id = queue(line))
            resent_.insert(id, line.id);
}

void ChatHistory::resent(uint64_t lineId, bool delivered)
{
    const auto found = resent_.constFind(lineId);
    if (found == resent_.constEnd() || !store_)
        return;
    store_->setDelivery(*found, delivered ? HistoryDelivery::Delivered : HistoryDelivery::NotDelivered);
    resent_.erase(found);
}

void ChatHistory::queued(uint64_t lineId)
{
    if (!store_)
        return;
    if (const auto found = waiting_.constFind(lineId); found != waiting_.constEnd())
        store_->setDelivery(*found, HistoryDelivery::Queued);
    else if (const auto again = resent_.constFind(lineId); again != resent_.constEnd())
        store_->setDelivery(*again, HistoryDelivery::Queued);
}

bool ChatHistory::hasReceived(const QString& handle, uint64_t wireId)
{
    HistoryStore* history = store();
    return history->isOpen() && history->hasReceived(handle, wireId);
}

bool ChatHistory::clear(const QString& handle)
{
    HistoryStore* history = store();
    return history->isOpen() && history->clear(handle);
}

QList<HistoryLine> ChatHistory::search(const QString& typed, int limit)
{
    return store()->search(typed, limit);
}

} // namespace cfb::client
