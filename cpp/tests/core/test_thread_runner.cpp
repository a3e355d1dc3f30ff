#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/thread_runner.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

using namespace quarvo;

// Every job runs once, whatever the thread count.
TEST(ThreadRunner, EveryJobOnce) {
    for (std::size_t threads : {1u, 2u, 8u}) {
        for (bool watch : {false, true}) {
            std::vector<std::atomic<int>> runs(50);
            std::atomic<bool> abort{false};
            RunWatch w;
            EXPECT_TRUE(run_side_by_side(runs.size(), threads, abort, [&](std::size_t i) { ++runs[i]; },
                                         watch ? &w : nullptr));
            for (const auto& r : runs) EXPECT_EQ(r.load(), 1);
            EXPECT_FALSE(w.interrupted);
        }
    }
}

// The first real failure in job order is rethrown; the stops it causes in
// the other jobs are not errors of their own.
TEST(ThreadRunner, FirstRealFailureInJobOrderIsRethrown) {
    for (std::size_t threads : {1u, 2u}) {
        for (bool watch : {false, true}) {
            std::atomic<bool> abort{false};
            RunWatch w;
            try {
                run_side_by_side(6, threads, abort, [&](std::size_t i) {
                    if (i == 3) throw ValueError("job 3");
                    // the others wait for the flag and stop there
                    while (i > 3 && !abort.load()) std::this_thread::yield();
                    if (i > 3) throw Interrupted();
                }, watch ? &w : nullptr);
                FAIL() << "nothing rethrown";
            } catch (const ValueError& e) {
                EXPECT_EQ(std::string(e.what()), "job 3");
            }
            EXPECT_TRUE(abort.load());
        }
    }
}

// Watching, the calling thread raises the flag at the deadline; the started
// threads read it through check_cancel.
TEST(ThreadRunner, DeadlineStopsTheJobsAtTheirCheckpoints) {
    std::atomic<bool> abort{false};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    RunWatch w;
    w.deadline = &deadline;
    std::atomic<int> stopped{0};
    const bool complete = run_side_by_side(2, 2, abort, [&](std::size_t) {
        try {
            for (;;) check_cancel();
        } catch (const Interrupted&) {
            ++stopped;
            throw;
        }
    }, &w);
    EXPECT_FALSE(complete);
    EXPECT_GE(stopped.load(), 1);  // both, unless the machine has one core
    EXPECT_FALSE(w.interrupted);
}
