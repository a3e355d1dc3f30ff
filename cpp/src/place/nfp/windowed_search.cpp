#include "place/nfp/windowed_search.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/clipper_bridge.hpp"
#include "nfp/union_paths.hpp"
#include "place/nfp/candidate_search.hpp"
#include "place/nfp/window_geometry.hpp"
#include "quarvo/constants.hpp"

namespace quarvo {

namespace {

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

// Each placed item's NFP box against a mover (circle pairs need no NFP for
// it; for the others the places where the boxes overlap hold the NFP, whose
// own is looked up only near a window), the items by the lower side of their box.
class NfpBoxes {
public:
    NfpBoxes(const std::vector<Shape*>& packed, const Shape& mover, double rm, const std::function<void()>& stop) {
        const std::size_t n = packed.size();
        const bool circle = mover.is_circle();
        const BBox mb = rotated_bbox(mover);
        const Pt mref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
        boxes_.resize(n);
        by_y_.resize(n);
        for (std::size_t j = 0; j < n; ++j) {
            if (j % 256 == 255) stop();
            const Shape& o = *packed[j];
            if (circle && o.is_circle()) {
                const double r = circle_cast(o).rotated_shape().radius + rm;
                boxes_[j] = {o.tx() - r, o.ty() - r, o.tx() + r, o.ty() + r};
            } else {
                const BBox ob = rotated_bbox(o);
                boxes_[j] = {ob.minx + o.tx() - (mb.maxx - mref.x), ob.miny + o.ty() - (mb.maxy - mref.y),
                             ob.maxx + o.tx() - (mb.minx - mref.x), ob.maxy + o.ty() - (mb.miny - mref.y)};
            }
            tallest_ = std::max(tallest_, boxes_[j].maxy - boxes_[j].miny);
            by_y_[j] = j;
        }
        std::sort(by_y_.begin(), by_y_.end(), [&](std::size_t a, std::size_t b) { return boxes_[a].miny < boxes_[b].miny; });
    }
    NfpBoxes() = default;

    const BBox& box(std::size_t j) const { return boxes_[j]; }
    // Calls visit(j), in the order of their lower sides, for the items whose
    // box may come within m of the window (those whose box does are among
    // them), until visit returns false.
    template <class Visit>
    void scan(const BBox& w, double m, Visit&& visit) const {
        auto first = std::lower_bound(by_y_.begin(), by_y_.end(), w.miny - m - tallest_,
                                      [&](std::size_t j, double y) { return boxes_[j].miny < y; });
        for (auto it = first; it != by_y_.end() && boxes_[*it].miny <= w.maxy + m; ++it)
            if (!visit(*it)) return;
    }

private:
    std::vector<BBox> boxes_;
    std::vector<std::size_t> by_y_;
    double tallest_ = 0.0;
};

// One windowed search: the windows are taken in batches under one union of
// the NFPs near any of them.
class WindowedSearch {
public:
    WindowedSearch(const WindowedBin& bin, const Shape& mover, const LocalNfpOf& local_of)
        : bin_(bin), packed_(bin.packed), mover_(mover), local_of_(local_of), circle_(mover.is_circle()),
          rm_(circle_ ? circle_cast(mover).rotated_shape().radius : 0.0),
          indexed_(circle_ && bin.circles && bin.circles->circles && bin.circles->basis.size() == packed_.size()),
          range_(in_bin_range(mover, bin.bin_w, bin.bin_h)),
          bound_(mover, bin.bin_w, bin.bin_h, 1e-6, bin.placement),
          convex_nfp_(circle_ ? 0 : packed_.size(), 0), stamp_(packed_.size(), 0) {
        if (!indexed_) boxes_ = NfpBoxes(packed_, mover, rm_, bin.stop);
        const BBox rb = rotated_bbox(mover);
        reach_ = rb.maxy - rb.miny;
    }

    SearchResult run(const std::vector<BBox>& order) {
        SearchResult best;
        best.score = kInf;
        for (std::size_t i = 0, round = 1; i < order.size(); ++round) {
            i = next_batch(order, i, best.score);
            if (batch_.empty()) break;
            bin_.stop();
            gather_near(round);
            // No NFP near the windows: no boundary, no candidate there.
            if (near_.empty()) continue;
            // A circle's window whose places in the bin all lie inside NFPs holds no candidate.
            if (indexed_ && covered_by_circle_nfps(packed_, near_, rm_, clip(*batch_[0], range_), 3)) continue;
            const std::vector<Contour> merged = boundary();
            static const std::vector<Contour> no_holes;
            for (const BBox* wp : batch_) {
                PositionSearch q{mover_, bin_.bin_w, bin_.bin_h, merged, no_holes};
                q.placement = bin_.placement;
                q.window = wp;
                q.best_filter = bin_.best_filter;
                q.support_points = bin_.best_filter != nullptr;
                SearchResult r = search_best_position(q);
                if (r.found && r.score < best.score) best = r;
            }
        }
        return best;
    }

private:
    // Fills the batch from order[i] on: up to four windows, with corner
    // placement up to a mover's height above the first; circle windows need
    // no union, one each. Windows that cannot beat `best` or lie inside
    // convex NFPs are passed over. Returns where the next batch starts.
    std::size_t next_batch(const std::vector<BBox>& order, std::size_t i, double best) {
        batch_.clear();
        for (; i < order.size(); ++i) {
            const BBox& w = order[i];
            if (bound_.cannot_beat(w, best)) continue;
            if (!circle_ && inside_convex_nfps(w)) continue;
            if (!batch_.empty() && (indexed_ || batch_.size() >= 4 ||
                                    (bin_.placement == Placement::Corner && w.miny > batch_[0]->miny + reach_)))
                break;
            batch_.push_back(&w);
        }
        return i;
    }

    // Whether a polygon mover's window holds no candidate: its places in the
    // bin all lie inside the convex NFPs of the items near it.
    bool inside_convex_nfps(const BBox& w) {
        const double mw = grid_margin(w);
        polys_.clear();
        at_.clear();
        turns_.clear();
        bool all_convex = true;
        boxes_.scan(w, mw, [&](std::size_t j) {
            if (!meets(boxes_.box(j), w, mw)) return true;
            const Contour& local = local_of_(j);
            if (convex_nfp_[j] == 0) convex_nfp_[j] = !is_convex(local) ? 2 : polygon_area(local) < 0 ? -1 : 1;
            all_convex = convex_nfp_[j] != 2;
            turns_.push_back(convex_nfp_[j]);
            polys_.push_back(&local);
            at_.push_back({packed_[j]->tx(), packed_[j]->ty()});
            return all_convex;
        });
        const auto in_one = [&](const BBox& q) { return in_one_convex(polys_, at_, turns_, q); };
        return all_convex && !polys_.empty() && covered_by_quarters(clip(w, range_), 2, in_one);
    }

    // The placed items whose NFPs meet a window of the batch, each once; the
    // span of the batch and its grid margin.
    void gather_near(std::size_t round) {
        near_.clear();
        span_ = *batch_[0];
        m_ = 0.0;
        for (const BBox* wp : batch_) {
            const BBox& w = *wp;
            span_ = {std::min(span_.minx, w.minx), std::min(span_.miny, w.miny), std::max(span_.maxx, w.maxx),
                     std::max(span_.maxy, w.maxy)};
            m_ = std::max(m_, grid_margin(w));
            if (indexed_) {
                circles_near(packed_, *bin_.circles, rm_, w, m_, found_);
                for (std::size_t j : found_)
                    if (stamp_[j] != round) {
                        stamp_[j] = round;
                        near_.push_back(j);
                    }
            } else {
                boxes_.scan(w, m_, [&](std::size_t j) {
                    if (stamp_[j] == round || !meets(boxes_.box(j), w, m_)) return true;
                    stamp_[j] = round;
                    near_.push_back(j);
                    return true;
                });
            }
        }
    }

    // The boundary of the union of the near items' NFPs.
    std::vector<Contour> boundary() {
        std::sort(near_.begin(), near_.end());  // in placement order, as the union would take them
        paths_.clear();
        bool convex = true;
        for (std::size_t j : near_) {
            const Shape& o = *packed_[j];
            if (circle_ && o.is_circle()) {
                const double R = circle_cast(o).rotated_shape().radius + rm_;
                paths_.push_back(world_path(regular_polygon_at_origin(R), o.tx(), o.ty()));
                // Each vertex of a 64-gon stands R (1 - cos(pi/32)) off the chord of its
                // neighbours: from 3e-4 on that outweighs the snapping of all three.
                if (R >= 1e-3) continue;
            } else {
                const Contour& local = local_of_(j);
                convex = convex && is_convex(local);
                paths_.push_back(world_path(local, o.tx(), o.ty()));
                // The closing point repeats the first up to rounding, but can
                // snap a unit away from it: the path would turn back there.
                if (local.size() > 3 && std::fabs(local.back().x - local.front().x) <= 1e-9 * (1 + std::fabs(local.front().x)) &&
                    std::fabs(local.back().y - local.front().y) <= 1e-9 * (1 + std::fabs(local.front().y)))
                    paths_.back().pop_back();
            }
            // the edges are clipped as snapped, so the snapped path must be convex
            convex = convex && convex_on_grid(paths_.back());
        }
        if (!convex) return unite_paths(paths_, UnionInput::Trusted);
        // Convex NFPs: the union's boundary without a union.
        world_.clear();
        for (const ClipperLib::Path& p : paths_) world_.push_back(to_contour(p));
        return convex_union_edges(world_, span_, m_);
    }

    const WindowedBin& bin_;
    const std::vector<Shape*>& packed_;
    const Shape& mover_;
    const LocalNfpOf& local_of_;
    const bool circle_;
    const double rm_;
    const bool indexed_;  // a circle mover among placed circles the bin indexes
    const BBox range_;
    const BoxBound bound_;
    double reach_ = 0.0;
    NfpBoxes boxes_;
    // 1 convex counter-clockwise, -1 convex clockwise, 2 not convex, 0 not yet known
    std::vector<signed char> convex_nfp_;
    std::vector<std::size_t> stamp_;  // the round an item was last gathered in
    std::vector<const BBox*> batch_;
    std::vector<std::size_t> near_, found_;
    BBox span_{};
    double m_ = 0.0;
    std::vector<const Contour*> polys_;
    std::vector<Pt> at_;
    std::vector<double> turns_;
    ClipperLib::Paths paths_;
    std::vector<Contour> world_;
};

}  // namespace

std::vector<BBox> search_boxes(const WindowedBin& bin, const Shape& mover) {
    const double bin_w = bin.bin_w, bin_h = bin.bin_h;
    const Placement placement = bin.placement;
    const FreeWindows& windows = bin.windows;
    const BBox rb = rotated_bbox(mover);
    const Pt ref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
    std::vector<std::pair<double, BBox>> order;
    const BoxBound bound(mover, bin_w, bin_h, 1e-6, placement);
    order.reserve(windows.list.size());
    const double cx = bin_w / 2 - ((rb.minx + rb.maxx) / 2 - ref.x), cy = bin_h / 2 - ((rb.miny + rb.maxy) / 2 - ref.y);
    const double d = bin.probe.radius - windows.probe_radius;
    const Pt offset = bin.probe.offset;
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

SearchResult windowed_search(const WindowedBin& bin, const Shape& mover, const LocalNfpOf& local_of) {
    const std::vector<BBox> order = search_boxes(bin, mover);
    if (order.empty()) {  // a full bin costs no more
        SearchResult none;
        none.score = kInf;
        return none;
    }
    return WindowedSearch(bin, mover, local_of).run(order);
}

}  // namespace quarvo
