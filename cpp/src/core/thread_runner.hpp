// The one way the engine runs work side by side: jobs 0..n-1 on a few
// threads, the first failure stopping the others, the failure rethrown.
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>

namespace quarvo {

// Given to run_side_by_side, the calling thread watches instead of working:
// every 10 ms it asks the host whether to stop (Ctrl-C) and looks at the
// deadline; either raises the abort flag.
struct RunWatch {
    const std::chrono::steady_clock::time_point* deadline = nullptr;  // none when null
    bool interrupted = false;  // set when Ctrl-C raised the flag
};

// Runs job(i) for every i < n on up to `threads` threads (never more than the
// machine's cores or n), the calling thread among them unless it watches.
// Jobs stop at their next checkpoint once `abort` is raised: the threads the
// runner starts answer check_cancel() from the flag, and jobs may read it
// themselves. The first failure raises the flag; the failures that follow it
// are stops, not errors. The first real failure in job order is rethrown.
// Returns true when every job ran to its end without the flag being raised.
bool run_side_by_side(std::size_t n, std::size_t threads, std::atomic<bool>& abort,
                      const std::function<void(std::size_t)>& job, RunWatch* watch = nullptr);

}  // namespace quarvo
