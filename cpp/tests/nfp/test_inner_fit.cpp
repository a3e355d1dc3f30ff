#include <gtest/gtest.h>

#include <cmath>

#include "nfp/inner_fit.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

// A counter-clockwise room.
Contour room(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}}; }

}  // namespace

TEST(InnerFit, SquareInRoomHoldsTheTopRightPositions) {
    Polygon item({{0, 0}, {0, 2}, {3, 2}, {3, 0}, {0, 0}});  // reference point (3, 2)
    bool handled = false;
    std::vector<Contour> fit = inner_fit_region(room(0, 0, 10, 5), item, &handled);
    ASSERT_TRUE(handled);
    ASSERT_EQ(fit.size(), 1u);
    BBox b = polygon_bbox(fit[0]);
    EXPECT_DOUBLE_EQ(b.minx, 3);
    EXPECT_DOUBLE_EQ(b.miny, 2);
    EXPECT_DOUBLE_EQ(b.maxx, 10);
    EXPECT_DOUBLE_EQ(b.maxy, 5);
    EXPECT_GT(polygon_area(fit[0]), 0);
}

TEST(InnerFit, CircleInRoomIsTheRoomShrunkByItsRadius) {
    Circle c(1.0);
    c.set_infl(0.5);
    BBox b = polygon_bbox(inner_fit_region(room(0, 0, 10, 5), c).at(0));
    EXPECT_DOUBLE_EQ(b.minx, 1.5);
    EXPECT_DOUBLE_EQ(b.maxy, 3.5);
    EXPECT_TRUE(inner_fit_region(room(0, 0, 10, 2.9), c).empty());  // too narrow
}

TEST(InnerFit, NonConvexRoomIsLeftToTheGeneralFunction) {
    Circle c(0.1);
    bool handled = true;
    Contour l{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}, {0, 0}};
    EXPECT_TRUE(inner_fit_region(l, c, &handled).empty());
    EXPECT_FALSE(handled);
}
