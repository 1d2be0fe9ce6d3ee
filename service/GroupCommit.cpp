#include "GroupCommit.h"

#include <algorithm>

namespace cfb::service {
namespace {

constexpr int MaxFailuresInARow = 2;

} // namespace

GroupCommit::GroupCommit(Storage& storage, Config config)
    : storage_(storage)
    , queue_(config.maxBatch, config.queueLength, [this](std::vector<Queue::Pending>& batch) { commit(batch); })
{
}

void GroupCommit::submit(OwnChange change, Done done)
{
    if (!queue_.submit(change, done))
        done(applyAlone(change));
}

void GroupCommit::commit(std::vector<Queue::Pending>& batch)
{
    // In the order of the users' ids (a user's own changes keep theirs): a store that locks the
    // rows as it goes then locks them in that order in every batch of every service sharing the
    // database, so two batches never wait for each other's rows in a circle.
    std::stable_sort(batch.begin(), batch.end(),
        [](const Queue::Pending& a, const Queue::Pending& b) { return a.item.caller.userId < b.item.caller.userId; });
    std::vector<OwnChange> changes;
    changes.reserve(batch.size());
    for (Queue::Pending& pending : batch)
        changes.push_back(std::move(pending.item));
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
