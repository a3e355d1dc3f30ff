#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "quarvo/errors.hpp"
#include "quarvo/shapes.hpp"
#include "quarvo/quarvo.hpp"

using namespace quarvo;

namespace {

Contour rect(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}; }

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

TEST(NfpDispatch, RotationKeyRoundsToSixDecimals) {
    Polygon a1(rect(0, 0, 3.0625, 1.0625)), a2(rect(0, 0, 3.0625, 1.0625)), a3(rect(0, 0, 3.0625, 1.0625));
    Polygon b(rect(0, 0, 0.5625, 0.5625));
    a1.set_rotation(0.1);
    a2.set_rotation(0.1000004);
    a3.set_rotation(0.100001);
    std::size_t n0 = nfp_cache_size();
    compute_nfp(a1, b);
    compute_nfp(a2, b);
    EXPECT_EQ(nfp_cache_size(), n0 + 1);
    compute_nfp(a3, b);
    EXPECT_EQ(nfp_cache_size(), n0 + 2);
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

TEST(Sampler, Boundary) {
    auto s = sample_boundary({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}, 4);
    ASSERT_EQ(s.size(), 16u);
    EXPECT_EQ(s[1], (Pt{0.25, 0}));
    EXPECT_EQ(s[4], (Pt{1, 0}));
    EXPECT_EQ(s[5], (Pt{1, 0.25}));
    EXPECT_EQ(s[15], (Pt{0, 0.25}));
    EXPECT_TRUE(sample_boundary({{1, 1}}, 4).empty());
    EXPECT_TRUE(sample_boundary({}, 4).empty());
}

TEST(Sampler, HoleInterior) {
    auto s = sample_hole_interior({{0, 0}, {0, 5}, {5, 5}, {5, 0}, {0, 0}});
    ASSERT_EQ(s.size(), 17u);
    EXPECT_EQ(s[0], (Pt{2.5, 2.5}));
    std::size_t k = 1;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j, ++k) EXPECT_EQ(s[k], (Pt{double(i), double(j)}));
}

TEST(Search, CornerAndCenterScores) {
    Polygon unit(kUnitCw);  // reference (1, 1), box (0, 0, 1, 1)
    SearchResult r = search_best_position({{{1, 1.5}, {6, 1}, {1, 1.5}}}, {}, unit, 100, 100, 1);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.pos, (Pt{5, 0}));
    EXPECT_EQ(r.score, 5.0);
    r = search_best_position({{{50.5, 30.5}, {50.5, 30.5}}}, {}, unit, 100, 60, 1, 1e-6, Placement::Center);
    EXPECT_EQ(r.pos, (Pt{49.5, 29.5}));
    EXPECT_EQ(r.score, 0.0);
    r = search_best_position({}, {}, unit, 100, 100);
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(std::isinf(r.score));
}

TEST(Placer, RectangleRotatedIntoNarrowBin) {
    Polygon item(rect(0, 0, 30, 10));
    NfpPlacer p(20, 40);
    ASSERT_TRUE(p.trypack(item));
    EXPECT_EQ(item.rotation(), M_PI / 2);
    BBox b = item.bounding_box();
    EXPECT_NEAR(b.minx, 0, 1e-12);
    EXPECT_NEAR(b.miny, 0, 1e-12);
    EXPECT_NEAR(b.maxx, 10, 1e-12);
    EXPECT_NEAR(b.maxy, 30, 1e-12);
    ASSERT_EQ(p.packed.size(), 1u);
    EXPECT_EQ(p.packed[0], &item);
}

TEST(Placer, RefusesNonConvexAndOversized) {
    NfpPlacer p(10, 10);
    Polygon l({{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}});
    EXPECT_FALSE(p.trypack(l));
    Circle big(6);
    EXPECT_FALSE(p.trypack(big));
    EXPECT_TRUE(p.packed.empty());
}

TEST(Placer, CircleInRingHoleCentreMode) {
    Polygon cont(rect(0, 0, 20, 20), {{{5, 5}, {15, 5}, {15, 15}, {5, 15}, {5, 5}}});
    NfpOptions centre;
    centre.placement = Placement::Center;
    NfpPlacer p(40, 40, centre);
    ASSERT_TRUE(p.trypack(cont));
    Circle c(2), c2(2);
    ASSERT_TRUE(p.trypack(c));
    EXPECT_NEAR(c.tx(), 20, 1e-9);
    EXPECT_NEAR(c.ty(), 20, 1e-9);
    // an equal circle may not take the same spot
    ASSERT_TRUE(p.trypack(c2));
    EXPECT_GE(std::hypot(c2.tx() - c.tx(), c2.ty() - c.ty()), 4 * std::cos(M_PI / 64) - 1e-6);
}
