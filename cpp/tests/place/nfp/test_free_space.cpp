#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "geometry/clipper_bridge.hpp"
#include "nfp/nfp_cache.hpp"
#include "nfp/union_paths.hpp"
#include "place/nfp/candidate_search.hpp"
#include "place/nfp/free_space.hpp"
#include "place/nfp/refusals.hpp"
#include "place/nfp/windowed_search.hpp"
#include "quarvo/placer_nfp.hpp"

using namespace quarvo;

namespace {

// Random circles and convex polygons (inflated by 1), overlapping or not.
std::vector<std::unique_ptr<Shape>> random_scene(std::mt19937& rng, int n, double w, double h) {
    std::uniform_real_distribution<double> ux(0, w), uy(0, h), ur(2, 14), ua(0, 2 * 3.141592653589793);
    std::vector<std::unique_ptr<Shape>> out;
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<Shape> s;
        if (rng() % 2) {
            s = std::make_unique<Circle>(ur(rng));
        } else {
            const double rx = ur(rng), ry = ur(rng), a0 = ua(rng);
            Contour c;
            for (int k = 0; k < 5; ++k) {
                const double a = a0 - 2 * 3.141592653589793 * k / 5;
                c.push_back({rx * std::cos(a), ry * std::sin(a)});
            }
            c.push_back(c.front());
            s = std::make_unique<Polygon>(c);
            s->set_rotation(ua(rng));
        }
        s->set_infl(1.0);
        s->set_position(ux(rng), uy(rng));
        out.push_back(std::move(s));
    }
    return out;
}

double area(const ClipperLib::Paths& p) {
    double a = 0;
    for (const ClipperLib::Path& q : p) a += ClipperLib::Area(q);
    return a;
}

}  // namespace

// The free space the store keeps, built item by item, is the bin's places of
// the probe's centre less the union of the items' Minkowski sums with the
// probe (Clipper's own sum), up to the grid.
TEST(FreeSpace, EqualsTheBinLessTheUnionOfTheNfps) {
    std::mt19937 rng(5);
    for (int scene = 0; scene < 8; ++scene) {
        const double w = 160, h = 120;
        auto items = random_scene(rng, 6 + scene * 2, w, h);
        std::vector<Shape*> packed;
        FreeSpace fs;
        Circle mover(3.0 + scene);
        const Probe probe = probe_for(mover, w, h);
        ASSERT_TRUE(probe.usable);
        int level = 0;
        for (auto& it : items) {  // extended one item at a time
            packed.push_back(it.get());
            level = fs.windows(probe, packed, w, h, [] {}).level;
        }
        const double rho = probe_radius(level);
        const ClipperLib::Path disc = to_path(circle_to_polygon({0, 0}, rho, 64));
        ClipperLib::Clipper want;
        const double m = 1e-5 + 1e-12 * (w + h);
        want.AddPath(to_path({{rho - m, rho - m}, {w - rho + m, rho - m}, {w - rho + m, h - rho + m}, {rho - m, h - rho + m},
                              {rho - m, rho - m}}),
                     ClipperLib::ptSubject, true);
        for (Shape* s : packed) {
            if (s->is_circle()) {  // 64-gons share their edge directions: the sum is the 64-gon of the summed radii
                ClipperLib::Path sum = to_path(circle_to_polygon({s->tx(), s->ty()}, circle_cast(*s).rotated_shape().radius + rho, 64));
                ClipperLib::ReversePath(sum);  // counter-clockwise, as the polygons' sums
                want.AddPath(sum, ClipperLib::ptClip, true);
                continue;
            }
            Contour c = s->is_circle() ? circle_to_polygon({s->tx(), s->ty()}, circle_cast(*s).rotated_shape().radius, 64)
                                       : polygon_cast(*s).rotated_contour();
            if (!s->is_circle())
                for (Pt& p : c) p = {p.x + s->tx(), p.y + s->ty()};
            // Clipper sums the outlines; with the outline itself and the probe at
            // one of its vertices, that fills the sum of two convex shapes
            ClipperLib::Path outline = to_path(c);
            if (!ClipperLib::Orientation(outline)) ClipperLib::ReversePath(outline);
            ClipperLib::Paths sum;
            ClipperLib::MinkowskiSum(disc, outline, sum, true);
            sum.push_back(outline);
            ClipperLib::Path moved = disc;
            for (ClipperLib::IntPoint& q : moved) q = {q.X + outline[0].X, q.Y + outline[0].Y};
            if (!ClipperLib::Orientation(moved)) ClipperLib::ReversePath(moved);
            sum.push_back(moved);
            ClipperLib::Clipper u;
            u.AddPaths(sum, ClipperLib::ptSubject, true);
            u.Execute(ClipperLib::ctUnion, sum, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
            want.AddPaths(sum, ClipperLib::ptClip, true);
        }
        ClipperLib::Paths expected;
        want.Execute(ClipperLib::ctDifference, expected, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        ClipperLib::Paths got;
        for (const FreeSpace::Piece& p : *fs.pieces(level)) got.insert(got.end(), p.paths.begin(), p.paths.end());
        ClipperLib::Clipper x;
        x.AddPaths(got, ClipperLib::ptSubject, true);
        x.AddPaths(expected, ClipperLib::ptClip, true);
        ClipperLib::Paths diff;
        x.Execute(ClipperLib::ctXor, diff, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        double perimeter = 0;  // of the expected region, in grid units
        for (const ClipperLib::Path& q : expected)
            for (std::size_t i = 0; i < q.size(); ++i) {
                const auto& a = q[i];
                const auto& b = q[(i + 1) % q.size()];
                perimeter += std::hypot(double(b.X - a.X), double(b.Y - a.Y));
            }
        EXPECT_LE(std::fabs(area(diff)), 20 * perimeter + 1e6) << "scene " << scene;  // a few grid steps wide
        EXPECT_GT(std::fabs(area(expected)), 0) << "scene " << scene;
    }
}

// Every candidate of the full union (each sample of its boundary whose item
// box lies in the bin) lies in a window the search takes: the cuts by the
// probe-radius difference never drop a place where the mover fits.
TEST(FreeSpace, WindowsHoldEveryCandidate) {
    std::mt19937 rng(9);
    for (int scene = 0; scene < 8; ++scene) {
        const double w = 150, h = 150;
        // a sound layout of random circles and polygons
        auto items = random_scene(rng, 40, w, h);
        NfpPlacer placer(w, h);
        std::vector<Shape*> packed;
        for (auto& it : items)
            if (placer.trypack(*it)) packed.push_back(it.get());
        auto movers = random_scene(rng, 4, w, h);
        for (auto& mover : movers) {
            for (double rot : {0.0, 1.0}) {
                if (!mover->is_circle()) mover->set_rotation(rot);
                const Probe probe = probe_for(*mover, w, h);
                if (!probe.usable) continue;
                FreeSpace fs;
                const FreeWindows& fw = fs.windows(probe, packed, w, h, [] {});
                const std::function<void()> none = [] {};
                const WindowedBin bin{packed, w, h, Placement::Corner, fw, probe, none};
                const std::vector<BBox> boxes = search_boxes(bin, *mover);
                ClipperLib::Paths paths;
                for (Shape* o : packed) paths.push_back(world_path(local_nfp(*o, *mover)->front(), o->tx(), o->ty()));
                const BBox rb = rotated_bbox(*mover);
                const Pt ref = mover->is_polygon() ? top_right(polygon_cast(*mover).rotated_contour()) : Pt{0, 0};
                for (const Contour& c : unite_paths(paths, UnionInput::Trusted))
                    for (const Pt& p : sample_boundary(c, 40)) {
                        const double x0 = rb.minx + p.x - ref.x, y0 = rb.miny + p.y - ref.y;
                        const double x1 = rb.maxx + p.x - ref.x, y1 = rb.maxy + p.y - ref.y;
                        if (x0 < -1e-6 || y0 < -1e-6 || x1 > w + 1e-6 || y1 > h + 1e-6) continue;
                        bool held = false;
                        for (const BBox& b : boxes)
                            if (p.x >= b.minx - 1e-4 && p.x <= b.maxx + 1e-4 && p.y >= b.miny - 1e-4 && p.y <= b.maxy + 1e-4) {
                                held = true;
                                break;
                            }
                        EXPECT_TRUE(held) << "scene " << scene << " candidate " << p.x << ", " << p.y;
                        if (!held) return;
                    }
            }
        }
    }
}

// In bins filled to the brim: where the windows hold no place for a circle
// or a pentagon, the written search over the full union finds none either,
// and a refusal proven from a radius holds for every circle from it up to
// the mover.
TEST(FreeSpace, FullBinsRefuseWhatTheFullUnionRefuses) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<double> ur(2, 9);
    int proven = 0;
    for (int scene = 0; scene < 6; ++scene) {
        const double w = 90, h = 90;
        std::vector<std::unique_ptr<Shape>> items;
        for (int i = 0; i < 120; ++i) items.push_back(std::make_unique<Circle>(ur(rng)));
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return circle_cast(*a).radius > circle_cast(*b).radius;
        });
        NfpPlacer placer(w, h);
        for (auto& it : items) {
            it->set_infl(1.0);
            placer.trypack(*it);
        }
        const std::vector<Shape*> packed = placer.packed;
        for (double r = 1.0; r < 9.0; r += 0.37) {
            Circle mover(r);
            mover.set_infl(1.0);
            const Probe probe = probe_for(mover, w, h);
            ASSERT_TRUE(probe.usable);
            FreeSpace fs;
            const FreeWindows& fw = fs.windows(probe, packed, w, h, [] {});
            const CircleIndex& circles = fs.circle_index(packed);
            const std::function<void()> none = [] {};
            const WindowedBin bin{packed, w, h, Placement::Corner, fw, probe, none, &circles};
            const SearchResult got = windowed_search(
                bin, mover, [](std::size_t) -> const Contour& { throw std::logic_error("circles only"); });
            if (got.found) continue;
            const double from = refused_from(bin, mover);
            proven += from < r + 1.0;
            for (double rr : {r, from - 1.0, (from - 1.0 + r) / 2}) {
                if (rr > r) continue;
                NfpPlacer exact(w, h);
                exact.packed = packed;
                Circle c(rr);
                c.set_infl(1.0);
                EXPECT_FALSE(exact.trypack(c)) << "scene " << scene << " radius " << rr << " (mover " << r << ")";
            }
            // a pentagon of that size: its windows inside convex NFPs are skipped
            Contour outline;
            for (int k = 0; k < 5; ++k) outline.push_back({r * 0.6 * std::cos(-1.2566 * k), r * 0.4 * std::sin(-1.2566 * k)});
            outline.push_back(outline.front());
            Polygon penta(outline);
            penta.set_infl(1.0);
            penta.set_rotation(0.7);
            const Probe pp = probe_for(penta, w, h);
            if (!pp.usable) continue;
            FreeSpace pfs;
            std::vector<std::shared_ptr<const Region>> nfps(packed.size());
            const WindowedBin pbin{packed, w, h, Placement::Corner, pfs.windows(pp, packed, w, h, [] {}), pp, none};
            const SearchResult pgot = windowed_search(pbin, penta, [&](std::size_t j) -> const Contour& {
                if (!nfps[j]) nfps[j] = local_nfp(*packed[j], penta);
                return nfps[j]->front();
            });
            if (pgot.found) continue;
            NfpOptions one;
            one.rotations = {0.7};
            NfpPlacer exact(w, h, one);
            exact.packed = packed;
            EXPECT_FALSE(exact.trypack(penta)) << "scene " << scene << " pentagon " << r;
        }
    }
    EXPECT_GT(proven, 0);
}
