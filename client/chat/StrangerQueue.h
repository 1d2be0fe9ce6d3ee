#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb::client {

// Messages from strangers wait here for the user's one invitation question at a time. A flood of
// strangers then costs a short queue, not a question window each: the queue keeps one entry per
// handle (its newest message) and at most Capacity of them, a stranger answered "No" is not
// asked again while the program runs, and what does not fit is dropped.
class StrangerQueue {
public:
    static constexpr int Capacity = 20;

    struct Invitation {
        QString handle;
        QString email;
        int16_t videoPort = 0;
        QString message;
    };

    enum class Arrival {
        Ask, // no question is open: ask now, and call answered() after
        Waiting, // a question is open: it waits its turn (or replaced its own older message)
        Dropped, // the queue is full
        Refused, // answered "No" before
    };

    Arrival offer(const Invitation& invitation);
    // The open question's answer; a "No" is remembered for the handle.
    void answered(const QString& handle, bool yes);
    // The next waiting invitation to ask about (the question is then open), if any.
    std::optional<Invitation> next();
    // True at most once a minute while invitations are being dropped: when to say so in the log.
    bool dropNoteDue(const QDateTime& now = QDateTime::currentDateTimeUtc());
    int waiting() const { return int(waiting_.size()); }

private:
    static QString key(const QString& handle) { return handle.toCaseFolded(); }

    QList<Invitation> waiting_;
    QSet<QString> refused_;
    bool asking_ = false;
    QDateTime lastDropNote_;
};

} // namespace cfb::client
