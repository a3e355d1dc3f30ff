#include "shapes/item_checks.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/validate.hpp"
#include "geometry/rings.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

bool in_range(double v) { return std::fabs(v) <= MAX_COORDINATE; }

bool in_range(const Contour& c) {
    for (const Pt& p : c)
        if (!(std::fabs(p.x) <= MAX_COORDINATE && std::fabs(p.y) <= MAX_COORDINATE)) return false;
    return true;
}

void require_contour(const Contour& c, const std::string& what, const std::string& name) {
    for (std::size_t i = 0; i < c.size(); ++i) {
        if (std::fabs(c[i].x) <= MAX_COORDINATE && std::fabs(c[i].y) <= MAX_COORDINATE) continue;
        require_value(c[i].x, what, name + " point " + std::to_string(i) + " x");
        require_value(c[i].y, what, name + " point " + std::to_string(i) + " y");
    }
}

// The common case without building a name: the placers check every placed
// item on every call.
bool plainly_sound(const Shape& s) {
    if (!(in_range(s.tx()) && in_range(s.ty()) && in_range(s.rotation()) && in_range(s.infl()) &&
          in_range(s.inflation) && in_range(s.margin) && s.inflation >= 0.0 && s.margin >= 0.0))
        return false;
    if (s.is_circle()) {
        const double r = static_cast<const Circle&>(s).radius;
        return in_range(r) && r >= 0.0;
    }
    if (!s.is_polygon()) return true;
    const auto& p = static_cast<const Polygon&>(s);
    if (!in_range(p.outer())) return false;
    for (const Contour& h : p.holes())
        if (!in_range(h)) return false;
    return true;
}

}  // namespace

std::string item_label(const Shape& s, const std::string& role) {
    return s.name.empty() ? role : role + " (shape_id " + s.name + ")";
}

void require_sound_items(const std::vector<Shape*>& items, const char* role) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] != nullptr && !plainly_sound(*items[i]))
            require_sound_item(*items[i], std::string(role) + " " + std::to_string(i));
}

void require_sound_item(const Shape& s, const std::string& role) {
    if (plainly_sound(s)) return;
    const std::string what = item_label(s, role);
    require_value(s.tx(), what, "tx");
    require_value(s.ty(), what, "ty");
    require_value(s.rotation(), what, "rotation");
    require_value(s.infl(), what, "infl");
    require_value(s.inflation, what, "inflation");
    require_value(s.margin, what, "margin");
    require_not_negative(s.inflation, what, "inflation");
    require_not_negative(s.margin, what, "margin");
    if (s.is_circle()) {
        const double r = static_cast<const Circle&>(s).radius;
        require_value(r, what, "radius");
        require_not_negative(r, what, "radius");
    } else if (s.is_polygon()) {
        const auto& p = static_cast<const Polygon&>(s);
        require_contour(p.outer(), what, "outer contour");
        for (std::size_t h = 0; h < p.holes().size(); ++h) require_contour(p.holes()[h], what, "hole " + std::to_string(h));
    }
}

void require_sound_outline(const Contour& outer, const std::vector<Contour>& holes, const std::string& what) {
    if (!in_range(outer)) return;
    for (const Contour& h : holes)
        if (!in_range(h)) return;
    RingFault f = find_ring_fault(outer, holes);
    if (f.kind != RingFault::None) throw ValueError(what + ": " + describe(f));
}

void require_sound_bin_kind(const Bin& bin, const std::string& what) {
    if (bin.count && *bin.count < 0)
        throw ValueError(what + ": count is " + std::to_string(*bin.count) + ", not a number of bins (at least 0)");
    if (bin.cost && !(*bin.cost >= 0.0 && *bin.cost < kInf))
        throw ValueError(what + ": cost is " + format_number(*bin.cost) + ", not a finite number at least 0");
    if (!bin.shape) return;
    const BinShape& shape = *bin.shape;
    if (!(bin.height < kInf))
        throw ValueError(what + ": a strip (a bin without a height) takes no outline, holes or defects");
    auto require_rings = [&](const Contour& outer, const std::vector<Contour>& holes, const std::string& role) {
        std::vector<const Contour*> rings{&outer};
        for (const Contour& h : holes) rings.push_back(&h);
        for (const Contour* r : rings)
            for (const Pt& p : *r)
                if (!(in_range(p.x) && in_range(p.y)))
                    throw ValueError(what + ": " + role + " has the point (" + format_number(p.x) + ", " +
                                     format_number(p.y) + "), not finite or beyond " + format_number(MAX_COORDINATE));
        require_sound_outline(outer, holes, what + ": " + role);
    };
    const Contour outline = bin_outline(bin);
    require_rings(outline, shape.holes, "the outline");
    // the frame the placers work in is the bin's box
    const double slack = 1e-9 * (1.0 + std::max(bin.width, bin.height));
    for (const Pt& p : outline)
        if (p.x < -slack || p.y < -slack || p.x > bin.width + slack || p.y > bin.height + slack)
            throw ValueError(what + ": the outline's point (" + format_number(p.x) + ", " + format_number(p.y) +
                             ") lies outside [0, width] x [0, height] = [0, " + format_number(bin.width) + "] x [0, " +
                             format_number(bin.height) + "]");
    for (std::size_t k = 0; k < shape.defects.size(); ++k)
        require_rings(shape.defects[k], {}, "defect " + std::to_string(k));
}

namespace {

double perimeter(const Contour& c) {
    double sum = 0.0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const Pt a = c[i], b = c[(i + 1) % c.size()];
        sum += std::hypot(b.x - a.x, b.y - a.y);
    }
    return sum;
}

[[noreturn]] void below_grid(const Shape& s, const std::string& role, const char* name, double v, double limit,
                             const std::string& need) {
    throw ValueError(item_label(s, role) + ": " + name + " is " + format_number(v) +
                     ", below the grid: the engine keeps items apart to " + format_number(limit) + ", and " + need);
}

}  // namespace

void require_above_grid(const Shape& s, const std::string& role, double magnitude) {
    const double limit = grid_limit(std::isfinite(magnitude) ? std::fabs(magnitude) : 0.0);
    if (s.is_pipe()) {
        const Pipe& p = pipe_cast(s);
        if (p.has_bore() && p.wall() / 2.0 < limit)
            below_grid(s, role, "wall", p.wall(), limit,
                       "a pipe's wall needs at least twice that, " + format_number(2.0 * limit));
        if (!p.has_bore() && p.radius / 2.0 < limit)
            below_grid(s, role, "od", p.od(), limit, "a bar needs an od of at least four times that, " +
                                                         format_number(4.0 * limit));
    } else if (s.is_circle()) {
        const double r = circle_cast(s).radius;
        if (r / 2.0 < limit)
            below_grid(s, role, "radius", r, limit,
                       "a circle needs a radius of at least twice that, " + format_number(2.0 * limit));
    } else if (s.is_polygon()) {
        const Polygon& p = polygon_cast(s);
        // (on the outline carried to its origin: the sums of an outline far
        // from it would cancel)
        double area = std::fabs(polygon_area(p.local_outer())), length = perimeter(p.local_outer());
        for (const Contour& h : p.local_holes()) {
            area -= std::fabs(polygon_area(h));
            length += perimeter(h);
        }
        const double ratio = length > 0.0 ? std::max(area, 0.0) / length : 0.0;
        if (ratio < limit)
            below_grid(s, role, "the area of its material over its perimeter", ratio, limit,
                       "a polygon needs at least that (a square of side " + format_number(4.0 * limit) + ")");
    }
}

void require_distinct(const std::vector<Shape*>& items, const char* role) {
    std::vector<std::pair<const Shape*, std::size_t>> seen;
    seen.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) seen.emplace_back(items[i], i);
    std::sort(seen.begin(), seen.end());
    for (std::size_t k = 1; k < seen.size(); ++k)
        if (seen[k].first == seen[k - 1].first && seen[k].first != nullptr)
            throw ValueError(item_label(*seen[k].first, std::string(role) + " " + std::to_string(seen[k].second)) +
                             ": the same item object is also " + role + " " + std::to_string(seen[k - 1].second));
}

void require_not_placed(const Shape& item, const std::vector<Shape*>& packed) {
    if (std::find(packed.begin(), packed.end(), &item) != packed.end())
        throw ValueError(item_label(item, "item") + ": already placed in this bin");
}

}  // namespace quarvo
