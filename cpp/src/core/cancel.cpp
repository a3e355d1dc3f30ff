#include "quarvo/cancel.hpp"

#include <atomic>

#include "quarvo/errors.hpp"

namespace quarvo {

namespace {
std::atomic<CancelHook> g_cancel_hook{nullptr};
thread_local const std::atomic<bool>* t_cancel_flag = nullptr;
}  // namespace

void set_cancel_hook(CancelHook hook) { g_cancel_hook.store(hook); }

void check_cancel() {
    if (t_cancel_flag) {
        if (t_cancel_flag->load(std::memory_order_relaxed)) throw Interrupted();
        return;
    }
    CancelHook h = g_cancel_hook.load();
    if (h && h()) throw Interrupted();
}

CancelScope::CancelScope(const std::atomic<bool>* flag) : saved_(t_cancel_flag) { t_cancel_flag = flag; }
CancelScope::~CancelScope() { t_cancel_flag = saved_; }

}  // namespace quarvo
