#pragma once

#include <QString>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

// A loopback TCP relay in front of a service, for tests of what a slow or silent service does to
// its clients: it passes connections through, holds every answer back for a while, or accepts
// connections and never answers, as the test switches it. A connection keeps the way it was
// accepted in.
class StallingProxy {
public:
    explicit StallingProxy(quint16 servicePort);
    ~StallingProxy();
    StallingProxy(const StallingProxy&) = delete;
    StallingProxy& operator=(const StallingProxy&) = delete;

    QString serverSetting() const; // "127.0.0.1:PORT"

    void passThrough() { delayMs_ = 0; }
    void delayAnswers(int ms) { delayMs_ = ms; }
    void neverAnswer() { delayMs_ = Never; }

    // Connections accepted so far.
    int connections() const { return connections_; }

private:
    static constexpr int Never = -1;
    void acceptLoop();
    void relay(int client, int delayMs);

    quint16 servicePort_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<int> delayMs_{0};
    std::atomic<int> connections_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::list<std::thread> relays_;
    std::thread acceptor_;
};
