#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cfb::service {

// A token bucket per source address: each address may spend `burst` tokens at once, and gets
// `perMinute` back each minute up to that burst. The service spends one for every request that
// costs a password hash (sign-in, registration, password change), so no one address can keep the
// hashing pool busy. Buckets that have filled up again are forgotten; while `maxAddresses`
// addresses still hold part-spent buckets, a new address is refused.
class AddressRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    struct Config {
        unsigned burst = 30;
        unsigned perMinute = 30;
        size_t maxAddresses = 65536;
    };

    explicit AddressRateLimiter(Config config);

    // Takes a token for the address; false when it has none left.
    bool take(const std::string& address) { return take(address, Clock::now()); }
    bool take(const std::string& address, Clock::time_point now);

private:
    const Config config_;
    const Clock::duration interval_; // between two tokens coming back
    // A bucket is kept as the time it will be full again, one interval later for each token
    // spent; the past means full.
    std::mutex mutex_;
    std::unordered_map<std::string, Clock::time_point> fullAgain_;
    Clock::time_point lastSweep_{};
};

} // namespace cfb::service
