#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include "nfp/false_cavities.hpp"
#include "nfp/nfp.hpp"

using namespace quarvo;

namespace {

// a 4 x 5 cavity (x 3..7, y 3..8) behind a mouth 1 wide at the top
const Contour kC = {{0, 0}, {0, 10}, {4.5, 10}, {4.5, 8}, {3, 8}, {3, 3}, {7, 3}, {7, 8}, {5.5, 8}, {5.5, 10}, {10, 10}, {10, 0}, {0, 0}};

}  // namespace

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
