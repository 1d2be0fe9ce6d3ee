#include "messaging/Mailbox.h"

#include "channel/Identity.h"
#include "channel/SodiumReady.h"
#include "messaging/MailboxRequests.h"

#include <QDateTime>
#include <QPointer>

#include <sodium.h>

namespace cfb {

namespace {

// The service's id for a line or receipt: who sent it and its id make it one line, so a line
// left again (its answer was lost, or after a restart) is kept once.
QByteArray mailIdOf(const SealedMail::Content& content)
{
    const char kind = content.kind == SealedMail::Kind::Line ? 'l' : 'r';
    return kind + QByteArray::number(qulonglong(content.id), 16);
}

} // namespace

Mailbox::Mailbox(KeyOf keyOf, QObject* parent)
    : QObject(parent)
    , keyOf_(std::move(keyOf))
{
    connect(&interval_, &QTimer::timeout, this, &Mailbox::tick);
}

Mailbox::~Mailbox() = default;

uint64_t Mailbox::newLineId()
{
    sodiumReady();
    // Below 2^53, as the encrypted channel's ids are: exact as a JSON number.
    uint64_t id = 0;
    while (id == 0) {
        randombytes_buf(&id, sizeof id);
        id &= (uint64_t(1) << 53) - 1;
    }
    return id;
}

void Mailbox::start(const Identity* identity, int32_t userId, const QString& ownHandle, int intervalMs)
{
    stop();
    if (!identity)
        return;
    identity_ = identity;
    userId_ = userId;
    ownHandle_ = ownHandle;
    interval_.start(std::max(1000, intervalMs));
    // From the event loop: the caller of the sign-in hears of the lines after it returned.
    QTimer::singleShot(0, this, [this] { tick(); });
}

void Mailbox::stop()
{
    interval_.stop();
    identity_ = nullptr;
    outbox_.clear();
    direct_.clear();
}

void Mailbox::sentDirect(uint64_t channelId, Direct line)
{
    if (channelId != 0)
        direct_.insert(channelId, std::move(line));
}

std::optional<Mailbox::Direct> Mailbox::takeDirect(uint64_t channelId)
{
    const auto found = direct_.find(channelId);
    if (found == direct_.end())
        return std::nullopt;
    Direct line = std::move(*found);
    direct_.erase(found);
    return line;
}

void Mailbox::queueUnacknowledged()
{
    if (!identity_)
        return;
    for (const Direct& line : std::as_const(direct_))
        queue(line.handle, line.wireId, line.text, line.sentMs);
    direct_.clear();
    flush();
}

void Mailbox::queue(const QString& handle, uint64_t id, const QString& text, int64_t sentMs)
{
    SealedMail::Content content;
    content.kind = SealedMail::Kind::Line;
    content.id = id;
    content.sentMs = sentMs;
    content.handle = ownHandle_;
    content.text = text;
    outbox_.push_back({handle, std::move(content)});
    scheduleFlush();
}

bool Mailbox::seen(const QString& handle, uint64_t id)
{
    const QString key = handle.toLower();
    QSet<uint64_t>& ids = seen_[key];
    if (ids.contains(id))
        return true;
    std::deque<uint64_t>& order = seenOrder_[key];
    ids.insert(id);
    order.push_back(id);
    if (order.size() > size_t(SeenPerBuddy)) {
        ids.remove(order.front());
        order.pop_front();
    }
    return false;
}

void Mailbox::scheduleFlush()
{
    if (flushScheduled_)
        return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        flushScheduled_ = false;
        flush();
    });
}

void Mailbox::tick()
{
    flush();
    takeNow();
}

void Mailbox::flush()
{
    QPointer<Mailbox> self(this);
    std::deque<Outgoing> retry;
    while (identity_ && !outbox_.empty()) {
        Outgoing out = std::move(outbox_.front());
        outbox_.pop_front();
        const bool line = out.content.kind == SealedMail::Kind::Line;
        const std::optional<Key32> key = keyOf_(out.handle);
        const std::optional<QByteArray> sealed
            = key ? SealedMail::seal(out.content, *identity_, *key) : std::optional<QByteArray>();
        if (!sealed) {
            if (line)
                emit lineNotDelivered(out.handle, out.content.id);
            if (!self)
                return;
            continue;
        }
        const MailboxRequests::PutResult put
            = MailboxRequests::put(userId_, out.handle, mailIdOf(out.content), *sealed);
        switch (put.outcome) {
        case MailboxRequests::PutResult::Stored:
            if (line)
                emit lineQueued(out.handle, out.content.id);
            break;
        case MailboxRequests::PutResult::Refused:
            if (line)
                emit lineRefused(out.handle, out.content.id, put.reason);
            break;
        case MailboxRequests::PutResult::Unanswered:
            retry.push_back(std::move(out));
            break;
        }
        if (!self)
            return;
    }
    for (Outgoing& out : retry)
        outbox_.push_back(std::move(out));
}

void Mailbox::takeNow()
{
    bool more = true;
    for (int batch = 0; batch < MaxBatches && more && identity_; ++batch)
        if (!takeBatch(more))
            return;
}

bool Mailbox::takeBatch(bool& more)
{
    const std::optional<MailboxRequests::Taken> taken = MailboxRequests::take(userId_);
    if (!taken)
        return false;
    more = taken->more;
    QPointer<Mailbox> self(this);
    QList<int64_t> handled;
    QHash<QString, QList<uint64_t>> receipts; // by the sender's handle as the service spells it
    for (const MailboxRequests::Waiting& waiting : taken->lines) {
        // Taken whatever it holds: a line that cannot be opened never can be, and must not stay
        // in the way of the others.
        handled.append(waiting.id);
        const std::optional<Key32> key = keyOf_(waiting.from);
        const std::optional<SealedMail::Content> content
            = key ? SealedMail::open(waiting.sealed, *identity_, *key) : std::nullopt;
        if (!content || content->handle.compare(waiting.from, Qt::CaseInsensitive) != 0
            || content->handle.compare(ownHandle_, Qt::CaseInsensitive) == 0)
            continue;
        if (content->kind == SealedMail::Kind::Receipt) {
            for (const uint64_t id : content->receiptIds) {
                emit lineDelivered(waiting.from, id);
                if (!self)
                    return false;
            }
            continue;
        }
        // A line shown before is acknowledged again: the sender's mark needs the receipt.
        QList<uint64_t>& ids = receipts[waiting.from];
        if (ids.size() < SealedMail::MaxReceiptIds)
            ids.append(content->id);
        if (seen(waiting.from, content->id))
            continue;
        emit lineArrived(waiting.from, content->id, content->text, content->sentMs);
        if (!self || !identity_)
            return false;
    }
    if (!handled.isEmpty() && !MailboxRequests::ack(userId_, handled))
        return false; // taken again at the next interval, and then known by their ids
    for (auto it = receipts.cbegin(); it != receipts.cend(); ++it) {
        SealedMail::Content receipt;
        receipt.kind = SealedMail::Kind::Receipt;
        receipt.id = newLineId();
        receipt.sentMs = QDateTime::currentMSecsSinceEpoch();
        receipt.handle = ownHandle_;
        receipt.receiptIds = it.value();
        outbox_.push_back({it.key(), std::move(receipt)});
    }
    if (!receipts.isEmpty())
        flush();
    return true;
}

} // namespace cfb
