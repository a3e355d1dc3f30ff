#include "quarvo/placer_bl.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "core/validate.hpp"
#include "geometry/clipper_bridge.hpp"
#include "geometry/outline_fit.hpp"
#include "place/bin_region.hpp"
#include "place/bl/sweep.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "shapes/item_checks.hpp"

namespace quarvo {

namespace {

static_assert(sizeof(Pt) == 2 * sizeof(double), "contours are compared bytewise");

double perimeter(const Contour& c) {
    double p = 0.0;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) p += std::hypot(c[i + 1].x - c[i].x, c[i + 1].y - c[i].y);
    return p;
}

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

double magnitude(const BBox& b) {
    return std::max({std::fabs(b.minx), std::fabs(b.miny), std::fabs(b.maxx), std::fabs(b.maxy)});
}

// Whether every coordinate fits the integer grid of the clipping library.
bool contour_on_grid(const Contour& c) {
    for (const Pt& p : c)
        for (double v : {p.x, p.y})
            if (!on_grid(v)) return false;
    return true;
}

}  // namespace

struct BottomLeftPlacer::Placed : PreparedContour {
    const Shape* item = nullptr;
    unsigned char key[48];
};

namespace {

struct ContourLess {
    bool operator()(const Contour& a, const Contour& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](const Pt& p, const Pt& q) {
            return p.x < q.x || (p.x == q.x && p.y < q.y);
        });
    }
};

}  // namespace

struct BottomLeftPlacer::Fixed {
    const BinShape* shape = nullptr;
    double inset = 0.0;
    BinRooms rooms;
    std::vector<PreparedContour> room_rings, obstacle_rings;
    std::vector<PreparedContour*> room_ptrs, obstacle_ptrs;
    // Per grown outline about its translation: the translations to start
    // from, highest first, then rightmost.
    std::map<Contour, std::vector<Pt>, ContourLess> starts;
};

namespace {

// Transformation state that determines an item's world contour (a polygon's
// outline is fixed at construction).
void state_key(const Shape& s, unsigned char out[48]) {
    double v[6] = {static_cast<double>(static_cast<int>(s.kind())), s.tx(), s.ty(), s.rotation(), s.infl(),
                   s.is_circle() ? static_cast<const Circle&>(s).radius : 0.0};
    std::memcpy(out, v, sizeof v);
}

}  // namespace

Contour as_polygon(const Shape& shape, bool exact) {
    if (shape.is_circle()) {
        CircleGeom g = static_cast<const Circle&>(shape).transformed();
        // a pipe's outer circle keeps its clearance whatever the option says
        return circle_outline(g.center, g.radius, exact || shape.is_pipe());
    }
    if (shape.is_polygon()) return static_cast<const Polygon&>(shape).transformed();
    return shape.world_contour();  // the base shape has no geometry: NotImplementedError
}

BottomLeftPlacer::BottomLeftPlacer(double bin_w, double bin_h, double epsilon)
    : bin_w(bin_w), bin_h(bin_h), epsilon(epsilon) {}
BottomLeftPlacer::~BottomLeftPlacer() = default;
BottomLeftPlacer::BottomLeftPlacer(BottomLeftPlacer&&) noexcept = default;
BottomLeftPlacer& BottomLeftPlacer::operator=(BottomLeftPlacer&&) noexcept = default;

void BottomLeftPlacer::set_initial_position(Shape& item) const {
    const BBox b = item.bounding_box();
    const double in = inset(item);
    if (in > 0.0) item.translate((bin_w - in) - b.maxx, (bin_h - in) - b.miny);
    else item.translate(bin_w - b.maxx, bin_h - b.miny);
}

std::vector<Contour> BottomLeftPlacer::packed_polys() const {
    std::vector<Contour> out;
    out.reserve(packed.size());
    for (const Shape* s : packed) {
        if (s == nullptr) throw ValueError("packed holds a null item");
        out.push_back(as_polygon(*s, exact_clearance));
    }
    return out;
}

void BottomLeftPlacer::refresh_placed() {
    if (placed_exact_ != exact_clearance) placed_.clear();  // every circle's contour changes
    placed_exact_ = exact_clearance;
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
        Contour poly = as_polygon(*s, exact_clearance);
        require_finite(poly, "placed item " + std::to_string(i) + "'s contour");
        if (!p) p = std::make_unique<Placed>();
        p->assign(std::move(poly));
        p->item = s;
        std::memcpy(p->key, key, sizeof key);
    }
}

double BottomLeftPlacer::free_distance(const Contour& item_poly, Direction dir, double wall, Fixed* fixed) const {
    std::vector<PreparedContour*> obstacles;
    obstacles.reserve(placed_.size());
    for (const std::unique_ptr<Placed>& p : placed_) obstacles.push_back(p.get());
    if (fixed) obstacles.insert(obstacles.end(), fixed->obstacle_ptrs.begin(), fixed->obstacle_ptrs.end());
    // The contact tolerance is the placer's own clearance.
    return quarvo::free_distance(item_poly, obstacles, dir, epsilon, wall, fixed ? &fixed->room_ptrs : nullptr);
}

BottomLeftPlacer::Fixed& BottomLeftPlacer::fixed_for(double inset) {
    for (std::unique_ptr<Fixed>& f : fixed_)
        if (f->shape == shape.get() && f->inset == inset) return *f;
    auto f = std::make_unique<Fixed>();
    f->shape = shape.get();
    f->inset = inset;
    Bin bin{bin_w, bin_h};
    bin.shape = shape;
    f->rooms = bin_rooms(bin, inset);
    for (const Contour& r : f->rooms.rooms) f->room_rings.emplace_back().assign(r);
    for (const Contour& o : f->rooms.obstacles) f->obstacle_rings.emplace_back().assign(o);
    for (PreparedContour& r : f->room_rings) f->room_ptrs.push_back(&r);
    for (PreparedContour& o : f->obstacle_rings) f->obstacle_ptrs.push_back(&o);
    fixed_.push_back(std::move(f));
    return *fixed_.back();
}

bool BottomLeftPlacer::start_in_bin(Shape& item, Fixed& fixed) {
    // the grown outline about the item's translation, as the slide sees it
    const Contour local = item.is_polygon() ? polygon_cast(item).rotated_shape()
                                            : circle_outline({0.0, 0.0}, circle_cast(item).rotated_shape().radius, true);
    auto it = fixed.starts.find(local);
    if (it == fixed.starts.end()) {
        const Region region = fixed_free_region(fixed.rooms, local, {0.0, 0.0}, [] { check_cancel(); });
        // Twice the clearance inside, so that the outline, the holes and the
        // defects lie ahead of the item, never behind it within the slide's tolerance.
        ClipperLib::ClipperOffset off;
        for (const Contour& c : region) {
            ClipperLib::Path p = to_path(c);
            ClipperLib::ReversePath(p);  // outer contours counter-clockwise, as the offset takes them
            off.AddPath(p, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
        }
        ClipperLib::Paths inner;
        off.Execute(inner, -2.0 * epsilon * 1e6);
        std::vector<Pt> starts;
        for (const ClipperLib::Path& p : inner)
            for (const ClipperLib::IntPoint& q : p) starts.push_back({from_grid(q.X), from_grid(q.Y)});
        std::sort(starts.begin(), starts.end(), [](Pt a, Pt b) { return a.y > b.y || (a.y == b.y && a.x > b.x); });
        it = fixed.starts.emplace(local, std::move(starts)).first;
    }
    std::size_t tried = 0;
    for (const Pt& t : it->second) {
        if (++tried % 64 == 0) check_cancel();
        item.set_position(t.x, t.y);
        if (!overlaps_placed(as_polygon(item, true))) return true;
    }
    return false;
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
        if (!contour_on_grid(poly) || !contour_on_grid(p->poly)) return true;
        // Boundaries that cross properly overlap; a contour tangled millions
        // of times would keep the intersection below busy for hours.
        if (crosses_more_than({&poly, &p->poly}, 2000000)) return true;
        // Snapping to the 1e-6 grid can turn a mere contact into a sliver no
        // wider than the grid along the contact; only more than that overlaps.
        double sliver = 1e-6 * std::min(perimeter(poly), perimeter(p->poly));
        if (intersection_area(poly, p->poly) > sliver) return true;
        // So does a corner reaching deeper than the tolerance into an item,
        // whatever the area: a spike of a non-convex item can end so, in an
        // item standing under its notch.
        if (outlines_overlap(poly, p->poly, engine_tolerance(std::max(magnitude(b), magnitude(o))))) return true;
    }
    return false;
}

bool BottomLeftPlacer::trypack(Shape& item, const PlaceRequest& /*request*/) {
    require_sound_bin(bin_w, bin_h);
    require_margin(margin);
    require_finite_option(epsilon, "epsilon");
    require_sound_item(item);
    require_above_grid(item, "item", std::max(bin_w, bin_h));
    if (!packed_checked) {
        require_not_placed(item, packed);
        require_sound_items(packed, "placed item");
    }
    require_finite(as_polygon(item, exact_clearance), item_label(item, "item") + ": contour");
    const double tx0 = item.tx(), ty0 = item.ty();
    const double wall = inset(item);
    // A shaped bin's outline and defects hold circles as circumscribed polygons.
    const bool exact = exact_clearance || shape;
    Fixed* fixed = shape ? &fixed_for(wall) : nullptr;

    try {
        refresh_placed();
    } catch (...) {
        item.set_position(tx0, ty0);
        throw;
    }
    if (fixed && !start_in_bin(item, *fixed)) return false;
    if (!fixed) set_initial_position(item);
    Contour item_poly = as_polygon(item, exact);
    if (first_non_finite(item_poly) != static_cast<std::size_t>(-1)) {
        item.set_position(tx0, ty0);
        require_finite(item_poly, "the item's contour at its start position above the bin");
    }

    double d = free_distance(item_poly, Direction::Down, wall, fixed);
    const double eps = epsilon;
    bool can_move = d > eps;
    // a start inside a shaped bin is a place already
    bool can_be_packed = can_move || fixed;
    bool moving_down = true;  // the next move is down; then left, in turn
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
        if (moving_down) {
            item.translate(0.0, -mv);
            item_poly = as_polygon(item, exact);
            require_finite(item_poly, "the item's contour after a move");
            d = free_distance(item_poly, Direction::Left, wall, fixed);
            can_move = d > eps;
            moving_down = false;
        } else {
            item.translate(-mv, 0.0);
            item_poly = as_polygon(item, exact);
            require_finite(item_poly, "the item's contour after a move");
            d = free_distance(item_poly, Direction::Down, wall, fixed);
            can_move = d > eps;
            moving_down = true;
        }
        if (item_poly == prev) {
            if (++unchanged == 2) break;
        } else {
            unchanged = 0;
        }
    }

    if (can_be_packed) {
        // The clearance lets a contour stand out of the bin by up to eps; no
        // more than the engine's tolerance is allowed.
        const double out = std::min(eps, engine_tolerance(std::max(bin_w, bin_h)));
        // the edge margin moves the bin's edges in
        const double lo = wall > 0.0 ? wall - out : -out;
        const double hix = wall > 0.0 ? (bin_w - wall) + out : bin_w + out;
        const double hiy = wall > 0.0 ? (bin_h - wall) + out : bin_h + out;
        for (const Pt& v : item_poly) {
            if (v.x < lo || v.y < lo || v.x > hix || v.y > hiy) {
                can_be_packed = false;
                break;
            }
        }
    }
    // The sweep polygons see only what lies between the item's outside and the
    // wall: a placed item inside the cavity of a non-convex item goes unseen
    // and the slide can end overlapping it. Such a place is refused.
    if (can_be_packed && overlaps_placed(item_poly)) can_be_packed = false;
    if (can_be_packed && fixed &&
        !clear_of_bin(fixed->rooms, item_poly, engine_tolerance(std::max(bin_w, bin_h)), [] { check_cancel(); }))
        can_be_packed = false;
    if (can_be_packed) {
        packed.push_back(&item);
        placed_.emplace_back();  // built from the item on the next call
        return true;
    }
    return false;
}

}  // namespace quarvo
