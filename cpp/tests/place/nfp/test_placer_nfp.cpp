#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <algorithm>
#include <cmath>

#include "place/nfp/candidate_search.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

const Contour kUnitCw = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};

}  // namespace

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
    const std::vector<Contour> none, edge{{{1, 1.5}, {6, 1}, {1, 1.5}}}, point{{{50.5, 30.5}, {50.5, 30.5}}};
    PositionSearch corner{unit, 100, 100, edge, none};
    corner.steps = 1;
    SearchResult r = search_best_position(corner);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.pos, (Pt{5, 0}));
    EXPECT_EQ(r.score, 5.0);
    PositionSearch centre{unit, 100, 60, point, none};
    centre.steps = 1;
    centre.placement = Placement::Center;
    r = search_best_position(centre);
    EXPECT_EQ(r.pos, (Pt{49.5, 29.5}));
    EXPECT_EQ(r.score, 0.0);
    r = search_best_position(PositionSearch{unit, 100, 100, none, none});
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

// At rest, an item goes where its true outline touches a support: a disc
// beside a disc of another size touches the floor exactly (the crossing of the
// NFP with the floor's line, which no sample hits), and a triangle standing on
// its point, kept off the floor by its grown mitre, is refused in an empty bin.
TEST(NfpPlacerStable, FloorCrossingsAndRefusedSpikes) {
    NfpOptions options;
    options.stable = true;
    options.rotations = {0.0};
    NfpPlacer p(100, 100, options);
    Circle big(20), small(7);
    big.set_infl(1.0);
    small.set_infl(1.0);
    ASSERT_TRUE(p.trypack(big));
    ASSERT_TRUE(p.trypack(small));
    EXPECT_NEAR(small.ty(), 8.0, 1e-9);  // on the floor, at its spacing
    // against the big one's NFP, a 64-gon inscribed in the circle of radius 29
    const double d = std::hypot(small.tx() - big.tx(), small.ty() - big.ty());
    EXPECT_LE(d, 29.0 + 1e-6);
    EXPECT_GE(d, 29.0 * std::cos(kPi / kCircleSides) - 1e-6);

    Polygon spike({{0, 0}, {10, 0}, {5, -40}, {0, 0}});
    spike.set_infl(2.0);
    NfpPlacer empty(100, 100, options);
    EXPECT_FALSE(empty.trypack(spike));
    EXPECT_TRUE(empty.packed.empty());
    options.stable = false;
    NfpPlacer free(100, 100, options);
    EXPECT_TRUE(free.trypack(spike));
}

namespace {

// An S of four 10 x 10 cells; its mirror image is a Z.
const Contour kS = {{0, 0}, {20, 0}, {20, 10}, {30, 10}, {30, 20}, {10, 20}, {10, 10}, {0, 10}, {0, 0}};

}  // namespace

TEST(Mirror, AZShapedRoomTakesTheSOnlyMirrored) {
    // squares in the lower-left and upper-right corners leave a Z of room
    for (bool mirror : {false, true}) {
        NfpOptions opt;
        opt.rotations = {0.0};
        opt.nonconvex = true;
        opt.mirror = mirror;
        NfpPlacer pl(31, 21, opt);
        Polygon a(rect(0, 0, 10, 10)), b(rect(0, 0, 10, 10)), s(kS);
        b.set_position(21, 11);
        pl.packed = {&a, &b};
        EXPECT_EQ(pl.trypack(s), mirror);
        if (!mirror) continue;
        EXPECT_TRUE(s.mirrored());
        expect_box(s.transformed(), {0, 0, 30, 20});
    }
}

TEST(Mirror, OrientationsTryEverySideOfAnAsymmetricPolygonOnly) {
    NfpOptions opt;
    opt.rotations = {0.0, 1.0};
    opt.mirror = true;
    NfpPlacer pl(100, 100, opt);
    Polygon s(kS), square(rect(0, 0, 3, 3));
    Circle c(2);
    auto sides = [&](const Shape& item, int want) {
        PlaceRequest r;
        r.mirror = want;
        std::vector<int> out;
        for (const NfpPlacer::Orientation& o : pl.orientations_for(item, r)) out.push_back(o.side);
        return out;
    };
    EXPECT_EQ(sides(s, -1), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(sides(s, 1), (std::vector<int>{1, 1}));
    EXPECT_EQ(sides(s, 0), (std::vector<int>{0, 0}));
    EXPECT_EQ(sides(square, -1), (std::vector<int>{0, 0}));  // its mirror image is itself moved
    EXPECT_EQ(sides(c, -1), (std::vector<int>{-1}));
    opt.mirror = false;
    pl.set_options(opt);
    EXPECT_EQ(sides(s, -1), (std::vector<int>{-1, -1}));  // the item's own side, untouched
}

TEST(EdgeMargin, ItemBoxesKeepTheMarginLessTheirInflation) {
    for (Placement placement : {Placement::Corner, Placement::Center}) {
        NfpOptions opt;
        opt.placement = placement;
        NfpPlacer pl(100, 60, opt);
        pl.margin = 7;
        std::vector<std::unique_ptr<Shape>> items;
        for (int i = 0; i < 12; ++i) {
            if (i % 3 == 0) items.push_back(std::make_unique<Circle>(4 + i % 4));
            else items.push_back(std::make_unique<Polygon>(rect(0, 0, 9 + i % 5, 6)));
            items.back()->set_infl(i % 2 ? 1.5 : 0.0);
        }
        int placed = 0;
        for (auto& it : items) {
            if (!pl.trypack(*it)) continue;
            ++placed;
            const BBox b = it->bounding_box();
            const double keep = 7 - it->infl() - 1e-6;
            EXPECT_GE(b.minx, keep);
            EXPECT_GE(b.miny, keep);
            EXPECT_LE(b.maxx, 100 - keep);
            EXPECT_LE(b.maxy, 60 - keep);
        }
        EXPECT_GE(placed, 8);
    }
    // an item that fits the bin but not within the margin is refused
    NfpPlacer pl(20, 20);
    pl.margin = 3;
    Polygon big(rect(0, 0, 15, 15));
    EXPECT_FALSE(pl.trypack(big));
    pl.margin = 2.5;
    EXPECT_TRUE(pl.trypack(big));
    expect_box(big.transformed(), {2.5, 2.5, 17.5, 17.5});
    pl.margin = -1;
    Polygon small(rect(0, 0, 1, 1));
    EXPECT_THROW(pl.trypack(small), ValueError);
}
