// The engine's random numbers: the improvement phases draw from one
// generator, seeded by the caller, so that a seed gives the same walk on every
// platform and thread count.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quarvo {

// splitmix64: the same numbers on every platform.
struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

}  // namespace quarvo
