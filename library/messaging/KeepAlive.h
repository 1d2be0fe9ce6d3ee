#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace cfb {

class Confabo;
class PeerAddresses;

// Keeps the way through routers open between the signed-in user and each online buddy: a small
// datagram from the data-port socket to the buddy's address at the data port, when the buddy is
// first seen online and every interval after, at most one per buddy per interval. A router that
// keeps the source port then holds a mapping for both directions, so the buddy's datagrams come
// through. Never to blocked users, never while all data is blocked, and never asks the service:
// it reads only what the buddies last looked up.
class KeepAlive : public QObject {
    Q_OBJECT

public:
    // What is sent: not well-formed, so every peer, older ones too, drops it without a trace.
    static const QByteArray Datagram;
    // Routers forget an unanswered mapping after about 30 s.
    static constexpr int DefaultIntervalMs = 20000;

    KeepAlive(Confabo& owner, PeerAddresses& addresses);

    // Starts (again) after a sign-in; stops after a sign-out.
    void start();
    void stop();
    bool isActive() const { return timer_.isActive(); }

    // Shorter intervals are for tests; the buddies are checked ten times an interval, at most
    // once a second.
    void setIntervalMs(int ms);
    int intervalMs() const { return intervalMs_; }

    // Datagrams handed to the socket since construction.
    int64_t sent() const { return sent_; }

private:
    void tick();

    Confabo& owner_;
    PeerAddresses& addresses_;
    QTimer timer_;
    int intervalMs_ = DefaultIntervalMs;
    QHash<QString, int64_t> lastSent_; // monotonic ms, by lower-case handle
    int64_t sent_ = 0;
};

} // namespace cfb
