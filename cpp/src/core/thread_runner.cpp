#include "core/thread_runner.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

bool run_side_by_side(std::size_t n, std::size_t threads, std::atomic<bool>& abort,
                      const std::function<void(std::size_t)>& job, RunWatch* watch) {
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> errors(n);
    std::vector<char> stopped(n, 0);
    std::mutex mu;
    std::condition_variable cv;
    std::size_t done = 0;
    auto work = [&]() {
        for (std::size_t i; !abort.load() && (i = next.fetch_add(1)) < n;) {
            try {
                job(i);
            } catch (...) {
                if (abort.exchange(true)) stopped[i] = true;
                errors[i] = std::current_exception();
            }
        }
    };
    // Started threads cannot ask the host (it answers on the calling thread
    // only): they stop on the flag.
    auto worker = [&]() {
        {
            CancelScope scope(&abort);
            work();
        }
        std::lock_guard<std::mutex> lock(mu);
        ++done;
        cv.notify_all();
    };
    const std::size_t hw = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t width = std::min({threads, hw, n});
    const std::size_t started = watch ? width : (width > 0 ? width - 1 : 0);
    std::vector<std::thread> pool;
    for (std::size_t w = 0; w < started; ++w) pool.emplace_back(worker);
    if (!watch) {
        work();
    } else {
        std::unique_lock<std::mutex> lock(mu);
        while (done < started) {
            cv.wait_for(lock, std::chrono::milliseconds(10));
            lock.unlock();
            try {
                check_cancel();
            } catch (const Interrupted&) {
                watch->interrupted = true;
                abort = true;
            }
            if (watch->deadline && std::chrono::steady_clock::now() >= *watch->deadline) abort = true;
            lock.lock();
        }
    }
    for (std::thread& t : pool) t.join();
    for (std::size_t i = 0; i < n; ++i)
        if (errors[i] && !stopped[i]) std::rethrow_exception(errors[i]);
    return !abort.load();
}

}  // namespace quarvo
