// Cooperative cancellation: long computations call check_cancel() between
// steps; a host (the Python binding) installs a hook that reports Ctrl-C.
#pragma once
#include <atomic>

namespace quarvo {

using CancelHook = bool (*)();
void set_cancel_hook(CancelHook hook);
// Throws Interrupted when the installed hook asks to stop.
void check_cancel();

// While alive, check_cancel() on this thread answers from `flag` instead of
// the host's hook: worker threads of the search stop when the thread that
// watches the hook (and the clock) raises the flag.
class CancelScope {
public:
    explicit CancelScope(const std::atomic<bool>* flag);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    const std::atomic<bool>* saved_;
};

}  // namespace quarvo
