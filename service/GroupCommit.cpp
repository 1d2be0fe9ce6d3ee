#include "GroupCommit.h"

#include <algorithm>
#include <iterator>

namespace cfb::service {
namespace {

constexpr int MaxFailuresInARow = 2;

} // namespace

GroupCommit::GroupCommit(Storage& storage, Config config)
    : storage_(storage)
    , config_{std::max<size_t>(1, config.maxBatch), config.queueLength}
{
    queue_.reserve(config_.maxBatch);
    thread_ = std::thread([this] { run(); });
}

GroupCommit::~GroupCommit()
{
    finish();
}

void GroupCommit::submit(OwnChange change, Done done)
{
    {
        std::lock_guard lock(mutex_);
        if (!finishing_ && queue_.size() < config_.queueLength) {
            queue_.push_back({std::move(change), std::move(done)});
            if (queue_.size() == 1)
                wake_.notify_one(); // later ones find the thread awake or about to take them
            return;
        }
    }
    done(applyAlone(change));
}

void GroupCommit::finish()
{
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void GroupCommit::run()
{
    std::vector<Pending> batch;
    batch.reserve(config_.maxBatch);
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return finishing_ || !queue_.empty(); });
            if (queue_.empty())
                return; // finishing, and nothing left to commit
            if (queue_.size() <= config_.maxBatch) {
                batch.swap(queue_); // the usual case: everything waiting, no copying
            } else {
                const auto end = queue_.begin() + std::ptrdiff_t(config_.maxBatch);
                std::move(queue_.begin(), end, std::back_inserter(batch));
                queue_.erase(queue_.begin(), end);
            }
        }
        commit(batch);
        batch.clear();
    }
}

void GroupCommit::commit(std::vector<Pending>& batch)
{
    // In the order of the users' ids (a user's own changes keep theirs): a store that locks the
    // rows as it goes then locks them in that order in every batch of every service sharing the
    // database, so two batches never wait for each other's rows in a circle.
    std::stable_sort(batch.begin(), batch.end(),
        [](const Pending& a, const Pending& b) { return a.change.caller.userId < b.change.caller.userId; });
    std::vector<OwnChange> changes;
    changes.reserve(batch.size());
    for (Pending& pending : batch)
        changes.push_back(std::move(pending.change));
    std::vector<bool> applied;
    try {
        applied = storage_.applyChanges(changes);
    } catch (const std::exception& e) {
        // None of them is made. One bad change fails a batch, and alone the others succeed; but
        // when changes keep failing alone too, the store itself is in trouble (the database
        // away), and the rest fail at once rather than each waiting for it in turn.
        Result failed{false, e.what()};
        int failuresInARow = batch.size() == 1 ? MaxFailuresInARow : 0;
        for (size_t i = 0; i < batch.size(); ++i) {
            if (failuresInARow < MaxFailuresInARow) {
                const Result alone = applyAlone(changes[i]);
                failuresInARow = alone.error.empty() ? 0 : failuresInARow + 1;
                if (!alone.error.empty())
                    failed = alone;
                batch[i].done(alone);
            } else {
                batch[i].done(failed);
            }
        }
        return;
    }
    for (size_t i = 0; i < batch.size(); ++i)
        batch[i].done(Result{i < applied.size() && applied[i], {}});
}

GroupCommit::Result GroupCommit::applyAlone(const OwnChange& change)
{
    try {
        return Result{storage_.applyChanges({&change, 1}).front(), {}};
    } catch (const std::exception& e) {
        return Result{false, e.what()};
    }
}

} // namespace cfb::service
