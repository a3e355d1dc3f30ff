#include "quarvo/region.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "quarvo/nfp.hpp"

namespace quarvo {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMinLevel = -40;  // probes below 2^-10 are not worth a union

// Room left around a window for the snapping of world NFPs to the grid.
double grid_margin(double a, double b) { return 1e-5 + 1e-12 * (std::fabs(a) + std::fabs(b)); }

ClipperLib::Path rect_path(double x0, double y0, double x1, double y1, bool clockwise) {
    ClipperLib::Path p{{to_grid(x0), to_grid(y0)}, {to_grid(x1), to_grid(y0)}, {to_grid(x1), to_grid(y1)},
                       {to_grid(x0), to_grid(y1)}};
    if (clockwise) std::reverse(p.begin(), p.end());
    return p;
}

// Boxes covering a hole of the free space, one per run of the hole in each
// row of height h: inside a row, the x ranges of the hole's edges, joined
// across gaps that the hole fills.
void hole_windows(const Contour& hole, double h, std::vector<BBox>& out) {
    const BBox hb = polygon_bbox(hole);
    const double r0 = std::floor(hb.miny / h);
    const std::size_t rows = static_cast<std::size_t>(std::max(0.0, std::floor(hb.maxy / h) - r0)) + 1;
    if (rows > 100000) {  // a sliver of a huge bin: one box
        out.push_back(hb);
        return;
    }
    struct Row {
        std::vector<std::pair<double, double>> spans;
        std::vector<double> crossings;  // of the row's middle line
    };
    std::vector<Row> row(rows);
    auto lo_of = [&](std::size_t k) { return std::max(hb.miny, (r0 + static_cast<double>(k)) * h); };
    auto hi_of = [&](std::size_t k) { return std::min(hb.maxy, (r0 + static_cast<double>(k) + 1) * h); };
    for (std::size_t i = 0; i + 1 < hole.size(); ++i) {
        const Pt a = hole[i], b = hole[i + 1];
        const double ylo = std::min(a.y, b.y), yhi = std::max(a.y, b.y);
        std::size_t k0 = static_cast<std::size_t>(std::clamp(std::floor(ylo / h) - r0, 0.0, double(rows - 1)));
        std::size_t k1 = static_cast<std::size_t>(std::clamp(std::floor(yhi / h) - r0, 0.0, double(rows - 1)));
        if (k0 > 0) --k0;  // an edge on a row's lower line belongs to both rows
        for (std::size_t k = k0; k <= k1; ++k) {
            const double y0 = lo_of(k), y1 = hi_of(k);
            if (yhi < y0 || ylo > y1) continue;
            double xa = a.x, xb = b.x;
            if (a.y != b.y) {
                auto x_at = [&](double y) { return a.x + (b.x - a.x) * ((y - a.y) / (b.y - a.y)); };
                xa = x_at(std::clamp(a.y, y0, y1));
                xb = x_at(std::clamp(b.y, y0, y1));
                const double ym = (y0 + y1) / 2;
                if ((a.y <= ym) != (b.y <= ym)) row[k].crossings.push_back(x_at(ym));
            }
            row[k].spans.push_back({std::min(xa, xb), std::max(xa, xb)});
        }
    }
    for (std::size_t k = 0; k < rows; ++k) {
        Row& r = row[k];
        if (r.spans.empty()) continue;
        std::sort(r.spans.begin(), r.spans.end());
        std::sort(r.crossings.begin(), r.crossings.end());
        double lo = r.spans[0].first, hi = r.spans[0].second;
        std::size_t left = 0;  // crossings left of the current gap
        for (std::size_t i = 1; i <= r.spans.size(); ++i) {
            if (i < r.spans.size() && r.spans[i].first <= hi) {
                hi = std::max(hi, r.spans[i].second);
                continue;
            }
            bool inside_gap = false;
            if (i < r.spans.size()) {
                const double mid = (hi + r.spans[i].first) / 2;
                while (left < r.crossings.size() && r.crossings[left] < mid) ++left;
                inside_gap = left % 2 == 1;
            }
            if (inside_gap) {
                hi = std::max(hi, r.spans[i].second);
                continue;
            }
            out.push_back({lo, lo_of(k), hi, hi_of(k)});
            if (i < r.spans.size()) {
                lo = r.spans[i].first;
                hi = r.spans[i].second;
            }
        }
    }
}

}  // namespace

double probe_radius(int level) { return std::exp2(static_cast<double>(level) / 4.0); }

Probe probe_for(const Shape& mover, double bin_w, double bin_h) {
    Probe p;
    double rho;
    Pt centre, ref;
    if (mover.is_circle()) {
        rho = circle_cast(mover).rotated_shape().radius;
        centre = {0.0, 0.0};
        ref = mover.reference_point_local();
    } else {
        const Contour& c = polygon_cast(mover).rotated_contour();
        if (c.size() < 4 || !(std::fabs(polygon_area(c)) > 0)) return p;
        centre = polygon_centroid(c);
        ref = top_right(c);
        rho = kInf;
        for (std::size_t i = 0; i + 1 < c.size(); ++i) {
            const double dx = c[i + 1].x - c[i].x, dy = c[i + 1].y - c[i].y;
            const double len = std::hypot(dx, dy);
            if (!(len > 1e-12)) continue;
            rho = std::min(rho, std::fabs(dx * (centre.y - c[i].y) - dy * (centre.x - c[i].x)) / len);
        }
        rho *= 1.0 - 1e-9;
    }
    if (!std::isfinite(rho) || !(rho > 0) || !std::isfinite(centre.x) || !std::isfinite(centre.y)) return p;
    double lv = std::floor(4.0 * std::log2(rho));
    if (!(lv >= kMinLevel) || lv > 400) return p;
    int level = static_cast<int>(lv);
    while (probe_radius(level) > rho) --level;
    if (level < kMinLevel || 2 * probe_radius(level) >= std::min(bin_w, bin_h)) return p;
    p.usable = true;
    p.level = level;
    p.offset = {centre.x - ref.x, centre.y - ref.y};
    return p;
}

const std::vector<BBox>& FreeSpace::windows(int level, const std::vector<Shape*>& packed, double bin_w, double bin_h,
                                            const std::function<void()>& stop) {
    auto found = levels_.find(level);
    if (found == levels_.end()) {
        found = levels_.emplace(level, Level{}).first;
        const double rho = probe_radius(level);
        const double m = grid_margin(bin_w, bin_h), big = bin_w + bin_h + 4 * rho + 1;
        // The frame: everything but the places of the probe's centre in the bin.
        found->second.store.set_base({rect_path(-big, -big, bin_w + big, bin_h + big, true),
                                      rect_path(rho - m, rho - m, bin_w - rho + m, bin_h - rho + m, false)});
    }
    Level& lv = found->second;
    if (lv.ready && lv.basis == packed) return lv.windows;
    const double rho = probe_radius(level);
    const Contour probe = circle_to_polygon({0.0, 0.0}, rho, 64);
    const Pt probe_top = top_right(probe);
    auto path_of = [&](std::size_t j) {
        const Shape& o = *packed[j];
        if (o.is_circle())
            return world_path(circle_to_polygon({0.0, 0.0}, circle_cast(o).rotated_shape().radius + rho, 64), o.tx(),
                              o.ty());
        const Contour& a = polygon_cast(o).rotated_contour();
        RawNfp raw = nfp_convex_only(a, probe);
        return world_path(correct_nfp_position(raw.pts, raw.top, a, probe), o.tx() - probe_top.x, o.ty() - probe_top.y);
    };
    lv.ready = false;
    const std::vector<Contour>& merged = lv.store.update(packed, path_of, stop);
    lv.windows.clear();
    for (const Contour& c : merged)
        if (polygon_area(c) < 0) hole_windows(c, 2 * rho, lv.windows);
    lv.basis = packed;
    lv.ready = true;
    return lv.windows;
}

SearchResult windowed_search(const std::vector<Shape*>& packed, const Shape& mover, const std::vector<BBox>& windows,
                             Pt offset, const LocalNfpOf& local_of, double bin_w, double bin_h, Placement placement,
                             const std::function<void()>& stop) {
    SearchResult best;
    best.score = kInf;
    const BBox rb = rotated_bbox(mover);
    const Pt ref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
    // The windows in reference-point coordinates, most promising first.
    std::vector<std::pair<double, BBox>> order;
    order.reserve(windows.size());
    const double cx = bin_w / 2 - ((rb.minx + rb.maxx) / 2 - ref.x), cy = bin_h / 2 - ((rb.miny + rb.maxy) / 2 - ref.y);
    for (const BBox& w : windows) {
        BBox b{w.minx - offset.x, w.miny - offset.y, w.maxx - offset.x, w.maxy - offset.y};
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

    // Each placed item's NFP box; circle pairs need no NFP for it.
    const bool circle = mover.is_circle();
    const double rm = circle ? circle_cast(mover).rotated_shape().radius : 0.0;
    std::vector<BBox> boxes(packed.size());
    std::vector<char> known(packed.size(), 0);
    auto box_of = [&](std::size_t j) -> const BBox& {
        if (!known[j]) {
            const Shape& o = *packed[j];
            BBox b;
            if (circle && o.is_circle()) {
                const double r = circle_cast(o).rotated_shape().radius + rm;
                b = {-r, -r, r, r};
            } else {
                b = polygon_bbox(local_of(j));
            }
            boxes[j] = {b.minx + o.tx(), b.miny + o.ty(), b.maxx + o.tx(), b.maxy + o.ty()};
            known[j] = 1;
        }
        return boxes[j];
    };
    std::unordered_map<double, Contour> circle_nfps;  // by the sum of the radii
    ClipperLib::Paths paths;
    for (const auto& entry : order) {
        const BBox& w = entry.second;
        if (box_cannot_beat(mover, bin_w, bin_h, 1e-6, placement, w, best.score)) continue;
        stop();
        const double m = grid_margin(std::max(std::fabs(w.minx), std::fabs(w.maxx)),
                                     std::max(std::fabs(w.miny), std::fabs(w.maxy)));
        paths.clear();
        for (std::size_t j = 0; j < packed.size(); ++j) {
            if (j % 256 == 255) stop();
            const BBox& b = box_of(j);
            if (b.maxx < w.minx - m || b.minx > w.maxx + m || b.maxy < w.miny - m || b.miny > w.maxy + m) continue;
            const Shape& o = *packed[j];
            if (circle && o.is_circle()) {
                const double r = circle_cast(o).rotated_shape().radius + rm;
                auto it = circle_nfps.find(r);
                if (it == circle_nfps.end()) it = circle_nfps.emplace(r, circle_to_polygon({0.0, 0.0}, r, 64)).first;
                paths.push_back(world_path(it->second, o.tx(), o.ty()));
            } else {
                paths.push_back(world_path(local_of(j), o.tx(), o.ty()));
            }
        }
        // No NFP near the window: no boundary, no candidate there.
        if (paths.empty()) continue;
        std::vector<Contour> merged = unite_paths(paths, UnionInput::Trusted);
        SearchResult r = search_best_position(merged, {}, mover, bin_w, bin_h, 40, 1e-6, placement, nullptr, &w);
        if (r.found && r.score < best.score) best = r;
    }
    return best;
}

}  // namespace quarvo
