#include "channel/ReplayWindow.h"

#include <algorithm>

namespace cfb {

bool ReplayWindow::check(uint64_t counter) const
{
    if (counter >= Limit)
        return false;
    if (counter > highest_)
        return true;
    if (highest_ - counter >= WindowSize)
        return false;
    return (bitmap_[slot(counter)] & bit(counter)) == 0;
}

void ReplayWindow::accept(uint64_t counter)
{
    if (!check(counter))
        return;
    if (counter > highest_) {
        // Clear the words the window slides onto; a jump of a whole window clears them all.
        const uint64_t from = highest_ / WordBits;
        const uint64_t steps = std::min<uint64_t>(counter / WordBits - from, Words);
        for (uint64_t i = 1; i <= steps; ++i)
            bitmap_[size_t((from + i) % Words)] = 0;
        highest_ = counter;
    }
    bitmap_[slot(counter)] |= bit(counter);
}

bool ReplayWindow::checkAndAccept(uint64_t counter)
{
    if (!check(counter))
        return false;
    accept(counter);
    return true;
}

void ReplayWindow::reset()
{
    bitmap_.fill(0);
    highest_ = 0;
}

} // namespace cfb
