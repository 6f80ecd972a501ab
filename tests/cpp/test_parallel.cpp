#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <numeric>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "common/internal_error.hpp"
#include "common/large_array_allocator.hpp"
#include "parallel/checked_sort.hpp"
#include "parallel/lockstep.hpp"
#include "parallel/page_faults.hpp"
#include "parallel/parallel.hpp"
#include "parallel/spawning_tasks.hpp"
#include "parallel/weight_sort.hpp"
#include "thread_starts.hpp"

namespace corvane {
namespace {

using testing::StopAfter;
using testing::ThreadStarts;

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

// On the calling thread the pieces tile [0, n) in order; no thread is started.
TEST(ForEachRowChunk, CallingThreadBelowThresholdOrOneThread) {
    for (auto [n, threads] :
         {std::pair<std::size_t, std::size_t>{255, 64}, {300, 1}, {100000, 1}, {0, 8}}) {
        ThreadStarts starts;
        const ExecutionContext context(threads, {}, starts.starter());
        const std::thread::id caller = std::this_thread::get_id();
        std::size_t next = 0;
        bool elsewhere = false;
        for_each_row_chunk(context, n, [&](RowChunk c) {
            elsewhere |= std::this_thread::get_id() != caller;
            EXPECT_EQ(c.start, next);
            EXPECT_LT(c.start, c.end);
            next = c.end;
        });
        EXPECT_EQ(next, n) << n << " rows, " << threads;
        EXPECT_FALSE(elsewhere);
        EXPECT_EQ(starts.started(), 0u);
    }
}

// Each worker's pieces tile its own chunk in order; together every row comes once.
TEST(ForEachRowChunk, EveryRowOnceInParallel) {
    std::vector<int> hits(100000, 0);
    ThreadStarts starts;
    const ExecutionContext context(3, {}, starts.starter());
    for_each_row_chunk(context, hits.size(), [&](RowChunk c) {
        for (std::size_t i = c.start; i < c.end; ++i)
            ++hits[i];
    });
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), static_cast<std::ptrdiff_t>(hits.size()));
    EXPECT_EQ(starts.started(), 3u);
}

// The chunks are claimed in turn: while one worker is held up in the first chunk, the
// other takes every other chunk. With a fixed share per worker the first worker's share
// would wait for it, and the hold-up would give up.
TEST(ForEachRowChunk, AHeldUpWorkerLeavesTheOtherChunksToTheRest) {
    constexpr std::size_t n = 100000;
    const ExecutionContext context(2);
    const std::size_t first_end = balanced_chunks(n, 2).front().end;
    std::atomic<std::size_t> rest_done{0};
    bool gave_up = false;
    for_each_row_chunk(context, n, [&](RowChunk c) {
        if (c.start == 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (rest_done.load() < n - first_end && !gave_up) {
                gave_up = std::chrono::steady_clock::now() > deadline;
                std::this_thread::yield();
            }
        }
        if (c.start >= first_end) rest_done += c.end - c.start;
    });
    EXPECT_FALSE(gave_up);
    EXPECT_EQ(rest_done.load(), n - first_end);
}

TEST(RunTasks, FailuresAfterAllWorkersJoined) {
    const ExecutionContext context(4);
    std::atomic<int> finished{0};
    EXPECT_THROW(run_tasks(context, 4,
                           [&](std::size_t i) {
                               if (i == 1) throw std::runtime_error("boom");
                               ++finished;
                           }),
                 InternalError);
    EXPECT_EQ(finished.load(), 3);
    EXPECT_THROW(run_tasks(context, 2, [](std::size_t) { throw std::bad_alloc(); }),
                 std::bad_alloc);
    try {
        run_tasks(context, 2, [](std::size_t i) {
            if (i == 1) fail_internal("broken invariant");
        });
        FAIL() << "expected an internal error";
    } catch (const InternalError& error) {
        EXPECT_STREQ(error.what(), "broken invariant");
    }
}

// A refused thread is no failure: its task, and every later one, runs on the calling
// thread once the others have started.
TEST(RunTasks, RefusedThreadsLeaveTheirTasksToTheCallingThread) {
    for (const std::size_t allowed : {0, 1, 3}) {
        ThreadStarts starts(allowed);
        const ExecutionContext context(5, {}, starts.starter());
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<std::thread::id> ran_on(5);
        run_tasks(context, 5, [&](std::size_t i) { ran_on[i] = std::this_thread::get_id(); });
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(ran_on[i] == caller, i >= allowed) << allowed << " allowed, task " << i;
        }
        EXPECT_EQ(starts.started(), allowed);
        EXPECT_EQ(starts.refused(), 1u);
    }
}

// The passes of one call share the context's workers: later passes start no thread, a
// lockstep run takes the same workers, a task that runs tasks of its own gets further
// threads, since its own worker is busy, and a refused start in a later pass still
// leaves the task to the calling thread.
TEST(RunTasks, PassesOfOneContextShareItsWorkers) {
    ThreadStarts starts(4);
    {
        const ExecutionContext context(3, {}, starts.starter());
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<std::thread::id> first(3);
        run_tasks(context, 3, [&](std::size_t i) { first[i] = std::this_thread::get_id(); });
        EXPECT_EQ(starts.started(), 3u);
        for (int pass = 0; pass < 5; ++pass) {
            std::vector<std::thread::id> again(3);
            run_tasks(context, 3, [&](std::size_t i) { again[i] = std::this_thread::get_id(); });
            std::sort(again.begin(), again.end());
            std::vector<std::thread::id> sorted_first = first;
            std::sort(sorted_first.begin(), sorted_first.end());
            EXPECT_EQ(again, sorted_first) << "pass " << pass;
        }
        std::atomic<std::size_t> rounds{0};
        run_lockstep(
            context, 3, [&](std::size_t) { rounds.fetch_add(1); },
            [&] { return rounds.load() < 9; });
        EXPECT_EQ(rounds.load(), 9u);
        EXPECT_EQ(starts.started(), 3u);

        // A task that runs three tasks of its own once both tasks of its pass have their
        // workers: one takes the idle worker, one the last start allowed, and the refused
        // one runs on the task's own thread. Workers are parked only when their pass has
        // ended.
        std::thread::id outer;
        std::vector<std::thread::id> inner(3);
        std::atomic<int> arrived{0};
        run_tasks(context, 2, [&](std::size_t i) {
            arrived.fetch_add(1);
            if (i != 0) return;
            while (arrived.load() < 2)
                std::this_thread::yield();
            outer = std::this_thread::get_id();
            run_tasks(context, 3, [&](std::size_t j) { inner[j] = std::this_thread::get_id(); });
        });
        EXPECT_EQ(starts.started(), 4u);
        EXPECT_EQ(starts.refused(), 1u);
        EXPECT_NE(inner[0], outer);
        EXPECT_NE(inner[1], outer);
        EXPECT_NE(inner[0], inner[1]);
        EXPECT_EQ(inner[2], outer);
        EXPECT_NE(outer, caller);
    }
}

TEST(RunTaskQueue, EveryTaskOnceOnAtMostTheWorkers) {
    for (const std::size_t workers : {1, 2, 3, 16}) {
        std::vector<std::atomic<int>> hits(100);
        std::atomic<std::size_t> highest_worker{0};
        run_task_queue(
            ExecutionContext(workers), workers, hits.size(),
            [&](std::size_t worker, std::size_t task) {
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
    const ExecutionContext context(8);
    std::vector<std::size_t> order;
    const std::thread::id caller = std::this_thread::get_id();
    run_task_queue(context, 1, 5, [&](std::size_t worker, std::size_t task) {
        EXPECT_EQ(worker, 0u);
        EXPECT_EQ(std::this_thread::get_id(), caller);
        order.push_back(task);
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    run_task_queue(context, 8, 1, [&](std::size_t, std::size_t) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
    });
    run_task_queue(context, 4, 0, [](std::size_t, std::size_t) { FAIL() << "no task expected"; });
}

// A failed task stops the queue: the other worker takes at most the tasks it had started
// or claimed before it saw the failure, far fewer than the 200 slow tasks.
TEST(RunTaskQueue, FailureStopsTheQueueAndIsReportedAfterTheJoin) {
    const ExecutionContext context(3);
    std::atomic<int> ran{0};
    EXPECT_THROW(run_task_queue(context, 2, 200,
                                [&](std::size_t, std::size_t task) {
                                    if (task == 0) fail_internal("broken invariant");
                                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                    ++ran;
                                }),
                 InternalError);
    EXPECT_LT(ran.load(), 150);
    EXPECT_THROW(
        run_task_queue(context, 2, 4, [](std::size_t, std::size_t) { throw std::bad_alloc(); }),
        std::bad_alloc);
    EXPECT_THROW(run_task_queue(context, 3, 4,
                                [](std::size_t, std::size_t task) {
                                    if (task == 3) throw std::runtime_error("boom");
                                }),
                 InternalError);
}

// Tasks that add tasks: a binary tree of 2^10 - 1 tasks grown from one, each task adding
// its two children while others run; every one runs once, whatever the worker count.
// A task that fails stops the rest, even a worker waiting for tasks to be added, and is
// reported after the join.
TEST(SpawningTasks, AddedTasksRunOnceAndFailuresStopTheRest) {
    struct Node {
        std::size_t depth = 0;
        int runs = 0;
    };
    for (const std::size_t workers : {1, 2, 3, 8}) {
        SpawningTasks<Node> tasks;
        tasks.add({});
        tasks.run(ExecutionContext(workers), workers, [&](std::size_t, Node& node) {
            ++node.runs;
            if (node.depth + 1 < 10) {
                tasks.add({node.depth + 1, 0});
                tasks.add({node.depth + 1, 0});
            }
        });
        ASSERT_EQ(tasks.size(), (std::size_t{1} << 10) - 1) << workers << " workers";
        for (std::size_t t = 0; t < tasks.size(); ++t)
            ASSERT_EQ(tasks[t].runs, 1) << workers << " workers, task " << t;
    }
    for (const std::size_t workers : {2, 4}) {
        SpawningTasks<Node> tasks;
        tasks.add({});
        std::atomic<int> ran{0};
        EXPECT_THROW(tasks.run(ExecutionContext(workers), workers,
                               [&](std::size_t task, Node&) {
                                   ++ran;
                                   if (task == 0) {
                                       tasks.add({});
                                       fail_internal("broken invariant");
                                   }
                                   std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                   for (int i = 0; i < 4; ++i)
                                       tasks.add({});
                               }),
                     InternalError)
            << workers << " workers";
        EXPECT_LT(ran.load(), 10) << workers << " workers";
    }
}

// Every worker writes its own slot in each round; between() must see all of
// them from the round just ended, and every worker must see what between()
// wrote before its next round. With threads refused, the started ones share the
// workers and nothing else changes.
TEST(RunLockstep, RoundsSeeEachOther) {
    for (std::size_t workers : {1, 2, 3, 8}) {
        for (std::size_t allowed : {std::size_t{0}, std::size_t{1}, workers}) {
            ThreadStarts starts(allowed);
            const ExecutionContext context(workers, {}, starts.starter());
            constexpr std::size_t rounds = 500;
            std::vector<std::size_t> slot(workers, 0);
            std::size_t published = 0;  // the number of rounds ended, as between() last wrote it
            std::size_t mismatches = 0;
            std::size_t ended = 0;
            run_lockstep(
                context, workers, [&](std::size_t w) { slot[w] = published * workers + w; },
                [&] {
                    for (std::size_t w = 0; w < workers; ++w)
                        if (slot[w] != ended * workers + w) ++mismatches;
                    published = ++ended;
                    return ended < rounds;
                });
            EXPECT_EQ(ended, rounds) << workers << " workers, " << allowed << " threads allowed";
            EXPECT_EQ(mismatches, 0u) << workers << " workers, " << allowed << " threads allowed";
            EXPECT_EQ(starts.started(), std::min(allowed, workers - 1));
        }
    }
}

// A throwing worker ends the run after its round: the other workers finish
// that round, between() never runs again, and the failure reaches the caller
// converted as run_tasks converts it.
TEST(RunLockstep, FailureEndsTheRunAfterAllWorkersJoined) {
    for (std::size_t workers : {1, 2, 4}) {
        const ExecutionContext context(workers);
        std::atomic<std::size_t> finished_rounds{0};
        std::size_t betweens = 0;
        EXPECT_THROW(run_lockstep(
                         context, workers,
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
    const ExecutionContext context(3);
    EXPECT_THROW(run_lockstep(
                     context, 2, [](std::size_t) { throw std::bad_alloc(); }, [] { return true; }),
                 std::bad_alloc);
    std::size_t rounds = 0;
    try {
        run_lockstep(
            context, 3,
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

// Once the poll says stop, every helper ends with Interrupted after joining its
// threads, and the poll only ever runs on the thread that made the context.
TEST(Interruption, EveryHelperStopsAndJoins) {
    for (const std::size_t threads : {1, 3}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        {
            StopAfter stop(3);
            const ExecutionContext context(threads, stop.poll());
            // A millisecond per piece: the pieces stay small, and only the poll ends this.
            EXPECT_THROW(
                for_each_row_chunk(
                    context, std::size_t{1} << 30,
                    [](RowChunk) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }),
                Interrupted);
            EXPECT_FALSE(stop.called_from_another_thread());
            EXPECT_TRUE(context.stop_requested());
        }
        {
            StopAfter stop(2);
            const ExecutionContext context(threads, stop.poll());
            std::atomic<std::size_t> running{0};
            EXPECT_THROW(
                run_task_queue(context, threads, 1000000,
                               [&](std::size_t, std::size_t) {
                                   ++running;
                                   std::this_thread::sleep_for(std::chrono::microseconds(50));
                                   --running;
                               }),
                Interrupted);
            EXPECT_EQ(running.load(), 0u);  // every task had ended: the workers were joined
            EXPECT_FALSE(stop.called_from_another_thread());
        }
        {
            StopAfter stop(5);
            const ExecutionContext context(threads, stop.poll());
            std::size_t betweens = 0;
            EXPECT_THROW(
                run_lockstep(
                    context, threads, [](std::size_t) {}, [&] { return ++betweens < 1000000; }),
                Interrupted);
            EXPECT_EQ(betweens, 4u);  // polled before every round; the fifth poll stops
            EXPECT_FALSE(stop.called_from_another_thread());
        }
    }
}

// Tasks that never check still end; the calling thread, which polls while it waits,
// reports the interruption once they are joined.
TEST(Interruption, CallerPollsWhileWorkersRun) {
    StopAfter stop(1);
    const ExecutionContext context(2, stop.poll());
    std::atomic<int> finished{0};
    EXPECT_THROW(run_tasks(context, 2,
                           [&](std::size_t) {
                               std::this_thread::sleep_for(std::chrono::milliseconds(60));
                               ++finished;
                           }),
                 Interrupted);
    EXPECT_EQ(finished.load(), 2);
    EXPECT_GE(stop.seen(), 1u);
    EXPECT_FALSE(stop.called_from_another_thread());
}

// Distinct keys have one sorted order: the checked sort must find it on sizes around
// its piece size, on sorted, reversed and random input.
TEST(CheckedSort, MatchesStdSortOnDistinctKeys) {
    std::mt19937_64 rng(7);
    const ExecutionContext context(1);
    for (const std::size_t n : {0, 1, 2, 3, 65536, 65537, 300001}) {
        std::vector<std::uint64_t> keys(n);
        std::iota(keys.begin(), keys.end(), std::uint64_t{0});
        for (int shape = 0; shape < 3; ++shape) {
            if (shape == 1) std::reverse(keys.begin(), keys.end());
            if (shape == 2) std::shuffle(keys.begin(), keys.end(), rng);
            std::vector<std::uint64_t> got = keys;
            checked_sort(context, got.begin(), got.end(), std::less<>());
            std::vector<std::uint64_t> expected = keys;
            std::sort(expected.begin(), expected.end());
            ASSERT_EQ(got, expected) << n << " keys, shape " << shape;
        }
    }
    // Many equal keys: still sorted.
    std::vector<int> few(500000);
    for (int& v : few)
        v = static_cast<int>(rng() % 3);
    checked_sort(context, few.begin(), few.end(), std::less<>());
    EXPECT_TRUE(std::is_sorted(few.begin(), few.end()));

    StopAfter stop(2);
    const ExecutionContext stopping(1, stop.poll());
    std::vector<std::uint64_t> large(1000000);
    for (auto& v : large)
        v = rng();
    EXPECT_THROW(checked_sort(stopping, large.begin(), large.end(), std::less<>()), Interrupted);
}

// (weight, tie) pairs with distinct keys have one sorted order; the weight sort must find
// it whatever the weights' spread: equal weights, signed zeros, one binade or many,
// subnormals, a huge outlier; below and above its bucketing size.
TEST(WeightSort, MatchesStdSortOnDistinctKeys) {
    using Key = std::pair<double, std::uint32_t>;
    std::mt19937_64 rng(13);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto weight_of = [](const Key& key) { return key.first; };
    const ExecutionContext context(1);
    const std::vector<std::pair<const char*, std::function<double()>>> spreads = {
        {"equal", [] { return 2.5; }},
        {"zeros", [&] { return rng() % 2 == 0 ? 0.0 : -0.0; }},
        {"one binade", [&] { return 1.0 + unit(rng); }},
        {"many binades", [&] { return std::exp(-40.0 * unit(rng)); }},
        {"few levels", [&] { return double(rng() % 7); }},
        {"subnormal", [&] { return 1e-310 * unit(rng); }},
        {"outlier", [&] { return rng() % 1000 == 0 ? 1e300 : unit(rng); }},
    };
    for (const auto& [name, draw] : spreads) {
        for (const std::size_t n : {100u, 4095u, 4096u, 70000u}) {
            std::vector<Key> keys(n);
            for (std::size_t i = 0; i < n; ++i)
                keys[i] = {draw(), static_cast<std::uint32_t>(i)};
            std::shuffle(keys.begin(), keys.end(), rng);
            std::vector<Key> got = keys;
            weight_sort(context, got.begin(), got.end(), weight_of, std::less<>());
            std::vector<Key> expected = keys;
            std::sort(expected.begin(), expected.end());
            for (std::size_t i = 0; i < n; ++i) {
                // Zeros of either sign are equal weights, ordered by their ties.
                ASSERT_EQ(got[i].second, expected[i].second)
                    << name << ", " << n << " keys, at " << i;
            }
        }
    }
    // Weights no bucket holds: the whole range is sorted by comparisons.
    for (const double odd : {-1.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        std::vector<Key> keys(5000);
        for (std::size_t i = 0; i < keys.size(); ++i)
            keys[i] = {i == 2500 ? odd : unit(rng), static_cast<std::uint32_t>(i)};
        std::vector<Key> got = keys;
        const auto less = [](const Key& a, const Key& b) {
            return a.first < b.first || (!(b.first < a.first) && a.second < b.second);
        };
        weight_sort(context, got.begin(), got.end(), weight_of, less);
        std::vector<Key> expected = keys;
        checked_sort(context, expected.begin(), expected.end(), less);
        // By the ties: NaN equals nothing, itself included.
        for (std::size_t i = 0; i < keys.size(); ++i)
            ASSERT_EQ(got[i].second, expected[i].second) << odd << " at " << i;
    }

    StopAfter stop(2);
    const ExecutionContext stopping(1, stop.poll());
    std::vector<Key> large(1000000);
    for (auto& key : large)
        key = {unit(rng), 0};
    EXPECT_THROW(weight_sort(stopping, large.begin(), large.end(), weight_of, std::less<>()),
                 Interrupted);
}

// The tree builds rely on the checked selection leaving every element where
// std::nth_element leaves it, ties included, so that the trees do not change.
TEST(CheckedNthElement, SameOrderAsStdNthElement) {
    std::mt19937_64 rng(11);
    const ExecutionContext context(1);
    for (const std::size_t n : {1, 100, 65537, 400000}) {
        for (const std::uint64_t distinct : {std::uint64_t{3}, std::uint64_t{1} << 40}) {
            std::vector<std::pair<std::uint64_t, std::size_t>> items(n);
            for (std::size_t i = 0; i < n; ++i)
                items[i] = {rng() % distinct, i};
            const auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
            for (const std::size_t nth : {std::size_t{0}, n / 2, n - 1}) {
                auto got = items;
                auto expected = items;
                checked_nth_element(context, got.begin(), got.begin() + nth, got.end(), by_key);
                std::nth_element(expected.begin(), expected.begin() + nth, expected.end(), by_key);
                ASSERT_EQ(got, expected) << n << " items, " << distinct << " keys, nth " << nth;
            }
        }
    }
}

// Faulting pages in ahead changes no value: buffers below and above the size it acts
// from, fresh or reused from a longer fill, on one thread and on several.
TEST(PageFaults, AssignFaultedInFillsLikeAssign) {
    const std::size_t large = LARGE_ARRAY_BYTES / sizeof(std::uint64_t) + 3;
    for (const std::size_t threads : {1, 3}) {
        const ExecutionContext context(threads);
        std::vector<std::uint64_t> values;
        for (const std::size_t count :
             {std::size_t{0}, std::size_t{1000}, large, large - 7, large}) {
            SCOPED_TRACE(::testing::Message() << threads << " threads, " << count << " values");
            const std::uint64_t value = count * 31 + threads;
            assign_faulted_in(context, values, count, value);
            ASSERT_EQ(values.size(), count);
            EXPECT_TRUE(std::all_of(values.begin(), values.end(),
                                    [&](std::uint64_t v) { return v == value; }));
        }
    }
}

TEST(AvailableThreads, AtLeastOne) {
    EXPECT_GE(available_threads(), 1u);
    EXPECT_EQ(ExecutionContext(0).threads(), 1u);
    EXPECT_EQ(ExecutionContext().threads(), available_threads());
}

}  // namespace
}  // namespace corvane
