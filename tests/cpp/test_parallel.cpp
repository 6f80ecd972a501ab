#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/internal_error.hpp"
#include "parallel/lockstep.hpp"
#include "parallel/parallel.hpp"

namespace corvane {
namespace {

TEST(SplitRows, ChunkBoundaries) {
    EXPECT_EQ(split_rows(1000, 3), (std::vector<RowChunk>{{0, 334}, {334, 668}, {668, 1000}}));
    EXPECT_EQ(split_rows(256, 4),
              (std::vector<RowChunk>{{0, 64}, {64, 128}, {128, 192}, {192, 256}}));
    const auto chunks = split_rows(257, 256);  // chunk 2: 129 workers, the last with one row
    ASSERT_EQ(chunks.size(), 129u);
    EXPECT_EQ(chunks.front(), (RowChunk{0, 2}));
    EXPECT_EQ(chunks.back(), (RowChunk{256, 257}));
    EXPECT_EQ(split_rows(5, 8).size(), 5u);
    EXPECT_TRUE(split_rows(0, 4).empty());
}

TEST(ForEachRowChunk, CallingThreadBelowThresholdOrOneThread) {
    for (auto [n, threads] : {std::pair<std::size_t, std::size_t>{255, 64}, {300, 1}, {0, 8}}) {
        std::vector<RowChunk> seen;
        for_each_row_chunk(n, threads, [&](RowChunk c) { seen.push_back(c); });  // no race: 1 chunk
        if (n == 0) {
            EXPECT_TRUE(seen.empty());
        } else {
            EXPECT_EQ(seen, (std::vector<RowChunk>{{0, n}})) << n << " rows, " << threads;
        }
    }
}

TEST(ForEachRowChunk, EveryRowOnceInParallel) {
    std::vector<int> hits(1000, 0);
    std::atomic<int> calls{0};
    for_each_row_chunk(hits.size(), 3, [&](RowChunk c) {
        ++calls;
        for (std::size_t i = c.start; i < c.end; ++i)
            ++hits[i];
    });
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), 1000);
}

TEST(RunTasks, FailuresAfterAllWorkersJoined) {
    std::atomic<int> finished{0};
    EXPECT_THROW(run_tasks(4,
                           [&](std::size_t i) {
                               if (i == 1) throw std::runtime_error("boom");
                               ++finished;
                           }),
                 InternalError);
    EXPECT_EQ(finished.load(), 3);
    EXPECT_THROW(run_tasks(2, [](std::size_t) { throw std::bad_alloc(); }), std::bad_alloc);
    try {
        run_tasks(2, [](std::size_t i) {
            if (i == 1) fail_internal("broken invariant");
        });
        FAIL() << "expected an internal error";
    } catch (const InternalError& error) {
        EXPECT_STREQ(error.what(), "broken invariant");
    }
}

TEST(RunTaskQueue, EveryTaskOnceOnAtMostTheWorkers) {
    for (const std::size_t workers : {1, 2, 3, 16}) {
        std::vector<std::atomic<int>> hits(100);
        std::atomic<std::size_t> highest_worker{0};
        run_task_queue(workers, hits.size(), [&](std::size_t worker, std::size_t task) {
            ++hits[task];
            std::size_t seen = highest_worker.load();
            while (worker > seen && !highest_worker.compare_exchange_weak(seen, worker)) {
            }
        });
        for (std::size_t t = 0; t < hits.size(); ++t)
            ASSERT_EQ(hits[t].load(), 1) << workers << " workers, task " << t;
        EXPECT_LT(highest_worker.load(), workers);
    }
    // One worker, or one task: the calling thread runs everything in order.
    std::vector<std::size_t> order;
    const std::thread::id caller = std::this_thread::get_id();
    run_task_queue(1, 5, [&](std::size_t worker, std::size_t task) {
        EXPECT_EQ(worker, 0u);
        EXPECT_EQ(std::this_thread::get_id(), caller);
        order.push_back(task);
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    run_task_queue(
        8, 1, [&](std::size_t, std::size_t) { EXPECT_EQ(std::this_thread::get_id(), caller); });
    run_task_queue(4, 0, [](std::size_t, std::size_t) { FAIL() << "no task expected"; });
}

// A failed task stops the queue: the other worker takes at most the tasks it had started
// or claimed before it saw the failure, far fewer than the 200 slow tasks.
TEST(RunTaskQueue, FailureStopsTheQueueAndIsReportedAfterTheJoin) {
    std::atomic<int> ran{0};
    EXPECT_THROW(run_task_queue(2, 200,
                                [&](std::size_t, std::size_t task) {
                                    if (task == 0) fail_internal("broken invariant");
                                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                    ++ran;
                                }),
                 InternalError);
    EXPECT_LT(ran.load(), 150);
    EXPECT_THROW(run_task_queue(2, 4, [](std::size_t, std::size_t) { throw std::bad_alloc(); }),
                 std::bad_alloc);
    EXPECT_THROW(run_task_queue(3, 4,
                                [](std::size_t, std::size_t task) {
                                    if (task == 3) throw std::runtime_error("boom");
                                }),
                 InternalError);
}

// Every worker writes its own slot in each round; between() must see all of
// them from the round just ended, and every worker must see what between()
// wrote before its next round.
TEST(RunLockstep, RoundsSeeEachOther) {
    for (std::size_t workers : {1, 2, 3, 8}) {
        constexpr std::size_t rounds = 500;
        std::vector<std::size_t> slot(workers, 0);
        std::size_t published = 0;  // the number of rounds ended, as between() last wrote it
        std::size_t mismatches = 0;
        std::size_t ended = 0;
        run_lockstep(
            workers, [&](std::size_t w) { slot[w] = published * workers + w; },
            [&] {
                for (std::size_t w = 0; w < workers; ++w)
                    if (slot[w] != ended * workers + w) ++mismatches;
                published = ++ended;
                return ended < rounds;
            });
        EXPECT_EQ(ended, rounds) << workers << " workers";
        EXPECT_EQ(mismatches, 0u) << workers << " workers";
    }
}

// A throwing worker ends the run after its round: the other workers finish
// that round, between() never runs again, and the failure reaches the caller
// converted as run_tasks converts it.
TEST(RunLockstep, FailureEndsTheRunAfterAllWorkersJoined) {
    for (std::size_t workers : {1, 2, 4}) {
        std::atomic<std::size_t> finished_rounds{0};
        std::size_t betweens = 0;
        EXPECT_THROW(run_lockstep(
                         workers,
                         [&](std::size_t w) {
                             if (betweens == 3 && w == workers - 1)
                                 throw std::runtime_error("boom");
                             ++finished_rounds;
                         },
                         [&] { return ++betweens < 10; }),
                     InternalError)
            << workers << " workers";
        EXPECT_EQ(betweens, 3u) << workers << " workers";
        EXPECT_EQ(finished_rounds.load(), 4 * workers - 1) << workers << " workers";
    }
    EXPECT_THROW(run_lockstep(
                     2, [](std::size_t) { throw std::bad_alloc(); }, [] { return true; }),
                 std::bad_alloc);
    std::size_t rounds = 0;
    try {
        run_lockstep(
            3,
            [&](std::size_t w) {
                if (w == 0) ++rounds;
            },
            [&]() -> bool {
                if (rounds == 2) fail_internal("broken invariant");
                return true;
            });
        FAIL() << "expected an internal error";
    } catch (const InternalError& error) {
        EXPECT_STREQ(error.what(), "broken invariant");
    }
    EXPECT_EQ(rounds, 2u);
}

TEST(AvailableThreads, AtLeastOne) {
    EXPECT_GE(available_threads(), 1u);
}

}  // namespace
}  // namespace corvane
