#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "quarvo/check.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

Contour rect(double w, double h) { return {{0, 0}, {0, h}, {w, h}, {w, 0}, {0, 0}}; }

std::vector<Shape*> raw(const std::vector<std::unique_ptr<Shape>>& v) {
    std::vector<Shape*> out;
    for (const auto& s : v) out.push_back(s.get());
    return out;
}

// Random circles and rectangles of four weights.
std::vector<std::unique_ptr<Shape>> random_items(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> us(1, 6);
    std::vector<std::unique_ptr<Shape>> out;
    for (int i = 0; i < n; ++i) {
        if (rng() % 2) out.push_back(std::make_unique<Circle>(us(rng)));
        else out.push_back(std::make_unique<Polygon>(rect(2 * us(rng), us(rng))));
        out.back()->weight = static_cast<double>(rng() % 4);
    }
    return out;
}

// No overlap, nothing outside, the distance kept (circles as the placers'
// inscribed polygons), by the independent checker.
void expect_sound(const PackResult& r, const Bin& bin, double distance) {
    CheckOptions opt;
    opt.bin_w = bin.width;
    opt.bin_h = bin.height;
    opt.distance = distance;
    opt.circle_rel_tol = inscribed_polygon_rel_tol();
    for (const auto& b : r.bins) {
        std::vector<Outline> o;
        for (const Shape* s : b) o.push_back(true_outline(*s));
        EXPECT_TRUE(check_outlines(o, opt).empty());
    }
}

// Records what the driver hands on after the greedy pass.
struct Recorder : Improver {
    mutable std::vector<double> infl, weight;
    mutable bool called = false;
    bool refuse = false;
    void check() const override {
        if (refuse) throw ValueError("refused by the recorder");
    }
    PackResult improve(const FirstFit&, const std::vector<Shape*>& sequence, PackResult greedy) const override {
        called = true;
        for (const Shape* s : sequence) {
            infl.push_back(s->infl());
            weight.push_back(s->weight);
        }
        return greedy;
    }
};

}  // namespace

// Every item once, in its bin, heavier items placed before lighter ones in
// each bin, every item deflated afterwards; for both strategies.
TEST(FirstFit, HeavierFirstEveryItemOnceSoundAndDeflated) {
    std::mt19937 rng(5);
    for (Strategy strategy : {Strategy::Nfp, Strategy::BottomLeft}) {
        for (int trial = 0; trial < 6; ++trial) {
            auto owned = random_items(rng, 30);
            std::vector<Shape*> items = raw(owned);
            const Bin bin{30, 25};
            FirstFit ff(items, bin, 1.0, strategy);
            const PackResult r = ff.do_pack();
            std::vector<Shape*> seen = r.unplaced;
            for (const auto& b : r.bins) {
                seen.insert(seen.end(), b.begin(), b.end());
                for (std::size_t k = 1; k < b.size(); ++k) EXPECT_GE(b[k - 1]->weight, b[k]->weight);
            }
            std::sort(seen.begin(), seen.end());
            std::sort(items.begin(), items.end());
            EXPECT_EQ(seen, items);
            for (const Shape* s : items) EXPECT_EQ(s->infl(), 0.0);
            expect_sound(r, bin, 1.0);
        }
    }
}

// A strip is one bin of open height: everything that fits its width goes in,
// and used_length is the top of what went in.
TEST(FirstFit, StripTakesEverythingThatFitsItsWidth) {
    std::mt19937 rng(8);
    auto owned = random_items(rng, 25);
    owned.push_back(std::make_unique<Circle>(40.0));  // wider than the strip
    std::vector<Shape*> items = raw(owned);
    FirstFit ff(items, Bin{30, std::numeric_limits<double>::infinity()}, 0.5);
    const PackResult r = ff.do_pack();
    ASSERT_EQ(r.bins.size(), 1u);
    ASSERT_EQ(r.unplaced.size(), 1u);
    EXPECT_EQ(r.unplaced[0], owned.back().get());
    double top = 0;
    for (const Shape* s : r.bins[0]) top = std::max(top, s->bounding_box().maxy);
    EXPECT_NEAR(used_length(r.bins[0]), top, 1e-9);
    expect_sound(r, Bin{30, top + 1}, 0.5);
}

// The phase after the greedy pass gets the items inflated and in offering
// order; its check runs before anything is changed.
TEST(FirstFit, ImproverSeesTheInflatedItemsInOfferingOrder) {
    std::mt19937 rng(11);
    auto owned = random_items(rng, 12);
    std::vector<Shape*> items = raw(owned);
    for (Shape* s : items) s->margin = 0.25;
    Recorder rec;
    FirstFit ff(items, Bin{40, 40}, 1.0);
    ff.do_pack(&rec);
    ASSERT_TRUE(rec.called);
    ASSERT_EQ(rec.infl.size(), items.size());
    for (double v : rec.infl) EXPECT_EQ(v, 0.75);
    EXPECT_TRUE(std::is_sorted(rec.weight.rbegin(), rec.weight.rend()));
    for (const Shape* s : items) EXPECT_EQ(s->infl(), 0.0);

    Recorder refusing;
    refusing.refuse = true;
    for (Shape* s : items) s->set_position(-7, -7);
    EXPECT_THROW(ff.do_pack(&refusing), ValueError);
    EXPECT_FALSE(refusing.called);
    for (const Shape* s : items) EXPECT_EQ(s->tx(), -7.0);
}

// The wishes of one offer: the angles it may take and the site; the placer's
// own options stay as they were.
TEST(FirstFit, OfferTakesTheRequestsAnglesAndSite) {
    FirstFit ff({}, Bin{12, 40}, 0.0);
    std::vector<std::unique_ptr<Placer>> open;
    Polygon tall(rect(10, 30)), wide(rect(30, 10));
    const std::vector<double> upright{0.0};
    EXPECT_EQ(ff.offer(open, tall, PlaceRequest{&upright, 0}), 0);
    EXPECT_EQ(ff.offer(open, wide, PlaceRequest{&upright, 0}), -1);  // only turned would it fit
    EXPECT_EQ(ff.offer(open, wide), 1);                              // the options' angles turn it
    EXPECT_NEAR(std::fabs(std::sin(wide.rotation())), 1.0, 1e-12);
    const auto& nfp = static_cast<const NfpPlacer&>(*open[0]);
    EXPECT_EQ(nfp.options().rotations, default_rotations());

    // site k > 0 takes a place apart from the best one
    FirstFit sites({}, Bin{40, 40}, 0.0);
    std::vector<std::unique_ptr<Placer>> a, b;
    Circle base_a(3), base_b(3), best(2), other(2);
    sites.offer(a, base_a);
    sites.offer(b, base_b);
    sites.offer(a, best, PlaceRequest{nullptr, 0});
    sites.offer(b, other, PlaceRequest{nullptr, 2});
    EXPECT_GE(std::hypot(best.tx() - other.tx(), best.ty() - other.ty()), 2.0);
}

// With stable placement every item the driver places rests, by the checker's
// gravity check, in bins (corner and centre) and in a strip, with and without
// a distance; without it the same items leave some off rest. Bottom-left
// placement refuses it.
TEST(FirstFit, StablePlacesEveryItemAtRest) {
    int floating_free = 0;
    for (int trial = 0; trial < 6; ++trial) {
        const double distance = trial % 2 ? 1.0 : 0.0;
        const Bin bin{30, trial < 4 ? 30.0 : kInf};
        for (bool stable : {false, true}) {
            std::mt19937 same(static_cast<unsigned>(trial));
            auto owned = random_items(same, 25);
            NfpOptions nfp;
            nfp.stable = stable;
            nfp.placement = trial == 2 || trial == 3 ? Placement::Center : Placement::Corner;
            FirstFit ff(raw(owned), bin, distance, Strategy::Nfp, nfp);
            const PackResult r = ff.do_pack();
            CheckOptions opt;
            opt.bin_w = bin.width;
            opt.distance = distance;
            for (const auto& b : r.bins) {
                std::vector<Outline> o;
                for (const Shape* s : b) o.push_back(true_outline(*s));
                for (const RestState& st : rest_states(o, opt)) {
                    if (stable) {
                        EXPECT_TRUE(st.rests) << st.why << " trial " << trial;
                    } else {
                        floating_free += !st.rests;
                    }
                }
            }
            if (stable && bin.height == kInf) {
                EXPECT_TRUE(r.unplaced.empty()) << trial;
            }
        }
    }
    EXPECT_GT(floating_free, 0);
    std::mt19937 rng(3);
    auto owned = random_items(rng, 5);
    NfpOptions nfp;
    nfp.stable = true;
    FirstFit bl(raw(owned), Bin{30, 30}, 0.0, Strategy::BottomLeft, nfp);
    EXPECT_THROW(bl.do_pack(), ValueError);
    for (const auto& s : owned) EXPECT_EQ(s->infl(), 0.0);
}

// A bin carries at most its max_load of the items' mass and no pipe longer
// than its length; each unplaced item comes with its reason.
TEST(FirstFitLimits, PayloadAndLength) {
    std::vector<std::unique_ptr<Shape>> items;
    for (int i = 0; i < 5; ++i) items.push_back(std::make_unique<Pipe>(100.0, 10.0, 12.0));  // 266 kg each
    items.push_back(std::make_unique<Pipe>(100.0, 10.0, 14.0));                            // too long
    items.push_back(std::make_unique<Circle>(5.0));
    items.back()->mass = 900.0;  // heavier than a bin takes
    Bin bin{1000, 1000, 0.0, 600.0, 13000.0};
    FirstFit ff(raw(items), bin, 2.0);
    const PackResult r = ff.do_pack();
    ASSERT_EQ(r.bins.size(), 3u);
    for (const auto& b : r.bins) EXPECT_LE(load_of(b), 600.0);
    ASSERT_EQ(r.unplaced.size(), 2u);
    ASSERT_EQ(r.reasons.size(), 2u);
    // the long pipe is the heaviest and is offered first
    EXPECT_NE(r.reasons[0].find("longer than the bin"), std::string::npos) << r.reasons[0];
    EXPECT_NE(r.reasons[1].find("max_load"), std::string::npos) << r.reasons[1];

    // a strip has one bin: what its payload cannot take is left out
    FirstFit strip(raw(items), Bin{1000, kInf, 0.0, 600.0}, 2.0);
    const PackResult s = strip.do_pack();
    ASSERT_EQ(s.bins.size(), 1u);
    EXPECT_EQ(s.bins[0].size(), 2u);
    EXPECT_NE(s.reasons.front().find("left"), std::string::npos) << s.reasons.front();

    for (double bad : {0.0, -1.0, std::nan("")})
        EXPECT_THROW(FirstFit(raw(items), Bin{10, 10, 0.0, bad}).do_pack(), ValueError);
}

TEST(FirstFit, EdgeGapIsTheLargerOfTheMarginAndHalfTheDistance) {
    for (Strategy strategy : {Strategy::Nfp, Strategy::BottomLeft})
        for (double margin : {0.0, 3.0, 10.0})
            for (double height : {80.0, kInf}) {
                std::mt19937 rng(7);
                auto own = random_items(rng, 25);
                FirstFit ff(raw(own), Bin{120, height, margin}, 8.0, strategy);
                PackResult r = ff.do_pack();
                const double edge = std::max(margin, 4.0) - 0.002;  // bottom-left stops 0.001 short, twice
                for (const auto& b : r.bins)
                    for (const Shape* s : b) {
                        const BBox box = true_outline(*s).box;
                        EXPECT_GE(box.minx, edge);
                        EXPECT_GE(box.miny, edge);
                        EXPECT_LE(box.maxx, 120 - edge);
                        if (height != kInf) {
                            EXPECT_LE(box.maxy, height - edge);
                        }
                    }
                if (height != kInf) expect_sound(r, Bin{120, height}, 8.0);
            }
}

TEST(FirstFit, BadMarginIsRefusedBeforeAnythingMoves) {
    Polygon p(rect(3, 3));
    p.set_position(1, 2);
    for (double m : {-1.0, std::nan(""), 1e13}) {
        FirstFit ff({&p}, Bin{10, 10, m});
        EXPECT_THROW(ff.do_pack(), ValueError);
        EXPECT_EQ(p.tx(), 1.0);
    }
}
