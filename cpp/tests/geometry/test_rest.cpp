#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "expect_contour.hpp"
#include "geometry/rest.hpp"

using namespace quarvo;

namespace {

RestBody disc(double x, double y, double r, double spacing = 0.0) {
    RestBody b;
    b.outer.round = true;
    b.outer.center = {x, y};
    b.outer.radius = r;
    b.spacing = spacing;
    b.finish();
    return b;
}

// A pipe: a disc with a round bore.
RestBody pipe(double x, double y, double r, double bore) {
    RestBody b = disc(x, y, r);
    RestLoop h;
    h.round = true;
    h.center = {x, y};
    h.radius = bore;
    b.holes.push_back(h);
    b.finish();
    return b;
}

RestBody poly(const Contour& outer, const std::vector<Contour>& holes = {}) {
    RestBody b;
    b.outer.ring = outer;
    for (const Contour& c : holes) {
        RestLoop h;
        h.ring = c;
        b.holes.push_back(h);
    }
    b.finish();
    return b;
}

// A 64-gon hole as a ring of a polygon, counter-clockwise.
Contour ngon(double x, double y, double r, int n = 64) {
    Contour c;
    for (int k = 0; k <= n; ++k) {
        const double a = 2 * kPi * (k % n) / n;
        c.push_back({x + r * std::cos(a), y + r * std::sin(a)});
    }
    return c;
}

RestReason judge(const RestBody& item, const std::vector<RestBody>& others, double width = 100.0) {
    std::vector<const RestBody*> near;
    for (const RestBody& o : others) near.push_back(&o);
    return judge_rest(item, near, {width}).reason;
}

const double kS3 = std::sqrt(3.0);

struct Case {
    const char* name;
    RestBody item;
    std::vector<RestBody> others;
    RestReason want;
    double width = 100.0;
};

}  // namespace

// One table: each line a layout and what gravity makes of its first item.
TEST(Rest, RoundItems) {
    const double a20 = 20 * kPi / 180, a70 = 70 * kPi / 180;
    const std::vector<Case> cases = {
        {"disc on the floor", disc(50, 10, 10), {}, RestReason::Rests},
        {"disc in mid-air", disc(50, 40, 10), {}, RestReason::NoContact},
        {"disc against the left wall only", disc(10, 40, 10), {}, RestReason::NoneBelow},
        {"disc squeezed between two walls", disc(10, 40, 10), {}, RestReason::NoneBelow, 20.0},
        {"disc on one disc, straight above", disc(50, 30, 10), {disc(50, 10, 10)}, RestReason::Balanced},
        {"disc on a disc's shoulder", disc(60, 10 + 10 * kS3, 10), {disc(50, 10, 10)}, RestReason::OneContact},
        {"disc in the valley of two discs", disc(50, 10 + 10 * kS3, 10), {disc(40, 10, 10), disc(60, 10, 10)},
         RestReason::Rests},
        {"disc on two discs, both to its left", disc(50, 50, 10),
         {disc(50 - 15 * std::cos(a20), 50 - 15 * std::sin(a20), 5), disc(50 - 15 * std::cos(a70), 50 - 15 * std::sin(a70), 5)},
         RestReason::OneSide},
        {"disc between the wall and a disc", disc(10, 20, 10), {disc(10 + 10 * kS3, 10, 10)}, RestReason::Rests},
        {"disc on a flat top", disc(50, 30, 10), {poly(rect(20, 0, 80, 20))}, RestReason::Rests},
        {"disc on a corner straight below", disc(80, 30, 10), {poly({{50, 0}, {80, 20}, {110, 0}, {50, 0}})},
         RestReason::Balanced, 200.0},
        {"disc at the bottom of a bore", disc(50, 30, 10), {pipe(50, 50, 40, 30)}, RestReason::Rests},
        {"disc up a bore's wall", disc(50 + 20 * std::sin(0.5), 50 - 20 * std::cos(0.5), 10), {pipe(50, 50, 40, 30)},
         RestReason::OneContact},
        {"disc at the bottom of a polygon's round hole", disc(50, 30, 10),
         {poly(ngon(50, 50, 45), {ngon(50, 50, 30)})}, RestReason::Rests},
    };
    for (const Case& c : cases) EXPECT_EQ(judge(c.item, c.others, c.width), c.want) << c.name;
}

TEST(Rest, DiscWedgedInABoreAgainstAnItemBelowOnTheOtherSide) {
    // A small disc resting at the bottom of the bore, and a second disc
    // leaning on it and on the bore's wall across: held from both sides.
    const RestBody host = pipe(50, 50, 40, 30);
    const RestBody low = disc(50, 30, 10);
    // On the circle of radius 20 round the bore's centre and touching `low`.
    const double a = std::acos((20.0 * 20.0 + 20.0 * 20.0 - 20.0 * 20.0) / (2 * 20.0 * 20.0));  // 60 degrees off the bottom
    const RestBody wedged = disc(50 + 20 * std::sin(a), 50 - 20 * std::cos(a), 10);
    EXPECT_EQ(judge(wedged, {host, low}), RestReason::Rests);
    // Without the disc below it slides down the wall.
    EXPECT_EQ(judge(wedged, {host}), RestReason::OneContact);
    // The pipe holds the discs; they hold nothing of it.
    EXPECT_EQ(judge(host, {low, wedged}), RestReason::NoContact);
}

TEST(Rest, Polygons) {
    const RestBody block = poly(rect(40, 20, 60, 40));  // centroid (50, 30)
    const std::vector<Case> cases = {
        {"block on the floor", poly(rect(40, 0, 60, 20)), {}, RestReason::Rests},
        {"block in mid-air", block, {}, RestReason::NoContact},
        {"block on a post left of its centroid", block, {poly(rect(38, 0, 45, 20))}, RestReason::PolygonOneSide},
        {"block across a post", block, {poly(rect(45, 0, 55, 20))}, RestReason::Rests},
        {"block on two posts", block, {poly(rect(38, 0, 42, 20)), poly(rect(58, 0, 62, 20))}, RestReason::Rests},
        {"block against the wall on a post to the right", poly(rect(0, 20, 20, 40)), {poly(rect(15, 0, 25, 20))},
         RestReason::Rests},
        {"block hanging by its top", block, {poly(rect(30, 40, 70, 50))}, RestReason::PolygonNoneBelow},
        {"block on a disc left of its centroid", block, {disc(45, 10, 10)}, RestReason::PolygonOneSide},
        {"block beside a block", poly(rect(40, 20, 60, 40)), {poly(rect(60, 0, 80, 40))}, RestReason::PolygonOneSide},
    };
    for (const Case& c : cases) EXPECT_EQ(judge(c.item, c.others, c.width), c.want) << c.name;
}

TEST(Rest, ContainersAreNotHeldByWhatTheyHold) {
    // A frame in mid-air with a block resting on its hole's floor.
    const RestBody frame = poly(rect(20, 20, 80, 80), {ensure_winding(rect(30, 30, 70, 70), false)});
    const RestBody inside = poly(rect(40, 30, 60, 40));
    EXPECT_EQ(judge(inside, {frame}), RestReason::Rests);
    EXPECT_EQ(judge(frame, {inside}), RestReason::NoContact);
    EXPECT_EQ(hole_holding(inside, frame), 0);
    EXPECT_EQ(hole_holding(frame, inside), -1);
}

TEST(Rest, ContactReachesTheSpacersAndTheTolerance) {
    // Spacers of 1 each: two discs touch up to a gap of 2, the tolerance and their excesses.
    const RestBody a = disc(40, 11, 10, 1.0), b = disc(60, 11, 10, 1.0);
    const double allow = 2.0 + kRestTol + 2 * a.excess;
    EXPECT_NEAR(a.excess, 11 * (1 / std::cos(kPi / 64) - 1), 1e-15);
    for (double gap : {allow - 1e-6, allow + 1e-6}) {
        const RestBody top = disc(50, 11 + std::sqrt((20 + gap) * (20 + gap) - 100.0), 10, 1.0);
        EXPECT_EQ(judge(top, {a, b}) == RestReason::Rests, gap < allow) << gap;
    }
    // The floor and the walls at the spacing, nothing more (the placers keep
    // a true circle that far off them).
    const double wall = 1.0 + kRestTol;
    EXPECT_EQ(judge(disc(50, 10 + wall - 1e-6, 10, 1.0), {}), RestReason::Rests);
    EXPECT_EQ(judge(disc(50, 10 + wall + 1e-6, 10, 1.0), {}), RestReason::NoContact);
    EXPECT_EQ(judge(disc(10 + wall - 1e-6, 50, 10, 1.0), {}), RestReason::NoneBelow);
    EXPECT_EQ(judge(disc(10 + wall + 1e-6, 50, 10, 1.0), {}), RestReason::NoContact);
}

TEST(Rest, UnusableBodiesNeverRest) {
    RestBody nan = disc(std::nan(""), 10, 10);
    EXPECT_FALSE(nan.usable);
    EXPECT_FALSE(judge_rest(nan, {}, {100.0}).rests());
    RestBody thin;
    thin.outer.ring = {{0, 0}, {1, 1}};
    thin.finish();
    EXPECT_FALSE(thin.usable);
    // An unusable neighbour is passed over.
    EXPECT_EQ(judge(disc(50, 30, 10), {nan, disc(50, 10, 10)}), RestReason::Balanced);
}

TEST(Rest, CentroidOfTheMaterial) {
    // An L: the material's centroid, not the box's centre.
    const RestBody l = poly({{0, 0}, {0, 30}, {10, 30}, {10, 10}, {30, 10}, {30, 0}, {0, 0}});
    EXPECT_NEAR(l.centroid.x, (10 * 30 * 5 + 20 * 10 * 20) / 500.0, 1e-12);
    EXPECT_NEAR(l.centroid.y, (10 * 30 * 15 + 20 * 10 * 5) / 500.0, 1e-12);
    // A plate with an off-centre hole leans away from it.
    const RestBody plate = poly(rect(0, 0, 40, 20), {ensure_winding(rect(25, 5, 35, 15), false)});
    EXPECT_LT(plate.centroid.x, 20.0);
    EXPECT_NEAR(plate.centroid.y, 10.0, 1e-12);
}
