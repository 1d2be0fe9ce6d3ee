// The limits that keep one client from taking the service: sign-in tokens per address and the
// bounded hashing queue.

#include "AddressRateLimiter.h"
#include "HashingPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

using namespace cfb::service;
using namespace std::chrono_literals;

TEST(AddressRateLimiter, EachAddressSpendsItsBurstAndGetsTokensBackOverTime)
{
    AddressRateLimiter limiter({3, 60, 2}); // one token back a second, room for two addresses
    const auto t0 = AddressRateLimiter::Clock::now();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(limiter.take("10.0.0.1", t0)) << i;
    EXPECT_FALSE(limiter.take("10.0.0.1", t0));
    EXPECT_FALSE(limiter.take("10.0.0.1", t0 + 900ms));
    EXPECT_TRUE(limiter.take("10.0.0.2", t0)) << "another address has its own bucket";

    EXPECT_TRUE(limiter.take("10.0.0.1", t0 + 1s));
    EXPECT_FALSE(limiter.take("10.0.0.1", t0 + 1s));
    // A long pause refills no more than the burst.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(limiter.take("10.0.0.1", t0 + 1h)) << i;
    EXPECT_FALSE(limiter.take("10.0.0.1", t0 + 1h));

    // The table is full of part-spent buckets: a third address waits until one has filled up.
    EXPECT_TRUE(limiter.take("10.0.0.2", t0 + 1h));
    EXPECT_FALSE(limiter.take("10.0.0.3", t0 + 1h));
    EXPECT_TRUE(limiter.take("10.0.0.3", t0 + 2h));
}

TEST(HashingPool, AFullQueueRefusesAtOnceAndQueuedJobsStillRun)
{
    HashingPool pool({1, 2});
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> started;
    ASSERT_TRUE(pool.submit([&] {
        started.set_value();
        released.wait();
    }));
    started.get_future().wait(); // the one thread is busy now
    std::atomic<int> ran{0};
    EXPECT_TRUE(pool.submit([&] { ++ran; }));
    EXPECT_TRUE(pool.submit([&] { ++ran; }));
    EXPECT_FALSE(pool.submit([&] { ++ran; })) << "two are waiting already";
    release.set_value();
    pool.finish();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_FALSE(pool.submit([] {})) << "a finished pool takes nothing";
}
