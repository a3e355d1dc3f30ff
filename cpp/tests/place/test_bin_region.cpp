#include <gtest/gtest.h>

#include <random>

#include "place/bin_region.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/placer_nfp.hpp"

using namespace quarvo;

namespace {

Contour rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
}

// An L of 100 x 60 with its upper right quarter cut away, a hole and a defect.
Bin l_bin(double margin) {
    Bin bin{100, 60, margin};
    auto shape = std::make_shared<BinShape>();
    shape->outer = {{0, 0}, {0, 60}, {50, 60}, {50, 30}, {100, 30}, {100, 0}, {0, 0}};
    shape->holes = {rect(70, 10, 80, 20)};
    shape->defects = {rect(20, 20, 30, 30), rect(95, -5, 105, 5)};
    bin.shape = shape;
    return bin;
}

Contour moved(const Contour& c, Pt t) {
    Contour out = c;
    for (Pt& p : out) p = {p.x + t.x, p.y + t.y};
    return out;
}

}  // namespace

// Every vertex of the fixed region is a place where the item lies in the
// rooms and clear of the obstacles; points well outside the region are not.
TEST(BinRegion, FixedRegionHoldsExactlyTheClearPlaces) {
    for (double inset : {0.0, 2.0}) {
        const BinRooms rooms = bin_rooms(l_bin(0.0), inset);
        const Contour square = rect(0, 0, 8, 8);
        const Region region = fixed_free_region(rooms, square, {0, 0}, [] {});
        ASSERT_FALSE(region.empty());
        for (const Contour& c : region)
            for (const Pt& p : c) EXPECT_TRUE(clear_of_bin(rooms, moved(square, p), 1e-5, [] {})) << p.x << " " << p.y;
        // the square on the defect, across the hole, out of the notch, in the corner of the cut-away part
        for (Pt t : {Pt{22, 22}, Pt{72, 12}, Pt{60, 40}, Pt{-3, 10}, Pt{90, 40}})
            EXPECT_FALSE(clear_of_bin(rooms, moved(square, t), 1e-5, [] {})) << t.x << " " << t.y;
        EXPECT_TRUE(clear_of_bin(rooms, moved(square, {5, 5}), 1e-5, [] {}));
    }
}

// Both placers fill the shaped bin with no item on a defect, in a hole or out
// of the outline, the margin kept.
TEST(BinRegion, PlacersKeepItemsInTheShapedBin) {
    const double margin = 1.5;
    const Bin bin = l_bin(margin);
    const BinRooms exact = bin_rooms(bin, margin);
    for (int strategy = 0; strategy < 2; ++strategy) {
        std::vector<std::unique_ptr<Polygon>> items;
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> side(3, 12);
        std::unique_ptr<Placer> p;
        if (strategy == 0) p = std::make_unique<NfpPlacer>(bin.width, bin.height);
        else p = std::make_unique<BottomLeftPlacer>(bin.width, bin.height);
        p->margin = margin;
        p->shape = bin.shape;
        int placed = 0;
        for (int i = 0; i < 40; ++i) {
            const double s = side(rng);
            items.push_back(std::make_unique<Polygon>(rect(0, 0, s, s * 0.7)));
            if (!p->trypack(*items.back())) continue;
            ++placed;
            EXPECT_TRUE(clear_of_bin(exact, items.back()->transformed(), 1e-5, [] {})) << "strategy " << strategy;
        }
        EXPECT_GT(placed, 10) << "strategy " << strategy;
    }
}
