#include <gtest/gtest.h>

#include "expect_contour.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>

#include "geometry/clipper_bridge.hpp"
#include "quarvo/errors.hpp"
#include "place/bl/sweep.hpp"
#include "quarvo/placer_bl.hpp"

using namespace quarvo;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::unique_ptr<Polygon> rect(double w, double h) {
    return std::make_unique<Polygon>(Contour{{0, 0}, {0, h}, {w, h}, {w, 0}});
}
// Opening downward.
std::unique_ptr<Polygon> u_shape(double w, double h, double t) {
    return std::make_unique<Polygon>(Contour{{0, 0}, {0, h}, {w, h}, {w, 0}, {w - t, 0}, {w - t, h - t}, {t, h - t}, {t, 0}});
}
// Opening left.
std::unique_ptr<Polygon> c_shape(double w, double h, double t) {
    return std::make_unique<Polygon>(Contour{{0, 0}, {0, t}, {w - t, t}, {w - t, h - t}, {0, h - t}, {0, h}, {w, h}, {w, 0}});
}
// Stem on the left, arm to the right at the top.
std::unique_ptr<Polygon> gamma_shape() {
    return std::make_unique<Polygon>(Contour{{0, 0}, {0, 26}, {25, 26}, {25, 18}, {5, 18}, {5, 0}});
}

// Test oracle: the plain free-distance search as written, every vertex
// against every edge, contacts up to `tol` behind the item included.
double plain_available_space(const Contour& item_poly, const std::vector<Contour>& packed_polys, Direction dir,
                             double tol) {
    const Contour scan = to_wall_poly(item_poly, dir);
    const bool left = dir == Direction::Left;
    double m = left ? item_poly.at(0).x : item_poly.at(0).y;
    for (const Pt& v : item_poly) m = std::min(m, left ? v.x : v.y);
    for (const Contour& other : packed_polys) {
        if (!polys_intersect(other, scan)) continue;
        for (const Pt& v : item_poly)
            for (std::size_t i = 0; i + 1 < other.size(); ++i) {
                double d = left ? horizontal_distance(v, other[i], other[i + 1]) : vertical_distance(v, other[i], other[i + 1]);
                if (d >= -tol && d < m) m = d;
            }
        for (std::size_t i = 0; i + 1 < item_poly.size(); ++i)
            for (const Pt& v : other) {
                double d = -(left ? horizontal_distance(v, item_poly[i], item_poly[i + 1])
                                  : vertical_distance(v, item_poly[i], item_poly[i + 1]));
                if (d >= -tol && d < m) m = d;
            }
    }
    return m;
}

// Test oracle: the plain slide, step for step: the model the placer must agree with.
bool reference_trypack(double bw, double bh, double eps, std::vector<Shape*>& packed, Shape& item) {
    BBox b = item.bounding_box();
    item.translate(bw - b.maxx, bh - b.miny);
    Contour poly = as_polygon(item);
    std::vector<Contour> pp;
    for (Shape* s : packed) pp.push_back(as_polygon(*s));
    double d = plain_available_space(poly, pp, Direction::Down, eps);
    bool can_move = d > eps, ok = can_move, left = true;
    while (can_move) {
        double mv = d - eps;
        if (mv < MIN_PROGRESS) break;
        if (left) {
            item.translate(0.0, -mv);
            d = plain_available_space(as_polygon(item), pp, Direction::Left, eps);
        } else {
            item.translate(-mv, 0.0);
            d = plain_available_space(as_polygon(item), pp, Direction::Down, eps);
        }
        can_move = d > eps;
        left = !left;
    }
    const double out = std::min(eps, 1e-9 * std::max(bw, bh));
    if (ok)
        for (const Pt& v : as_polygon(item))
            if (v.x < -out || v.y < -out || v.x > bw + out || v.y > bh + out) { ok = false; break; }
    if (ok) packed.push_back(&item);
    return ok;
}

double perimeter_of(const Contour& c) {
    double p = 0.0;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) p += std::hypot(c[i + 1].x - c[i].x, c[i + 1].y - c[i].y);
    return p;
}

// An overlap is more area than a contact can gain by snapping to the 1e-6 grid.
bool overlaps_any(const Shape& item, const std::vector<Shape*>& others) {
    for (const Shape* o : others) {
        if (o == &item) continue;
        Contour a = as_polygon(item), b = as_polygon(*o);
        if (intersection_area(a, b) > 1e-6 * std::min(perimeter_of(a), perimeter_of(b))) return true;
    }
    return false;
}

}  // namespace

TEST(Placer, EmptyBinLandsAtEpsilonFromBothWalls) {
    BottomLeftPlacer p(100, 100);
    auto r = rect(10, 10);
    ASSERT_TRUE(p.trypack(*r));
    BBox b = r->bounding_box();
    EXPECT_NEAR(b.minx, 0.001, 1e-12);
    EXPECT_NEAR(b.miny, 0.001, 1e-12);
    ASSERT_EQ(p.packed.size(), 1u);
    EXPECT_EQ(p.packed[0], r.get());
}

TEST(Placer, WidthOfTheBinFitsTallerThanTheBinDoesNot) {
    BottomLeftPlacer p(10, 100);
    auto w = rect(10, 5);
    EXPECT_TRUE(p.trypack(*w));
    BottomLeftPlacer q(100, 10);
    auto t = rect(5, 10.5);
    EXPECT_FALSE(q.trypack(*t));
    EXPECT_TRUE(q.packed.empty());
    EXPECT_NE(t->tx(), 0.0);  // moved, not restored
    BottomLeftPlacer r(10, 100);
    auto wide = rect(10.01, 5);
    EXPECT_FALSE(r.trypack(*wide));
}

TEST(Placer, InitialDistanceExactlyEpsilonIsRefused) {
    // A bin exactly epsilon tall: the first free distance equals epsilon.
    BottomLeftPlacer p(100, 0.25, 0.25);
    auto r = rect(1, 0.1);
    EXPECT_FALSE(p.trypack(*r));
    BBox b = r->bounding_box();
    EXPECT_EQ(b.miny, 0.25);  // left at the start position
}

TEST(Placer, ItemAlreadyPackedIsRefused) {
    BottomLeftPlacer p(100, 100);
    auto r = rect(10, 10);
    ASSERT_TRUE(p.trypack(*r));
    EXPECT_THROW(p.trypack(*r), ValueError);
    EXPECT_EQ(p.packed.size(), 1u);
}

TEST(Placer, RotationIsKept) {
    BottomLeftPlacer p(100, 100);
    auto r = rect(10, 4);
    r->set_rotation(0.3);
    ASSERT_TRUE(p.trypack(*r));
    EXPECT_EQ(r->rotation(), 0.3);
}

// The plain slide ends with the U's leg inside the 10 x 20 block below it.
TEST(CavityFault, UOverTheBlockIsRefused) {
    auto make = [] {
        std::vector<std::unique_ptr<Polygon>> v;
        v.push_back(rect(40, 10));
        v.push_back(rect(10, 20));
        v.push_back(rect(15, 10));
        v.push_back(u_shape(30, 25, 5));
        return v;
    };
    auto ref_items = make();
    std::vector<Shape*> ref_packed;
    for (auto& it : ref_items) ASSERT_TRUE(reference_trypack(60, 100, kBottomLeftClearance, ref_packed, *it));
    EXPECT_TRUE(overlaps_any(*ref_items[3], {ref_items[1].get()}));

    auto items = make();
    BottomLeftPlacer p(60, 100);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(p.trypack(*items[i]));
    EXPECT_FALSE(p.trypack(*items[3]));
    EXPECT_EQ(p.packed.size(), 3u);
    // Left where the slide ended.
    EXPECT_TRUE(same_bits(items[3]->tx(), ref_items[3]->tx()));
    EXPECT_TRUE(same_bits(items[3]->ty(), ref_items[3]->ty()));
}

// A C opening left takes the Gamma's arm into its cavity, then falls through it.
TEST(CavityFault, CFallsThroughTheGammaArmIsRefused) {
    auto make = [] {
        std::vector<std::unique_ptr<Polygon>> v;
        v.push_back(gamma_shape());
        v.push_back(rect(30, 5));
        v.push_back(rect(20, 10));
        v.push_back(c_shape(20, 24, 5));
        return v;
    };
    auto ref_items = make();
    std::vector<Shape*> ref_packed;
    for (auto& it : ref_items) ASSERT_TRUE(reference_trypack(60, 100, kBottomLeftClearance, ref_packed, *it));
    EXPECT_TRUE(overlaps_any(*ref_items[3], {ref_items[0].get()}));

    auto items = make();
    BottomLeftPlacer p(60, 100);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(p.trypack(*items[i]));
    EXPECT_FALSE(p.trypack(*items[3]));
    EXPECT_EQ(p.packed.size(), 3u);
}

TEST(CavityFault, ItemInTheBendOfAnotherIsFine) {
    BottomLeftPlacer p(30, 100);
    // Floor and left wall: an L whose bend opens up and right.
    auto bend = std::make_unique<Polygon>(Contour{{0, 0}, {0, 20}, {5, 20}, {5, 5}, {30, 5}, {30, 0}});
    auto small = rect(10, 10);
    ASSERT_TRUE(p.trypack(*bend));
    ASSERT_TRUE(p.trypack(*small));
    BBox b = small->bounding_box();
    EXPECT_NEAR(b.minx, 5.001, 1e-9);  // the bend fills the bin's width: it stayed at x = 0
    EXPECT_NEAR(b.miny, 5.002, 1e-9);
}

namespace {

std::unique_ptr<Shape> random_item(std::mt19937_64& rng, double scale) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double w = scale * (0.05 + 0.25 * u(rng)), h = scale * (0.05 + 0.25 * u(rng));
    const double t = std::min(w, h) * (0.15 + 0.3 * u(rng));
    switch (rng() % 7) {
        case 0:
            return std::make_unique<Circle>(w / 2);
        case 1: {
            int k = 3 + static_cast<int>(rng() % 7);
            Contour c;
            for (int i = 0; i < k; ++i) {
                double a = 2 * 3.141592653589793 * (i + 0.8 * u(rng)) / k;
                c.push_back({w / 2 * std::cos(a), h / 2 * std::sin(a)});
            }
            return std::make_unique<Polygon>(c);
        }
        case 2:
            return std::make_unique<Polygon>(Contour{{0, 0}, {0, h}, {t, h}, {t, t}, {w, t}, {w, 0}});  // L
        case 3: {
            Contour c = {{0, 0}, {0, h}, {w, h}, {w, 0}, {w - t, 0}, {w - t, h - t}, {t, h - t}, {t, 0}};  // U down
            if (rng() % 2) for (Pt& p : c) p.y = -p.y;                                                    // U up
            return std::make_unique<Polygon>(c);
        }
        case 4: {
            double a = (w - t) / 2;
            return std::make_unique<Polygon>(
                Contour{{a, 0}, {a, h - t}, {0, h - t}, {0, h}, {w, h}, {w, h - t}, {a + t, h - t}, {a + t, 0}});  // T
        }
        case 5: {
            Contour c = {{0, 0}, {0, h}};
            for (int i = 1; i <= 3; ++i) c.push_back({w * (i - 0.5) / 3, h - t}), c.push_back({w * i / 3, h});
            c.push_back({w, 0});
            return std::make_unique<Polygon>(c);  // zig-zag
        }
        default: {
            auto c = c_shape(w, h, t);
            if (rng() % 2) {  // mirrored: opening right
                Contour m = c->outer();
                for (Pt& p : m) p.x = -p.x;
                return std::make_unique<Polygon>(m);
            }
            return c;
        }
    }
}

}  // namespace

// The placer's slide must be the plain one, bit for bit; it may only refuse
// where the plain result overlaps a placed item.
TEST(Property, PlacerAgreesWithThePlainSlide) {
    const double eps_choices[] = {0.001, 0.01, 0.3, 0.0};
    int refused_for_overlap = 0, compared = 0;
    for (int trial = 0; trial < 40; ++trial) {
        std::mt19937_64 rng(1000 + trial);
        const double bw = 40 + (rng() % 80), bh = 40 + (rng() % 80);
        const double eps = eps_choices[trial % 4];
        std::mt19937_64 rng_a(trial), rng_b(trial);
        std::vector<std::unique_ptr<Shape>> mine, theirs;
        BottomLeftPlacer p(bw, bh, eps);
        for (int i = 0; i < 35; ++i) {
            mine.push_back(random_item(rng_a, 60));
            theirs.push_back(random_item(rng_b, 60));
            if (i % 5 == 4) {
                mine.back()->set_rotation(0.1 * i);
                theirs.back()->set_rotation(0.1 * i);
            }
            std::vector<Shape*> ref_packed = p.packed;  // the same placed items
            bool want = reference_trypack(bw, bh, eps, ref_packed, *theirs.back());
            bool got = p.trypack(*mine.back());
            ++compared;
            ASSERT_TRUE(same_bits(mine.back()->tx(), theirs.back()->tx())) << "trial " << trial << " item " << i;
            ASSERT_TRUE(same_bits(mine.back()->ty(), theirs.back()->ty())) << "trial " << trial << " item " << i;
            if (want && !got) {
                ++refused_for_overlap;
                ASSERT_TRUE(overlaps_any(*theirs.back(), p.packed)) << "trial " << trial << " item " << i;
            } else {
                ASSERT_EQ(got, want) << "trial " << trial << " item " << i;
            }
            if (got) {
                ASSERT_FALSE(overlaps_any(*mine.back(), p.packed));
            }
        }
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(refused_for_overlap, 0);  // the cavity fault does come up
}

TEST(Property, PlacedItemMovedByTheCallerIsSeenWhereItIs) {
    BottomLeftPlacer p(50, 50);
    auto a = rect(20, 20), b = rect(20, 20);
    ASSERT_TRUE(p.trypack(*a));
    a->translate(25, 0);  // now under the start position of the next item
    auto c = rect(20, 20);
    std::vector<Shape*> ref_packed = p.packed;
    ASSERT_TRUE(reference_trypack(50, 50, kBottomLeftClearance, ref_packed, *c));
    ASSERT_TRUE(p.trypack(*b));
    EXPECT_EQ(b->tx(), c->tx());
    EXPECT_EQ(b->ty(), c->ty());
    // Seen where it is now, the moved item lets the new one down to the floor
    // and to the wall.
    EXPECT_NEAR(b->bounding_box().minx, 0.001, 1e-9);
    EXPECT_NEAR(b->bounding_box().miny, 0.001, 1e-9);
}

TEST(Degenerate, PointsSegmentsAndCollinearItemsAreRefusedWhenBuilt) {
    std::vector<Contour> shapes = {{{3, 3}}, {{0, 0}, {5, 2}}, {{0, 0}, {4, 0}, {8, 0}}, {{0, 0}, {0, 6}, {0, 3}}};
    for (const Contour& c : shapes) EXPECT_THROW(Polygon p(c), ValueError);
}

TEST(Validation, NonFiniteInputsRaiseBeforeMoving) {
    auto r = rect(5, 5);
    for (double bad : {kNaN, kInf, -kInf}) {
        BottomLeftPlacer p1(bad, 10), p2(10, bad), p3(10, 10, bad);
        EXPECT_THROW(p1.trypack(*r), ValueError);
        EXPECT_THROW(p2.trypack(*r), ValueError);
        EXPECT_THROW(p3.trypack(*r), ValueError);
        EXPECT_EQ(r->tx(), 0.0);
        EXPECT_EQ(r->ty(), 0.0);
    }
    BottomLeftPlacer p(10, 10);
    Circle c(kInf);
    EXPECT_THROW(p.trypack(c), ValueError);
    auto q = rect(1, 1);
    q->set_ty(kNaN);
    EXPECT_THROW(p.trypack(*q), ValueError);
    EXPECT_TRUE(std::isnan(q->ty()));
    EXPECT_EQ(q->tx(), 0.0);
    // The start position would overflow.
    BottomLeftPlacer huge(1.7e308, 10);
    auto far_left = rect(1, 1);
    far_left->set_tx(-1.7e308);
    EXPECT_THROW(huge.trypack(*far_left), ValueError);
    EXPECT_EQ(far_left->tx(), -1.7e308);
    EXPECT_TRUE(p.packed.empty());
}

TEST(Validation, BeyondTheRangeIsRefusedAsByTheNfpPlacer) {
    BottomLeftPlacer p(1e300, 1e300);
    auto a = rect(1, 1);
    EXPECT_THROW(p.trypack(*a), ValueError);
    BottomLeftPlacer s(100, 100);
    Circle far(1.0);
    far.set_tx(1e13);
    EXPECT_THROW(s.trypack(far), ValueError);
    EXPECT_EQ(far.tx(), 1e13);
}

// Steps far below the spacing of the coordinates leave the contour as it was:
// the plain loop would repeat the same two moves some 10^8 times.
TEST(Validation, StepsThatMoveNothingEndTheSlide) {
    const double G = 549755813888.0;  // 2^39: neighbouring doubles 2^-13 apart
    // (items large enough for the engine's tolerance out there, 5.5e-3)
    const double U = 1.0 / 8192, S = 256 * U;
    // Built at the origin and moved there: the outline's area stays exact.
    auto sq = [](double x0, double y0, double x1, double y1) {
        auto p = std::make_unique<Polygon>(Contour{{0, 0}, {0, y1 - y0}, {x1 - x0, y1 - y0}, {x1 - x0, 0}});
        p->set_position(x0, y0);
        return p;
    };
    auto item = sq(G, G, G + S, G + S);
    auto below = sq(G - S, G, G + S, G + S - U);
    auto beside = sq(G - S, G + S, G - U, G + 2 * S);
    BottomLeftPlacer p(G + S, G + S, U - U / 1e8);
    p.packed = {below.get(), beside.get()};
    EXPECT_FALSE(p.trypack(*item));  // returns; ends above the bin
    EXPECT_EQ(item->bounding_box().miny, G + S);
}
