#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/outline_offset.hpp"

using namespace quarvo;

namespace {

Contour closed(Contour c) {
    c.push_back(c.front());
    return c;
}

Contour star() {
    Contour s;
    for (int k = 0; k < 10; ++k) {
        const double a = M_PI * k / 5, r = k % 2 ? 38.8 : 72.9;
        s.push_back({r * std::cos(a), r * std::sin(a)});
    }
    return s;
}

double dist_pt_seg(Pt p, Pt a, Pt b) {
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    double t = l2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2 : 0.0;
    t = std::fmax(0.0, std::fmin(1.0, t));
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// The least distance from the vertices of `poly` to the edges of `grown`:
// no less than the offset where `grown` keeps the full distance.
double least_clearance(const Contour& poly, const Contour& grown) {
    double best = INFINITY;
    for (const Pt& p : poly)
        for (std::size_t i = 0; i + 1 < grown.size(); ++i) best = std::fmin(best, dist_pt_seg(p, grown[i], grown[i + 1]));
    return best;
}

}  // namespace

TEST(OffsetOutline, ANearTwinThatCutsTheOffsetIsMergedAndTheDistanceKept) {
    // A star's inner corner given again 1.5e-12 to its right: that edge's
    // moved line crossed its neighbours' far off, and the written offset lost
    // a point of the star.
    const Contour plain = closed(star());
    Contour t = star();
    t.insert(t.begin() + 4, Pt{t[3].x + 1.5e-12, t[3].y});
    const Contour twin = closed(t);
    for (double d : {39.2, 3.0}) {
        EXPECT_FALSE(offset_loses_distance(plain, d));
        EXPECT_EQ(offset_outline(plain, d), offset_convex(plain, d)) << d;  // nothing to mend: the written offset
        EXPECT_TRUE(offset_loses_distance(twin, d)) << d;
        // mended: the star's own offset, but for the hair it grows by
        const Contour mended = offset_outline(twin, d), want = offset_convex(plain, d);
        ASSERT_EQ(mended.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_NEAR(mended[i].x, want[i].x, 1e-9) << d;
            EXPECT_NEAR(mended[i].y, want[i].y, 1e-9) << d;
        }
    }
    // (with the smaller distance the star's own offset keeps the distance everywhere)
    EXPECT_LT(least_clearance(twin, offset_convex(twin, 3.0)), 3.0 - 1e-3);
    EXPECT_GE(least_clearance(twin, offset_outline(twin, 3.0)), 3.0 * (1 - 1e-12));
}

TEST(OffsetOutline, TwinsThatTurnWithTheirNeighboursKeepTheWrittenOffset) {
    // Random convex polygons with one vertex given again a hair away, in any
    // direction: wherever the written offset keeps the distance it is
    // returned bit for bit, and the result always keeps it.
    std::mt19937 gen(34);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int mended = 0, kept = 0;
    for (int round = 0; round < 400; ++round) {
        const int n = 3 + static_cast<int>(u(gen) * 10);
        const double r = std::pow(10.0, -2 + 6 * u(gen)), ph = 2 * M_PI * u(gen);
        Contour c;
        for (int k = 0; k < n; ++k) c.push_back({r * std::cos(ph - 2 * M_PI * k / n), r * std::sin(ph - 2 * M_PI * k / n)});
        const std::size_t at = static_cast<std::size_t>(u(gen) * n);
        const double hair = r * std::pow(10.0, -12 + 3 * u(gen)), a = 2 * M_PI * u(gen);
        c.insert(c.begin() + static_cast<long>(at) + 1, Pt{c[at].x + hair * std::cos(a), c[at].y + hair * std::sin(a)});
        const Contour poly = closed(c);
        const double d = r * std::pow(10.0, -3 + 3 * u(gen));
        const Contour got = offset_outline(poly, d);
        if (offset_loses_distance(poly, d)) ++mended;
        else {
            ++kept;
            EXPECT_EQ(got, offset_convex(poly, d)) << round;
        }
        EXPECT_GE(least_clearance(poly, got), d - 1e-12 * (r + d))
            << round << " short by " << (d - least_clearance(poly, got)) / (r + d) << " mended "
            << offset_loses_distance(poly, d) << " hair " << hair / r;
    }
    EXPECT_GT(mended, 20);
    EXPECT_GT(kept, 20);
}

TEST(OffsetOutline, MovedEdgesAtAnAngleMeetWhereTheirLinesMeetHoweverShort) {
    // An outline 2e-4 across grown by 1.24e-3: its shortest edges (3e-7 and
    // 2.4e-6 long, at 3.8 and 19 degrees) have cross products under the
    // written 1e-12, which took the end of the first moved edge for their
    // meeting point and cut the corner: 5.3e-5 short of the distance.
    const Contour poly = closed({{-2.1892867159110946e-05, 9.562976122860478e-05},
                                 {3.4120925420848214e-05, -4.325795372690817e-05},
                                 {9.376657401215536e-06, -0.00011533132403151342},
                                 {7.504719501616776e-06, -0.00011677715398267452},
                                 {7.251589938068439e-06, -0.00011694687131013907},
                                 {-1.518215912051633e-06, -0.000119207932866568},
                                 {-3.605058542492862e-05, -2.081533556092856e-05},
                                 {-3.600874511130505e-05, 2.157072518572181e-05},
                                 {-2.683251671843395e-05, 8.117299004604493e-05}});
    const double d = 0.0012403832858911708;
    EXPECT_TRUE(offset_loses_distance(poly, d));
    EXPECT_LT(least_clearance(poly, offset_convex(poly, d)), d - 5e-5);
    EXPECT_GE(least_clearance(poly, offset_outline(poly, d)), d * (1 - 1e-12));
    // the same outline a thousand times larger meets the written rule: the written offset
    Contour big = poly;
    for (Pt& p : big) p = {p.x * 1e3, p.y * 1e3};
    EXPECT_FALSE(offset_loses_distance(big, d * 1e3));
    EXPECT_EQ(offset_outline(big, d * 1e3), offset_convex(big, d * 1e3));
}
