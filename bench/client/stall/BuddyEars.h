#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// The buddies' side of the data port: one UDP socket per buddy address (127.0.0.2, .3, ...) on
// the port every client shares, read on a thread of its own. It counts what arrives at each
// address and when the last datagram did, so a send is timed to its arrival whichever thread sent it.
class BuddyEars {
public:
    using Clock = std::chrono::steady_clock;

    BuddyEars(int buddies, quint16 port);
    ~BuddyEars();
    BuddyEars(const BuddyEars&) = delete;
    BuddyEars& operator=(const BuddyEars&) = delete;

    bool listening() const { return listening_; }
    // The address buddy i listens at ("127.0.0.2" for the first).
    static QString address(int buddy);

    int64_t count(int buddy) const;
    // When the last datagram arrived at buddy i.
    Clock::time_point lastArrival(int buddy) const;
    // Blocks until buddy i has seen `total` datagrams; false after the time.
    bool waitFor(int buddy, int64_t total, int ms) const;

private:
    void listen();

    struct Ear {
        int fd = -1;
        int64_t count = 0;
        Clock::time_point last;
    };
    std::vector<Ear> ears_;
    bool listening_ = true;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::thread thread_;
};
