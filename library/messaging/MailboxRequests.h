#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {

// The service's mailbox operations as this user asks for them: leaving a sealed line for a buddy
// (MAIL_PUT), taking the lines waiting (MAIL_TAKE) and deleting those shown (MAIL_ACK). Blocking,
// as every service request is.
namespace MailboxRequests {

struct PutResult {
    enum Outcome { Stored, Refused, Unanswered };
    Outcome outcome = Unanswered;
    QString reason; // Refused: the service's words for the sender, e.g. "bertram's mailbox is full."
};

struct Waiting {
    int64_t id = 0; // the service's, for ack()
    QString from;
    QByteArray mailId;
    int64_t storedAt = 0; // seconds since 1970
    QByteArray sealed;
};

struct Taken {
    QList<Waiting> lines;
    bool more = false;
};

// Unanswered also for a reply without the elements it should have.
PutResult put(int32_t userId, const QString& toHandle, const QByteArray& mailId, const QByteArray& sealed);
// Nothing when the service could not be reached or refused; lines with elements missing or
// malformed are left out (and stay waiting until they are too old).
std::optional<Taken> take(int32_t userId);
bool ack(int32_t userId, const QList<int64_t>& ids);

} // namespace MailboxRequests
} // namespace cfb
