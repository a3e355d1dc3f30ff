#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "geometry/rings.hpp"

using namespace quarvo;

namespace {

Contour square(double x0, double y0, double s) { return {{x0, y0}, {x0, y0 + s}, {x0 + s, y0 + s}, {x0 + s, y0}}; }

struct RingCase {
    const char* what;
    Contour outer;
    std::vector<Contour> holes;
    RingFault::Kind kind;
    std::size_t ring, other;
};

}  // namespace

// One case per kind of fault, and sound rings of every kind of touch short of a fault.
TEST(RingFaults, EachKindIsFoundAndNamed) {
    const std::vector<RingCase> cases = {
        {"sound square with a hole", square(0, 0, 10), {square(2, 2, 3)}, RingFault::None, 0, 0},
        {"closed and open rings alike", {{0, 0}, {0, 4}, {4, 4}, {4, 0}, {0, 0}}, {}, RingFault::None, 0, 0},
        {"repeated points ignored", {{0, 0}, {0, 0}, {0, 4}, {4, 4}, {4, 0}}, {}, RingFault::None, 0, 0},
        {"two points", {{0, 0}, {1, 1}}, {}, RingFault::TooFewPoints, 0, 0},
        {"collinear", {{0, 0}, {1, 1}, {2, 2}}, {}, RingFault::ZeroArea, 0, 0},
        {"bowtie", {{0, 0}, {4, 4}, {4, 0}, {0, 4}}, {}, RingFault::SelfCrossing, 0, 0},
        {"vertex on own edge", {{0, 0}, {0, 4}, {2, 0}, {4, 4}, {4, 0}}, {}, RingFault::SelfCrossing, 0, 0},
        {"hole crossing the outer contour", square(0, 0, 10), {square(8, 8, 4)}, RingFault::RingsMeet, 1, 0},
        {"hole touching the outer contour", square(0, 0, 10), {square(0, 2, 3)}, RingFault::RingsMeet, 1, 0},
        {"holes touching each other", square(0, 0, 10), {square(1, 1, 2), square(3, 1, 2)}, RingFault::RingsMeet, 2, 1},
        {"hole outside", square(0, 0, 10), {square(20, 20, 2)}, RingFault::HoleOutside, 1, 0},
        {"hole inside a hole", square(0, 0, 10), {square(1, 1, 8), square(3, 3, 2)}, RingFault::HoleInHole, 2, 1},
    };
    for (const RingCase& c : cases) {
        const RingFault f = find_ring_fault(c.outer, c.holes);
        EXPECT_EQ(f.kind, c.kind) << c.what << ": " << describe(f);
        if (f.kind == c.kind && c.kind != RingFault::None && c.kind != RingFault::SelfCrossing) {
            EXPECT_EQ(std::max(f.ring, f.other), std::max(c.ring, c.other)) << c.what;
            EXPECT_EQ(std::min(f.ring, f.other), std::min(c.ring, c.other)) << c.what;
        }
    }
    RingFault f = find_ring_fault(square(0, 0, 10), {square(8, 8, 4)});
    EXPECT_NE(describe(f).find("hole 0 crosses or touches the outer contour near ("), std::string::npos) << describe(f);
}

// Exactly collinear points give 0 however far the coordinates are apart;
// one unit in the last place off the line gives its side.
TEST(OrientExact, ZeroOnTheLineAndTheSideOneUlpOff) {
    const Pt a{0.1, 0.3}, b{1e6 + 0.1, 3e6 + 0.3};
    for (int e = -30; e <= 30; e += 3) {
        const double t = std::ldexp(1.0, e);
        const Pt c{t * 1.0, t * 3.0}, o{0, 0};
        EXPECT_EQ(orient_exact(o, {1, 3}, c), 0) << e;
        EXPECT_EQ(orient_exact(o, {1, 3}, {std::nextafter(c.x, 1e300), c.y}), -1) << e;
        EXPECT_EQ(orient_exact(o, {1, 3}, {c.x, std::nextafter(c.y, 1e300)}), 1) << e;
    }
    // the naive cross product rounds to zero or to the wrong sign here
    const Pt c{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
    const int mid = orient_exact(a, b, c);
    EXPECT_EQ(orient_exact(b, a, c), -mid);
    EXPECT_EQ(orient_exact(b, c, a), mid);
}

// Antisymmetry and cyclic symmetry on random points, near-collinear ones included.
TEST(OrientExact, SymmetriesOnRandomPoints) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-1e3, 1e3);
    for (int i = 0; i < 20000; ++i) {
        const Pt a{u(rng), u(rng)}, b{u(rng), u(rng)};
        const double t = u(rng) / 1e3;
        Pt c{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};  // near the line
        if (i % 2) c = {u(rng), u(rng)};
        const int s = orient_exact(a, b, c);
        ASSERT_EQ(orient_exact(b, a, c), -s);
        ASSERT_EQ(orient_exact(b, c, a), s);
        ASSERT_EQ(orient_exact(c, a, b), s);
    }
}
