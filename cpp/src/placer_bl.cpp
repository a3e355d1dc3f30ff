#include "quarvo/placer_bl.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "quarvo/cancel.hpp"
#include "quarvo/clipper_util.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/validate.hpp"

namespace quarvo {

namespace {
double perimeter(const Contour& c) {
    double p = 0.0;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) p += std::hypot(c[i + 1].x - c[i].x, c[i + 1].y - c[i].y);
    return p;
}
}  // namespace

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
static_assert(sizeof(Pt) == 2 * sizeof(double), "contours are compared bytewise");

inline double across(Pt p, Direction dir) { return dir == Direction::Left ? p.y : p.x; }
inline double along(Pt p, Direction dir) { return dir == Direction::Left ? p.x : p.y; }

// Index of the first non-finite point, or npos.
std::size_t first_non_finite(const Contour& c) {
    for (std::size_t i = 0; i < c.size(); ++i)
        if (!std::isfinite(c[i].x) || !std::isfinite(c[i].y)) return i;
    return static_cast<std::size_t>(-1);
}

void require_finite(const Contour& c, const std::string& what) {
    std::size_t i = first_non_finite(c);
    if (i != static_cast<std::size_t>(-1))
        throw ValueError(what + " has a non-finite point (" + format_number(c[i].x) + ", " + format_number(c[i].y) + ") at index " +
                         std::to_string(i));
}

// Least along-coordinate of the contour: the first value unless a later one is
// strictly less, as the host's min() picks it.
double least_along(const Contour& pts, Direction dir) {
    if (pts.empty()) throw ValueError("min() arg is an empty sequence");
    double m = along(pts[0], dir);
    for (std::size_t i = 1; i < pts.size(); ++i) {
        double v = along(pts[i], dir);
        if (v < m) m = v;
    }
    return m;
}

template <bool Left>
inline double dist(Pt v, Pt a, Pt b) {
    return Left ? horizontal_distance(v, a, b) : vertical_distance(v, a, b);
}

bool boxes_apart(const BBox& a, const BBox& b) {
    return a.maxx < b.minx || b.maxx < a.minx || a.maxy < b.miny || b.maxy < a.miny;
}

// Coordinates up to this size keep every projection of the separating-axis
// test finite (|axis| <= 2 * 1e150, |product| <= 4e300, |sum| <= 8e300).
constexpr double kTame = 1e150;

struct Axis {
    double ax, ay, lo, hi;  // the edge normal and the contour's own projection range
};

void project(const Contour& p, double ax, double ay, double& lo, double& hi) {
    lo = hi = p[0].x * ax + p[0].y * ay;
    for (std::size_t i = 1; i < p.size(); ++i) {
        double v = p[i].x * ax + p[i].y * ay;
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
}

// Whether every coordinate fits the integer grid of the clipping library.
bool on_grid(const Contour& c) {
    for (const Pt& p : c)
        for (double v : {p.x, p.y})
            if (!(std::fabs(std::nearbyint(v * 1000000)) < 4611686018427387903.0)) return false;
    return true;
}

// Ctrl-C in the quadratic loops: every 256th step of an outer loop whose
// steps each walk a whole contour (a 100,000-point pair takes seconds).
inline void poll(std::size_t i) {
    if ((i & 255) == 255) check_cancel();
}

// The general test after the box test: an edge of one meets an edge of the
// other, or a point of one lies in or on the other.
bool boundaries_or_points_meet(const Contour& a, const Contour& b) {
    for (std::size_t i = 0; i + 1 < a.size(); ++i) {
        poll(i);
        for (std::size_t j = 0; j + 1 < b.size(); ++j)
            if (segments_intersect(a[i], a[i + 1], b[j], b[j + 1])) return true;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        poll(i);
        if (point_in_polygon(a[i], b)) return true;
    }
    for (std::size_t i = 0; i < b.size(); ++i) {
        poll(i);
        if (point_in_polygon(b[i], a)) return true;
    }
    return false;
}

// A contour with what the intersection filter needs about it.
struct Geo {
    Contour poly;
    BBox box{0, 0, 0, 0};
    bool tame = false;    // non-empty, finite, no coordinate beyond kTame
    bool convex = false;  // is_convex(poly)
    bool axes_built = false;
    std::vector<Axis> axes;

    void assign(Contour c) {
        poly = std::move(c);
        convex = is_convex(poly);
        axes_built = false;
        axes.clear();
        tame = !poly.empty();
        for (const Pt& p : poly)
            if (!(std::fabs(p.x) <= kTame && std::fabs(p.y) <= kTame)) { tame = false; break; }
        if (!poly.empty()) box = polygon_bbox(poly);
    }

    // Separating axes of the contour's own edges, with its projections on them,
    // computed as sat_intersects computes them.
    const std::vector<Axis>& own_axes() {
        if (!axes_built) {
            axes.clear();
            for (std::size_t i = 0; i + 1 < poly.size(); ++i) {
                poll(i);
                Axis a;
                a.ax = -(poly[i + 1].y - poly[i].y);
                a.ay = poly[i + 1].x - poly[i].x;
                project(poly, a.ax, a.ay, a.lo, a.hi);
                axes.push_back(a);
            }
            axes_built = true;
        }
        return axes;
    }
};

}  // namespace

struct BottomLeftPlacer::Placed : Geo {
    const Shape* item = nullptr;
    unsigned char key[48];
};

namespace {

// Transformation state that determines an item's world contour (a polygon's
// outline is fixed at construction).
void state_key(const Shape& s, unsigned char out[48]) {
    double v[6] = {static_cast<double>(static_cast<int>(s.kind())), s.tx(), s.ty(), s.rotation(), s.infl(),
                   s.is_circle() ? static_cast<const Circle&>(s).radius : 0.0};
    std::memcpy(out, v, sizeof v);
}

// Lower and upper bounds of the projections of every point of box `b` on the
// axis. Rounding is monotone, so each computed projection of a point inside the
// box lies between the computed projections of the two corners chosen by the
// signs of the axis.
inline void corner_bounds(const BBox& b, double ax, double ay, double& lo, double& hi) {
    lo = (ax >= 0 ? b.minx : b.maxx) * ax + (ay >= 0 ? b.miny : b.maxy) * ay;
    hi = (ax >= 0 ? b.maxx : b.minx) * ax + (ay >= 0 ? b.maxy : b.miny) * ay;
}

// sat_intersects(p.poly, s.poly) for two tame contours, using the cached own
// projections. The test answers false as soon as any one of its axes
// separates, whatever the order, so when the boxes are apart a quick pass
// first looks for an axis that separates the other contour's whole box: it
// separates the contour too, and settles the answer without projecting it.
bool sat_tame(Geo& p, Geo& s, bool boxes_disjoint) {
    const std::vector<Axis>& pa = p.own_axes();
    if (boxes_disjoint) {
        for (const Axis& a : pa) {
            double lo, hi;
            corner_bounds(s.box, a.ax, a.ay, lo, hi);
            if (a.hi < lo || hi < a.lo) return false;
        }
        for (const Axis& a : s.own_axes()) {
            double lo, hi;
            corner_bounds(p.box, a.ax, a.ay, lo, hi);
            if (hi < a.lo || a.hi < lo) return false;
        }
    }
    for (std::size_t i = 0; i < pa.size(); ++i) {
        const Axis& a = pa[i];
        poll(i);
        double min2, max2;
        project(s.poly, a.ax, a.ay, min2, max2);
        if (a.hi < min2 || max2 < a.lo) return false;
    }
    const std::vector<Axis>& sa = s.own_axes();
    for (std::size_t i = 0; i < sa.size(); ++i) {
        const Axis& a = sa[i];
        poll(i);
        double min1, max1;
        project(p.poly, a.ax, a.ay, min1, max1);
        if (max1 < a.lo || a.hi < min1) return false;
    }
    return true;
}

// polys_intersect(p.poly, s.poly), the same answer with cached convexity,
// boxes and projections. Boxes apart do not decide a convex pair by
// themselves: the separating-axis test has only the edge normals, and two
// collinear segments far apart still intersect for it.
bool geo_intersect(Geo& p, Geo& s) {
    if (!p.tame || !s.tame) return polys_intersect(p.poly, s.poly);
    bool disjoint = boxes_apart(p.box, s.box);
    if (p.convex && s.convex) return sat_tame(p, s, disjoint);
    if (disjoint) return false;
    return boundaries_or_points_meet(p.poly, s.poly);
}

// The least accepted candidate of one obstacle against the item. Candidates
// whose distance function answers +inf (the segment does not span the point)
// are skipped unevaluated; they can never be accepted.
template <bool Left>
void obstacle_candidates(const Contour& item, const BBox& item_box, const Geo& other, double& m) {
    const Contour& ob = other.poly;
    const double lo_o = Left ? other.box.miny : other.box.minx;
    const double hi_o = Left ? other.box.maxy : other.box.maxx;
    const std::size_t ne = ob.size() - 1;
    for (std::size_t iv = 0; iv < item.size(); ++iv) {
        const Pt& v = item[iv];
        poll(iv);
        const double c = Left ? v.y : v.x;
        if (c < lo_o || c > hi_o) continue;  // outside every obstacle edge's span
        for (std::size_t i = 0; i < ne; ++i) {
            double d = dist<Left>(v, ob[i], ob[i + 1]);
            if (d >= -EPS && d < m) m = d;
        }
    }
    const double lo_i = Left ? item_box.miny : item_box.minx;
    const double hi_i = Left ? item_box.maxy : item_box.maxx;
    // Obstacle points outside the item's span are spanned by no item edge.
    Pt near[256];
    std::vector<Pt> near_big;
    Pt* pts = near;
    std::size_t n = 0;
    if (ob.size() > 256) {
        near_big.reserve(ob.size());
        for (const Pt& v : ob) {
            const double c = Left ? v.y : v.x;
            if (!(c < lo_i || c > hi_i)) near_big.push_back(v);
        }
        pts = near_big.data();
        n = near_big.size();
    } else {
        for (const Pt& v : ob) {
            const double c = Left ? v.y : v.x;
            if (!(c < lo_i || c > hi_i)) near[n++] = v;
        }
    }
    if (n == 0) return;
    for (std::size_t i = 0; i + 1 < item.size(); ++i) {
        poll(i);
        const Pt a = item[i], b = item[i + 1];
        for (std::size_t k = 0; k < n; ++k) {
            double d = -dist<Left>(pts[k], a, b);
            if (d >= -EPS && d < m) m = d;
        }
    }
}

}  // namespace

Contour as_polygon(const Shape& shape) {
    if (shape.is_circle()) {
        CircleGeom g = static_cast<const Circle&>(shape).transformed();
        return circle_to_polygon(g.center, g.radius, 64);
    }
    if (shape.is_polygon()) return static_cast<const Polygon&>(shape).transformed();
    return shape.world_contour();  // the base shape has no geometry: NotImplementedError
}

std::vector<SweepEntry> to_wall_poly_entries(const Contour& pts, Direction dir) {
    std::vector<SweepEntry> out;
    if (pts.size() < 4) {
        for (std::size_t i = 0; i < pts.size(); ++i) out.push_back({SweepEntry::Vertex, i});
        return out;
    }
    const std::size_t m = pts.size() - 1;
    double max_c = -kInf, min_c = kInf;
    std::vector<std::size_t> top_idx, bottom_idx;
    for (std::size_t idx = 0; idx < m; ++idx) {
        const double v = across(pts[idx], dir);
        if (v > max_c) {
            max_c = v;
            top_idx.assign(1, idx);
        } else if (v == max_c) {
            top_idx.push_back(idx);
        }
        if (v < min_c) {
            min_c = v;
            bottom_idx.assign(1, idx);
        } else if (v == min_c) {
            bottom_idx.push_back(idx);
        }
    }
    // Only a contour whose across coordinates are all NaN leaves these empty.
    if (top_idx.empty() || bottom_idx.empty()) throw ValueError("min() arg is an empty sequence");
    auto leftmost = [&](const std::vector<std::size_t>& idx) {
        std::size_t best = idx[0];
        for (std::size_t k = 1; k < idx.size(); ++k)
            if (along(pts[idx[k]], dir) < along(pts[best], dir)) best = idx[k];
        return best;
    };
    const std::size_t tl = leftmost(top_idx), bl = leftmost(bottom_idx);
    out.reserve(m + 4);
    if (dir == Direction::Left) {
        out.push_back({SweepEntry::Vertex, tl});
        if (tl != bl) {
            // Backward from the top: down the side that faces the wall.
            for (std::size_t i = tl;;) {
                i = i == 0 ? m - 1 : i - 1;
                if (i == bl) break;
                out.push_back({SweepEntry::Vertex, i});
            }
        }
        out.push_back({SweepEntry::Vertex, bl});
        out.push_back({SweepEntry::Wall, bl});
        out.push_back({SweepEntry::Wall, tl});
        out.push_back({SweepEntry::Vertex, tl});
    } else {
        out.push_back({SweepEntry::Vertex, tl});
        out.push_back({SweepEntry::Wall, tl});
        out.push_back({SweepEntry::Wall, bl});
        out.push_back({SweepEntry::Vertex, bl});
        if (tl != bl) {
            // Forward from the left-most vertex: over the top of the item.
            for (std::size_t i = bl;;) {
                i = i + 1 == m ? 0 : i + 1;
                if (i == tl) break;
                out.push_back({SweepEntry::Vertex, i});
            }
        }
        out.push_back({SweepEntry::Vertex, tl});
    }
    return out;
}

Contour to_wall_poly(const Contour& pts, Direction dir) {
    std::vector<SweepEntry> e = to_wall_poly_entries(pts, dir);
    Contour out;
    out.reserve(e.size());
    for (const SweepEntry& s : e) {
        const Pt p = pts[s.index];
        if (s.kind == SweepEntry::Vertex) out.push_back(p);
        else if (dir == Direction::Left) out.push_back({0.0, p.y});
        else out.push_back({p.x, 0.0});
    }
    return out;
}

double horizontal_distance(Pt v, Pt a, Pt b) {
    const double miny = std::min(a.y, b.y), maxy = std::max(a.y, b.y);
    if (v.y < miny || v.y > maxy) return kInf;
    double x;
    if (std::fabs(b.y - a.y) < 1e-12) {
        x = std::min(a.x, b.x);
    } else {
        const double t = (v.y - a.y) / (b.y - a.y);
        x = a.x + t * (b.x - a.x);
    }
    return v.x - x;
}

double vertical_distance(Pt v, Pt a, Pt b) {
    const double minx = std::min(a.x, b.x), maxx = std::max(a.x, b.x);
    if (v.x < minx || v.x > maxx) return kInf;
    double y;
    if (std::fabs(b.x - a.x) < 1e-12) {
        y = std::min(a.y, b.y);
    } else {
        const double t = (v.x - a.x) / (b.x - a.x);
        y = a.y + t * (b.y - a.y);
    }
    return v.y - y;
}

double available_space(const Contour& item_poly, const std::vector<Contour>& packed_polys, Direction dir) {
    const Contour scan = to_wall_poly(item_poly, dir);
    std::vector<const Contour*> in_the_way;
    for (const Contour& other : packed_polys)
        if (polys_intersect(other, scan)) in_the_way.push_back(&other);
    const bool left = dir == Direction::Left;
    double m = least_along(item_poly, dir);
    for (const Contour* op : in_the_way) {
        const Contour& other = *op;
        for (const Pt& v : item_poly)
            for (std::size_t i = 0; i + 1 < other.size(); ++i) {
                double d = left ? horizontal_distance(v, other[i], other[i + 1])
                                : vertical_distance(v, other[i], other[i + 1]);
                if (d >= -EPS && d < m) m = d;
            }
        for (std::size_t i = 0; i + 1 < item_poly.size(); ++i)
            for (const Pt& v : other) {
                double d = -(left ? horizontal_distance(v, item_poly[i], item_poly[i + 1])
                                  : vertical_distance(v, item_poly[i], item_poly[i + 1]));
                if (d >= -EPS && d < m) m = d;
            }
    }
    return m;
}

bool polys_intersect(const Contour& a, const Contour& b) {
    // Convex pairs are settled by the separating-axis test alone.
    if (is_convex(a) && is_convex(b)) return sat_intersects(a, b);
    const BBox ba = polygon_bbox(a);
    const BBox bb = polygon_bbox(b);
    if (ba.maxx < bb.minx || bb.maxx < ba.minx || ba.maxy < bb.miny || bb.maxy < ba.miny) return false;
    return boundaries_or_points_meet(a, b);
}

BottomLeftPlacer::BottomLeftPlacer(double bin_w, double bin_h, double epsilon)
    : bin_w(bin_w), bin_h(bin_h), epsilon(epsilon) {}
BottomLeftPlacer::~BottomLeftPlacer() = default;
BottomLeftPlacer::BottomLeftPlacer(BottomLeftPlacer&&) noexcept = default;
BottomLeftPlacer& BottomLeftPlacer::operator=(BottomLeftPlacer&&) noexcept = default;

void BottomLeftPlacer::set_initial_position(Shape& item) const {
    const BBox b = item.bounding_box();
    item.translate(bin_w - b.maxx, bin_h - b.miny);
}

std::vector<Contour> BottomLeftPlacer::packed_polys() const {
    std::vector<Contour> out;
    out.reserve(packed.size());
    for (const Shape* s : packed) {
        if (s == nullptr) throw ValueError("packed holds a null item");
        out.push_back(as_polygon(*s));
    }
    return out;
}

void BottomLeftPlacer::refresh_placed() {
    placed_.resize(packed.size());
    for (std::size_t i = 0; i < packed.size(); ++i) {
        const Shape* s = packed[i];
        if (s == nullptr) throw ValueError("packed holds a null item");
        unsigned char key[48];
        state_key(*s, key);
        std::unique_ptr<Placed>& p = placed_[i];
        if (p && p->item == s && std::memcmp(p->key, key, sizeof key) == 0) {
            // A circle's contour follows from its key. A polygon's outline is
            // compared as well: another polygon may have taken a freed item's
            // address with the same transformation.
            if (!s->is_polygon()) continue;
            const Contour& w = static_cast<const Polygon*>(s)->transformed();
            if (w.size() == p->poly.size() &&
                (w.empty() || std::memcmp(w.data(), p->poly.data(), w.size() * sizeof(Pt)) == 0))
                continue;
        }
        // A caller may have changed a placed item since: NaN must not reach the slide.
        Contour poly = as_polygon(*s);
        require_finite(poly, "placed item " + std::to_string(i) + "'s contour");
        if (!p) p = std::make_unique<Placed>();
        p->assign(std::move(poly));
        p->item = s;
        std::memcpy(p->key, key, sizeof key);
    }
}

double BottomLeftPlacer::free_distance(const Contour& item_poly, Direction dir) const {
    Geo scan;
    scan.assign(to_wall_poly(item_poly, dir));
    std::vector<Placed*> in_the_way;
    for (const std::unique_ptr<Placed>& p : placed_)
        if (geo_intersect(*p, scan)) in_the_way.push_back(p.get());
    double m = least_along(item_poly, dir);
    if (in_the_way.empty()) return m;
    const BBox ib = polygon_bbox(item_poly);
    for (Placed* p : in_the_way) {
        if (p->poly.empty()) continue;
        if (dir == Direction::Left) obstacle_candidates<true>(item_poly, ib, *p, m);
        else obstacle_candidates<false>(item_poly, ib, *p, m);
    }
    return m;
}

bool BottomLeftPlacer::overlaps_placed(const Contour& poly) const {
    if (poly.empty()) return false;
    const BBox b = polygon_bbox(poly);
    for (const std::unique_ptr<Placed>& p : placed_) {
        if (p->poly.empty()) continue;
        const BBox& o = p->box;
        // Boxes that meet in no more than a line leave no common area, on the
        // grid too: snapping to the grid is monotone.
        if (!(b.minx < o.maxx && o.minx < b.maxx && b.miny < o.maxy && o.miny < b.maxy)) continue;
        // Beyond the grid's range no overlap can be ruled out.
        if (!on_grid(poly) || !on_grid(p->poly)) return true;
        // Boundaries that cross properly overlap; a contour tangled millions
        // of times would keep the intersection below busy for hours.
        if (crosses_more_than({&poly, &p->poly}, 2000000)) return true;
        // Snapping to the 1e-6 grid can turn a mere contact into a sliver no
        // wider than the grid along the contact; only more than that overlaps.
        double sliver = 1e-6 * std::min(perimeter(poly), perimeter(p->poly));
        if (intersection_area(poly, p->poly) > sliver) return true;
    }
    return false;
}

bool BottomLeftPlacer::trypack(Shape& item) {
    require_sound_bin(bin_w, bin_h);
    require_finite_option(epsilon, "epsilon");
    require_sound_item(item);
    require_not_placed(item, packed);
    for (std::size_t i = 0; i < packed.size(); ++i)
        if (packed[i] != nullptr) require_sound_item(*packed[i], "placed item " + std::to_string(i));
    require_finite(as_polygon(item), item_label(item, "item") + ": contour");
    const double tx0 = item.tx(), ty0 = item.ty();

    set_initial_position(item);
    Contour item_poly = as_polygon(item);
    if (first_non_finite(item_poly) != static_cast<std::size_t>(-1)) {
        item.set_position(tx0, ty0);
        require_finite(item_poly, "the item's contour at its start position above the bin");
    }
    try {
        refresh_placed();
    } catch (...) {
        item.set_position(tx0, ty0);
        throw;
    }

    double d = free_distance(item_poly, Direction::Down);
    const double eps = epsilon;
    bool can_move = d > eps;
    bool can_be_packed = can_move;
    bool left = true;
    // Two moves in a row that leave the contour as it was put the loop back in
    // a state it has been in (coordinates only ever decrease): it would never
    // end, as happens when the steps vanish against huge coordinates.
    int unchanged = 0;
    Contour prev;
    while (can_move) {
        check_cancel();  // a step costs item vertices x neighbour edges
        const double mv = d - eps;
        if (mv < MIN_PROGRESS) break;
        if (!std::isfinite(mv)) throw ValueError("the slide step overflowed: free distance " + format_number(d) + ", epsilon " + format_number(eps));
        prev.swap(item_poly);
        if (left) {
            item.translate(0.0, -mv);
            item_poly = as_polygon(item);
            require_finite(item_poly, "the item's contour after a move");
            d = free_distance(item_poly, Direction::Left);
            can_move = d > eps;
            left = false;
        } else {
            item.translate(-mv, 0.0);
            item_poly = as_polygon(item);
            require_finite(item_poly, "the item's contour after a move");
            d = free_distance(item_poly, Direction::Down);
            can_move = d > eps;
            left = true;
        }
        if (item_poly == prev) {
            if (++unchanged == 2) break;
        } else {
            unchanged = 0;
        }
    }

    if (can_be_packed) {
        // The clearance lets a contour stand out of the bin by up to eps; in
        // a bin not much larger than eps that is unsound, so no more than
        // 1e-9 of the bin's size is allowed.
        const double out = std::min(eps, 1e-9 * std::max(bin_w, bin_h));
        for (const Pt& v : item_poly) {
            if (v.x < -out || v.y < -out || v.x > bin_w + out || v.y > bin_h + out) {
                can_be_packed = false;
                break;
            }
        }
    }
    // The sweep polygons see only what lies between the item's outside and the
    // wall: a placed item inside the cavity of a non-convex item goes unseen
    // and the slide can end overlapping it. Such a place is refused.
    if (can_be_packed && overlaps_placed(item_poly)) can_be_packed = false;
    if (can_be_packed) {
        packed.push_back(&item);
        placed_.emplace_back();  // built from the item on the next call
        return true;
    }
    return false;
}

}  // namespace quarvo
