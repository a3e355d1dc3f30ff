// CPU time of the calling thread, for the engine's own time counters.
#pragma once
#include <ctime>

namespace quarvo {

inline long long thread_cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

}  // namespace quarvo
