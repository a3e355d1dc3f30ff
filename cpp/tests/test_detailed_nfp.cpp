#include <gtest/gtest.h>

#include <cmath>

#include "../src/convolution.hpp"
#include "../src/false_cavities.hpp"
#include "quarvo/quarvo.hpp"

using namespace quarvo;

namespace {

Contour rect(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}; }

// a 4 x 5 cavity (x 3..7, y 3..8) behind a mouth 1 wide at the top
const Contour kC = {{0, 0}, {0, 10}, {4.5, 10}, {4.5, 8}, {3, 8}, {3, 3}, {7, 3}, {7, 8}, {5.5, 8}, {5.5, 10}, {10, 10}, {10, 0}, {0, 0}};

ClipperLib::Path path(std::initializer_list<std::pair<long long, long long>> pts) {
    ClipperLib::Path p;
    for (auto [x, y] : pts) p.push_back(ClipperLib::IntPoint(x, y));
    return p;
}

double area_of_positive_winding(const ClipperLib::Paths& cycles) {
    ClipperLib::Clipper c;
    c.AddPaths(cycles, ClipperLib::ptSubject, true);
    ClipperLib::Paths out;
    c.Execute(ClipperLib::ctUnion, out, ClipperLib::pftPositive, ClipperLib::pftPositive);
    double a = 0.0;
    for (const ClipperLib::Path& p : out) a += ClipperLib::Area(p);
    return a;
}

}  // namespace

TEST(Convolution, SumOfTwoLShapes) {
    const ClipperLib::Path L = path({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}});
    const ClipperLib::Path R = path({{0, 0}, {0, -2}, {-1, -2}, {-1, -1}, {-2, -1}, {-2, 0}});  // L turned half round
    ClipperLib::Paths cycles;
    ASSERT_TRUE(convolution_cycles(L, R, 1000, cycles));
    // L + (-L) is the 4 x 4 square [-2, 2]^2 less its two corners (1, 1)-(2, 2) and (-2, -2)-(-1, -1)
    EXPECT_DOUBLE_EQ(area_of_positive_winding(cycles), 14.0);
    ClipperLib::Paths reversed;
    ClipperLib::Path Lr(L.rbegin(), L.rend());
    ASSERT_TRUE(convolution_cycles(Lr, R, 1000, reversed));  // either orientation
    EXPECT_DOUBLE_EQ(area_of_positive_winding(reversed), 14.0);
    EXPECT_FALSE(convolution_cycles(L, R, 5, cycles));  // more pieces than allowed
}

TEST(Convolution, RefusesPathsThatTouchThemselves) {
    const ClipperLib::Path square = path({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    ClipperLib::Paths cycles;
    for (const ClipperLib::Path& bad : {
             path({{0, 0}, {4, 4}, {4, 0}, {0, 4}}),                          // edges cross
             path({{0, 0}, {2, 2}, {4, 0}, {4, 4}, {2, 2}, {0, 4}}),          // a vertex visited twice
             path({{0, 0}, {4, 0}, {4, 4}, {2, 0}, {0, 4}}),                  // a vertex on another edge
             path({{0, 0}, {4, 0}, {6, 0}, {4, 0}, {4, 4}, {0, 4}}),          // a spike folding back
             path({{0, 0}, {1, 1}, {2, 2}})})                                 // no area
        EXPECT_FALSE(convolution_cycles(bad, square, 1000, cycles));
    EXPECT_TRUE(convolution_cycles(path({{0, 0}, {2, 0}, {4, 0}, {4, 4}, {0, 4}}), square, 1000, cycles));  // straight on
}

TEST(FalseCavities, ASliverDeepInsideGoesAndATightCavityStays) {
    // a block 1e-7 narrower than the cavity: its positions inside form a hole 1e-7 wide
    const double w = 4.0 - 1e-7;
    const Contour B = rect(0, 0, w, 3);
    Region r = nfp_minkowski(kC, B, {w, 3}, true);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_GT(polygon_area(r[1]), 0.0);
    EXPECT_LT(polygon_area(r[1]), 1e-6);
    // a sliver where the block would lie across the wall: no cavity at all
    r.push_back({{1, 1}, {9, 1}, {5, 1.0000001}, {1, 1}});
    ASSERT_GT(polygon_area(r.back()), 0.0);
    drop_false_cavities(r, kC, B, {w, 3}, 1e-6);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_LT(polygon_area(r[1]), 1e-6);  // the tight cavity
    // wide holes are not judged
    Region wide = {rect(-20, -20, 20, 20), {{1, 1}, {9, 1}, {9, 9}, {1, 1}}};
    drop_false_cavities(wide, kC, B, {w, 3}, 1e-6);
    EXPECT_EQ(wide.size(), 2u);
}
