// The work-stealing pool: nesting, exceptions, ranges, ordering.
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "util/pool.hpp"

using namespace tarvex;

TEST(Pool, HasAtLeastOneWorker) { EXPECT_GE(pool::num_threads(), 1u); }

TEST(Pool, EmptyAndSingleRanges) {
    int calls = 0;
    pool::parallel_for(5, 5, 0, [&](std::size_t, std::size_t) { ++calls; });
    pool::parallel_for(7, 3, 0, [&](std::size_t, std::size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
    std::vector<std::pair<std::size_t, std::size_t>> seen;
    pool::parallel_for(4, 5, 1, [&](std::size_t lo, std::size_t hi) { seen.emplace_back(lo, hi); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(std::size_t{4}, std::size_t{5}));
    EXPECT_TRUE(pool::parallel_map<int>(0, [](std::size_t) { return 1; }).empty());
}

TEST(Pool, CoversRangeExactlyOnce) {
    for (std::size_t n : {1u, 2u, 3u, 17u, 1000u, 100003u}) {
        std::vector<std::atomic<int>> hits(n);
        pool::parallel_for(0, n, 0, [&](std::size_t lo, std::size_t hi) {
            for (std::size_t i = lo; i < hi; ++i) hits[i].fetch_add(1);
        });
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << "n=" << n << " i=" << i;
    }
}

TEST(Pool, ManySmallTasksKeepInputOrder) {
    auto out = pool::parallel_map<std::size_t>(200000, [](std::size_t i) { return i * 3 + 1; });
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i * 3 + 1);
}

TEST(Pool, NestedThreeLevelsNeverExceedWorkers) {
    std::atomic<int> running{0}, peak{0};
    std::atomic<long> sum{0};
    std::set<std::thread::id> ids;
    std::mutex ids_mu;
    pool::parallel_each(8, [&](std::size_t a) {
        pool::parallel_each(8, [&](std::size_t b) {
            pool::parallel_each(16, [&](std::size_t c) {
                int now = running.fetch_add(1) + 1;
                int p = peak.load();
                while (now > p && !peak.compare_exchange_weak(p, now)) {
                }
                {
                    std::lock_guard<std::mutex> lk(ids_mu);
                    ids.insert(std::this_thread::get_id());
                }
                sum.fetch_add(static_cast<long>(a * 10000 + b * 100 + c));
                running.fetch_sub(1);
            });
        });
    });
    long expect = 0;
    for (long a = 0; a < 8; ++a)
        for (long b = 0; b < 8; ++b)
            for (long c = 0; c < 16; ++c) expect += a * 10000 + b * 100 + c;
    EXPECT_EQ(sum.load(), expect);
    EXPECT_LE(static_cast<std::size_t>(peak.load()), pool::num_threads());
    EXPECT_LE(ids.size(), pool::num_threads());
    EXPECT_EQ(ids.count(std::this_thread::get_id()), 0u);  // the caller only waits
}

TEST(Pool, ExceptionArrivesAfterSiblingsFinished) {
    std::atomic<int> finished{0};
    try {
        pool::parallel_each(64, [&](std::size_t i) {
            if (i == 5) throw std::runtime_error("task 5 failed");
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            finished.fetch_add(1);
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "task 5 failed");
        EXPECT_EQ(finished.load(), 63);
    }
    // The pool is still usable afterwards.
    auto out = pool::parallel_map<int>(10, [](std::size_t i) { return int(i); });
    EXPECT_EQ(std::accumulate(out.begin(), out.end(), 0), 45);
}

TEST(Pool, LeftExceptionWinsInJoin) {
    try {
        pool::join([] { throw std::runtime_error("left"); }, [] { throw std::runtime_error("right"); });
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "left");
    }
}

TEST(Pool, NestedExceptionPropagatesThroughLevels) {
    EXPECT_THROW(pool::parallel_each(4,
                                     [&](std::size_t a) {
                                         pool::parallel_each(4, [&](std::size_t b) {
                                             pool::parallel_each(4, [&](std::size_t c) {
                                                 if (a == 3 && b == 2 && c == 1) throw std::logic_error("deep");
                                             });
                                         });
                                     }),
                 std::logic_error);
}

TEST(Pool, ConcurrentExternalCallers) {
    std::vector<std::thread> callers;
    std::atomic<long> total{0};
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int rep = 0; rep < 20; ++rep) {
                auto v = pool::parallel_map<long>(1000, [](std::size_t i) { return long(i); });
                total.fetch_add(std::accumulate(v.begin(), v.end(), 0L));
            }
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(total.load(), 4L * 20L * 499500L);
}
