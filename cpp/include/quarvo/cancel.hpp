// Cooperative cancellation: long computations call check_cancel() between
// steps; a host (the Python binding) installs a hook that reports Ctrl-C.
#pragma once

namespace quarvo {

using CancelHook = bool (*)();
void set_cancel_hook(CancelHook hook);
// Throws Interrupted when the installed hook asks to stop.
void check_cancel();

}  // namespace quarvo
