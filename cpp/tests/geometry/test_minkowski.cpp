#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <cmath>

#include "geometry/minkowski.hpp"
#include "geometry/mitred_offset.hpp"

using namespace quarvo;

namespace {

const Contour kU = {{0, 0}, {0, 10}, {3, 10}, {3, 3}, {7, 3}, {7, 10}, {10, 10}, {10, 0}, {0, 0}};

}  // namespace

TEST(Minkowski, SumOfRectanglesIsTheirBoxSum) {
    Region r = minkowski_sum(rect(0, 0, 2, 1), rect(-1, 5, 3, 6));
    ASSERT_EQ(r.size(), 1u);
    expect_box(r[0], {-1, 5, 5, 7});
    EXPECT_DOUBLE_EQ(polygon_area(r[0]), -12.0);  // outer contours clockwise
}

TEST(Minkowski, InnerFitOfAUShapedHole) {
    Region r = hole_inner_fit(kU, rect(0, 0, 2, 2), {2, 2});
    ASSERT_EQ(r.size(), 1u);
    // the square's top-right corner: x in [2, 10], y in [2, 3] along the bottom, up both arms
    expect_box(r[0], {2, 2, 10, 10});
    EXPECT_NEAR(std::fabs(polygon_area(r[0])), 8 * 1 + 2 * 1 * 7, 1e-9);
    EXPECT_TRUE(hole_inner_fit(kU, rect(0, 0, 11, 1), {11, 1}).empty());
}

TEST(Minkowski, MitredOffsetKeepsTheClearance) {
    Region r = mitred_offset(kU, 0.5);
    ASSERT_EQ(r.size(), 1u);
    expect_box(r[0], {-0.5, -0.5, 10.5, 10.5});
    EXPECT_LT(polygon_area(r[0]), 0.0);
    for (const Pt& p : r[0]) EXPECT_FALSE(point_in_polygon(p, kU));
    // a spike much sharper than the mitre limit is cut square at the full distance
    Region s = mitred_offset({{0, 0}, {10, 0.5}, {0, 1}, {0, 0}}, 1.0);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_GE(polygon_bbox(s[0]).maxx, 11.0 - 1e-9);
    EXPECT_LE(polygon_bbox(s[0]).maxx, 10.0 + 2.0 * 20.0);
}
