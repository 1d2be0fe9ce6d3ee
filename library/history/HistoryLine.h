#pragma once

#include <QString>

#include <cstdint>

namespace cfb {

// What became of a line, as the history keeps it. The numbers are stored: never renumber.
enum class HistoryDelivery : int {
    Received = 0, // a line from the buddy
    Sent = 1, // one of the user's own lines that nobody acknowledges (the plain format)
    Pending = 2, // sent, its acknowledgement not come yet
    Delivered = 3,
    NotDelivered = 4,
    Queued = 5, // waiting in the buddy's mailbox at the service
};

// One line of a conversation with one buddy.
struct HistoryLine {
    int64_t id = 0; // the store's own, never reused
    int64_t timeMs = 0; // UTC, milliseconds since the epoch
    QString buddy; // whose conversation it belongs to
    bool outgoing = false;
    QString sender;
    QString text;
    bool secure = false; // came or went over the encrypted channel
    HistoryDelivery delivery = HistoryDelivery::Received;
    // The id the line carried between the two clients (the same whichever way it went), 0 for a
    // line of the plain format.
    uint64_t wireId = 0;

    // "pending", "delivered", ... as the headless client names the state.
    static QString deliveryName(HistoryDelivery delivery);
    // A stored number that names no state reads as Sent: a line whose fate is unknown.
    static HistoryDelivery deliveryFromNumber(int number);
};

} // namespace cfb
