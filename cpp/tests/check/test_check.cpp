#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "quarvo/check.hpp"
#include "quarvo/errors.hpp"

using namespace quarvo;

namespace {
Contour rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
}
Outline box(double x0, double y0, double x1, double y1) { return polygon_outline(rect(x0, y0, x1, y1)); }
// A 30 x 30 frame at (50, 50) with a 20 x 20 hole.
Outline frame() { return polygon_outline(rect(50, 50, 80, 80), {rect(55, 55, 75, 75)}); }

std::vector<Violation> check(const std::vector<Outline>& items, double distance, double tol = 1e-6) {
    CheckOptions o;
    o.bin_w = 100;
    o.bin_h = 100;
    o.distance = distance;
    o.tol = tol;
    return check_outlines(items, o);
}
}  // namespace

TEST(MeasurePair, SquaresApartTouchingOverlappingCoincident) {
    auto apart = measure_pair(box(0, 0, 10, 10), box(10.5, 3, 20, 8));
    EXPECT_NEAR(apart.clearance, 0.5, 1e-12);
    EXPECT_EQ(apart.depth, 0.0);
    auto corner = measure_pair(box(0, 0, 10, 10), box(13, 14, 20, 20));
    EXPECT_NEAR(corner.clearance, 5.0, 1e-12);
    auto touch = measure_pair(box(0, 0, 10, 10), box(10, 0, 20, 10));
    EXPECT_EQ(touch.clearance, 0.0);
    EXPECT_EQ(touch.depth, 0.0);
    auto over = measure_pair(box(0, 0, 10, 10), box(9.99, 2, 20, 8));
    EXPECT_NEAR(over.depth, 0.01, 1e-9);
    EXPECT_EQ(over.clearance, -over.depth);
    auto same = measure_pair(box(0, 0, 10, 10), box(0, 0, 10, 10));
    EXPECT_NEAR(same.depth, 5.0, 1e-9);
    // Crossing bars: no vertex of either lies in the other.
    auto cross = measure_pair(box(0, 4, 20, 6), box(9, 0, 11, 20));
    EXPECT_GT(cross.depth, 0.9);
    // Wholly inside: its outline lies 4 deep in the other.
    auto inside = measure_pair(box(0, 0, 10, 10), box(4, 4, 6, 6));
    EXPECT_NEAR(inside.depth, 4.0, 1e-9);
}

TEST(MeasurePair, CirclesAreExactNotPolygons) {
    // Off a square's corner in a direction halfway between two vertices of a
    // 64-gon, which would be r * (1 - cos(pi / 64)) = 0.012 farther.
    const double pi = std::acos(-1.0), a = pi / 4 + pi / 64, r = 10.0;
    auto diag = measure_pair(box(0, 0, 10, 10), circle_outline({10 + 12 * std::cos(a), 10 + 12 * std::sin(a)}, r));
    EXPECT_NEAR(diag.clearance, 2.0, 1e-12);
    auto cc = measure_pair(circle_outline({0, 0}, 3), circle_outline({7.5, 0}, 4));
    EXPECT_NEAR(cc.clearance, 0.5, 1e-12);
    auto lens = measure_pair(circle_outline({0, 0}, 3), circle_outline({6.99, 0}, 4));
    EXPECT_NEAR(lens.depth, 0.01, 1e-12);
    auto nested = measure_pair(circle_outline({0, 0}, 10), circle_outline({1, 0}, 2));
    EXPECT_NEAR(nested.depth, 9.0, 1e-12);
    auto into_edge = measure_pair(box(0, 0, 10, 10), circle_outline({15, 5}, 5.01));
    EXPECT_NEAR(into_edge.depth, 0.01, 1e-6);
}

TEST(MeasurePair, ContainerHolesAreEmpty) {
    EXPECT_NEAR(measure_pair(frame(), circle_outline({65, 65}, 5)).clearance, 5.0, 1e-12);
    EXPECT_NEAR(measure_pair(frame(), box(60, 60, 74.5, 70)).clearance, 0.5, 1e-12);
    EXPECT_NEAR(measure_pair(box(60, 60, 74.5, 70), frame()).clearance, 0.5, 1e-12);
    EXPECT_GT(measure_pair(frame(), circle_outline({57, 65}, 5)).depth, 2.9);
    EXPECT_GT(measure_pair(frame(), box(52, 60, 60, 70)).depth, 2.9);
    // Wholly inside the frame's 5-wide wall, touching neither contour: the
    // middle of its bottom edge is 2.5 from both walls.
    EXPECT_NEAR(measure_pair(frame(), box(51, 60, 54, 62)).depth, 2.5, 1e-6);
    // A whole container sitting in another's hole.
    Outline small = polygon_outline(rect(58, 58, 70, 70), {rect(60, 60, 68, 68)});
    EXPECT_NEAR(measure_pair(frame(), small).clearance, 3.0, 1e-12);
}

TEST(MeasurePair, RandomCirclePairsMatchClosedForm) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> pos(-20, 20), rad(0.5, 10);
    for (int k = 0; k < 2000; ++k) {
        Pt c1{pos(gen), pos(gen)}, c2{pos(gen), pos(gen)};
        double r1 = rad(gen), r2 = rad(gen), d = std::hypot(c1.x - c2.x, c1.y - c2.y);
        auto pm = measure_pair(circle_outline(c1, r1), circle_outline(c2, r2));
        if (d >= r1 + r2) {
            EXPECT_NEAR(pm.clearance, d - r1 - r2, 1e-9);
            EXPECT_EQ(pm.depth, 0.0);
        } else {
            // The deepest point of one curve inside the other disc, or a disc
            // about a centre that both cover.
            double want = std::max(r2 - std::fabs(r1 - d), r1 - std::fabs(r2 - d));
            if (d < r2) want = std::max(want, std::min(r1, r2 - d));
            if (d < r1) want = std::max(want, std::min(r2, r1 - d));
            EXPECT_NEAR(pm.depth, want, 1e-9) << k;
        }
    }
}

TEST(CheckOutlines, FindsEachFault) {
    auto v = check({box(0, 0, 10, 10), box(9.99, 0, 20, 10), box(20.5, 0, 30, 10), box(90.01, 0, 100.01, 10),
                    circle_outline({50, 50}, std::numeric_limits<double>::quiet_NaN())},
                   1.0);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].kind, ViolationKind::Overlap);
    EXPECT_NEAR(v[0].amount, 0.01, 1e-9);
    EXPECT_EQ(v[1].kind, ViolationKind::TooClose);
    EXPECT_EQ(v[1].first, 1u);
    EXPECT_EQ(v[1].second, 2u);
    EXPECT_NEAR(v[1].amount, 0.5, 1e-9);
    EXPECT_NEAR(v[1].clearance, 0.5, 1e-9);
    EXPECT_EQ(v[2].kind, ViolationKind::Outside);
    EXPECT_NEAR(v[2].amount, 0.01, 1e-9);
    EXPECT_EQ(v[3].kind, ViolationKind::Invalid);
    EXPECT_EQ(v[3].first, 4u);
}

TEST(CheckOutlines, ToleranceAndNegativeDistance) {
    std::vector<Outline> pair{box(0, 0, 10, 10), box(9.99, 0, 20, 10)};
    EXPECT_TRUE(check(pair, 0.0, 0.02).empty());
    EXPECT_EQ(check(pair, 0.0, 0.005).size(), 1u);
    EXPECT_TRUE(check(pair, -0.02, 0.0).empty());
    std::vector<Outline> touching{box(0, 0, 10, 10), box(10, 0, 20, 10)};
    EXPECT_TRUE(check(touching, 0.0, 0.0).empty());
    auto v = check(touching, 2.0);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].kind, ViolationKind::TooClose);
    EXPECT_EQ(v[0].amount, 2.0);
    // Circle slack grows with the radius plus half the distance.
    std::vector<Outline> circles{circle_outline({10, 10}, 5), circle_outline({21.99, 10}, 5)};
    CheckOptions o{100, 100, 2.0, 0.0, 0.0008};  // slack 2 * 0.0008 * (5 + 1) < 0.01
    EXPECT_EQ(check_outlines(circles, o).size(), 1u);
    o.circle_rel_tol = 0.0009;
    EXPECT_TRUE(check_outlines(circles, o).empty());
}

// A caller that knows some pairs sound judges only the others; the items
// outside the bin are still reported, whatever the filter says.
TEST(CheckOutlines, OnlyThePairsTheFilterAcceptsAreJudged) {
    // 0 overlaps 1, 1 overlaps 2, 3 lies partly outside the bin.
    std::vector<Outline> row{box(0, 0, 10, 10), box(9, 0, 20, 10), box(19, 0, 30, 10), box(95, 0, 105, 10)};
    CheckOptions o{100, 100, 0.0, 1e-6};
    auto kinds = [&](const std::vector<Violation>& v) {
        std::vector<std::tuple<std::size_t, std::size_t, ViolationKind>> out;
        for (const Violation& x : v) out.emplace_back(x.first, x.second, x.kind);
        return out;
    };
    using K = ViolationKind;
    EXPECT_EQ(kinds(check_outlines(row, o)),
              (decltype(kinds({})){{0, 1, K::Overlap}, {1, 2, K::Overlap}, {3, 3, K::Outside}}));
    o.judge = [](std::size_t i, std::size_t j) { return i == 2 || j == 2; };
    EXPECT_EQ(kinds(check_outlines(row, o)), (decltype(kinds({})){{1, 2, K::Overlap}, {3, 3, K::Outside}}));
    o.judge = [](std::size_t, std::size_t) { return false; };
    EXPECT_EQ(kinds(check_outlines(row, o)), (decltype(kinds({})){{3, 3, K::Outside}}));
}

// Over random rows of boxes and random filters: the violations judged with a
// filter are those judged without it, less the pairs it refuses.
TEST(CheckOutlines, AFilterOnlyLeavesOutThePairsItRefuses) {
    std::mt19937 gen(23);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int round = 0; round < 200; ++round) {
        std::vector<Outline> items;
        for (int k = 0; k < 12; ++k) {
            const double x = 95 * u(gen), y = 95 * u(gen);
            items.push_back(box(x, y, x + 2 + 8 * u(gen), y + 2 + 8 * u(gen)));
        }
        std::vector<char> accept(items.size() * items.size());
        for (char& a : accept) a = u(gen) < 0.5;
        CheckOptions o{100, 100, u(gen) < 0.5 ? 0.0 : 1.0, 1e-6};
        std::vector<Violation> want;
        for (const Violation& v : check_outlines(items, o))
            if (v.first == v.second || accept[v.first * items.size() + v.second]) want.push_back(v);
        o.judge = [&](std::size_t i, std::size_t j) { return accept[i * items.size() + j] != 0; };
        const std::vector<Violation> got = check_outlines(items, o);
        ASSERT_EQ(got.size(), want.size()) << round;
        for (std::size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(got[k].first, want[k].first);
            EXPECT_EQ(got[k].second, want[k].second);
            EXPECT_EQ(got[k].kind, want[k].kind);
            EXPECT_EQ(got[k].amount, want[k].amount);
        }
    }
}

TEST(CheckOutlines, PayloadAndLengthAreJudged) {
    std::vector<Outline> items{box(0, 0, 10, 10), box(20, 0, 30, 10), box(40, 0, 50, 10)};
    items[0].mass = 60;
    items[1].mass = 50;
    items[1].length = 12;  // a pipe of 12 m
    CheckOptions o{100, 100, 0.0};
    EXPECT_TRUE(check_outlines(items, o).empty());
    o.max_load = 110;
    o.length = 12000;
    EXPECT_TRUE(check_outlines(items, o).empty());  // at the limits exactly
    o.max_load = 100;
    o.length = 5898;
    auto v = check_outlines(items, o);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].kind, ViolationKind::Overloaded);
    EXPECT_EQ(v[0].first, 1u);  // the item that takes the load past the limit
    EXPECT_EQ(v[0].amount, 10.0);
    EXPECT_EQ(v[0].value, 110.0);
    EXPECT_EQ(v[1].kind, ViolationKind::TooLong);
    EXPECT_EQ(v[1].first, 1u);
    EXPECT_EQ(v[1].amount, 12000.0 - 5898.0);
    EXPECT_EQ(v[1].value, 12.0);
    o.max_load = 0.0;
    EXPECT_THROW(check_outlines(items, o), ValueError);
}

TEST(CheckOutlines, InclusionIsOverlapWhateverTouches) {
    // A disc wholly inside a square, touching its edge from inside: its
    // probe point lies on the edge, and no cutoff may call the pair apart.
    for (double r : {0.1, 0.6240205520383647, 1.7, 3.3594839052874916}) {
        auto v = check({box(0, 0, 9, 9), circle_outline({9 - r, 4.5}, r)}, 0.0);
        ASSERT_EQ(v.size(), 1u) << r;
        EXPECT_EQ(v[0].kind, ViolationKind::Overlap);
        EXPECT_GE(v[0].amount, r);  // its centre lies r inside, and it is all inside
    }
}

TEST(CheckOutlines, BelowTheGridNoToleranceCoversAnOverlap) {
    CheckOptions o{1e-6, 1e-6, 0.0};
    auto v = check_outlines({circle_outline({0, 0}, 4e-7), circle_outline({4e-7, 4e-7}, 4e-7)}, o);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].kind, ViolationKind::Outside);
    EXPECT_EQ(v[1].kind, ViolationKind::Overlap);
    EXPECT_NEAR(area_over_perimeter(circle_outline({0, 0}, 4e-7)), 2e-7, 1e-20);
    EXPECT_NEAR(area_over_perimeter(ring_outline({0, 0}, 5, 3)), 1.0, 1e-15);
    EXPECT_NEAR(area_over_perimeter(frame()), 500.0 / 200.0, 1e-12);
}

TEST(CheckOutlines, RejectsBadOptions) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (CheckOptions o : {CheckOptions{nan, 1, 0, 0, 0}, CheckOptions{1, inf, 0, 0, 0}, CheckOptions{1, 1, nan, 0, 0},
                           CheckOptions{1, 1, 0, -1e-9, 0}, CheckOptions{1, 1, 0, 0, -1}, CheckOptions{1, 1, 0, 0, nan}})
        EXPECT_THROW(check_outlines({box(0, 0, 1, 1)}, o), ValueError);
}

TEST(CheckOutlines, DegenerateOutlinesDoNotBreak) {
    std::vector<Outline> odd{polygon_outline({{5, 5}}), polygon_outline({{1, 1}, {3, 1}}), polygon_outline({}),
                             circle_outline({5, 5}, 0), circle_outline({5, 5}, -1), polygon_outline({{1e200, 0}, {0, 1}, {1, 1}}),
                             box(0, 0, 10, 10)};
    auto v = check(odd, 1.0);
    int invalid = 0;
    for (const auto& x : v) invalid += x.kind == ViolationKind::Invalid;
    EXPECT_EQ(invalid, 3);
}

TEST(CheckOutlines, RandomGarbageOutlinesNeverBreak) {
    std::mt19937 gen(11);
    const double specials[] = {0.0, -0.0, 1e-300, 1e99, 1e101, -1e99, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), 5.0, 5.0};
    std::uniform_real_distribution<double> coord(-10, 60), unit(0, 1);
    auto num = [&] { return unit(gen) < 0.1 ? specials[gen() % 10] : coord(gen); };
    for (int round = 0; round < 300; ++round) {
        std::vector<Outline> items;
        for (int k = 0, n = 1 + static_cast<int>(gen() % 8); k < n; ++k) {
            if (gen() % 3 == 0) {
                items.push_back(circle_outline({num(), num()}, unit(gen) < 0.2 ? num() : 20 * unit(gen)));
                continue;
            }
            auto ring = [&](int m) {
                Contour c;
                for (int i = 0; i < m; ++i) c.push_back({num(), num()});
                return c;
            };
            std::vector<Contour> holes;
            for (int h = static_cast<int>(gen() % 3); h > 0; --h) holes.push_back(ring(static_cast<int>(gen() % 6)));
            items.push_back(polygon_outline(ring(static_cast<int>(gen() % 12)), holes));
        }
        CheckOptions o{50, 50, (gen() % 2) ? 1.0 : 0.0, (gen() % 2) ? 0.0 : 1e-6, 0.0};
        auto v = check_outlines(items, o);
        for (const auto& x : v) {
            EXPECT_LT(x.first, items.size());
            EXPECT_LT(x.second, items.size());
            EXPECT_FALSE(std::isnan(x.amount));
        }
    }
}

TEST(CheckGravity, FloatingItemsWithTheirReasonAndWhoHoldsWhom) {
    const std::vector<Outline> items = {
        circle_outline({10, 10}, 10),                           // on the floor
        circle_outline({30, 10}, 10),                           // on the floor
        circle_outline({20, 10 + 10 * std::sqrt(3.0)}, 10),     // in the valley of the two
        circle_outline({70, 50}, 5),                            // in mid-air
        circle_outline({30, 10 + 20 * std::sqrt(3.0)}, 10),   // on the shoulder of 2
    };
    CheckOptions opt;
    opt.bin_w = 100;
    opt.bin_h = 100;
    EXPECT_TRUE(check_outlines(items, opt).empty());  // no gravity: sound
    opt.gravity = true;
    const std::vector<Violation> v = check_outlines(items, opt);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].kind, ViolationKind::Floating);
    EXPECT_EQ(v[0].first, 3u);
    EXPECT_STREQ(v[0].why, "no contact");
    EXPECT_EQ(v[1].first, 4u);
    const std::vector<RestState> st = rest_states(items, opt);
    EXPECT_EQ(st[2].supports, (std::vector<std::size_t>{0, 1}));
    EXPECT_TRUE(st[0].supports.empty());
    EXPECT_EQ(st[4].supports, (std::vector<std::size_t>{2}));
    // The item's own spacers widen its contacts: the floating disc lifted 1 above the floor.
    std::vector<Outline> lifted = {circle_outline({50, 11}, 10)};
    EXPECT_FALSE(rest_states(lifted, opt)[0].rests);
    lifted[0].extra = 0.5;
    EXPECT_FALSE(rest_states(lifted, opt)[0].rests);  // half the gap: a spacer that short holds nothing
    lifted[0].extra = 1.0;
    EXPECT_TRUE(rest_states(lifted, opt)[0].rests);
    opt.contact_tol = -1.0;
    EXPECT_THROW(check_outlines(items, opt), ValueError);
}

// A pipe's ring: what lies in its bore is apart from it by the gap to the
// bore's wall, what crosses the wall overlaps it as deep as it reaches into
// the wall's material, and a ring is judged without the circles' tolerance.
TEST(CheckRing, BoreIsEmptySpaceAndTheWallIsMaterial) {
    struct Case {
        Outline other;
        double clearance;  // with the ring of radius 20, bore 15 at (50, 50)
    };
    const Outline ring = ring_outline({50, 50}, 20.0, 15.0);
    const Case cases[] = {
        {circle_outline({50, 50}, 10.0), 5.0},                   // in the bore, centred
        {circle_outline({53, 50}, 10.0), 2.0},                   // in the bore, off centre
        {circle_outline({80, 50}, 5.0), 5.0},                    // outside
        {circle_outline({62, 50}, 5.0), -2.0},                   // across the bore's wall: 2 into it
        {box(45, 45, 55, 55), 15.0 - std::hypot(5.0, 5.0)},      // a square in the bore
        {ring_outline({50, 50}, 14.0, 10.0), 1.0},               // a ring in the ring
        {ring_outline({50, 50}, 20.0, 15.0), -2.5},              // the same ring: its wall's half
        {ring_outline({50, 50}, 30.0, 25.0), 5.0},               // the ring in another's bore
    };
    for (const Case& c : cases) {
        const PairMeasure m = measure_pair(ring, c.other);
        EXPECT_NEAR(m.clearance, c.clearance, 1e-9) << c.clearance;
        const PairMeasure back = measure_pair(c.other, ring);
        EXPECT_NEAR(back.clearance, c.clearance, 1e-9) << c.clearance;
    }
    // a ring 1e-3 short of the distance is too close whatever the circle tolerance
    CheckOptions o;
    o.bin_w = o.bin_h = 100;
    o.distance = 1.001;
    o.circle_rel_tol = 0.01;
    const auto v = check_outlines({ring, ring_outline({50, 50}, 14.0, 10.0)}, o);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].kind, ViolationKind::TooClose);
    EXPECT_FALSE(ring_outline({0, 0}, 5.0, 6.0).valid);
}

TEST(CheckOutlines, EdgeMarginIsKeptOrReported) {
    CheckOptions o;
    o.bin_w = 100;
    o.bin_h = 100;
    o.margin = 10;
    // 10 from every edge: fine; 7 from the top: 3 short; outside: only outside
    std::vector<Outline> items{box(10, 10, 30, 30), box(40, 60, 60, 93), circle_outline({80, 20}, 12), box(-1, 40, 5, 50)};
    std::vector<Violation> v = check_outlines(items, o);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].kind, ViolationKind::NearEdge);
    EXPECT_EQ(v[0].first, 1u);
    EXPECT_NEAR(v[0].amount, 3.0, 1e-12);
    EXPECT_NEAR(v[0].clearance, 7.0, 1e-12);
    EXPECT_EQ(v[1].kind, ViolationKind::NearEdge);  // the circle's true edge is 8 from the right
    EXPECT_NEAR(v[1].clearance, 8.0, 1e-12);
    EXPECT_EQ(v[2].kind, ViolationKind::Outside);
    o.margin = 0.0;
    EXPECT_EQ(check_outlines(items, o).size(), 1u);
    o.margin = -1.0;
    EXPECT_THROW(check_outlines(items, o), ValueError);
}
