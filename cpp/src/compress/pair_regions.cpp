#include "compress/pair_regions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

#include "geometry/minkowski.hpp"
#include "nfp/nfp.hpp"
#include "nfp/nfp_cache.hpp"
#include "place/nfp/candidate_search.hpp"
#include "place/nfp/hole_rooms.hpp"
#include "quarvo/constants.hpp"

namespace quarvo {
namespace compress_detail {

namespace {

// Up to this many variants the pairs live in a table of pointers (8 bytes per pair).
constexpr std::size_t kDenseVariants = 2048;
// Horizontal slabs of a region at most (on the detailed real-world outlines,
// 96 took 3-4 % less CPU than 256, and 1,024 took 10-15 % more).
constexpr std::size_t kMaxSlabs = 96;
// An edge whose squared distance across exceeds the best by this factor is passed over.
constexpr double kFarther = 1.0 + 1e-9;
// The containment grid: cells a side, and how far beyond its box an edge
// marks cells (of the region's size), so that rounding never hides an edge.
constexpr int kCells = 16;
constexpr double kCellPad = 1e-9;

// Squared distance from p to the segment from a to a + (dx, dy); with `at`,
// the segment's nearest point goes there.
double seg_dist2(double px, double py, double ax, double ay, double dx, double dy, double inv_len2,
                 Pt* at = nullptr) {
    double ex = px - ax, ey = py - ay;
    const double t = std::min(1.0, std::max(0.0, (ex * dx + ey * dy) * inv_len2));
    if (at) *at = {ax + t * dx, ay + t * dy};
    ex -= t * dx;
    ey -= t * dy;
    return ex * ex + ey * ey;
}

}  // namespace

RegionIndex::RegionIndex(const Region& region) {
    std::vector<Seg> segs;
    box_ = {kInf, kInf, -kInf, -kInf};
    for (const Contour& c : region) {
        for (std::size_t i = 0; i + 1 < c.size(); ++i) {
            const Pt a = c[i], b = c[i + 1];
            if (a == b) continue;
            const double dx = b.x - a.x, dy = b.y - a.y;
            segs.push_back({a.x, a.y, b.x, b.y, 1.0 / (dx * dx + dy * dy), std::min(a.x, b.x), std::max(a.x, b.x)});
        }
        for (const Pt& p : c) {
            box_.minx = std::min(box_.minx, p.x);
            box_.miny = std::min(box_.miny, p.y);
            box_.maxx = std::max(box_.maxx, p.x);
            box_.maxy = std::max(box_.maxy, p.y);
        }
    }
    if (segs.empty()) {
        box_ = {0.0, 0.0, 0.0, 0.0};
        return;
    }
    // About two edges per slab, at most kMaxSlabs: a slab's edges are few, a
    // long edge is listed in every slab it crosses, and a query far inside a
    // detailed region walks fewer slabs outward.
    slabs_ = static_cast<int>(std::min<std::size_t>(kMaxSlabs, std::max<std::size_t>(1, segs.size() / 2)));
    y0_ = box_.miny;
    const double h = box_.maxy - box_.miny;
    slab_h_ = h > 0.0 ? h / slabs_ : 1.0;
    inv_h_ = 1.0 / slab_h_;
    auto slab_of = [&](double y) {
        const double s = std::floor((y - y0_) * inv_h_);
        return static_cast<int>(std::min<double>(slabs_ - 1, std::max(0.0, s)));
    };
    std::vector<std::uint32_t> count(static_cast<std::size_t>(slabs_) + 1, 0);
    for (const Seg& s : segs)
        for (int k = slab_of(std::min(s.ay, s.by)), e = slab_of(std::max(s.ay, s.by)); k <= e; ++k) ++count[k + 1];
    start_.assign(count.size(), 0);
    for (std::size_t k = 1; k < count.size(); ++k) start_[k] = start_[k - 1] + count[k];
    // Each slab holds copies of its edges side by side, in the edges' order:
    // a query reads one run of memory, not edges scattered over the region.
    slab_.resize(start_.back());
    std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
    for (const Seg& s : segs)
        for (int k = slab_of(std::min(s.ay, s.by)), e = slab_of(std::max(s.ay, s.by)); k <= e; ++k) slab_[fill[k]++] = s;
    const double w = box_.maxx - box_.minx;
    if (!(w > 0.0) || !(h > 0.0)) return;  // no grid: every query scans
    cell_inv_w_ = kCells / w;
    cell_inv_h_ = kCells / h;
    cell_.assign(kCells * kCells, 0);
    const double pad = kCellPad * std::max(w, h);
    for (const Seg& g : segs) {
        const int x0 = cell_of(g.minx - pad, box_.minx, cell_inv_w_), x1 = cell_of(g.maxx + pad, box_.minx, cell_inv_w_);
        const int y0 = cell_of(std::min(g.ay, g.by) - pad, box_.miny, cell_inv_h_);
        const int y1 = cell_of(std::max(g.ay, g.by) + pad, box_.miny, cell_inv_h_);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) cell_[y * kCells + x] = 2;
    }
    // A cell no edge comes near lies wholly on one side: its centre tells which.
    for (int y = 0; y < kCells; ++y)
        for (int x = 0; x < kCells; ++x)
            if (cell_[y * kCells + x] != 2)
                cell_[y * kCells + x] = scan_contains({box_.minx + (x + 0.5) / cell_inv_w_, box_.miny + (y + 0.5) / cell_inv_h_});
}

int RegionIndex::cell_of(double v, double lo, double inv) const {
    const double c = std::floor((v - lo) * inv);
    return static_cast<int>(std::min<double>(kCells - 1, std::max(0.0, c)));
}

bool RegionIndex::contains(Pt q) const {
    if (slab_.empty() || q.x < box_.minx || q.x > box_.maxx || q.y < box_.miny || q.y > box_.maxy) return false;
    if (!cell_.empty()) {
        const std::uint8_t c =
            cell_[cell_of(q.y, box_.miny, cell_inv_h_) * kCells + cell_of(q.x, box_.minx, cell_inv_w_)];
        if (c != 2) return c == 1;
    }
    return scan_contains(q);
}

bool RegionIndex::scan_contains(Pt q) const {
    const double s = std::floor((q.y - y0_) * inv_h_);
    const int k = static_cast<int>(std::min<double>(slabs_ - 1, std::max(0.0, s)));
    bool in = false;
    // Every edge that crosses the horizontal through q is listed in q's slab.
    for (std::uint32_t e = start_[k]; e < start_[k + 1]; ++e) {
        const Seg& g = slab_[e];
        if ((g.ay > q.y) != (g.by > q.y)) {
            const double x = g.ax + (q.y - g.ay) * (g.bx - g.ax) / (g.by - g.ay);
            if (q.x < x) in = !in;
        }
    }
    return in;
}

template <class Visit>
double RegionIndex::scan_near(Pt q, double best, Visit visit) const {
    const double s = std::floor((q.y - y0_) * inv_h_);
    const int k0 = static_cast<int>(std::min<double>(slabs_ - 1, std::max(0.0, s)));
    auto scan = [&](int k) {
        for (std::uint32_t e = start_[k]; e < start_[k + 1]; ++e) best = visit(slab_[e], best);
    };
    scan(k0);
    // Outward slab by slab while a slab can still hold a nearer edge.
    for (int lo = k0 - 1, hi = k0 + 1; lo >= 0 || hi < slabs_;) {
        bool any = false;
        if (lo >= 0) {
            const double gap = q.y - (y0_ + (lo + 1) * slab_h_);
            if (gap <= 0.0 || gap * gap < best) {
                scan(lo--);
                any = true;
            } else {
                lo = -1;
            }
        }
        if (hi < slabs_) {
            const double gap = (y0_ + hi * slab_h_) - q.y;
            if (gap <= 0.0 || gap * gap < best) {
                scan(hi++);
                any = true;
            } else {
                hi = slabs_;
            }
        }
        if (!any) break;
    }
    return best;
}

double RegionIndex::distance(Pt q, double limit) const {
    if (slab_.empty()) return limit;
    return std::sqrt(scan_near(q, limit * limit, [&](const Seg& g, double best) {
        // An edge farther across than the best so far cannot be nearer (the
        // factor keeps the rounding of its exact distance from mattering).
        const double across = std::max(g.minx - q.x, q.x - g.maxx);
        if (across > 0.0 && across * across > best * kFarther) return best;
        return std::min(best, seg_dist2(q.x, q.y, g.ax, g.ay, g.bx - g.ax, g.by - g.ay, g.inv_len2));
    }));
}

double RegionIndex::nearest(Pt q, Pt& at, double limit) const {
    if (slab_.empty()) return limit;
    const double best = scan_near(q, limit * limit, [&](const Seg& g, double best2) {
        Pt on;
        const double d2 = seg_dist2(q.x, q.y, g.ax, g.ay, g.bx - g.ax, g.by - g.ay, g.inv_len2, &on);
        if (!(d2 < best2)) return best2;
        at = on;
        return d2;
    });
    return std::sqrt(best);
}

PairShape::PairShape(std::shared_ptr<const Region> nfp, const std::vector<Region>& fits)
    : keep_(std::move(nfp)), nfp_(*keep_) {
    for (const Region& f : fits)
        if (!f.empty()) fits_.emplace_back(f);
}

bool PairShape::inside(Pt q) const {
    const BBox& b = nfp_.box();
    // On the box's edge the mover at most touches.
    if (!(q.x > b.minx && q.x < b.maxx && q.y > b.miny && q.y < b.maxy)) return false;
    if (!nfp_.contains(q)) return false;
    for (const RegionIndex& f : fits_)
        if (f.contains(q)) return false;
    return true;
}

double PairShape::inner_depth(Pt q, double limit) const {
    double d = nfp_.distance(q, limit);
    for (const RegionIndex& f : fits_) d = f.distance(q, d);
    return d;
}

Pt PairShape::escape(Pt q) const {
    if (!inside(q)) return q;
    Pt at = q;
    double d = nfp_.nearest(q, at);
    for (const RegionIndex& f : fits_) d = f.nearest(q, at, d);
    return at;
}

Catalogue::Catalogue(const std::vector<Shape*>& items, const std::vector<std::vector<double>>& angles, bool exact,
                     bool nonconvex)
    : exact_(exact), nonconvex_(nonconvex) {
    // Kinds: same geometry, inflation and angles (to the cache's 6 decimals).
    std::map<std::tuple<int, double, std::vector<double>>, std::size_t> kinds;
    kind_of_.resize(items.size());
    present_.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        Shape& s = *items[i];
        std::vector<double> keys;
        for (double a : angles[i]) keys.push_back(round6(a));
        auto key = std::make_tuple(geometry_signature(s), round6(s.infl()), keys);
        auto it = kinds.find(key);
        if (it == kinds.end()) {
            const std::size_t k = kinds_.size();
            it = kinds.emplace(key, k).first;
            kinds_.emplace_back();
            for (double a : angles[i]) {
                std::unique_ptr<Shape> m = s.clone_geometry();
                m->set_position(0.0, 0.0);
                m->set_rotation(a);
                if (m->is_polygon() && !convex_outline(*m)) static_cast<Polygon&>(*m).set_mitred_outline(true);
                Variant v;
                v.kind = k;
                v.rotation = a;
                v.ref = item_reference(*m);
                v.box = rotated_bbox(*m);
                v.infl = m->infl();
                v.outline = item_contour(*m, exact);
                v.reach = polygon_bbox(v.outline);
                if (exact && m->is_circle()) v.disc = circle_cast(*m).radius + m->infl();
                if (exact && m->is_pipe()) v.bore = std::max(0.0, pipe_cast(*m).bore() - m->infl());
                for (const HoleRoom& r : hole_rooms({m.get()}, false, nonconvex))
                    if (r.usable) v.rooms.push_back(r.room);
                std::unique_ptr<Shape> bare = m->clone_geometry();
                bare->set_infl(0.0);
                v.top = -kInf;
                for (const Pt& p : bare->world_contour()) v.top = std::max(v.top, p.y);
                v.area = bare->area();
                kinds_[k].push_back(variants_.size());
                variants_.push_back(std::move(v));
                models_.push_back(std::move(m));
            }
        }
        kind_of_[i] = it->second;
        const std::vector<std::size_t>& vs = kinds_[it->second];
        present_[i] = vs.front();
        for (std::size_t j = 0; j < vs.size(); ++j)
            if (round6(angles[i][j]) == round6(s.rotation())) present_[i] = vs[j];
    }
    const std::size_t n = variants_.size();
    if (n <= kDenseVariants) {
        dense_.reset(new std::atomic<const PairShape*>[n * n]);
        for (std::size_t k = 0; k < n * n; ++k) dense_[k].store(nullptr, std::memory_order_relaxed);
    }
}

Catalogue::~Catalogue() {
    if (!dense_) return;
    const std::size_t n = variants_.size();
    for (std::size_t k = 0; k < n * n; ++k) delete dense_[k].load();
}

std::unique_ptr<Probes> Catalogue::probes() const {
    auto p = std::make_unique<Probes>();
    for (const auto& m : models_) p->shapes.push_back(m->clone_geometry());
    return p;
}

const PairShape& Catalogue::build(std::size_t a, std::size_t b, std::size_t key, Probes& probes) const {
    if (!dense_) {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = built_.find(key);
        if (it != built_.end()) return *it->second;
    }
    Shape& fixed = *probes.shapes[a];
    Shape& mover = *probes.shapes[b];
    std::shared_ptr<const Region> nfp = local_nfp(fixed, mover, exact_, nonconvex_ || !convex_outline(fixed) ||
                                                                        !convex_outline(mover));
    std::vector<Region> fits;
    const Variant& va = variants_[a];
    if (!va.rooms.empty()) {
        const Contour outline = item_contour(mover, exact_);
        const Pt ref = item_reference(mover);
        for (const Contour& room : va.rooms) fits.push_back(hole_inner_fit(room, outline, ref));
    }
    auto made = std::make_unique<const PairShape>(std::move(nfp), fits);
    if (dense_) {
        const PairShape* expected = nullptr;
        const PairShape* mine = made.get();
        // Another thread may have built the same pair meanwhile: equal, so the first one stays.
        if (dense_[key].compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) {
            made.release();
            return *mine;
        }
        return *expected;
    }
    std::lock_guard<std::mutex> lock(mu_);
    auto it = built_.emplace(key, std::move(made)).first;
    return *it->second;
}

}  // namespace compress_detail
}  // namespace quarvo
