// Cancellation at every point where the engine looks for it: a hook that asks
// to stop at its k-th call, for every k of a run. Whatever k, the run ends in
// Interrupted, every item is deflated, no placer list holds a half-placed
// item, and packing again gives exactly the layout of an undisturbed run.
// With rotations on two threads the caller's thread (the only one that asks
// the host) evaluates a varying share of them, so the last few k may come
// after the run has ended: then the run must simply be complete and right.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "nfp/nfp_union.hpp"
#include "place/nfp/candidate_search.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

std::atomic<long> g_calls{0};
std::atomic<long> g_stop_at{-1};  // -1: never

bool counting_hook() {
    long k = ++g_calls;
    return k == g_stop_at.load();
}

struct HookGuard {
    explicit HookGuard(long stop_at) {
        g_calls = 0;
        g_stop_at = stop_at;
        set_cancel_hook(&counting_hook);
    }
    ~HookGuard() { set_cancel_hook(nullptr); }
};

Contour ngon(double r, int n, double phase = 0.0) {
    Contour c;
    for (int i = 0; i < n; ++i) {
        double a = phase - 2 * 3.141592653589793 * i / n;
        c.push_back({r * std::cos(a), r * std::sin(a)});
    }
    c.push_back(c.front());
    return c;
}

std::vector<std::unique_ptr<Shape>> job() {
    std::vector<std::unique_ptr<Shape>> items;
    for (int i = 0; i < 14; ++i) {
        switch (i % 4) {
            case 0: items.push_back(std::make_unique<Circle>(1.0 + 0.25 * (i % 3))); break;
            case 1: items.push_back(std::make_unique<Polygon>(ngon(1.5, 5, 0.3 * i))); break;
            case 2: items.push_back(std::make_unique<Polygon>(Contour{{0, 0}, {3, 0}, {3, 1}, {0, 1}})); break;
            default:
                items.push_back(std::make_unique<Polygon>(Contour{{0, 0}, {6, 0}, {6, 6}, {0, 6}},
                                                          std::vector<Contour>{{{1, 1}, {5, 1}, {5, 5}, {1, 5}}}));
        }
        items.back()->weight = i % 3;
    }
    return items;
}

std::vector<Shape*> raw(const std::vector<std::unique_ptr<Shape>>& v) {
    std::vector<Shape*> out;
    for (const auto& s : v) out.push_back(s.get());
    return out;
}

struct Place {
    double tx, ty, rot;
    bool operator==(const Place& o) const { return tx == o.tx && ty == o.ty && rot == o.rot; }
};

std::vector<Place> places(const std::vector<Shape*>& items) {
    std::vector<Place> p;
    for (Shape* s : items) p.push_back({s->tx(), s->ty(), s->rotation()});
    return p;
}

void reset(const std::vector<Shape*>& items) {
    for (Shape* s : items) {
        s->set_position(0.0, 0.0);
        s->set_rotation(0.0);
    }
}

struct Config {
    Strategy strategy;
    bool incremental;
    int threads;
    std::string name() const {
        return std::string(strategy == Strategy::Nfp ? "nfp" : "bl") + (incremental ? "_incremental" : "") + "_threads" +
               std::to_string(threads);
    }
};

class CancelDoPack : public ::testing::TestWithParam<Config> {};

PackResult pack(const std::vector<Shape*>& items, const Config& c) {
    FirstFit ff(items, Bin{14.0, 12.0}, 0.5, c.strategy);
    ff.nfp.incremental = c.incremental;
    ff.nfp.threads = c.threads;
    return ff.do_pack();
}

}  // namespace

TEST_P(CancelDoPack, EveryCheckpointLeavesTheItemsSound) {
    const Config c = GetParam();
    auto owned = job();
    std::vector<Shape*> items = raw(owned);

    long checkpoints;
    PackResult ref;
    {
        HookGuard count(-1);
        ref = pack(items, c);
        checkpoints = g_calls.load();
    }
    ASSERT_GT(checkpoints, 3);
    const std::vector<Place> want = places(items);

    for (long k = 1; k <= checkpoints; ++k) {
        reset(items);
        bool completed = false;
        {
            HookGuard stop(k);
            try {
                PackResult r = pack(items, c);
                completed = true;
                EXPECT_EQ(r.bins, ref.bins);
            } catch (const Interrupted&) {
            }
        }
        EXPECT_TRUE(!completed || (c.threads > 1 && k > 4)) << "checkpoint " << k << " of " << checkpoints;
        for (Shape* s : items) ASSERT_EQ(s->infl(), 0.0) << "checkpoint " << k;
        reset(items);
        PackResult again = pack(items, c);
        EXPECT_EQ(again.bins, ref.bins) << "checkpoint " << k;
        EXPECT_EQ(again.unplaced, ref.unplaced) << "checkpoint " << k;
        EXPECT_TRUE(places(items) == want) << "checkpoint " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Strategies, CancelDoPack,
                         ::testing::Values(Config{Strategy::Nfp, false, 1}, Config{Strategy::Nfp, true, 1},
                                           Config{Strategy::Nfp, false, 2}, Config{Strategy::Nfp, true, 2},
                                           Config{Strategy::BottomLeft, false, 1}),
                         [](const ::testing::TestParamInfo<Config>& i) { return i.param.name(); });

TEST(CancelTrypack, NfpPlacerKeepsItsListAndItsStoredUnions) {
    for (bool incremental : {false, true}) {
        for (int threads : {1, 2}) {
            auto owned = job();
            std::vector<Shape*> items = raw(owned);
            NfpOptions options;
            options.incremental = incremental;
            options.threads = threads;
            NfpPlacer placer(30.0, 30.0, options);
            for (std::size_t i = 0; i + 1 < items.size(); ++i) placer.trypack(*items[i]);
            const std::vector<Shape*> packed = placer.packed;
            Shape& last = *items.back();

            long checkpoints;
            {
                HookGuard count(-1);
                NfpPlacer twin(30.0, 30.0, options);
                twin.packed = packed;
                twin.trypack(last);
                checkpoints = g_calls.load();
            }
            const Place want{last.tx(), last.ty(), last.rotation()};
            ASSERT_GT(checkpoints, 1);
            for (long k = 1; k <= checkpoints; ++k) {
                bool completed = false;
                {
                    HookGuard stop(k);
                    try {
                        completed = placer.trypack(last);
                        ASSERT_TRUE(completed);
                    } catch (const Interrupted&) {
                    }
                }
                // An incremental placer that already holds the union does less
                // work than its fresh twin, so it may finish before checkpoint k.
                EXPECT_TRUE(!completed || (threads > 1 && k > 4) || incremental) << "checkpoint " << k;
                if (completed) placer.packed.pop_back();
                EXPECT_EQ(placer.packed, packed) << "checkpoint " << k;
            }
            ASSERT_TRUE(placer.trypack(last));
            if (incremental) {
                // The stored unions may have been extended meanwhile, which moves
                // their vertices within the union's 1e-6 grid.
                EXPECT_NEAR(last.tx(), want.tx, 1e-5);
                EXPECT_NEAR(last.ty(), want.ty, 1e-5);
                EXPECT_EQ(last.rotation(), want.rot);
            } else {
                EXPECT_TRUE((Place{last.tx(), last.ty(), last.rotation()} == want));
            }
        }
    }
}

TEST(CancelTrypack, BottomLeftSlideStops) {
    BottomLeftPlacer placer(20.0, 20.0);
    Circle a(2.0), b(1.5);
    ASSERT_TRUE(placer.trypack(a));
    HookGuard stop(1);
    EXPECT_THROW(placer.trypack(b), Interrupted);
    EXPECT_EQ(placer.packed, std::vector<Shape*>{&a});
}

TEST(Hostile, StarsThatPassTheConvexityTestAreRefused) {
    // Every turn has one sign, yet the outline crosses itself: refused when built.
    Contour star;
    for (int i = 0; i < 5; ++i) {
        double a = 3.141592653589793 / 2 + i * 4 * 3.141592653589793 / 5;
        star.push_back({std::cos(a), std::sin(a)});
    }
    star.push_back(star.front());
    ASSERT_TRUE(is_convex(star));
    EXPECT_THROW(Polygon p(star), ValueError);
}

TEST(Hostile, TangledUnionIsRefusedAndManyConvexOnesAreNot) {
    // A comb of long thin triangles crossing each other: 4,000 edges, more
    // than two million crossings.
    std::vector<Contour> tangled;
    for (int i = 0; i < 1500; ++i) {
        double x = i * 0.01;
        tangled.push_back({{x, 0}, {x + 20, 10}, {x + 0.005, 0}, {x, 0}});
        tangled.push_back({{x, 10}, {x + 20, 0}, {x + 0.005, 10}, {x, 10}});
    }
    EXPECT_THROW(merge_nfps(tangled), ValueError);
    std::vector<Contour> cells;
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 60; ++j) {
            Contour c = ngon(0.4, 8);
            for (Pt& p : c) p = {p.x + i, p.y + j};
            cells.push_back(c);
        }
    EXPECT_EQ(merge_nfps(cells).size(), 3600u);
}

TEST(Hostile, OversizedSamplingIsRefused) {
    const Contour square = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
    EXPECT_THROW(sample_boundary(square, 1LL << 62), ValueError);
    EXPECT_EQ(sample_boundary(square, 3).size(), 12u);
}
