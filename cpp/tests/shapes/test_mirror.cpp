#include <gtest/gtest.h>

#include <cmath>

#include "expect_contour.hpp"
#include "nfp/nfp_cache.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

// An L: the long arm along x, the short one up the left side.
const Contour kEll = {{0, 0}, {6, 0}, {6, 1}, {1, 1}, {1, 4}, {0, 4}};

double signed_area(const Contour& c) {
    double s = 0.0;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) s += c[i].x * c[i + 1].y - c[i + 1].x * c[i].y;
    return s / 2.0;
}

bool has_point(const Contour& c, Pt p, double tol = 1e-12) {
    for (Pt q : c)
        if (std::fabs(q.x - p.x) <= tol && std::fabs(q.y - p.y) <= tol) return true;
    return false;
}

}  // namespace

TEST(Mirror, WorldContourIsTheMirrorImageRotatedThenMoved) {
    Polygon p(kEll, {{{0.2, 0.2}, {0.6, 0.2}, {0.6, 0.6}, {0.2, 0.6}}});
    p.set_rotation(std::acos(-1.0) / 2);
    p.set_position(10, 20);
    p.set_mirrored(true);
    const Contour& w = p.transformed();
    // (x, y) -> (-x, y) -> rotated a quarter turn (-y, -x) -> moved by (10, 20)
    for (Pt q : p.outer()) EXPECT_TRUE(has_point(w, {10 - q.y, 20 - q.x}, 1e-12)) << q.x << "," << q.y;
    EXPECT_LT(signed_area(w), 0.0);  // still clockwise
    EXPECT_NEAR(std::fabs(signed_area(w)), 9.0, 1e-12);
    const std::vector<Contour> holes = p.transformed_holes();
    ASSERT_EQ(holes.size(), 1u);
    EXPECT_GT(signed_area(holes[0]), 0.0);  // still counter-clockwise
    EXPECT_TRUE(has_point(holes[0], {10 - 0.2, 20 - 0.6}, 1e-12));
    // the stored contours stay as given
    EXPECT_TRUE(has_point(p.outer(), {6, 0}));
    EXPECT_EQ(p.area(), 9.0);
}

TEST(Mirror, SignatureAndCloneFollowTheSide) {
    Polygon p(kEll);
    const int plain = geometry_signature(p);
    p.set_mirrored(true);
    const int mirrored = geometry_signature(p);
    EXPECT_NE(plain, mirrored);
    Polygon twin(kEll);
    twin.set_mirrored(true);
    EXPECT_EQ(geometry_signature(twin), mirrored);
    std::unique_ptr<Shape> c = p.clone_geometry();
    EXPECT_TRUE(c->mirrored());
    expect_contour(c->world_contour(), p.transformed());
    p.set_mirrored(false);
    EXPECT_EQ(geometry_signature(p), plain);
}

TEST(Mirror, SymmetryAboutAVerticalLine) {
    EXPECT_FALSE(Polygon(kEll).mirror_symmetric());
    EXPECT_TRUE(Polygon(rect(2, 3, 7, 5)).mirror_symmetric());
    // a trapezoid symmetric about x = 3, with holes that swap sides
    EXPECT_TRUE(Polygon({{0, 0}, {6, 0}, {4, 2}, {2, 2}}, {rect(0.9, 0.2, 1.4, 0.6), rect(4.6, 0.2, 5.1, 0.6)})
                    .mirror_symmetric());
    // the same with one hole moved: no longer
    EXPECT_FALSE(Polygon({{0, 0}, {6, 0}, {4, 2}, {2, 2}}, {rect(0.9, 0.2, 1.4, 0.6), rect(4.6, 0.3, 5.1, 0.7)})
                     .mirror_symmetric());
}
