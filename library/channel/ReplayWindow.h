#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cfb {

// Which datagram counters of one receiving direction may still be accepted: a bitmap over the
// WindowSize counters up to the highest one accepted, kept as a ring of 64-bit words that the
// window slides over a word at a time (RFC 6479). A counter newer than the highest always
// passes; one inside the window passes once; one older than the window never does. Counters
// from Limit (2^60) on are refused, so the sender must rekey long before. Constant time per
// call, no allocation.
//
// check() first, accept() only once the datagram authenticated, so a forged datagram cannot
// move the window.
class ReplayWindow {
public:
    static constexpr uint64_t WindowSize = 4096;
    static constexpr uint64_t Limit = uint64_t(1) << 60;

    bool check(uint64_t counter) const;
    // Records counter as seen; does nothing for one check() refuses.
    void accept(uint64_t counter);
    bool checkAndAccept(uint64_t counter);

    void reset();

private:
    static constexpr size_t WordBits = 64;
    // One word more than the window, so the word the newest counter is in never shares a slot
    // with the oldest word the window still covers.
    static constexpr size_t Words = WindowSize / WordBits + 1;

    static size_t slot(uint64_t counter) { return size_t((counter / WordBits) % Words); }
    static uint64_t bit(uint64_t counter) { return uint64_t(1) << (counter % WordBits); }

    std::array<uint64_t, Words> bitmap_{};
    uint64_t highest_ = 0;
};

} // namespace cfb
