#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "quarvo/nfp_union.hpp"
#include "quarvo/region.hpp"
#include "region_util.hpp"

namespace quarvo {

using namespace region_detail;

namespace {

// The boundary of the union of convex polygons near a window, as its edges
// (two-point contours): each polygon's edges less the parts inside another
// polygon. Sampled edge by edge they give the union's boundary samples.
std::vector<Contour> convex_union_edges(const std::vector<Contour>& polys, const BBox& window, double m) {
    std::vector<Contour> out;
    std::vector<BBox> boxes;
    std::vector<double> turn;  // +1 counter-clockwise, -1 clockwise
    boxes.reserve(polys.size());
    for (const Contour& c : polys) {
        boxes.push_back(polygon_bbox(c));
        turn.push_back(polygon_area(c) < 0 ? -1.0 : 1.0);
    }
    std::vector<std::pair<double, double>> keep, next;
    for (std::size_t i = 0; i < polys.size(); ++i) {
        const Contour& c = polys[i];
        for (std::size_t e = 0; e + 1 < c.size(); ++e) {
            const Pt a = c[e], b = c[e + 1];
            if (a == b) continue;
            const BBox eb{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
            if (!meets(eb, window, m)) continue;
            keep.assign(1, {0.0, 1.0});
            const Pt d{b.x - a.x, b.y - a.y};
            for (std::size_t j = 0; j < polys.size() && !keep.empty(); ++j) {
                if (j == i || !meets(boxes[j], eb, 0.0)) continue;
                // The open part of the edge inside polygon j (Cyrus-Beck).
                const Contour& q = polys[j];
                double t0 = -kInf, t1 = kInf;
                bool outside = false;
                for (std::size_t k = 0; k + 1 < q.size() && !outside; ++k) {
                    // inside: turn * cross(q[k+1] - q[k], p - q[k]) > 0
                    const double ex = q[k + 1].x - q[k].x, ey = q[k + 1].y - q[k].y;
                    if (ex == 0.0 && ey == 0.0) continue;
                    const double num = turn[j] * (ex * (a.y - q[k].y) - ey * (a.x - q[k].x));
                    const double den = turn[j] * (ex * d.y - ey * d.x);
                    if (den == 0.0) {
                        if (num <= 0.0) outside = true;
                    } else if (den > 0.0) {
                        t0 = std::max(t0, -num / den);
                    } else {
                        t1 = std::min(t1, -num / den);
                    }
                }
                if (outside || !(t0 < t1) || t1 <= 0.0 || t0 >= 1.0) continue;
                next.clear();
                for (const auto& iv : keep) {
                    if (t0 > iv.first) next.push_back({iv.first, std::min(iv.second, t0)});
                    if (t1 < iv.second) next.push_back({std::max(iv.first, t1), iv.second});
                }
                keep.swap(next);
            }
            for (const auto& iv : keep) {
                if (!(iv.first < iv.second)) continue;
                out.push_back({{a.x + d.x * iv.first, a.y + d.y * iv.first},
                               iv.second >= 1.0 ? b : Pt{a.x + d.x * iv.second, a.y + d.y * iv.second}});
                if (iv.first <= 0.0) out.back()[0] = a;
            }
        }
    }
    return out;
}

__extension__ typedef __int128 Int128;

// Whether the closed path, snapped to the grid, turns one way at every vertex
// (going straight on allowed, turning back not) and once around, exactly:
// only then do the half-planes of its edges cut out what it encloses. A
// convex NFP can lose that on the grid where vertices lie a few units apart.
bool convex_on_grid(const ClipperLib::Path& path) {
    ClipperLib::Path p;
    p.reserve(path.size());
    for (const ClipperLib::IntPoint& q : path)
        if (p.empty() || !(p.back() == q)) p.push_back(q);
    while (p.size() > 1 && p.front() == p.back()) p.pop_back();
    const std::size_t n = p.size();
    if (n < 3) return false;
    int sign = 0;
    std::size_t rounds = 0;  // edges turning past the +x direction
    for (std::size_t i = 0; i < n; ++i) {
        const ClipperLib::IntPoint a = p[i], b = p[(i + 1) % n], c = p[(i + 2) % n];
        const Int128 ux = Int128(b.X) - a.X, uy = Int128(b.Y) - a.Y, vx = Int128(c.X) - b.X, vy = Int128(c.Y) - b.Y;
        const Int128 cr = ux * vy - uy * vx;
        if (cr == 0) {
            if (ux * vx + uy * vy <= 0) return false;
            continue;
        }
        const int s = cr > 0 ? 1 : -1;
        if (sign != 0 && s != sign) return false;
        sign = s;
        // a turn of less than half a turn from below the x axis to above it passes +x
        if (s > 0 ? (uy < 0 && vy >= 0) : (uy >= 0 && vy < 0)) ++rounds;
    }
    return sign != 0 && rounds == 1;
}

// The reference points whose mover's box stays in the bin, with room for
// the scoring's tolerance and `grow` more.
BBox in_bin_range(const Shape& mover, double bin_w, double bin_h, double grow = 0.0) {
    const BBox rb = rotated_bbox(mover);
    const Pt ref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
    const double slack = grow + 1e-5 + 1e-9 * (bin_w + bin_h + std::fabs(rb.minx) + std::fabs(rb.maxx) + std::fabs(rb.miny) +
                                               std::fabs(rb.maxy));
    return {ref.x - rb.minx - slack, ref.y - rb.miny - slack, ref.x + bin_w - rb.maxx + slack,
            ref.y + bin_h - rb.maxy + slack};
}

BBox clip(const BBox& a, const BBox& b) {
    return {std::max(a.minx, b.minx), std::max(a.miny, b.miny), std::min(a.maxx, b.maxx), std::min(a.maxy, b.maxy)};
}

// True when `in_one(box)` holds for the box, or else for each of its quarters,
// down to `depth` halvings; an empty box is covered.
template <class InOne>
bool covered_by_quarters(const BBox& b, int depth, const InOne& in_one) {
    if (!(b.minx <= b.maxx && b.miny <= b.maxy)) return true;
    if (in_one(b)) return true;
    if (depth == 0) return false;
    const double mx = (b.minx + b.maxx) / 2, my = (b.miny + b.maxy) / 2;
    return covered_by_quarters({b.minx, b.miny, mx, my}, depth - 1, in_one) &&
           covered_by_quarters({mx, b.miny, b.maxx, my}, depth - 1, in_one) &&
           covered_by_quarters({b.minx, my, mx, b.maxy}, depth - 1, in_one) &&
           covered_by_quarters({mx, my, b.maxx, b.maxy}, depth - 1, in_one);
}

// Whether the whole box lies well inside one of the 64-gon NFPs of the placed
// circles `near` against a circle of radius rm. A 64-gon is convex, so it
// holds a box whose corners it holds.
bool in_one_circle_nfp(const std::vector<Shape*>& packed, const std::vector<std::size_t>& near, double rm,
                       const BBox& b) {
    constexpr double kStep = 2 * 3.141592653589793 / 64;
    static const double apothem = std::cos(kStep / 2);
    for (std::size_t j : near) {
        const Shape& o = *packed[j];
        const double R = circle_cast(o).rotated_shape().radius + rm;
        const double inner = R * apothem - (1e-5 + 1e-9 * (R + std::fabs(o.tx()) + std::fabs(o.ty())));
        if (!(inner > 0)) continue;
        // inside the 64-gon: the nearest edge's normal direction carries it
        // less than the apothem (surely so within `inner` of the centre, and
        // surely not where every direction carries it that far)
        auto inside = [&](double x, double y) {
            const double dx = x - o.tx(), dy = y - o.ty(), d2 = dx * dx + dy * dy;
            if (d2 < inner * inner) return true;
            if (d2 * apothem * apothem >= inner * inner) return false;
            const double th = std::atan2(dy, dx);
            return std::sqrt(d2) * std::cos(th - (std::round(th / kStep - 0.5) + 0.5) * kStep) < inner;
        };
        if (inside(b.minx, b.miny) && inside(b.maxx, b.miny) && inside(b.minx, b.maxy) && inside(b.maxx, b.maxy))
            return true;
    }
    return false;
}

// True when every point of the box lies well inside one of those 64-gon NFPs:
// tested on the box, then on its quarters down to `depth` halvings.
bool covered(const std::vector<Shape*>& packed, const std::vector<std::size_t>& near, double rm, const BBox& b,
             int depth) {
    return covered_by_quarters(b, depth, [&](const BBox& q) { return in_one_circle_nfp(packed, near, rm, q); });
}

// A window cut for a mover whose probe is d larger than the windows' (the
// mover keeps d from every end of the free space around its probe), in
// reference-point coordinates; false when nothing is left.
bool cut_window(const Window& w, double d, Pt offset, BBox& b) {
    const double t = grid_margin(std::max(std::fabs(w.box.minx), std::fabs(w.box.maxx)),
                                 std::max(std::fabs(w.box.miny), std::fabs(w.box.maxy)));
    b = {std::max(w.box.minx, w.ends.minx + d - t) - offset.x, std::max(w.box.miny, w.ends.miny + d - t) - offset.y,
         std::min(w.box.maxx, w.ends.maxx - d + t) - offset.x, std::min(w.box.maxy, w.ends.maxy - d + t) - offset.y};
    return b.minx <= b.maxx && b.miny <= b.maxy && !(d > w.room + t);
}

// Whether the whole box lies well inside one of the convex polygons (world NFPs).
bool in_one_convex(const std::vector<const Contour*>& polys, const std::vector<Pt>& at, const std::vector<double>& turns,
                   const BBox& b) {
    for (std::size_t k = 0; k < polys.size(); ++k) {
        const Contour& c = *polys[k];
        const Pt o = at[k];
        const double turn = turns[k];
        const double tol = 1e-5 + 1e-9 * (std::fabs(o.x) + std::fabs(o.y) + std::fabs(b.maxx) + std::fabs(b.maxy));
        bool in = true;
        for (std::size_t e = 0; e + 1 < c.size() && in; ++e) {
            const double ex = c[e + 1].x - c[e].x, ey = c[e + 1].y - c[e].y, len2 = ex * ex + ey * ey;
            if (!(len2 > 0)) continue;
            // inside by more than tol: the cross product exceeds tol times the edge's length
            for (const Pt p : {Pt{b.minx, b.miny}, Pt{b.maxx, b.miny}, Pt{b.minx, b.maxy}, Pt{b.maxx, b.maxy}}) {
                const double cr = turn * (ex * (p.y - o.y - c[e].y) - ey * (p.x - o.x - c[e].x));
                if (cr <= 0 || cr * cr <= tol * tol * len2) {
                    in = false;
                    break;
                }
            }
        }
        if (in) return true;
    }
    return false;
}

// The placed circles whose NFPs against a circle of radius rm meet the box.
void circles_near(const std::vector<Shape*>& packed, const CircleIndex& circles, double rm, const BBox& w, double m,
                  std::vector<std::size_t>& out) {
    out.clear();
    auto it = std::lower_bound(circles.low.begin(), circles.low.end(),
                               std::make_pair(w.miny - m - rm - 2 * circles.max_r, std::size_t{0}));
    for (; it != circles.low.end() && it->first <= w.maxy + m + rm; ++it) {
        const Shape& o = *packed[it->second];
        const double r = circle_cast(o).rotated_shape().radius + rm;
        if (meets({o.tx() - r, o.ty() - r, o.tx() + r, o.ty() + r}, w, m)) out.push_back(it->second);
    }
}

}  // namespace

double refused_from(const std::vector<Shape*>& packed, const Shape& mover, const FreeWindows& windows,
                    const Probe& probe, const CircleIndex& circles, double bin_w, double bin_h,
                    const std::function<void()>& stop) {
    if (!mover.is_circle()) return std::numeric_limits<double>::infinity();
    const double rm = circle_cast(mover).rotated_shape().radius;
    // A circle smaller by `less` keeps its probe, so its places lie in the same windows.
    const double less = std::min(rm / 128, probe.radius - windows.probe_radius);
    if (!circles.circles || circles.basis.size() != packed.size() || !(less > 0)) return rm;
    const double r = rm - less, d = probe.radius - less - windows.probe_radius;
    const BBox range = in_bin_range(mover, bin_w, bin_h, less);
    std::vector<std::size_t> near;
    std::size_t k = 0;
    for (const Window& w : windows.list) {
        if (++k % 64 == 0) stop();
        BBox b;
        if (!cut_window(w, d, probe.offset, b)) continue;
        const BBox in = clip(b, range);
        if (!(in.minx <= in.maxx && in.miny <= in.maxy)) continue;
        circles_near(packed, circles, r, b, grid_margin(std::max(std::fabs(b.minx), std::fabs(b.maxx)),
                                                        std::max(std::fabs(b.miny), std::fabs(b.maxy))), near);
        if (near.empty() || !covered(packed, near, r, in, 3)) return rm;
    }
    return r;
}

std::vector<BBox> search_boxes(const FreeWindows& windows, const Probe& probe, const Shape& mover, double bin_w,
                               double bin_h, Placement placement) {
    const BBox rb = rotated_bbox(mover);
    const Pt ref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
    std::vector<std::pair<double, BBox>> order;
    const BoxBound bound(mover, bin_w, bin_h, 1e-6, placement);
    order.reserve(windows.list.size());
    const double cx = bin_w / 2 - ((rb.minx + rb.maxx) / 2 - ref.x), cy = bin_h / 2 - ((rb.miny + rb.maxy) / 2 - ref.y);
    const double d = probe.radius - windows.probe_radius;
    const Pt offset = probe.offset;
    for (const Window& w : windows.list) {
        BBox b;
        if (!cut_window(w, d, offset, b)) continue;
        if (bound.cannot_beat(b, kInf)) continue;  // out of the bin
        double key;
        if (placement == Placement::Center) {
            const double gx = std::max({b.minx - cx, cx - b.maxx, 0.0}), gy = std::max({b.miny - cy, cy - b.maxy, 0.0});
            key = gx * gx + gy * gy;
        } else {
            key = b.miny * (bin_w + 1.0) + b.minx;
        }
        order.push_back({key, b});
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const std::pair<double, BBox>& a, const std::pair<double, BBox>& b) { return a.first < b.first; });
    std::vector<BBox> out;
    out.reserve(order.size());
    for (const auto& e : order) out.push_back(e.second);
    return out;
}

SearchResult windowed_search(const std::vector<Shape*>& packed, const Shape& mover, const FreeWindows& windows,
                             const Probe& probe, const LocalNfpOf& local_of, double bin_w, double bin_h,
                             Placement placement, const std::function<void()>& stop, const CircleIndex* circles) {
    SearchResult best;
    best.score = kInf;
    const std::vector<BBox> order = search_boxes(windows, probe, mover, bin_w, bin_h, placement);
    if (order.empty()) return best;  // a full bin costs no more
    // Each placed item's NFP box (circle pairs need no NFP for it), the items
    // by the lower side of their box.
    const bool circle = mover.is_circle();
    const double rm = circle ? circle_cast(mover).rotated_shape().radius : 0.0;
    const std::size_t n = packed.size();
    const bool indexed = circle && circles && circles->circles && circles->basis.size() == n;
    std::vector<BBox> boxes(n);
    std::vector<std::size_t> by_y;
    double tallest = 0.0;
    auto circle_box = [&](std::size_t j) {
        const Shape& o = *packed[j];
        const double r = circle_cast(o).rotated_shape().radius + rm;
        return BBox{o.tx() - r, o.ty() - r, o.tx() + r, o.ty() + r};
    };
    if (!indexed) {
        const BBox mb = rotated_bbox(mover);
        const Pt mref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
        by_y.resize(n);
        for (std::size_t j = 0; j < n; ++j) {
            if (j % 256 == 255) stop();
            const Shape& o = *packed[j];
            if (circle && o.is_circle()) {
                boxes[j] = circle_box(j);
            } else {
                // the places where the boxes overlap hold the NFP: its own is looked up only near a window
                const BBox ob = rotated_bbox(o);
                boxes[j] = {ob.minx + o.tx() - (mb.maxx - mref.x), ob.miny + o.ty() - (mb.maxy - mref.y),
                            ob.maxx + o.tx() - (mb.minx - mref.x), ob.maxy + o.ty() - (mb.miny - mref.y)};
            }
            tallest = std::max(tallest, boxes[j].maxy - boxes[j].miny);
            by_y[j] = j;
        }
        std::sort(by_y.begin(), by_y.end(), [&](std::size_t a, std::size_t b) { return boxes[a].miny < boxes[b].miny; });
    }
    std::vector<Contour> world;
    ClipperLib::Paths paths;
    std::vector<std::size_t> near, found;
    // Windows are searched in batches under one union of the NFPs near any
    // of them: up to four, with corner placement up to a mover's height above
    // the first. Circle windows need no union: one each.
    const BBox rb = rotated_bbox(mover);
    const double reach = rb.maxy - rb.miny;
    const BBox range = in_bin_range(mover, bin_w, bin_h);
    const BoxBound bound(mover, bin_w, bin_h, 1e-6, placement);
    std::vector<const BBox*> batch;
    std::vector<const Contour*> polys;
    std::vector<Pt> at;
    std::vector<double> turns;
    // 1 convex counter-clockwise, -1 convex clockwise, 2 not convex, 0 not yet known
    std::vector<signed char> convex_nfp(circle ? 0 : n, 0);
    std::vector<std::size_t> stamp(n, 0);
    for (std::size_t i = 0, round = 1; i < order.size(); ++round) {
        batch.clear();
        for (; i < order.size(); ++i) {
            const BBox& w = order[i];
            if (bound.cannot_beat(w, best.score)) continue;
            if (!circle) {
                // a polygon's window inside convex NFPs holds no candidate
                const double mw = grid_margin(std::max(std::fabs(w.minx), std::fabs(w.maxx)),
                                              std::max(std::fabs(w.miny), std::fabs(w.maxy)));
                polys.clear();
                at.clear();
                turns.clear();
                bool all_convex = true;
                auto first = std::lower_bound(by_y.begin(), by_y.end(), w.miny - mw - tallest,
                                              [&](std::size_t j, double y) { return boxes[j].miny < y; });
                for (auto it = first; it != by_y.end() && boxes[*it].miny <= w.maxy + mw && all_convex; ++it) {
                    if (!meets(boxes[*it], w, mw)) continue;
                    const Contour& local = local_of(*it);
                    if (convex_nfp[*it] == 0) convex_nfp[*it] = !is_convex(local) ? 2 : polygon_area(local) < 0 ? -1 : 1;
                    all_convex = convex_nfp[*it] != 2;
                    turns.push_back(convex_nfp[*it]);
                    polys.push_back(&local);
                    at.push_back({packed[*it]->tx(), packed[*it]->ty()});
                }
                const auto in_one = [&](const BBox& q) { return in_one_convex(polys, at, turns, q); };
                if (all_convex && !polys.empty() && covered_by_quarters(clip(w, range), 2, in_one)) continue;
            }
            if (!batch.empty() && (indexed || batch.size() >= 4 ||
                                   (placement == Placement::Corner && w.miny > batch[0]->miny + reach)))
                break;
            batch.push_back(&w);
        }
        if (batch.empty()) break;
        stop();
        near.clear();
        BBox span = *batch[0];
        double m = 0.0;
        for (const BBox* wp : batch) {
            const BBox& w = *wp;
            span = {std::min(span.minx, w.minx), std::min(span.miny, w.miny), std::max(span.maxx, w.maxx),
                    std::max(span.maxy, w.maxy)};
            m = std::max(m, grid_margin(std::max(std::fabs(w.minx), std::fabs(w.maxx)),
                                        std::max(std::fabs(w.miny), std::fabs(w.maxy))));
            if (indexed) {
                circles_near(packed, *circles, rm, w, m, found);
                for (std::size_t j : found)
                    if (stamp[j] != round) {
                        stamp[j] = round;
                        near.push_back(j);
                    }
            } else {
                auto first = std::lower_bound(by_y.begin(), by_y.end(), w.miny - m - tallest,
                                              [&](std::size_t j, double y) { return boxes[j].miny < y; });
                for (auto it = first; it != by_y.end() && boxes[*it].miny <= w.maxy + m; ++it) {
                    if (stamp[*it] == round || !meets(boxes[*it], w, m)) continue;
                    stamp[*it] = round;
                    near.push_back(*it);
                }
            }
        }
        // No NFP near the windows: no boundary, no candidate there.
        if (near.empty()) continue;
        // A circle's window whose places in the bin all lie inside NFPs holds no candidate.
        if (indexed && covered(packed, near, rm, clip(*batch[0], range), 3)) continue;
        std::sort(near.begin(), near.end());  // in placement order, as the union would take them
        paths.clear();
        bool convex = true;
        for (std::size_t j : near) {
            const Shape& o = *packed[j];
            if (circle && o.is_circle()) {
                const double R = circle_cast(o).rotated_shape().radius + rm;
                paths.push_back(world_path(regular_64gon(R), o.tx(), o.ty()));
                // Each vertex of a 64-gon stands R (1 - cos(pi/32)) off the chord of its
                // neighbours: from 3e-4 on that outweighs the snapping of all three.
                if (R >= 1e-3) continue;
            } else {
                const Contour& local = local_of(j);
                convex = convex && is_convex(local);
                paths.push_back(world_path(local, o.tx(), o.ty()));
                // The closing point repeats the first up to rounding, but can
                // snap a unit away from it: the path would turn back there.
                if (local.size() > 3 && std::fabs(local.back().x - local.front().x) <= 1e-9 * (1 + std::fabs(local.front().x)) &&
                    std::fabs(local.back().y - local.front().y) <= 1e-9 * (1 + std::fabs(local.front().y)))
                    paths.back().pop_back();
            }
            // the edges are clipped as snapped, so the snapped path must be convex
            convex = convex && convex_on_grid(paths.back());
        }
        std::vector<Contour> merged;
        if (convex) {
            // Convex NFPs: the union's boundary without a union.
            world.clear();
            for (const ClipperLib::Path& p : paths) world.push_back(to_contour(p));
            merged = convex_union_edges(world, span, m);
        } else {
            merged = unite_paths(paths, UnionInput::Trusted);
        }
        for (const BBox* wp : batch) {
            SearchResult r = search_best_position(merged, {}, mover, bin_w, bin_h, 40, 1e-6, placement, nullptr, nullptr, nullptr, wp);
            if (r.found && r.score < best.score) best = r;
        }
    }
    return best;
}

}  // namespace quarvo
