#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "quarvo/check.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/search.hpp"
#include "quarvo/shapes.hpp"
#include "search/neighbourhood.hpp"

using namespace quarvo;

namespace {

Contour rect(double w, double h) { return {{0, 0}, {0, h}, {w, h}, {w, 0}, {0, 0}}; }

// Items of three weights: rectangles, a triangle, circles.
std::vector<std::unique_ptr<Shape>> job(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> us(1, 5);
    std::vector<std::unique_ptr<Shape>> out;
    for (int i = 0; i < 18; ++i) {
        if (i % 3 == 0) out.push_back(std::make_unique<Circle>(us(rng)));
        else if (i % 3 == 1) out.push_back(std::make_unique<Polygon>(rect(2 * us(rng), us(rng))));
        else out.push_back(std::make_unique<Polygon>(Contour{{0, 0}, {0, us(rng)}, {us(rng), 0}, {0, 0}}));
        out.back()->weight = static_cast<double>(i % 3);
    }
    return out;
}

std::vector<Shape*> raw(const std::vector<std::unique_ptr<Shape>>& v) {
    std::vector<Shape*> out;
    for (const auto& s : v) out.push_back(s.get());
    return out;
}

using Poses = std::vector<std::tuple<double, double, double>>;
Poses poses(const std::vector<Shape*>& items) {
    Poses out;
    for (const Shape* s : items) out.emplace_back(s->tx(), s->ty(), s->rotation());
    return out;
}

// (unplaced, bins, used length of the last bin): the search's order of layouts.
std::tuple<std::size_t, std::size_t, double> cost(const PackResult& r) {
    return {r.unplaced.size(), r.bins.size(), r.bins.empty() ? 0.0 : used_length(r.bins.back())};
}

PackResult pack(const std::vector<Shape*>& items, const Bin& bin, int threads, long long iterations, std::uint64_t seed) {
    NfpOptions nfp;
    nfp.threads = threads;
    FirstFit ff(items, bin, 0.5, Strategy::Nfp, nfp);
    SearchOptions opt;
    opt.iterations = iterations;
    opt.seed = seed;
    const ImprovementSearch search(opt);
    return ff.do_pack(&search);
}

}  // namespace

// With an iteration limit the search's layout depends on the seed only: the
// same on one thread and on two. It is never worse than the greedy layout,
// and the checker finds it sound.
TEST(ImprovementSearch, SameLayoutOnAnyThreadCountNeverWorseThanGreedy) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        auto owned = job(seed);
        const std::vector<Shape*> items = raw(owned);
        const Bin bin{25, std::numeric_limits<double>::infinity()};
        const PackResult greedy = FirstFit(items, bin, 0.5).do_pack();
        const PackResult one = pack(items, bin, 1, 60, seed);
        const Poses p1 = poses(items);
        const PackResult two = pack(items, bin, 2, 60, seed);
        EXPECT_EQ(poses(items), p1) << "seed " << seed;
        EXPECT_EQ(one.bins, two.bins);
        EXPECT_FALSE(cost(greedy) < cost(one)) << "seed " << seed;
        CheckOptions opt;
        opt.bin_w = 25;
        opt.bin_h = used_length(one.bins.back()) + 1;
        opt.distance = 0.5;
        opt.circle_rel_tol = inscribed_polygon_rel_tol();
        std::vector<Outline> o;
        for (const Shape* s : one.bins[0]) o.push_back(true_outline(*s));
        EXPECT_TRUE(check_outlines(o, opt).empty()) << "seed " << seed;
        for (const Shape* s : items) EXPECT_EQ(s->infl(), 0.0);
    }
}

// The weight rule: a neighbour's order keeps at each position an item of the
// weight the greedy order has there, whatever the moves.
TEST(ImprovementSearch, MovesKeepEveryItemWithinItsWeight) {
    using namespace search_detail;
    auto owned = job(7);
    std::vector<Shape*> items = raw(owned);
    std::stable_sort(items.begin(), items.end(), [](const Shape* a, const Shape* b) { return a->weight > b->weight; });
    const Neighbourhood moves(items, Strategy::Nfp, 4);
    ASSERT_TRUE(moves.can_move());
    Layout cur;
    for (std::size_t i = 0; i < items.size(); ++i) cur.order.push_back(i);
    cur.angle.assign(items.size(), -1);
    cur.site.assign(items.size(), 0);
    Rng rng{42};
    int reordered = 0, turned = 0;
    for (int step = 0; step < 2000; ++step) {
        Layout next;
        const std::size_t k = moves.neighbour(cur, next, rng);
        for (std::size_t p = 0; p < items.size(); ++p) {
            ASSERT_EQ(items[next.order[p]]->weight, items[p]->weight) << "step " << step;
            if (p < k) {
                ASSERT_EQ(next.order[p], cur.order[p]) << "changed before " << k;
            }
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            ASSERT_GE(next.angle[i], -1);
            ASSERT_LT(next.angle[i], 4);
            if (items[i]->is_circle()) {
                ASSERT_EQ(next.angle[i], -1);
            }
        }
        reordered += next.order != cur.order;
        turned += next.angle != cur.angle;
        cur = next;
    }
    EXPECT_GT(reordered, 500);
    EXPECT_GT(turned, 200);
}
