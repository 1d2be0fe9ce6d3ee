#include "chat/StrangerQueue.h"

namespace cfb::client {

StrangerQueue::Arrival StrangerQueue::offer(const Invitation& invitation)
{
    const QString handle = key(invitation.handle);
    if (refused_.contains(handle))
        return Arrival::Refused;
    if (!asking_) {
        asking_ = true;
        return Arrival::Ask;
    }
    for (Invitation& queued : waiting_) {
        if (key(queued.handle) == handle) {
            queued = invitation; // the newest message of the handle is the one shown
            return Arrival::Waiting;
        }
    }
    if (waiting_.size() >= Capacity)
        return Arrival::Dropped;
    waiting_.append(invitation);
    return Arrival::Waiting;
}

void StrangerQueue::answered(const QString& handle, bool yes)
{
    asking_ = false;
    if (!yes) {
        refused_.insert(key(handle));
        waiting_.removeIf([&](const Invitation& queued) { return key(queued.handle) == key(handle); });
    }
}

std::optional<StrangerQueue::Invitation> StrangerQueue::next()
{
    if (asking_ || waiting_.isEmpty())
        return std::nullopt;
    asking_ = true;
    return waiting_.takeFirst();
}

bool StrangerQueue::dropNoteDue(const QDateTime& now)
{
    if (lastDropNote_.isValid() && lastDropNote_.secsTo(now) < 60)
        return false;
    lastDropNote_ = now;
    return true;
}

} // namespace cfb::client
