#include "messaging/PollingClock.h"

#include <chrono>

namespace cfb {
namespace {

thread_local PollingClock::Source currentSource;

} // namespace

int64_t PollingClock::nowSeconds()
{
    if (currentSource)
        return currentSource();
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

PollingClock::Source PollingClock::setSource(Source source)
{
    Source previous = std::move(currentSource);
    currentSource = std::move(source);
    return previous;
}

} // namespace cfb
