// Turns fuzzer bytes into engine values: numbers that are mostly ordinary
// (small grid values, so that shapes touch, repeat and line up) and sometimes
// hostile (NaN, infinities, huge, tiny, raw bit patterns).
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>

#include "quarvo/kernel.hpp"

namespace quarvo_fuzz {

using quarvo::Contour;
using quarvo::Pt;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    bool empty() const { return n_ == 0; }

    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }

    // A count in [0, max].
    std::size_t count(std::size_t max) { return max == 0 ? 0 : byte() % (max + 1); }

    bool flag() { return byte() & 1; }

    double number() {
        std::uint8_t kind = byte();
        switch (kind % 16) {
            case 0: {  // any bit pattern
                std::uint64_t bits = 0;
                for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
                double v;
                std::memcpy(&v, &bits, sizeof v);
                return v;
            }
            case 1: {
                static const double special[] = {std::numeric_limits<double>::quiet_NaN(),
                                                 std::numeric_limits<double>::infinity(),
                                                 -std::numeric_limits<double>::infinity(),
                                                 0.0, -0.0, 1e300, -1e300, 5e-324, 1e-300, 1e12, 4.6e12, 1e13,
                                                 1e-6, 1e-12, 0.001, 3.141592653589793};
                return special[byte() % 16];
            }
            case 2:  // a fine value
                return static_cast<double>(static_cast<std::int16_t>(word())) / 256.0;
            default:  // grid values: coincident vertices, touching items
                return static_cast<double>(static_cast<std::int8_t>(byte())) / 4.0;
        }
    }

    // A value for sizes: mostly positive and moderate.
    double size() {
        if (byte() % 8 == 0) return number();
        return 1.0 + byte() / 8.0;
    }

    Pt point() {
        double x = number();
        return {x, number()};
    }

    // Up to max points; closed or open, as the fuzzer likes.
    Contour contour(std::size_t max) {
        std::size_t k = count(max);
        Contour c;
        c.reserve(k + 1);
        for (std::size_t i = 0; i < k; ++i) c.push_back(point());
        if (!c.empty() && flag()) c.push_back(c.front());
        return c;
    }

    // A convex-ish contour: a regular polygon, possibly scaled and moved.
    Contour ngon(std::size_t max) {
        std::size_t k = 3 + count(max > 3 ? max - 3 : 0);
        double r = size(), cx = number(), cy = number(), phase = byte() / 40.0;
        Contour c;
        for (std::size_t i = 0; i < k; ++i) {
            double a = phase + 2 * 3.141592653589793 * static_cast<double>(i) / static_cast<double>(k);
            c.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
        }
        if (flag()) c.push_back(c.front());
        return c;
    }

    Contour any_contour(std::size_t max) { return flag() ? ngon(max) : contour(max); }

private:
    std::uint16_t word() {
        std::uint16_t hi = byte();
        return static_cast<std::uint16_t>((hi << 8) | byte());
    }

    const std::uint8_t* p_;
    std::size_t n_;
};

// Runs f; an exception of the engine's own kinds is an answer, not a fault.
template <class F>
bool attempt(F&& f) {
    try {
        f();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Bitwise equality, so that NaN equals NaN.
inline bool same_bits(Pt a, Pt b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A violated invariant: abort, so that the fuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                        \
    do {                                                                        \
        if (!(cond)) {                                                          \
            __builtin_printf("invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            __builtin_trap();                                                   \
        }                                                                       \
    } while (0)

}  // namespace quarvo_fuzz
