// What the compression phase knows of its items' geometry: every item kind at
// every angle it may take (a variant), and per pair of variants the region of
// the mover's reference point where the two overlap, prepared for fast point
// queries 
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {
namespace compress_detail {

// The closed contours of a region (even-odd: an outer contour, its holes)
// bucketed by horizontal slabs, so that a point query looks at the edges of
// one slab (inside) or of the slabs nearer than the best distance so far.
class RegionIndex {
public:
    RegionIndex() = default;
    explicit RegionIndex(const Region& region);

    bool empty() const { return slab_.empty(); }
    const BBox& box() const { return box_; }
    // Even-odd over every contour; a point on the boundary may go either way.
    bool contains(Pt q) const;
    // Distance from q to the nearest boundary point, or `limit` when that is nearer.
    double distance(Pt q, double limit = std::numeric_limits<double>::infinity()) const;
    // The nearest boundary point to q when it is nearer than `limit` (into
    // `at`, with its distance returned); otherwise `limit`, `at` untouched.
    double nearest(Pt q, Pt& at, double limit = std::numeric_limits<double>::infinity()) const;

private:
    struct Seg {
        double ax, ay, bx, by;
        double inv_len2;  // 1 / squared length (the edges are not points)
        double minx, maxx;
    };
    // Visits the edges of the slabs that can hold an edge nearer to q than the
    // best squared distance so far; `visit(seg)` returns the new best.
    template <class Visit>
    double scan_near(Pt q, double best2, Visit visit) const;
    std::vector<Seg> slab_;  // slab k: slab_[start_[k] .. start_[k + 1])
    std::vector<std::uint32_t> start_;
    // A coarse grid over the box: per cell 0 (outside), 1 (inside) or 2 (an
    // edge comes near it: the slab decides).
    bool scan_contains(Pt q) const;
    int cell_of(double v, double lo, double inv) const;
    std::vector<std::uint8_t> cell_;
    double cell_inv_w_ = 0.0, cell_inv_h_ = 0.0;
    BBox box_{0.0, 0.0, 0.0, 0.0};
    double y0_ = 0.0, slab_h_ = 1.0, inv_h_ = 1.0;
    int slabs_ = 0;
};

// Fixed item a (zero translation) against mover b: how deep b's reference
// point q lies in the region where b overlaps a. The region is a's NFP less
// the inner-fit regions of b in a's rooms (b wholly in a hole of a is clear of a).
class PairShape {
public:
    PairShape(std::shared_ptr<const Region> nfp, const std::vector<Region>& fits);

    const BBox& box() const { return nfp_.box(); }
    // 0 when b is clear of a; otherwise the distance q must travel to leave
    // the region (to the NFP's boundary or into a room's inner-fit region),
    // or `limit` when that is less.
    double depth(Pt q, double limit = std::numeric_limits<double>::infinity()) const {
        return inside(q) ? inner_depth(q, limit) : 0.0;
    }
    // In the NFP and in no room's inner-fit region (the box's edge counts as out).
    bool inside(Pt q) const;
    // The depth of a point inside.
    double inner_depth(Pt q, double limit) const;
    // Where q leaves the region by the shortest way (q itself when it is not in it).
    Pt escape(Pt q) const;
    // The NFP: its corners are the places where b touches a at a corner of each.
    const Region& nfp() const { return *keep_; }
    // Whether b lies wholly in one of a's rooms.
    bool in_room(Pt q) const {
        for (const RegionIndex& f : fits_)
            if (f.contains(q)) return true;
        return false;
    }

private:
    std::shared_ptr<const Region> keep_;
    RegionIndex nfp_;
    std::vector<RegionIndex> fits_;
};

// An item kind at one angle.
struct Variant {
    std::size_t kind = 0;
    double rotation = 0.0;
    Pt ref{};            // the reference point above the translation
    BBox box{};          // the inflated item's box above the translation, as the placers fit it in a bin
    double infl = 0.0;   // the item's inflation, which counts towards the bin's edge margin
    BBox reach{};        // the box of `outline` (a circumscribed circle reaches a little beyond `box`)
    double top = 0.0;    // the true outline's largest y above the translation
    double area = 0.0;   // of the true outline
    Contour outline;     // the inflated outline as the placers see it, above the translation
    double disc = 0.0;   // with exact clearance, a circle's inflated radius: the placers keep clear of the true circle
    double bore = 0.0;   // with exact clearance, a pipe's bore less the inflation (0: none)
    std::vector<Contour> rooms;  // a container's holes moved inward by its inflation
};

// Private copies of every variant's shape, for one thread's NFP lookups
// (a shape's lazy caches are not shared between threads).
struct Probes {
    std::vector<std::unique_ptr<Shape>> shapes;
};

// Items grouped in kinds (same geometry, inflation and angles), their variants
// and the pair regions, built on first use and shared by every thread.
class Catalogue {
public:
    // `angles`: per item, the angles it may take (its present angle among them).
    Catalogue(const std::vector<Shape*>& items, const std::vector<std::vector<double>>& angles, bool exact,
              bool nonconvex);
    ~Catalogue();
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    std::size_t size() const { return variants_.size(); }
    const Variant& variant(std::size_t v) const { return variants_[v]; }
    std::size_t kind_of(std::size_t item) const { return kind_of_[item]; }
    // The variants an item may take, in the order of its angles.
    const std::vector<std::size_t>& choices(std::size_t item) const { return kinds_[kind_of_[item]]; }
    // The variant of the item's present angle.
    std::size_t present(std::size_t item) const { return present_[item]; }
    bool exact() const { return exact_; }

    std::unique_ptr<Probes> probes() const;
    // The region of mover variant `b` against fixed variant `a`.
    const PairShape& pair(std::size_t a, std::size_t b, Probes& probes) const {
        const std::size_t key = a * variants_.size() + b;
        if (dense_) {
            const PairShape* p = dense_[key].load(std::memory_order_acquire);
            if (p) return *p;
        }
        return build(a, b, key, probes);
    }

private:
    const PairShape& build(std::size_t a, std::size_t b, std::size_t key, Probes& probes) const;

    std::vector<Variant> variants_;
    std::vector<std::vector<std::size_t>> kinds_;  // per kind: its variants
    std::vector<std::size_t> kind_of_, present_;
    std::vector<std::unique_ptr<Shape>> models_;  // per variant: the shape at its angle, zero translation
    bool exact_ = false, nonconvex_ = false;
    // Pairs built so far: a table when the variants are few, a map otherwise.
    std::unique_ptr<std::atomic<const PairShape*>[]> dense_;
    mutable std::mutex mu_;
    mutable std::unordered_map<std::size_t, std::unique_ptr<const PairShape>> built_;
};

}  // namespace compress_detail
}  // namespace quarvo
