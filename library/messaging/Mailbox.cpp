#include "messaging/Mailbox.h"

#include "channel/Identity.h"
#include "channel/SodiumReady.h"
#include "messaging/MailboxRequests.h"
#include "messaging/OffThreadRequests.h"

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
    , requests_(new OffThreadRequests(this))
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
    requests_->cancel(); // answers still to come are for the session that ended
    busy_ = false;
    takeWanted_ = false;
    outbox_.clear();
    retry_.clear();
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
    for (Outgoing& out : retry_)
        outbox_.push_back(std::move(out));
    retry_.clear();
    flushNow();
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
        pump();
    });
}

void Mailbox::tick()
{
    // Lines the service could not be reached for go again now, before taking.
    for (Outgoing& out : retry_)
        outbox_.push_back(std::move(out));
    retry_.clear();
    takeNow();
}

void Mailbox::takeNow()
{
    if (!identity_)
        return;
    takeWanted_ = true;
    batches_ = 0;
    pump();
}

std::optional<QByteArray> Mailbox::sealOrDrop(const Outgoing& out, bool& gone)
{
    QPointer<Mailbox> self(this);
    const std::optional<Key32> key = keyOf_(out.handle);
    const std::optional<QByteArray> sealed
        = key ? SealedMail::seal(out.content, *identity_, *key) : std::optional<QByteArray>();
    if (!sealed && out.content.kind == SealedMail::Kind::Line)
        emit lineNotDelivered(out.handle, out.content.id);
    gone = !self;
    return sealed;
}

void Mailbox::pump()
{
    while (!busy_ && identity_ && !outbox_.empty()) {
        Outgoing out = std::move(outbox_.front());
        outbox_.pop_front();
        bool gone = false;
        const std::optional<QByteArray> sealed = sealOrDrop(out, gone);
        if (gone)
            return;
        if (!sealed)
            continue;
        busy_ = true;
        auto result = std::make_shared<MailboxRequests::PutResult>();
        auto request = [result, userId = userId_, handle = out.handle, mailId = mailIdOf(out.content),
                           sealed = *sealed] { *result = MailboxRequests::put(userId, handle, mailId, sealed); };
        requests_->post(
            std::move(request),
            [this, result, out = std::move(out)]() mutable {
                busy_ = false;
                if (!onPut(std::move(out), *result))
                    return;
                pump();
            });
        return;
    }
    if (busy_ || !identity_ || !takeWanted_)
        return;
    busy_ = true;
    auto taken = std::make_shared<std::optional<MailboxRequests::Taken>>();
    requests_->post([taken, userId = userId_] { *taken = MailboxRequests::take(userId); },
        [this, taken] {
            busy_ = false;
            onTaken(std::move(*taken));
        });
}

bool Mailbox::onPut(Outgoing out, const MailboxRequests::PutResult& put)
{
    QPointer<Mailbox> self(this);
    const bool line = out.content.kind == SealedMail::Kind::Line;
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
        retry_.push_back(std::move(out));
        break;
    }
    return self;
}

void Mailbox::flushNow()
{
    while (identity_ && !outbox_.empty()) {
        Outgoing out = std::move(outbox_.front());
        outbox_.pop_front();
        bool gone = false;
        const std::optional<QByteArray> sealed = sealOrDrop(out, gone);
        if (gone)
            return;
        if (!sealed)
            continue;
        const MailboxRequests::PutResult put
            = MailboxRequests::put(userId_, out.handle, mailIdOf(out.content), *sealed);
        if (!onPut(std::move(out), put))
            return;
    }
}

void Mailbox::onTaken(std::optional<MailboxRequests::Taken> taken)
{
    if (!taken || !identity_) {
        takeWanted_ = false; // the next interval tries again
        pump();
        return;
    }
    QPointer<Mailbox> self(this);
    QList<int64_t> handled;
    QHash<QString, QList<uint64_t>> receipts; // by the sender's handle as the service spells it
    for (const MailboxRequests::Waiting& waiting : taken->lines) {
        // Taken whatever it holds: a line that cannot be opened never can be, and must not stay
        // in the way of the others.
        handled.append(waiting.id);
        const std::optional<Key32> key = keyOf_(waiting.from);
        if (!self || !identity_)
            return;
        const std::optional<SealedMail::Content> content
            = key ? SealedMail::open(waiting.sealed, *identity_, *key) : std::nullopt;
        if (!content || content->handle.compare(waiting.from, Qt::CaseInsensitive) != 0
            || content->handle.compare(ownHandle_, Qt::CaseInsensitive) == 0)
            continue;
        if (content->kind == SealedMail::Kind::Receipt) {
            for (const uint64_t id : content->receiptIds) {
                emit lineDelivered(waiting.from, id);
                if (!self || !identity_)
                    return;
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
            return;
    }
    const bool more = taken->more;
    // Receipts go once the service deleted what was shown; a failed acknowledgement has the
    // lines taken again at the next interval, and then known by their ids.
    const auto acknowledged = [this, more, receipts](bool ok) {
        if (!ok) {
            takeWanted_ = false;
            pump();
            return;
        }
        for (auto it = receipts.cbegin(); it != receipts.cend(); ++it) {
            SealedMail::Content receipt;
            receipt.kind = SealedMail::Kind::Receipt;
            receipt.id = newLineId();
            receipt.sentMs = QDateTime::currentMSecsSinceEpoch();
            receipt.handle = ownHandle_;
            receipt.receiptIds = it.value();
            outbox_.push_back({it.key(), std::move(receipt)});
        }
        takeWanted_ = more && ++batches_ < MaxBatches;
        pump();
    };
    if (handled.isEmpty()) {
        acknowledged(true);
        return;
    }
    busy_ = true;
    auto ok = std::make_shared<bool>(false);
    requests_->post([ok, userId = userId_, handled] { *ok = MailboxRequests::ack(userId, handled); },
        [this, ok, acknowledged] {
            busy_ = false;
            acknowledged(*ok);
        });
}

} // namespace cfb
