#include "quarvo/cancel.hpp"

#include <atomic>

#include "quarvo/errors.hpp"

namespace quarvo {

namespace {
std::atomic<CancelHook> g_cancel_hook{nullptr};
}  // namespace

void set_cancel_hook(CancelHook hook) { g_cancel_hook.store(hook); }

void check_cancel() {
    CancelHook h = g_cancel_hook.load();
    if (h && h()) throw Interrupted();
}

}  // namespace quarvo
