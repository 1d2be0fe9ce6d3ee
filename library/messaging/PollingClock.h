#pragma once

#include <cstdint>
#include <functional>

namespace cfb {

// The time a buddy's looked-up values are reused by: whole seconds on a clock that never steps
// back, so a changed system time cannot stall or hurry the polling. A thread may put a source of
// its own in place of the steady clock (tests move such a clock on instead of waiting).
class PollingClock {
public:
    using Source = std::function<int64_t()>;

    static int64_t nowSeconds();
    // Installs the source for the calling thread and returns the previous one; an empty source
    // is the steady clock.
    static Source setSource(Source source);
};

} // namespace cfb
