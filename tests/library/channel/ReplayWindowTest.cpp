// The replay window over datagram counters: what arrives in order, late, twice, far too late,
// or after a jump.
#include "channel/ReplayWindow.h"

#include <gtest/gtest.h>

using cfb::ReplayWindow;

TEST(ReplayWindow, AcceptsEachCounterOnceWithinTheWindow)
{
    ReplayWindow window;
    for (uint64_t c = 0; c < 300; ++c)
        ASSERT_TRUE(window.checkAndAccept(c)) << c;
    for (uint64_t c = 0; c < 300; ++c)
        ASSERT_FALSE(window.check(c)) << "duplicate " << c;

    // Out of order: every other counter first, the rest late; each still only once.
    for (uint64_t c = 1000; c < 1400; c += 2)
        ASSERT_TRUE(window.checkAndAccept(c));
    for (uint64_t c = 1001; c < 1400; c += 2)
        ASSERT_TRUE(window.checkAndAccept(c));
    for (uint64_t c = 1000; c < 1400; ++c)
        ASSERT_FALSE(window.checkAndAccept(c));
    // The counters skipped between 300 and 1000 are still within reach.
    EXPECT_TRUE(window.checkAndAccept(500));
    EXPECT_FALSE(window.checkAndAccept(500));

    // A check alone (a datagram that then failed to authenticate) does not use the counter up.
    EXPECT_TRUE(window.check(700));
    EXPECT_TRUE(window.check(700));
    window.accept(700);
    EXPECT_FALSE(window.check(700));
}

TEST(ReplayWindow, RefusesWhatIsBehindTheWindowAndForgetsOnAJump)
{
    ReplayWindow window;
    const uint64_t top = 10'000;
    ASSERT_TRUE(window.checkAndAccept(top));
    // The window reaches exactly WindowSize counters back, the newest included.
    EXPECT_TRUE(window.check(top - ReplayWindow::WindowSize + 1));
    EXPECT_FALSE(window.check(top - ReplayWindow::WindowSize));
    EXPECT_FALSE(window.check(0));
    EXPECT_TRUE(window.checkAndAccept(top - ReplayWindow::WindowSize + 1));

    // Sliding by a little keeps what was seen in the part still covered.
    ASSERT_TRUE(window.checkAndAccept(top - 100));
    ASSERT_TRUE(window.checkAndAccept(top + 64 * 3 + 5));
    EXPECT_FALSE(window.check(top));
    EXPECT_FALSE(window.check(top - 100));
    EXPECT_TRUE(window.check(top - 99));

    // A jump far ahead leaves nothing behind that could be taken for seen or replayed.
    const uint64_t far = top + 3 * ReplayWindow::WindowSize + 17;
    ASSERT_TRUE(window.checkAndAccept(far));
    EXPECT_FALSE(window.check(top));
    for (uint64_t c = far - ReplayWindow::WindowSize + 1; c < far; ++c)
        ASSERT_TRUE(window.check(c)) << c;
    EXPECT_FALSE(window.check(far));
    // Going on in order, the ring of words wraps round twice; each new counter is new to it.
    for (uint64_t c = far + 1; c < far + 2 * ReplayWindow::WindowSize; ++c)
        ASSERT_TRUE(window.checkAndAccept(c)) << c;

    // The counter range ends at 2^60, whatever the window holds.
    EXPECT_FALSE(window.check(ReplayWindow::Limit));
    EXPECT_FALSE(window.checkAndAccept(UINT64_MAX));
    EXPECT_TRUE(window.checkAndAccept(ReplayWindow::Limit - 1));
    EXPECT_FALSE(window.check(ReplayWindow::Limit - 1));
    EXPECT_FALSE(window.check(far));
}
