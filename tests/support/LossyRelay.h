#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

// A path between two UDP peers on 127.0.0.1 that the test shapes while it runs: each direction
// loses a share of the datagrams at random, and may be capped to a rate behind a drop-tail queue
// (as a home uplink is), all on a thread of its own. Side A sends to portA() and gets B's
// datagrams from there; side B likewise at portB(). Addresses and ports in host order.
class LossyRelay {
public:
    struct Shape {
        double loss = 0; // 0..1
        int capKbps = 0; // 0: no cap
        int queueMs = 250; // what the capped queue holds before it drops
        int delayMs = 5; // one way, on top of the queue
    };
    struct Counts {
        int64_t datagrams = 0;
        int64_t bytes = 0; // forwarded
        int64_t lost = 0; // at random
        int64_t dropped = 0; // the capped queue was full
    };

    LossyRelay(uint16_t peerA, uint16_t peerB);
    ~LossyRelay();

    uint16_t portA() const { return portA_; }
    uint16_t portB() const { return portB_; }
    // Direction 0: A to B; 1: B to A.
    void shape(int direction, const Shape& shape);
    Counts counts(int direction);

private:
    void run();

    int socketA_ = -1, socketB_ = -1, wake_[2] = {-1, -1};
    uint16_t portA_ = 0, portB_ = 0, peerA_, peerB_;
    std::mutex mutex_;
    Shape shapes_[2];
    Counts counts_[2];
    std::atomic<bool> stop_ {false};
    std::thread thread_;
};
