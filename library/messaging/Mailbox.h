#pragma once

#include "channel/NoiseTypes.h"
#include "channel/SealedMail.h"
#include "messaging/MailboxRequests.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace cfb {

class Identity;
class OffThreadRequests;

// The signed-in user's side of the mailboxes at the service. Lines that could not go to a buddy
// directly are sealed to the buddy's key and left in the buddy's mailbox; lines waiting in this
// user's own mailbox are taken at sign-in and then at every interval, opened with the key known
// for their sender, shown once (a line that came directly already is not shown again),
// acknowledged, and answered with a sealed receipt, which gives the sender its delivered mark.
//
// Line ids: a line that went over the encrypted channel first keeps the id it carried there, so
// the buddy recognises it whichever way it comes; a line that goes to the mailbox at once gets a
// random one. Ids are the sender's, unique per buddy.
class Mailbox : public QObject {
    Q_OBJECT

public:
    // The key the handle's lines are sealed to and opened with: the one pinned or published for
    // them; nothing when they have none (or it changed unconfirmed).
    using KeyOf = std::function<std::optional<Key32>(const QString& handle)>;

    static constexpr int SeenPerBuddy = 1024; // ids remembered for each sender, to show a line once
    static constexpr int MaxBatches = 20; // taken in one go; the rest at the next interval

    explicit Mailbox(KeyOf keyOf, QObject* parent = nullptr);
    ~Mailbox() override;

    // Starts taking (soon, from the event loop, and every intervalMs) for the user signed in;
    // without an identity nothing is sealed or opened and the mailbox stays idle.
    void start(const Identity* identity, int32_t userId, const QString& ownHandle, int intervalMs);
    // At sign-out: stops, and forgets what had not gone yet.
    void stop();
    bool isActive() const { return identity_ != nullptr; }
    int32_t userId() const { return userId_; }

    // A new id for a line that goes to the mailbox at once.
    static uint64_t newLineId();

    // A line that went over the encrypted channel with channelId (the channel's own number for
    // it) and wireId (the one it carries): kept until the channel says how it fared.
    struct Direct {
        QString handle;
        uint64_t wireId = 0;
        QString text;
        int64_t sentMs = 0;
    };
    void sentDirect(uint64_t channelId, Direct line);
    // The line the channel tells of, forgotten here; nothing for a line this mailbox never knew.
    std::optional<Direct> takeDirect(uint64_t channelId);
    // Every line the channel has not acknowledged yet, and every line still waiting to go, goes
    // to the mailbox now, waiting for the service on this thread (at sign-out, which waits for
    // the service anyway, so nothing written in the last seconds is lost).
    void queueUnacknowledged();

    // Leaves the line in handle's mailbox, from the event loop; lineQueued, lineRefused or
    // lineNotDelivered follows (the last when the buddy has no key). A line the service could
    // not be reached for is tried again at the next interval.
    void queue(const QString& handle, uint64_t id, const QString& text, int64_t sentMs);

    // Whether the line from handle with that id was shown already; remembers it when not.
    bool seen(const QString& handle, uint64_t id);

    // Takes what waits now (the interval does it too).
    void takeNow();

signals:
    void lineQueued(const QString& handle, uint64_t id);
    // The service did not take it, and why (its words: "bertram's mailbox is full.").
    void lineRefused(const QString& handle, uint64_t id, const QString& reason);
    void lineNotDelivered(const QString& handle, uint64_t id);
    // A receipt came: the buddy took the line.
    void lineDelivered(const QString& handle, uint64_t id);
    // A line from the mailbox, not seen before; sentMs: when its sender wrote it.
    void lineArrived(const QString& handle, uint64_t id, const QString& text, int64_t sentMs);

private:
    struct Outgoing {
        QString handle;
        SealedMail::Content content;
    };

    void tick();
    void scheduleFlush();
    // Starts the next request when none runs: lines and receipts first, then taking.
    void pump();
    // The sealed bytes, or nothing (lineNotDelivered for a line); gone: this object was
    // destroyed by a slot.
    std::optional<QByteArray> sealOrDrop(const Outgoing& out, bool& gone);
    // Tells how the line fared; false when this object was destroyed by a slot.
    bool onPut(Outgoing out, const MailboxRequests::PutResult& put);
    // Leaves what waits to go, waiting for the service on this thread.
    void flushNow();
    // Shows one batch taken, then acknowledges it and answers with receipts.
    void onTaken(std::optional<MailboxRequests::Taken> taken);

    KeyOf keyOf_;
    const Identity* identity_ = nullptr;
    int32_t userId_ = 0;
    QString ownHandle_;
    QTimer interval_;
    OffThreadRequests* requests_; // child
    bool flushScheduled_ = false;
    bool busy_ = false; // a request runs
    bool takeWanted_ = false;
    int batches_ = 0; // taken since takeNow
    std::deque<Outgoing> outbox_; // lines and receipts not yet taken by the service
    std::deque<Outgoing> retry_; // the service could not be reached: again at the next interval
    QHash<uint64_t, Direct> direct_; // by the channel's id
    QHash<QString, QSet<uint64_t>> seen_; // by lower-case handle
    QHash<QString, std::deque<uint64_t>> seenOrder_;
};

} // namespace cfb
