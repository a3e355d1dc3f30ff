#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <cmath>
#include <random>

#include "quarvo/errors.hpp"
#include "quarvo/kernel.hpp"

using namespace quarvo;

namespace {
const Contour kUnitCw = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
}  // namespace

TEST(PolygonArea, ClosedOpenAndReversed) {
    Contour sq = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {1, 1}};
    EXPECT_EQ(polygon_area(sq), 1.0);
    EXPECT_EQ(polygon_area(Contour(sq.rbegin(), sq.rend())), -1.0);
    EXPECT_EQ(polygon_area(Contour(sq.begin(), sq.end() - 1)), 1.5);
    EXPECT_EQ(polygon_area({}), 0.0);
}

TEST(EnsureWinding, ClosesAndOrients) {
    Contour tri = {{0, 0}, {1, 0}, {0, 1}};
    expect_contour(ensure_winding(tri, true), {{0, 0}, {0, 1}, {1, 0}, {0, 0}});
    expect_contour(ensure_winding(tri, false), {{0, 0}, {1, 0}, {0, 1}, {0, 0}});
    Contour col = {{0, 0}, {1, 0}, {2, 0}, {0, 0}};
    expect_contour(ensure_winding(col, true), {{0, 0}, {2, 0}, {1, 0}, {0, 0}});
    expect_contour(ensure_winding(col, false), col);
    EXPECT_EQ(ensure_winding({{3, 4}}, true).size(), 1u);
}

TEST(Centroid, AreaWeightedAndDegenerate) {
    Contour sq = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {1, 1}};
    Pt c = polygon_centroid(sq);
    EXPECT_EQ(c.x, 1.5);
    EXPECT_EQ(c.y, 1.5);
    Pt d = polygon_centroid({{0, 0}, {1, 0}, {2, 0}, {0, 0}});
    EXPECT_EQ(d.x, 0.75);
    EXPECT_EQ(d.y, 0.0);
    EXPECT_THROW(polygon_centroid({}), ZeroDivisionError);
}

TEST(IsConvex, Cases) {
    EXPECT_TRUE(is_convex({{0, 0}, {5, 5}, {1, 0}}));
    EXPECT_TRUE(is_convex({{0, 0}, {0, 0.5}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}));
    EXPECT_FALSE(is_convex({{0, 0}, {0, 2}, {1, 2}, {1, 1}, {2, 1}, {2, 0}, {0, 0}}));
    Contour star;
    for (int i = 0; i < 5; ++i) {
        double a = M_PI / 2 - i * 4 * M_PI / 5;
        star.push_back({std::cos(a), std::sin(a)});
    }
    star.push_back(star[0]);
    EXPECT_TRUE(is_convex(star));
}

TEST(ConvexRing, ReflexCornersAtRepeatedPointsAreFound) {
    // A dart whose reflex corner is at (0, 0): is_convex judges it at its
    // corners only where the turn is large enough to judge.
    const Contour dart{{0.5, 0.75}, {0, 0}, {0.5, 0}, {-0.25, -0.25}, {0.5, 0.75}};
    const Contour repeated{{0.5, 0.75}, {0, 0}, {0, 0}, {0.5, 0}, {-0.25, -0.25}, {0.5, 0.75}};
    const Contour near{{0.5, 0.75}, {0, 0}, {1e-300, 0}, {0.5, 0}, {-0.25, -0.25}, {0.5, 0.75}};
    Contour tiny = dart;
    for (Pt& p : tiny) p = {p.x * 1e-7, p.y * 1e-7};
    const Contour square_repeated{{0, 0}, {1, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    const Contour collinear{{0, 0}, {0, 0.5}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
    struct Case { const char* name; const Contour& c; bool is_convex, convex; };
    for (const Case& k : {Case{"dart", dart, false, false}, Case{"repeated reflex point", repeated, true, false},
                          Case{"nearly repeated", near, true, false}, Case{"dart 1e-7 across", tiny, true, false},
                          Case{"square, a corner repeated", square_repeated, true, true},
                          Case{"points along a side", collinear, true, true}}) {
        EXPECT_EQ(is_convex(k.c), k.is_convex) << k.name;  // the written test, as it stands
        EXPECT_EQ(convex_ring(k.c), k.convex) << k.name;
    }
}

TEST(CircleToPolygon, ExactVertices) {
    Contour c = circle_to_polygon({0, 0}, 1.0, 4);
    expect_contour(c, {{6.123233995736766e-17, 1.0}, {1.0, 0.0}, {6.123233995736766e-17, -1.0},
                       {-1.0, -1.2246467991473532e-16}, {6.123233995736766e-17, 1.0}});
    EXPECT_EQ(circle_to_polygon({0, 0}, 1.0).size(), 65u);
    EXPECT_THROW(circle_to_polygon({0, 0}, 1.0, 0), IndexError);
}

TEST(Extrema, QuantisedKey) {
    Contour a = {{1.0, 1.0}, {-1.0, 1.0000000000000002}};
    Contour b = {{-1.0, 1.0000000000000002}, {1.0, 1.0}};
    EXPECT_EQ(top_right(a).x, 1.0);
    EXPECT_EQ(top_right(b).x, 1.0);
    EXPECT_EQ(bottom_left(a).x, -1.0);
    EXPECT_EQ(bottom_left(b).x, -1.0);
    // 1.5e-9 and 2.5e-9 share k = 2 (ties to even)
    EXPECT_EQ(top_right({{0, 1.5e-9}, {1, 2.5e-9}}).x, 1.0);
    EXPECT_EQ(top_right({{5, 0.5e-9}, {1, 0.0}}).x, 5.0);
    EXPECT_THROW(top_right({{0, NAN}}), ValueError);
    EXPECT_THROW(bottom_left({{0, INFINITY}}), OverflowError);
    EXPECT_THROW(top_right({}), ValueError);
    EXPECT_EQ(top_right_index(kUnitCw), 2u);
    EXPECT_EQ(bottom_left_index(kUnitCw), 0u);  // never the closing repeat
}

TEST(Offset, Examples) {
    expect_contour(offset_convex(kUnitCw, 1.0), {{-1, 2}, {2, 2}, {2, -1}, {-1, -1}, {-1, 2}});
    expect_contour(offset_convex(kUnitCw, -0.25), {{0.25, 0.75}, {0.75, 0.75}, {0.75, 0.25}, {0.25, 0.25}, {0.25, 0.75}});
    expect_contour(offset_convex({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}, 0.25),
                   {{0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}, {0.25, 0.25}, {0.75, 0.25}});
    expect_contour(offset_convex(kUnitCw, 5e-13), kUnitCw);
    expect_contour(offset_convex({{0, 0}, {0, 1}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}, 1.0),
                   offset_convex(kUnitCw, 1.0));
    expect_contour(offset_convex({{0, 0}, {0, 0.5}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}, 1.0),
                   {{-1, 0.5}, {-1, 2}, {2, 2}, {2, -1}, {-1, -1}, {-1, 0.5}});
    expect_contour(offset_convex({{0, 0}, {0, 1}, {1, 1}, {0, 0}}, 0.5),
                   {{-0.5, 1.5}, {2.2071067811865475, 1.5}, {-0.5, -1.2071067811865475}, {-0.5, 1.5}});
    Contour open = {{0, 0}, {0, 1}, {1, 1}};
    expect_contour(offset_convex(open, 1.0), open);
    Contour big = offset_convex(circle_to_polygon({0, 0}, 10.0), 1.0);
    ASSERT_EQ(big.size(), 65u);
    for (const Pt& p : big) EXPECT_NEAR(std::hypot(p.x, p.y), 10 + 1 / std::cos(M_PI / 64), 1e-12);
}

TEST(LineIntersection, CrossAndParallel) {
    Pt p = line_intersection({0, 0}, {1, 1}, {0, 1}, {1, 0});
    EXPECT_EQ(p.x, 0.5);
    EXPECT_EQ(p.y, 0.5);
    Pt q = line_intersection({0, 0}, {1, 0}, {2, 0}, {3, 0});
    EXPECT_EQ(q.x, 1.0);
    EXPECT_EQ(q.y, 0.0);
}

TEST(Hypot, CorrectlyRoundedAgainstLongDouble) {
    // A double-rounding-free reference: the exact square sum in __float128.
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(-1000.0, 1000.0);
    for (int i = 0; i < 200000; ++i) {
        double x = u(rng), y = u(rng);
        __float128 s = (__float128)x * x + (__float128)y * y;
        double h = hypot_cr(x, y);
        // h is correct when s lies within the squares of its two midpoints.
        __float128 up = (__float128)h + ((__float128)std::nextafter(h, INFINITY) - h) / 2;
        __float128 dn = (__float128)h - ((__float128)h - std::nextafter(h, 0.0)) / 2;
        ASSERT_LE(s, up * up) << x << " " << y;
        ASSERT_GE(s, dn * dn) << x << " " << y;
    }
    EXPECT_EQ(hypot_cr(3, 4), 5.0);
    EXPECT_EQ(hypot_cr(0, -2), 2.0);
    EXPECT_TRUE(std::isinf(hypot_cr(INFINITY, NAN)));
}

TEST(Round6, TiesAndFastPath) {
    EXPECT_EQ(round6(0.1000004), 0.1);
    EXPECT_EQ(round6(0.0078125), 0.007812);  // an exact tie goes to even
    EXPECT_EQ(round6(0.0234375), 0.023438);
    EXPECT_EQ(round6(1.5707963267948966), 1.570796);
    EXPECT_TRUE(std::signbit(round6(-1e-9)));
}

TEST(Segments, Cases) {
    EXPECT_TRUE(segments_intersect({0, 0}, {2, 2}, {0, 2}, {2, 0}));
    EXPECT_TRUE(segments_intersect({0, 0}, {1, 0}, {1, 0}, {2, 5}));
    EXPECT_TRUE(segments_intersect({0, 0}, {2, 0}, {1, 0}, {1, 5}));
    EXPECT_FALSE(segments_intersect({0, 0}, {1, 0}, {0, 1}, {1, 1}));
    EXPECT_FALSE(segments_intersect({0, 0}, {1, 0}, {2, 0}, {2, 1}));
    EXPECT_TRUE(segments_intersect({0, 0}, {2, 0}, {1, 0}, {3, 0}));
    EXPECT_TRUE(segments_intersect({0, 0}, {1, 0}, {1, 0}, {3, 0}));
    EXPECT_FALSE(segments_intersect({0, 0}, {1, 0}, {1.5, 0}, {3, 0}));
    EXPECT_TRUE(segments_intersect({0, 0}, {1, 0}, {1 + 5e-13, 0}, {3, 0}));
    EXPECT_FALSE(segments_intersect({0, 0}, {0, 1}, {0, 2}, {0, 3}));
    EXPECT_TRUE(segments_intersect({0.5, 0}, {0.5, 0}, {0, 0}, {1, 0}));
    EXPECT_FALSE(segments_intersect({0.5, 1}, {0.5, 1}, {0, 0}, {1, 0}));
}

TEST(Sat, TouchingCounts) {
    auto moved = [](double dx, double dy) {
        Contour c = kUnitCw;
        for (Pt& p : c) p = {p.x + dx, p.y + dy};
        return c;
    };
    EXPECT_TRUE(sat_intersects(kUnitCw, moved(1, 0)));
    EXPECT_TRUE(sat_intersects(kUnitCw, moved(1, 1)));
    EXPECT_FALSE(sat_intersects(kUnitCw, moved(1.5, 0)));
    EXPECT_FALSE(sat_intersects({{0, 0}, {1, 0}, {0, 1}, {0, 0}},
                                {{0.6, 0.6}, {0.6, 1}, {1, 1}, {1, 0.6}, {0.6, 0.6}}));
}

TEST(PointIn, PolygonAndConvex) {
    EXPECT_TRUE(point_in_polygon({0.5, 0.5}, kUnitCw));
    for (Pt p : {Pt{0, 0.5}, Pt{1, 0.5}, Pt{0.5, 1}, Pt{1, 1}}) EXPECT_TRUE(point_in_polygon(p, kUnitCw));
    EXPECT_FALSE(point_in_polygon({2, 0.5}, kUnitCw));
    EXPECT_FALSE(point_in_polygon({-1, 0.5}, kUnitCw));
    EXPECT_FALSE(point_in_polygon({0.1, 0.1}, {{0, 0}, {1, 0}, {0, 1}}));
    Contour ccw(kUnitCw.rbegin(), kUnitCw.rend());
    for (const Contour* c : {&kUnitCw, static_cast<const Contour*>(&ccw)}) {
        EXPECT_TRUE(point_in_convex_polygon({0.5, 0.5}, *c));
        EXPECT_TRUE(point_in_convex_polygon({0, 0.5}, *c));
        EXPECT_TRUE(point_in_convex_polygon({1, 1}, *c));
        EXPECT_FALSE(point_in_convex_polygon({2, 0.5}, *c));
        EXPECT_FALSE(point_in_convex_polygon({0, 2}, *c));
    }
}
