#include <gtest/gtest.h>

#include <utility>

#include "geometry/convolution.hpp"

using namespace quarvo;

namespace {

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
