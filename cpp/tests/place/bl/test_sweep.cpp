#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "geometry/clipper_bridge.hpp"
#include "place/bl/sweep.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/kernel.hpp"

using namespace quarvo;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A convex polygon of n vertices on an ellipse, clockwise, closed.
Contour random_convex(std::mt19937& rng, double cx, double cy) {
    std::uniform_real_distribution<double> ur(1, 6), ua(0, 2 * kPi);
    const double rx = ur(rng), ry = ur(rng);
    std::vector<double> angles(3 + rng() % 6);
    for (double& a : angles) a = ua(rng);
    std::sort(angles.rbegin(), angles.rend());
    Contour c;
    for (double a : angles) c.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    c.push_back(c.front());
    return c;
}

Contour moved(const Contour& c, double dx, double dy) {
    Contour out;
    for (const Pt& p : c) out.push_back({p.x + dx, p.y + dy});
    return out;
}

}  // namespace

TEST(WallPoly, SquareBothDirections) {
    Contour sq = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
    expect_contour(to_wall_poly(sq, Direction::Left), {{0, 10}, {0, 0}, {0, 0}, {0, 10}, {0, 10}});
    expect_contour(to_wall_poly(sq, Direction::Down), {{10, 0}, {10, 0}, {0, 0}, {0, 0}, {0, 10}, {10, 10}, {10, 0}});
}

TEST(WallPoly, LeftWalksBackwardDownTheWallSide) {
    // Diamond, clockwise, starting at the top.
    Contour d = {{5, 10}, {10, 5}, {5, 0}, {0, 5}, {5, 10}};
    expect_contour(to_wall_poly(d, Direction::Left), {{5, 10}, {0, 5}, {5, 0}, {0, 0}, {0, 10}, {5, 10}});
    expect_contour(to_wall_poly(d, Direction::Down), {{10, 5}, {10, 0}, {0, 0}, {0, 5}, {5, 10}, {10, 5}});
}

TEST(WallPoly, TiesPickLeastAlongThenLowestIndex) {
    // Three vertices share the top height; the least x among them is index 3.
    Contour p = {{2, 0}, {4, 5}, {3, 5}, {1, 5}, {1, 5}, {0, 2}, {2, 0}};
    auto e = to_wall_poly_entries(p, Direction::Left);
    EXPECT_EQ(e.front().index, 3u);
}

TEST(WallPoly, ShortContoursComeBackUnchanged) {
    for (const Contour& c : {Contour{}, Contour{{1, 2}}, Contour{{1, 2}, {3, 4}}, Contour{{1, 2}, {3, 4}, {1, 2}}}) {
        expect_contour(to_wall_poly(c, Direction::Left), c);
        expect_contour(to_wall_poly(c, Direction::Down), c);
    }
}

TEST(WallPoly, AllNanRaisesInsteadOfIndexingNothing) {
    Contour c = {{kNaN, kNaN}, {kNaN, kNaN}, {kNaN, kNaN}, {kNaN, kNaN}};
    EXPECT_THROW(to_wall_poly(c, Direction::Down), ValueError);
}

TEST(Distance, SpanAndHorizontalSegments) {
    EXPECT_EQ(horizontal_distance({10, 5}, {2, 0}, {2, 10}), 8.0);
    EXPECT_EQ(horizontal_distance({10, 5}, {12, 0}, {12, 10}), -2.0);
    EXPECT_EQ(horizontal_distance({10, 11}, {2, 0}, {2, 10}), kInf);
    EXPECT_EQ(horizontal_distance({10, -1}, {2, 0}, {2, 10}), kInf);
    EXPECT_EQ(horizontal_distance({10, 10}, {2, 0}, {4, 10}), 6.0);  // at an end's height: measured
    // Level with a horizontal segment: the smaller x, not the nearer end.
    EXPECT_EQ(horizontal_distance({10, 3}, {8, 3}, {1, 3}), 9.0);
    EXPECT_EQ(horizontal_distance({10, 4}, {0, 0}, {4, 8}), 8.0);
    EXPECT_EQ(vertical_distance({5, 10}, {0, 2}, {10, 2}), 8.0);
    EXPECT_EQ(vertical_distance({5, 10}, {6, 2}, {10, 2}), kInf);
    EXPECT_EQ(vertical_distance({3, 10}, {3, 7}, {3, 1}), 9.0);
}

TEST(AvailableSpace, WallDistanceAndContacts) {
    Contour item = {{5, 5}, {5, 7}, {7, 7}, {7, 5}, {5, 5}};
    EXPECT_EQ(available_space(item, {}, Direction::Left), 5.0);
    EXPECT_EQ(available_space(item, {}, Direction::Down), 5.0);
    Contour on_wall = {{0, 5}, {0, 7}, {2, 7}, {2, 5}, {0, 5}};
    EXPECT_EQ(available_space(on_wall, {}, Direction::Left), 0.0);
    Contour across = {{-1, 5}, {-1, 7}, {2, 7}, {2, 5}, {-1, 5}};
    EXPECT_EQ(available_space(across, {}, Direction::Left), -1.0);
    // An obstacle 2 to the left, another below, one far away.
    Contour left_ob = {{1, 4}, {1, 8}, {3, 8}, {3, 4}, {1, 4}};
    Contour below = {{5, 0}, {5, 1}, {9, 1}, {9, 0}, {5, 0}};
    Contour far = {{50, 50}, {50, 51}, {51, 51}, {51, 50}, {50, 50}};
    EXPECT_EQ(available_space(item, {left_ob, below, far}, Direction::Left), 2.0);
    EXPECT_EQ(available_space(item, {left_ob, below, far}, Direction::Down), 4.0);
}

TEST(AvailableSpace, ContactBehindWithinEpsCountsBeyondDoesNot) {
    Contour item = {{5, 5}, {5, 7}, {7, 7}, {7, 5}, {5, 5}};
    // Obstacle overlapping the item by 0.0005 along x: a small negative result.
    Contour slight = {{3, 5.5}, {3, 6.5}, {5.0005, 6.5}, {5.0005, 5.5}, {3, 5.5}};
    EXPECT_NEAR(available_space(item, {slight}, Direction::Left), -0.0005, 1e-12);
    // Overlapping by 0.002: that contact lies behind the item and is ignored;
    // the obstacle's far side still counts (the item's right edge reaches it).
    Contour deep = {{3, 5.5}, {3, 6.5}, {5.002, 6.5}, {5.002, 5.5}, {3, 5.5}};
    EXPECT_EQ(available_space(item, {deep}, Direction::Left), 7.0 - 5.002);
}

// The free distance is how far the item moves before it first touches: moved
// that far it touches an obstacle or the wall, moved less it touches nothing
// (judged by the kernel's contact test and an exact area on the grid).
TEST(AvailableSpace, MovedThatFarItTouchesLessItIsClear) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> ux(10, 60), uy(0, 40);
    int touched_an_obstacle = 0;
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<Contour> obstacles;
        for (int k = 0; k < 6; ++k) obstacles.push_back(random_convex(rng, ux(rng), uy(rng)));
        const Contour item = random_convex(rng, ux(rng), 55);
        bool clear = true;
        for (const Contour& o : obstacles) clear = clear && !polys_intersect(item, o);
        if (!clear) continue;
        for (Direction dir : {Direction::Down, Direction::Left}) {
            const double d = available_space(item, obstacles, dir, 0.0);
            ASSERT_TRUE(std::isfinite(d));
            auto at = [&](double t) { return dir == Direction::Down ? moved(item, 0, -t) : moved(item, -t, 0); };
            bool touches = false;
            for (const Contour& o : obstacles) {
                EXPECT_FALSE(polys_intersect(at(d - 1e-6), o)) << "trial " << trial;
                EXPECT_LT(intersection_area(at(d + 1e-6), o), 1e-3) << "trial " << trial;
                touches = touches || polys_intersect(at(d + 1e-9), o);
            }
            const BBox b = polygon_bbox(at(d));
            const bool on_wall = dir == Direction::Down ? std::fabs(b.miny) < 1e-9 : std::fabs(b.minx) < 1e-9;
            EXPECT_TRUE(touches || on_wall) << "trial " << trial;
            touched_an_obstacle += touches;
        }
    }
    EXPECT_GT(touched_an_obstacle, 50);
}
