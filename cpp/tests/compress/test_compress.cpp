#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>

#include "quarvo/quarvo.hpp"
#include "compress/pair_regions.hpp"
#include "compress/working_layout.hpp"

using namespace quarvo;
using namespace quarvo::compress_detail;

namespace {

// A star-shaped closed contour around (cx, cy) with radii in [r0, r1].
Contour star(std::mt19937& rng, double cx, double cy, double r0, double r1, int n, bool clockwise) {
    std::uniform_real_distribution<double> ur(r0, r1);
    Contour c;
    for (int k = 0; k < n; ++k) {
        const double a = (clockwise ? -1 : 1) * 2 * kPi * k / n;
        const double r = ur(rng);
        c.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    c.push_back(c.front());
    return c;
}

bool crossing_inside(const Region& r, Pt q) {
    bool in = false;
    for (const Contour& c : r)
        for (std::size_t i = 0; i + 1 < c.size(); ++i) {
            const Pt a = c[i], b = c[i + 1];
            if ((a.y > q.y) != (b.y > q.y) && q.x < a.x + (q.y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
        }
    return in;
}

double nearest(const Region& r, Pt q) {
    double best = std::numeric_limits<double>::infinity();
    for (const Contour& c : r)
        for (std::size_t i = 0; i + 1 < c.size(); ++i) {
            const Pt a = c[i], b = c[i + 1];
            const double dx = b.x - a.x, dy = b.y - a.y;
            double t = ((q.x - a.x) * dx + (q.y - a.y) * dy) / (dx * dx + dy * dy);
            t = std::min(1.0, std::max(0.0, t));
            best = std::min(best, std::hypot(q.x - (a.x + t * dx), q.y - (a.y + t * dy)));
        }
    return best;
}

}  // namespace

// The slab index answers as a plain scan over every edge would.
TEST(CompressRegionIndex, MatchesTheScanOverEveryEdge) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-14, 14);
    for (int round = 0; round < 20; ++round) {
        Region r{star(rng, 0, 0, 8, 12, 5 + round * 7, true), star(rng, 0.5, -0.5, 2, 4, 6 + round, false)};
        RegionIndex index(r);
        for (int k = 0; k < 400; ++k) {
            const Pt q{u(rng), u(rng)};
            EXPECT_EQ(index.contains(q), crossing_inside(r, q)) << q.x << " " << q.y;
            const double d = nearest(r, q);
            EXPECT_NEAR(index.distance(q), d, 1e-12 * (1 + d));
            // A limit nearer than the boundary comes back as it is.
            EXPECT_EQ(index.distance(q, 0.5 * d), 0.5 * d);
            // The nearest point lies on the boundary, as far from q as the distance says.
            Pt at{kInf, kInf};
            EXPECT_NEAR(index.nearest(q, at), d, 1e-12 * (1 + d));
            EXPECT_NEAR(std::hypot(at.x - q.x, at.y - q.y), d, 1e-9 * (1 + d));
            EXPECT_LT(nearest(r, at), 1e-9);
        }
    }
    EXPECT_FALSE(RegionIndex(Region{}).contains({0, 0}));
}

// Depth > 0 wherever the checker (which uses no NFPs) finds the two outlines
// overlapping, a non-convex pair and its cavity included, and, but for a
// circle beside a polygon (whose NFP is the polygon's mitred growth, a
// little larger), nowhere else; an item wholly in a container's room is
// clear of the container.
TEST(CompressPairShape, DepthAgreesWithTheChecker) {
    Polygon u({{0, 0}, {10, 0}, {10, 10}, {7, 10}, {7, 3}, {3, 3}, {3, 10}, {0, 10}, {0, 0}});
    Polygon sq({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}});
    Polygon ring({{0, 0}, {12, 0}, {12, 12}, {0, 12}, {0, 0}}, {{{3, 3}, {9, 3}, {9, 9}, {3, 9}, {3, 3}}});
    Circle disc(1.5);
    std::vector<Shape*> items{&u, &sq, &ring, &disc};
    std::vector<std::vector<double>> angles{{0.0, kPi / 2}, {0.0}, {0.0}, {0.0}};
    Catalogue cat(items, angles, true, true);
    ASSERT_EQ(cat.size(), 5u);
    std::unique_ptr<Probes> probes = cat.probes();
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u01(0, 1);
    for (std::size_t a = 0; a < cat.size(); ++a)
        for (std::size_t b = 0; b < cat.size(); ++b) {
            const PairShape& pair = cat.pair(a, b, *probes);
            const Variant &va = cat.variant(a), &vb = cat.variant(b);
            const BBox box = pair.box();
            for (int k = 0; k < 300; ++k) {
                const Pt q{box.minx - 1 + (box.maxx - box.minx + 2) * u01(rng),
                           box.miny - 1 + (box.maxy - box.miny + 2) * u01(rng)};
                const double depth = pair.depth(q);
                // What a move's cost relies on: a point not inside is clear, and a
                // limit below the depth stops the search there, one above it changes nothing.
                EXPECT_EQ(pair.inside(q), depth > 0.0) << a << " " << b << " at " << q.x << " " << q.y;
                if (depth > 0.0) {
                    EXPECT_EQ(pair.inner_depth(q, 2.0 * depth), depth);
                    EXPECT_LE(pair.inner_depth(q, 0.5 * depth), 0.5 * depth * (1.0 + 1e-12));
                }
                // b's translation puts its reference point at q (a at zero translation)
                const Pt t{q.x - vb.ref.x, q.y - vb.ref.y};
                // with exact clearance a circle is the true circle
                Contour ob;
                for (const Pt& p : vb.outline) ob.push_back({p.x + t.x, p.y + t.y});
                const Outline oa = va.disc > 0 ? circle_outline(Pt{0, 0}, va.disc) : polygon_outline(va.outline, va.rooms);
                const Outline obo = vb.disc > 0 ? circle_outline(t, vb.disc) : polygon_outline(ob);
                const PairMeasure m = measure_pair(oa, obo);
                const bool mitred = (a == 4) != (b == 4);  // the disc is the last variant
                if (depth > 1e-6 && !mitred) {
                    EXPECT_GT(m.depth, 0.0) << a << " " << b << " at " << q.x << " " << q.y;
                }
                if (m.depth > 1e-6) {
                    EXPECT_GT(depth, 0.0) << a << " " << b << " at " << q.x << " " << q.y;
                }
                if (depth <= 0.0) continue;
                // Stepping out: as far as the depth, and a hair beyond leaves the two clear.
                const Pt e = pair.escape(q);
                const double len = std::hypot(e.x - q.x, e.y - q.y);
                EXPECT_NEAR(len, depth, 1e-9 * (1 + depth));
                const Pt out{e.x + (e.x - q.x) / len * 4e-6, e.y + (e.y - q.y) / len * 4e-6};
                EXPECT_EQ(pair.depth(out), 0.0) << a << " " << b << " at " << q.x << " " << q.y;
                Contour moved;
                for (const Pt& p : vb.outline) moved.push_back({p.x + out.x - vb.ref.x, p.y + out.y - vb.ref.y});
                const Outline mo = vb.disc > 0 ? circle_outline({out.x - vb.ref.x, out.y - vb.ref.y}, vb.disc)
                                               : polygon_outline(moved);
                EXPECT_LE(measure_pair(oa, mo).depth, 1e-6) << a << " " << b << " at " << q.x << " " << q.y;
            }
        }
}

// Kinds gather equal items; each item's present angle picks its variant.
TEST(CompressCatalogue, KindsAndVariants) {
    Polygon a({{0, 0}, {4, 0}, {4, 1}, {0, 1}, {0, 0}}), b({{0, 0}, {4, 0}, {4, 1}, {0, 1}, {0, 0}});
    Polygon c({{0, 0}, {3, 0}, {0, 3}, {0, 0}});
    b.set_rotation(kPi / 2);
    std::vector<Shape*> items{&a, &b, &c};
    std::vector<std::vector<double>> angles(3, {0.0, kPi / 2});
    Catalogue cat(items, angles, false, false);
    EXPECT_EQ(cat.size(), 4u);
    EXPECT_EQ(cat.kind_of(0), cat.kind_of(1));
    EXPECT_NE(cat.kind_of(0), cat.kind_of(2));
    EXPECT_EQ(cat.variant(cat.present(1)).rotation, kPi / 2);
    EXPECT_EQ(cat.variant(cat.present(0)).rotation, 0.0);
    const Variant& tall = cat.variant(cat.present(1));
    EXPECT_NEAR(tall.box.maxy - tall.box.miny, 4.0, 1e-12);
    EXPECT_NEAR(tall.area, 4.0, 1e-12);
}

// A last bin lowered under an item that no angle of it fits sends the item to
// a bin that holds it (an attempt at a shorter last bin used to fail at once,
// the item off the sheet), unless the items keep their bins.
TEST(CompressWorkingLayout, AnItemTooTallForItsLoweredBinGoesToAnother) {
    Polygon tall({{0, 0}, {1, 0}, {1, 3}, {0, 3}, {0, 0}}), small({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}});
    std::vector<Shape*> items{&small, &tall};
    const std::vector<std::vector<double>> angles(items.size(), {0.0, kPi / 2});
    const Catalogue cat(items, angles, false, true);
    std::unique_ptr<Probes> probes = cat.probes();
    Sheet sheet;
    sheet.width = 2.5;  // too narrow for the tall item lying down
    sheet.height = 4.0;
    sheet.cap = {4.0, 2.0};
    for (const bool keep : {false, true}) {
        MoveSettings settings;
        settings.keep_bins = keep;
        WorkingLayout work(cat, *probes, items.size(), settings);
        std::vector<Place> places(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            places[i].v = cat.choices(i)[0];
            places[i].bin = 1;
            places[i].x = 0.5 - cat.variant(places[i].v).box.minx;
            places[i].y = -cat.variant(places[i].v).box.miny;
        }
        work.assign(places, sheet);
        const Place& p = work.places()[1];
        Place clamped = p;
        EXPECT_EQ(p.bin, keep ? 1u : 0u);
        EXPECT_EQ(work.clamp(clamped) && clamped.x == p.x && clamped.y == p.y, !keep);  // on the sheet
        EXPECT_EQ(work.places()[0].bin, 1u);  // the small one fits where it was
    }
}

// A tooth whose one clear place is a notch as deep as the tooth (the sheet's
// top closes it): no random place reaches it, but a corner of the pair's NFP
// is it. Only the touching places are searched here: with none, the tooth
// stays where it was.
TEST(CompressWorkingLayout, ATouchingPlaceFindsTheNotch) {
    Polygon notched({{0, 0}, {3, 0}, {3, 2}, {1.6, 2}, {1.6, 1}, {0.4, 1}, {0.4, 2}, {0, 2}, {0, 0}}),
        tooth({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}});
    std::vector<Shape*> items{&notched, &tooth};
    const std::vector<std::vector<double>> angles(items.size(), {0.0});
    const Catalogue cat(items, angles, false, true);
    std::unique_ptr<Probes> probes = cat.probes();
    Sheet sheet;
    sheet.width = 3.0;
    sheet.height = 2.0;
    sheet.cap = {2.0};
    for (const int touches : {0, 40}) {
        SCOPED_TRACE(touches);
        MoveSettings settings;
        settings.global = settings.focus = settings.step_outs = 0;
        settings.descent_start = 0.0;
        settings.swap = 0.0;
        settings.touches = touches;
        WorkingLayout work(cat, *probes, items.size(), settings);
        std::vector<Place> places(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            places[i].v = cat.choices(i)[0];
            const BBox& box = cat.variant(places[i].v).box;
            places[i].x = (i == 0 ? 0.0 : 1.9) - box.minx;
            places[i].y = (i == 0 ? 0.0 : 0.3) - box.miny;
        }
        work.assign(places, sheet);
        ASSERT_EQ(work.colliding_pairs(), 1u);
        Rng rng{3};
        work.sweep(rng, nullptr);
        const Place& p = work.places()[1];
        const BBox& box = cat.variant(p.v).box;
        if (touches == 0) {
            EXPECT_EQ(work.colliding_pairs(), 1u);
            EXPECT_EQ(p.x, places[1].x);
            continue;
        }
        EXPECT_EQ(work.colliding_pairs(), 0u);
        EXPECT_NEAR(p.y + box.miny, 1.0, 1e-9);  // on the notch's floor
        EXPECT_GE(p.x + box.minx, 0.4 - 1e-9);
        EXPECT_LE(p.x + box.maxx, 1.6 + 1e-9);
    }
}

// After many sweeps (with and without swaps, on one bin and on two, items
// free to change bins or kept in theirs) the layout's kept overlaps are those
// measured afresh, and between the pairs a scan over every pair of a bin
// finds overlapping clearly and at all; every item stays on the sheet, and
// kept items in their bins.
TEST(CompressWorkingLayout, KeptOverlapsMatchEveryPair) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> size(0.6, 3.0);
    std::vector<std::unique_ptr<Shape>> owned;
    std::vector<Shape*> items;
    for (int i = 0; i < 40; ++i) {
        const double r = size(rng);
        owned.push_back(std::make_unique<Polygon>(star(rng, 0, 0, 0.6 * r, r, 5 + i % 4, false)));
        items.push_back(owned.back().get());
    }
    const std::vector<std::vector<double>> angles(items.size(), {0.0, kPi / 2});
    const Catalogue cat(items, angles, false, true);
    std::unique_ptr<Probes> probes = cat.probes();
    struct Case {
        std::vector<double> caps;  // too short for them all: overlaps stay
        double swap;
        bool keep_bins;
    };
    const Case cases[] = {{{14.0}, 0.0, false}, {{14.0}, 1.0, false}, {{8.0, 6.0}, 1.0, false},
                          {{8.0, 6.0}, 1.0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.caps.size() << " bins, swap " << c.swap << ", keep " << c.keep_bins);
        Sheet sheet;
        sheet.width = 16.0;
        sheet.cap = c.caps;
        MoveSettings settings;
        settings.swap = c.swap;
        settings.keep_bins = c.keep_bins;
        WorkingLayout work(cat, *probes, items.size(), settings);
        std::vector<Place> places(items.size());
        Rng walk{17};
        for (std::size_t i = 0; i < items.size(); ++i) {
            places[i].v = cat.choices(i)[walk.below(2)];
            places[i].bin = i % c.caps.size();
            places[i].x = sheet.width * walk.unit();
            places[i].y = sheet.cap[places[i].bin] * walk.unit();
        }
        work.assign(places, sheet);
        for (int k = 0; k < 25; ++k) {
            work.sweep(walk, nullptr);
            work.update_weights();
        }
        WorkingLayout fresh(cat, *probes, items.size(), settings);
        fresh.assign(work.places(), sheet);
        EXPECT_EQ(work.colliding_pairs(), fresh.colliding_pairs());
        EXPECT_NEAR(work.overlap(), fresh.overlap(), 1e-9 * (1.0 + fresh.overlap()));
        std::size_t clear = 0, any = 0, moved_bins = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Place& p = work.places()[i];
            double xlo, xhi, ylo, yhi;
            ASSERT_TRUE(work.range(p.v, p.bin, xlo, xhi, ylo, yhi));
            EXPECT_TRUE(p.x >= xlo && p.x <= xhi && p.y >= ylo && p.y <= yhi) << i;
            moved_bins += p.bin != places[i].bin;
            for (std::size_t j = 0; j < i; ++j) {
                const Place& o = work.places()[j];
                if (o.bin != p.bin) continue;
                const Pt ref = cat.variant(p.v).ref;
                const double d = cat.pair(o.v, p.v, *probes).depth({p.x + ref.x - o.x, p.y + ref.y - o.y});
                clear += d > 1e-6;
                any += d > 0.0;
            }
        }
        EXPECT_EQ(moved_bins == 0, c.keep_bins || c.caps.size() == 1);
        EXPECT_GT(clear, 0u);
        EXPECT_LE(clear, work.colliding_pairs());
        EXPECT_GE(any, work.colliding_pairs());
    }
}

// The whole phase through the driver, strip and bins, both threads: every
// item placed as before, no pair closer than the checker allows.
TEST(CompressFirstFit, StripAndBinsComeBackSound) {
    for (const double height : {std::numeric_limits<double>::infinity(), 30.0}) {
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> us(2, 9);
        std::vector<std::unique_ptr<Shape>> owned;
        std::vector<Shape*> items;
        for (int i = 0; i < 18; ++i) {
            const double w = us(rng), h = us(rng);
            if (i % 5 == 4) {
                owned.push_back(std::make_unique<Circle>(w / 3));
            } else if (i % 2) {
                owned.push_back(std::make_unique<Polygon>(
                    Contour{{0, 0}, {w, 0}, {w, h / 2}, {w / 2, h / 2}, {w / 2, h}, {0, h}, {0, 0}}));
            } else {
                owned.push_back(std::make_unique<Polygon>(Contour{{0, 0}, {w, 0}, {w / 2, h}, {0, 0}}));
            }
            items.push_back(owned.back().get());
        }
        NfpOptions nfp;
        nfp.nonconvex = true;
        nfp.threads = 2;
        FirstFit ff(items, Bin{30.0, height}, 0.5, Strategy::Nfp, nfp);
        SearchOptions opt;
        opt.iterations = 200;
        opt.compress = true;
        const CompressionPhase phase(opt);
        const PackResult r = ff.do_pack(&phase);
        std::size_t placed = 0;
        for (const auto& bin : r.bins) {
            placed += bin.size();
            std::vector<Outline> outlines;
            double top = 0.0;
            for (const Shape* s : bin) {
                outlines.push_back(true_outline(*s));
                top = std::max(top, outlines.back().box.maxy);
            }
            CheckOptions opt;
            opt.bin_w = 30.0;
            opt.bin_h = std::isfinite(height) ? height : top;
            opt.distance = 0.5;
            opt.circle_rel_tol = 1.0 - std::cos(kPi / 64);  // circles taken as inscribed 64-gons
            EXPECT_TRUE(check_outlines(outlines, opt).empty());
        }
        EXPECT_EQ(placed + r.unplaced.size(), items.size());
    }
}

// The last of several bins comes down onto the stack it holds: the few
// hundredths left above it are less than the least cut by a share of all the
// bins laid end to end, so cuts of the whole never tried them.
TEST(CompressFirstFit, TheLastOfSeveralBinsComesDownOntoItsStack) {
    Polygon block({{0, 0}, {10, 0}, {10, 100}, {0, 100}, {0, 0}});
    Polygon low({{0, 0}, {8, 0}, {8, 6}, {0, 6}, {0, 0}}), high({{0, 0}, {8, 0}, {8, 4}, {0, 4}, {0, 0}});
    std::vector<Shape*> items{&block, &low, &high};
    NfpOptions nfp;
    nfp.rotations = {0.0};  // the two parts stack: 10 high, above any bound the phase knows
    FirstFit ff(items, Bin{10.0, 100.0}, 0.0, Strategy::Nfp, nfp);
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        block.set_position(0.0, 0.0);
        low.set_position(0.0, 0.0);
        high.set_position(0.0, 6.03);
        PackResult start;
        start.bins = {{&block}, {&low, &high}};
        start.bin_kinds = {0, 0};
        SearchOptions opt;
        opt.iterations = 300;
        opt.compress = true;
        opt.seed = seed;
        const PackResult r = CompressionPhase(opt).improve(ff, items, start);
        ASSERT_EQ(r.bins.size(), 2u);
        double top = 0.0;
        for (const Shape* s : r.bins[1]) top = std::max(top, true_outline(*s).box.maxy);
        EXPECT_LT(top, 10.02) << "seed " << seed;
    }
}
