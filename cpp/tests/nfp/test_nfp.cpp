#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>

#include "geometry/clipper_bridge.hpp"
#include "nfp/nfp.hpp"
#include "nfp/nfp_cache.hpp"
#include "nfp/nfp_union.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

std::set<std::pair<double, double>> vertex_set(const Contour& c) {
    std::set<std::pair<double, double>> s;
    for (const Pt& p : c) s.insert({p.x, p.y});
    return s;
}

const Contour kUnitCw = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
const Contour kTwoCw = {{0, 0}, {0, 2}, {2, 2}, {2, 0}, {0, 0}};

}  // namespace

TEST(NfpConvex, UnitAndTwoSquare) {
    RawNfp raw = nfp_convex_only(kUnitCw, kTwoCw);
    expect_contour(raw.pts, {{1, 1}, {1, 0}, {1, -2}, {0, -2}, {-2, -2}, {-2, -1}, {-2, 1}, {-1, 1}, {1, 1}});
    EXPECT_EQ(raw.top, (Pt{1, 1}));
    expect_contour(correct_nfp_position(raw.pts, raw.top, kUnitCw, kTwoCw),
                   {{3, 3}, {3, 2}, {3, 0}, {2, 0}, {0, 0}, {0, 1}, {0, 3}, {1, 3}, {3, 3}});
}

TEST(NfpConvex, NoEdges) {
    RawNfp raw = nfp_convex_only({}, {{5, 5}});
    expect_contour(raw.pts, {{0, 0}});
    EXPECT_EQ(raw.top, (Pt{0, 0}));
}

TEST(NfpConvex, AngleWrapsNegativeNoiseToTheTop) {
    EXPECT_EQ(angle_2pi({0, 0}, {1, 0}), 0.0);
    double a = angle_2pi({0, 0}, {1, -1e-10});
    EXPECT_LT(a, 2 * M_PI);
    EXPECT_GT(a, 2 * M_PI - 1e-9);
}

TEST(NfpDispatch, HoleNfpOfSquareAndCircle) {
    Polygon cont(rect(-1, -1, 11, 11), {{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}});
    Polygon b(kTwoCw);
    auto holes = compute_hole_nfps(cont, b);
    ASSERT_EQ(holes.size(), 1u);
    expect_contour(holes[0], {{12, 12}, {12, 2}, {12, 0}, {2, 0}, {0, 0}, {0, 10}, {0, 12}, {10, 12}, {12, 12}});
    Circle c(1.0);
    auto ch = compute_hole_nfps(cont, c);
    ASSERT_EQ(ch.size(), 1u);
    expect_contour(ch[0], {{9, 1}, {9, 9}, {1, 9}, {1, 1}, {9, 1}});
}

TEST(NfpDispatch, CirclePairAndCache) {
    Circle a(10.0), b(5.0);
    a.set_infl(1.0);
    b.set_infl(1.0);
    a.set_position(100, 50);
    std::size_t n0 = nfp_cache_size();
    Contour nfp = compute_nfp(a, b);
    ASSERT_EQ(nfp.size(), 65u);
    EXPECT_NEAR(nfp[0].x, 100.0, 1e-12);
    EXPECT_EQ(nfp[0].y, 67.0);
    for (const Pt& p : nfp) EXPECT_NEAR(std::hypot(p.x - 100, p.y - 50), 17.0, 1e-12);
    EXPECT_LT(polygon_area(nfp), 0.0);
    a.set_position(0, 0);
    Contour again = compute_nfp(a, b);
    EXPECT_EQ(nfp_cache_size(), n0 + 1);
    for (std::size_t i = 0; i < nfp.size(); ++i) {
        EXPECT_EQ(again[i].x + 100, nfp[i].x);
        EXPECT_EQ(again[i].y + 50, nfp[i].y);
    }
}

// Angles that agree to six decimals still turn an outline apart: an entry each.
TEST(NfpDispatch, RotationKeyIsExact) {
    Polygon a1(rect(0, 0, 3.0625, 1.0625)), a2(rect(0, 0, 3.0625, 1.0625)), a3(rect(0, 0, 3.0625, 1.0625));
    Polygon b(rect(0, 0, 0.5625, 0.5625));
    a1.set_rotation(0.1);
    a2.set_rotation(0.1000004);
    a3.set_rotation(0.100001);
    std::size_t n0 = nfp_cache_size();
    compute_nfp(a1, b);
    compute_nfp(a2, b);
    EXPECT_EQ(nfp_cache_size(), n0 + 2);
    compute_nfp(a3, b);
    EXPECT_EQ(nfp_cache_size(), n0 + 3);
    compute_nfp(a1, b);
    EXPECT_EQ(nfp_cache_size(), n0 + 3);
    EXPECT_EQ(geometry_signature(a1), geometry_signature(a3));
}

TEST(NfpDispatch, NonConvexRaises) {
    Polygon l({{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}});
    Circle c(1.0);
    std::size_t n0 = nfp_cache_size();
    EXPECT_THROW(compute_nfp(l, c), ValueError);
    EXPECT_THROW(compute_nfp(c, l), ValueError);
    EXPECT_EQ(nfp_cache_size(), n0);
}

TEST(NfpUnion, SingleSquare) {
    auto out = merge_nfps({rect(0, 0, 2, 2)});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), 5u);
    EXPECT_EQ(out[0].front(), out[0].back());
    EXPECT_EQ(vertex_set(out[0]), vertex_set(rect(0, 0, 2, 2)));
}

TEST(NfpUnion, TwoOverlappingSquares) {
    auto out = merge_nfps({rect(0, 0, 2, 2), rect(1, 1, 3, 3)});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), 9u);
    EXPECT_EQ(vertex_set(out[0]).size(), 8u);
    EXPECT_EQ(std::fabs(polygon_area(out[0])), 7.0);
}

TEST(NfpUnion, RingOfFourSquaresOuterFirst) {
    auto out = merge_nfps({rect(0, 0, 3, 1), rect(2, 0, 3, 3), rect(0, 2, 3, 3), rect(0, 0, 1, 3)});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(vertex_set(out[0]), vertex_set(rect(0, 0, 3, 3)));
    EXPECT_EQ(vertex_set(out[1]), vertex_set(rect(1, 1, 2, 2)));
}

TEST(NfpUnion, GridSnapAndCounterClockwise) {
    auto out = merge_nfps({{{0, 0.0000005}, {0, 2}, {2, 2}, {2, 0.0000015}, {0, 0.0000005}}});
    ASSERT_EQ(out.size(), 1u);
    std::set<std::pair<double, double>> want = {{0, 0}, {0, 2}, {2, 2}, {2, 0.000002}};
    EXPECT_EQ(vertex_set(out[0]), want);
    Contour ccw = rect(5, 5, 6, 6);
    std::reverse(ccw.begin(), ccw.end());
    EXPECT_TRUE(merge_nfps({ccw}).empty());
    EXPECT_EQ(merge_nfps({rect(0, 0, 2, 2), ccw}).size(), 1u);
}

TEST(NfpUnion, OutOfRangeCoordinateThrows) {
    EXPECT_THROW(merge_nfps({{{0, 0}, {0, 1e13}, {1, 1}, {0, 0}}}), ValueError);
    EXPECT_THROW(merge_nfps({{{0, 0}, {0, std::nan("")}, {1, 1}, {0, 0}}}), ValueError);
}

TEST(NfpMinkowski, KeepsTheCavityAsAHole) {
    // a mouth of width 1 at the top of a 4 x 5 cavity: a 3 x 3 square fits inside only
    Contour c = {{0, 0}, {0, 10}, {4.5, 10}, {4.5, 8}, {3, 8}, {3, 3}, {7, 3}, {7, 8}, {5.5, 8}, {5.5, 10}, {10, 10}, {10, 0}, {0, 0}};
    Region r = nfp_minkowski(c, rect(0, 0, 3, 3), {3, 3}, true);
    ASSERT_EQ(r.size(), 2u);
    expect_box(r[0], {0, 0, 13, 13});
    expect_box(r[1], {6, 6, 7, 8});  // the square's top-right corner inside the cavity
    EXPECT_GT(polygon_area(r[1]), 0.0);
}


namespace {

// A convex polygon of 3 to 8 vertices on an ellipse.
Contour random_convex(std::mt19937& rng) {
    std::uniform_real_distribution<double> ur(1, 8), ua(0, 6.283185307179586);
    const double rx = ur(rng), ry = ur(rng);
    std::vector<double> angles(3 + rng() % 6);
    for (double& a : angles) a = ua(rng);
    std::sort(angles.begin(), angles.end());
    Contour c;
    for (double a : angles) c.push_back({rx * std::cos(a), ry * std::sin(a)});
    return c;
}

// b's world outline with its reference point (top-right vertex) at p.
Contour placed_at(const Polygon& b, Pt p) {
    const Contour& own = b.rotated_contour();
    const Pt ref = top_right(own);
    Contour out;
    for (const Pt& q : own) out.push_back({q.x - ref.x + p.x, q.y - ref.y + p.y});
    return out;
}

}  // namespace

// The NFP's boundary holds the touching positions of the mover: on it the two
// outlines meet, a little outside they are apart, a little inside they
// overlap (judged by the kernel's contact test, independent of the NFP).
TEST(NfpConvex, BoundaryTouchesOutsideIsClearInsideOverlaps) {
    std::mt19937 rng(17);
    for (int trial = 0; trial < 300; ++trial) {
        Polygon a(random_convex(rng)), b(random_convex(rng));
        std::uniform_real_distribution<double> ua(0, 6.283185307179586);
        a.set_rotation(ua(rng));
        b.set_rotation(ua(rng));
        const Contour nfp = compute_nfp0(a, b);
        const Contour& wa = a.rotated_contour();
        const Pt c = polygon_centroid(nfp);
        for (std::size_t i = 0; i + 1 < nfp.size(); ++i) {
            const Pt mid{(nfp[i].x + nfp[i + 1].x) / 2, (nfp[i].y + nfp[i + 1].y) / 2};
            for (const Pt& p : {nfp[i], mid}) {
                auto scaled = [&](double k) { return Pt{c.x + (p.x - c.x) * k, c.y + (p.y - c.y) * k}; };
                ASSERT_FALSE(polys_intersect(wa, placed_at(b, scaled(1 + 1e-7)))) << "trial " << trial << " at " << i;
                ASSERT_TRUE(polys_intersect(wa, placed_at(b, scaled(1 - 1e-7)))) << "trial " << trial << " at " << i;
                ASSERT_GT(intersection_area(wa, placed_at(b, scaled(0.99))), 0.0) << "trial " << trial << " at " << i;
            }
        }
    }
}
