#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class ClientSession;

// The main window's presence poll: a tick every 5 s polls once the polling interval has passed,
// looking every buddy up on the session's service thread (and the users on tabs who are no
// buddies); polled() follows when the values have arrived. A poll under way is not asked again.
// Each poll asks the service something, so that it finds out whether the service answers:
// reached() says so after every poll (the values of a poll that did not reach it are the last
// ones known).
class PresencePoll : public QObject {
    Q_OBJECT

public:
    using Others = std::function<QHash<QString, std::shared_ptr<cfb::Buddy>>()>;

    PresencePoll(ClientSession& session, Others others, QObject* parent = nullptr);

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }

    // One tick: polls when the next poll time has passed and shown is true (the window is on
    // screen), then sets the next poll time "Polling Interval" seconds ahead.
    void tick(bool shown);
    // A poll now: in the background (not asked again while one is under way), or at once
    // (sign-in). then, when given, runs once its values are shown, or it failed, or it was not
    // asked.
    enum Mode { InBackground, Now };
    void poll(Mode mode, std::function<void()> then = {});

    // The clock the ticks read (tests step it); the wall clock by default.
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

    // Whether the last poll reached the service; true before the first.
    bool reachedService() const { return reached_; }

signals:
    void ticked();
    void polled();
    void reached(bool reached);

private:
    ClientSession& session_;
    Others others_;
    QTimer timer_;
    QDateTime nextPoll_;
    bool polling_ = false;
    bool reached_ = true;
    std::function<QDateTime()> clock_;
};

} // namespace cfb::client
