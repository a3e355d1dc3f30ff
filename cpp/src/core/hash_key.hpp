// Hashing and equality of doubles for cache keys: -0.0 equals 0.0, NaN equals NaN.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>

namespace quarvo {

inline void hash_double(std::size_t& h, double v) {
    if (v == 0.0) v = 0.0;  // -0.0 and 0.0 are equal keys
    unsigned long long bits;
    std::memcpy(&bits, &v, sizeof bits);
    h ^= std::hash<unsigned long long>{}(bits) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
}

inline bool same_key(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace quarvo
