#include "quarvo/validate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "quarvo/errors.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/rings.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

namespace {

[[noreturn]] void refuse(const std::string& what, const std::string& name, double v, const char* fault) {
    throw ValueError(what + ": " + name + " is " + format_number(v) + ", " + fault);
}

void require_value(double v, const std::string& what, const std::string& name) {
    if (!std::isfinite(v)) refuse(what, name, v, "not a finite number");
    if (std::fabs(v) > MAX_COORDINATE)
        throw ValueError(what + ": " + name + " is " + format_number(v) + ", beyond the supported magnitude " +
                         format_number(MAX_COORDINATE));
}

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

}  // namespace

std::string format_number(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string item_label(const Shape& s, const std::string& role) {
    return s.name.empty() ? role : role + " (shape_id " + s.name + ")";
}

void require_not_negative(double v, const std::string& what, const char* name) {
    if (v < 0.0) refuse(what, name, v, "negative");
}

static bool in_range(double v) { return std::fabs(v) <= MAX_COORDINATE; }

// The common case without building a name: the placers check every placed
// item on every call.
static bool plainly_sound(const Shape& s) {
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

void require_sound_bin(double width, double height) {
    require_value(width, "bin", "width");
    require_value(height, "bin", "height");
}

void require_usable_bin(double width, double height) {
    require_sound_bin(width, height);
    if (!(width > 0.0)) refuse("bin", "width", width, "not positive");
    if (!(height > 0.0)) refuse("bin", "height", height, "not positive");
}

void require_rotations(const std::vector<double>& rotations) {
    // An item placed at a rotation beyond the range could not be checked again.
    for (std::size_t i = 0; i < rotations.size(); ++i) require_value(rotations[i], "rotations", "entry " + std::to_string(i));
}

void require_distance(double distance, const char* name) {
    require_value(distance, "options", name);
    require_not_negative(distance, "options", name);
}

void require_finite_option(double v, const char* name) {
    if (!std::isfinite(v)) refuse("options", name, v, "not a finite number");
}

void require_threads(long long threads) {
    if (threads < 1) throw ValueError("options: threads is " + std::to_string(threads) + ", not at least 1");
}

void require_nfp_options(const NfpOptions& options) {
    require_rotations(options.rotations);
    require_threads(options.threads);
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
