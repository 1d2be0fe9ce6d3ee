#include "AddressRateLimiter.h"

#include <algorithm>

namespace cfb::service {

AddressRateLimiter::AddressRateLimiter(Config config)
    : config_{std::max(1u, config.burst), std::max(1u, config.perMinute), std::max<size_t>(1, config.maxAddresses)}
    , interval_(std::chrono::duration_cast<Clock::duration>(std::chrono::minutes(1)) / config_.perMinute)
{
}

bool AddressRateLimiter::take(const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    auto found = fullAgain_.find(address);
    if (found == fullAgain_.end()) {
        // A full table is swept at most once a second, so a stream of new addresses does not
        // make every request walk it.
        if (fullAgain_.size() >= config_.maxAddresses && now - lastSweep_ >= std::chrono::seconds(1)) {
            lastSweep_ = now;
            std::erase_if(fullAgain_, [&](const auto& entry) { return entry.second <= now; });
        }
        if (fullAgain_.size() >= config_.maxAddresses)
            return false;
        found = fullAgain_.emplace(address, now).first;
    }
    const Clock::time_point full = std::max(found->second, now);
    if (full - now > interval_ * (config_.burst - 1))
        return false; // spending one more would take more than the burst
    found->second = full + interval_;
    return true;
}

} // namespace cfb::service
