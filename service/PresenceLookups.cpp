#include "PresenceLookups.h"

namespace cfb::service {

PresenceLookups::PresenceLookups(Storage& storage, Config config)
    : storage_(storage)
    , queue_(config.maxBatch, config.queueLength, [this](std::vector<Queue::Pending>& batch) { lookUp(batch); })
{
}

void PresenceLookups::submit(int32_t userId, Done done)
{
    if (queue_.submit(userId, done))
        return;
    try {
        done(Result{storage_.presence(userId), {}});
    } catch (const std::exception& e) {
        done(Result{std::nullopt, e.what()});
    }
}

void PresenceLookups::lookUp(std::vector<Queue::Pending>& batch)
{
    std::vector<int32_t> ids;
    ids.reserve(batch.size());
    for (const Queue::Pending& pending : batch)
        ids.push_back(pending.item);
    std::vector<std::optional<UserPresence>> found;
    std::string error;
    try {
        found = storage_.presences(ids);
    } catch (const std::exception& e) {
        error = e.what(); // a read changes nothing: every lookup of the batch fails with it
    }
    for (size_t i = 0; i < batch.size(); ++i)
        batch[i].done(Result{i < found.size() ? found[i] : std::nullopt, error});
}

} // namespace cfb::service
