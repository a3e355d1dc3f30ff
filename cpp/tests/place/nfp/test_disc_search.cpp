#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "place/nfp/disc_search.hpp"
#include "quarvo/placer_nfp.hpp"

using namespace quarvo;

namespace {

const std::function<void()> kNoStop = [] {};

double corner_score(Pt c, double r, double w) { return (-r + c.y) * (w + 1.0) + (-r + c.x); }

// Solid bars (no bore) of random sizes dropped into a bin by the placer.
std::vector<std::unique_ptr<Shape>> bars(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> od(8, 40);
    std::vector<std::unique_ptr<Shape>> out;
    for (int i = 0; i < n; ++i) {
        const double d = od(rng);
        out.push_back(std::make_unique<Pipe>(d, d / 2));
        out.back()->set_infl(0.5);
    }
    return out;
}

bool free_of(const std::vector<DiscBin::Disc>& discs, Pt p, double r) {
    for (const DiscBin::Disc& d : discs)
        if (d.parent < 0 && std::hypot(p.x - d.c.x, p.y - d.c.y) < d.R + r) return false;
    return true;
}

}  // namespace

// The place found is free, and no free place on a fine grid scores better:
// the search finds the exact optimum of the corner score, not a sample of it.
TEST(DiscSearch, BestPlaceBeatsEveryFreeGridPoint) {
    std::mt19937 rng(7);
    const double w = 160, h = 120;
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<std::unique_ptr<Shape>> items = bars(rng, 14);
        NfpPlacer pl(w, h, NfpOptions{});
        for (auto& s : items) pl.trypack(*s);
        DiscBin bin;
        ASSERT_TRUE(bin.sync(pl.packed, w, h, false));
        for (double r : {3.0, 6.5, 11.0}) {
            const DiscBin::Found f = bin.search(r, false, 0, kNoStop);
            double grid_best = kInf;
            for (double x = r; x <= w - r; x += 0.25)
                for (double y = r; y <= h - r; y += 0.25)
                    if (free_of(bin.discs(), {x, y}, r)) grid_best = std::min(grid_best, corner_score({x, y}, r, w));
            if (!(grid_best < kInf)) {
                EXPECT_FALSE(f.found) << "trial " << trial << " r " << r;
                continue;
            }
            ASSERT_TRUE(f.found) << "trial " << trial << " r " << r;
            EXPECT_TRUE(free_of(bin.discs(), f.pos, r));
            EXPECT_GE(f.pos.x, r);
            EXPECT_LE(f.pos.x, w - r);
            EXPECT_GE(f.pos.y, r);
            EXPECT_LE(f.pos.y, h - r);
            EXPECT_DOUBLE_EQ(f.score, corner_score(f.pos, r, w));
            EXPECT_LE(f.score, grid_best + 1e-9);
        }
    }
}

// A bore is a room: with dense holes a pipe that fits goes in before the
// floor, rooms nest, and what a room holds is kept clear of its wall and of
// each other.
TEST(DiscSearch, BoresTakeSmallerPipesNestedAsDeepAsTheyFit) {
    std::vector<std::unique_ptr<Shape>> items;
    for (double od : {200.0, 150.0, 100.0, 60.0, 60.0}) items.push_back(std::make_unique<Pipe>(od, 5.0));
    NfpOptions o;
    o.hole_fill = HoleFill::Dense;
    NfpPlacer pl(400, 400, o);
    for (auto& s : items) {
        s->set_infl(1.0);
        ASSERT_TRUE(pl.trypack(*s));
    }
    DiscBin bin;
    ASSERT_TRUE(bin.sync(pl.packed, 400, 400, false));
    const std::vector<DiscBin::Disc>& d = bin.discs();
    EXPECT_EQ(d[0].parent, -1);
    EXPECT_EQ(d[1].parent, 0);
    EXPECT_EQ(d[2].parent, 1);
    EXPECT_EQ(d[3].parent, 2);
    EXPECT_EQ(d[4].parent, -1);  // every room left is too narrow for a second 60: the floor takes it
    for (std::size_t i = 1; i < d.size(); ++i) {
        if (d[i].parent < 0) continue;
        const DiscBin::Disc& p = d[static_cast<std::size_t>(d[i].parent)];
        EXPECT_LE(std::hypot(d[i].c.x - p.c.x, d[i].c.y - p.c.y) + d[i].R, p.room + 1e-9);
    }
    EXPECT_GE(std::hypot(d[0].c.x - d[4].c.x, d[0].c.y - d[4].c.y), d[0].R + d[4].R);
}

// With a site asked for, the places taken lie at least the mover's radius
// apart and score no better than the best.
TEST(DiscSearch, SitesAreApartAndNoBetterThanTheBest) {
    std::mt19937 rng(3);
    std::vector<std::unique_ptr<Shape>> items = bars(rng, 10);
    NfpPlacer pl(200, 200, NfpOptions{});
    for (auto& s : items) pl.trypack(*s);
    DiscBin bin;
    ASSERT_TRUE(bin.sync(pl.packed, 200, 200, false));
    const double r = 5.0;
    const DiscBin::Found best = bin.search(r, false, 0, kNoStop), next = bin.search(r, false, 1, kNoStop);
    ASSERT_TRUE(best.found && next.found);
    EXPECT_GE(next.score, best.score);
    EXPECT_GE(std::hypot(next.pos.x - best.pos.x, next.pos.y - best.pos.y), r);
    EXPECT_TRUE(free_of(bin.discs(), next.pos, r));
}

// A bin that has no place for a circle refuses it, and every larger one,
// while it holds what it held then; a polygon stops the search.
TEST(DiscSearch, RefusalsAndPolygons) {
    std::vector<std::unique_ptr<Shape>> items;
    items.push_back(std::make_unique<Pipe>(90.0, 45.0));
    items.push_back(std::make_unique<Pipe>(90.0, 45.0));
    NfpPlacer pl(100, 100, NfpOptions{});
    ASSERT_TRUE(pl.trypack(*items[0]));
    ASSERT_FALSE(pl.trypack(*items[1]));
    EXPECT_TRUE(pl.refuses(*items[1]));
    Circle small(3.0);
    EXPECT_FALSE(pl.refuses(small));
    EXPECT_TRUE(pl.trypack(small));

    DiscBin bin;
    Polygon square(Contour{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}});
    std::vector<Shape*> mixed{items[0].get(), &square};
    EXPECT_FALSE(bin.sync(mixed, 100, 100, false));
}
