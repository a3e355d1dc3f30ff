#include "quarvo/check.hpp"

#include "check/check_detail.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

using namespace check_detail;

namespace {

void require(bool ok, const char* what) {
    if (!ok) throw ValueError(what);
}

double magnitude(const Outline& o) {
    const BBox& b = o.box;
    return std::max({std::fabs(b.minx), std::fabs(b.miny), std::fabs(b.maxx), std::fabs(b.maxy)});
}

// The rounding of doubles where the outline's coordinates are.
double rounding(const Outline& o) { return ROUNDING_TOLERANCE * magnitude(o); }

}  // namespace

double inscribed_polygon_rel_tol() { return 1.0 - std::cos(kPi / kCircleSides); }

Outline circle_outline(Pt center, double radius) {
    Outline o;
    o.circle = true;
    o.center = center;
    o.radius = radius;
    o.valid = usable(center.x) && usable(center.y) && usable(radius) && radius >= 0.0;
    if (o.valid) o.box = {center.x - radius, center.y - radius, center.x + radius, center.y + radius};
    return o;
}

Outline ring_outline(Pt center, double radius, double bore) {
    Outline o = circle_outline(center, radius);
    o.pipe = true;
    o.bore = bore;
    if (!(usable(bore) && bore >= 0.0 && bore < radius)) o.valid = false;
    return o;
}

Outline polygon_outline(const Contour& outer, const std::vector<Contour>& holes) {
    Outline o;
    o.rings.reserve(holes.size() + 1);
    o.rings.push_back(outer);
    for (const Contour& h : holes) o.rings.push_back(h);
    o.valid = !outer.empty();
    BBox box{kInf, kInf, -kInf, -kInf};
    for (const Contour& r : o.rings)
        for (Pt p : r) {
            if (!usable(p.x) || !usable(p.y)) o.valid = false;
            grow(box, p);
        }
    if (o.valid) o.box = box;
    return o;
}

namespace {

Outline placed_geometry(const Shape& s) {
    if (s.is_pipe()) {
        const Pipe& p = pipe_cast(s);
        return ring_outline({p.tx(), p.ty()}, p.radius, p.bore());
    }
    if (s.is_circle()) {
        const auto& c = static_cast<const Circle&>(s);
        return circle_outline({c.tx(), c.ty()}, c.radius);
    }
    if (s.is_polygon()) {
        const auto& p = static_cast<const Polygon&>(s);
        double th = p.rotation(), cs = std::cos(th), sn = std::sin(th), tx = p.tx(), ty = p.ty();
        auto place = [&](const Contour& ring) {
            Contour out;
            out.reserve(ring.size());
            for (Pt q : ring) out.push_back({(q.x * cs - q.y * sn) + tx, (q.x * sn + q.y * cs) + ty});
            return out;
        };
        std::vector<Contour> holes;
        for (const Contour& h : p.local_holes()) holes.push_back(place(h));
        Outline o = polygon_outline(place(p.local_outer()), holes);
        if (!std::isfinite(th)) o.valid = false;
        return o;
    }
    Outline o;
    o.valid = false;
    return o;
}

}  // namespace

Outline true_outline(const Shape& s) {
    Outline o = placed_geometry(s);
    o.extra = s.inflation + s.margin;
    o.mass = s.mass;
    if (s.is_pipe()) o.length = pipe_cast(s).length().value_or(0.0);
    return o;
}

PairMeasure measure_pair(const Outline& a, const Outline& b) {
    require(a.valid && b.valid, "outline has non-finite or out-of-range values");
    Item A = make_item(a), B = make_item(b);
    return measure(A, B, kInf, 0.0);
}

namespace {

// The box of the outer contour (a container's holes lie within it).
BBox outer_box(const Outline& o) {
    BBox b = o.box;
    if (!o.circle && !o.rings.empty()) {
        b = {kInf, kInf, -kInf, -kInf};
        for (Pt p : o.rings[0]) grow(b, p);
    }
    return b;
}

}  // namespace

double outside_amount(const Outline& o, double bin_w, double bin_h) {
    const BBox b = outer_box(o);
    return std::max({0.0, -b.minx, -b.miny, b.maxx - bin_w, b.maxy - bin_h});
}

double edge_distance(const Outline& o, double bin_w, double bin_h) {
    const BBox b = outer_box(o);
    return std::min({b.minx, b.miny, bin_w - b.maxx, bin_h - b.maxy});
}

double area_over_perimeter(const Outline& o) {
    if (!o.valid) return 0.0;
    if (o.circle) return (o.radius - o.bore) / 2.0;
    double area = 0.0, length = 0.0;
    for (std::size_t k = 0; k < o.rings.size(); ++k) {
        const Contour& r = o.rings[k];
        if (r.empty()) continue;
        // about the ring's first point: far from the origin the products would cancel
        double twice = 0.0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            const Pt a = vsub(r[i], r[0]), b = vsub(r[(i + 1) % r.size()], r[0]);
            twice += a.x * b.y - b.x * a.y;
            length += std::hypot(b.x - a.x, b.y - a.y);
        }
        area += (k == 0 ? 0.5 : -0.5) * std::fabs(twice);
    }
    return length > 0.0 ? std::max(area, 0.0) / length : 0.0;
}

namespace check_detail {

void check_options_of(const CheckOptions& opt) {
    require(std::isfinite(opt.bin_w) && std::isfinite(opt.bin_h), "bin size must be finite");
    require(std::isfinite(opt.distance), "distance must be finite");
    require(std::isfinite(opt.tol) && opt.tol >= 0.0, "tol must be a finite number >= 0");
    require(std::isfinite(opt.circle_rel_tol) && opt.circle_rel_tol >= 0.0,
            "circle_rel_tol must be a finite number >= 0");
    require(std::isfinite(opt.margin) && opt.margin >= 0.0, "margin must be a finite number >= 0");
    require(std::isfinite(opt.contact_tol) && opt.contact_tol >= 0.0, "contact_tol must be a finite number >= 0");
    require(opt.max_load > 0.0, "max_load must be a number > 0 (infinite: no limit)");
    require(opt.length > 0.0, "length must be a number > 0 (infinite: no limit)");
}

}  // namespace check_detail

std::vector<Violation> check_outlines(const std::vector<Outline>& outlines, const CheckOptions& opt) {
    check_options_of(opt);

    std::vector<Violation> out;
    std::vector<Item> items(outlines.size());
    std::vector<std::size_t> live;
    // The tolerance each item may take: none for one below the grid, which
    // could lie wholly within the engine's tolerance of another.
    std::vector<double> slack(outlines.size(), 0.0);
    double load = 0.0;
    bool overloaded = false;
    for (std::size_t i = 0; i < outlines.size(); ++i) {
        const Outline& o = outlines[i];
        load += o.mass;
        if (!overloaded && load > opt.max_load * (1.0 + ROUNDING_TOLERANCE)) {
            overloaded = true;
            out.push_back({ViolationKind::Overloaded, i, i, 0.0, 0.0, nullptr, 0.0});
        }
        if (o.length > 0.0 && o.length * 1000.0 > opt.length)
            out.push_back({ViolationKind::TooLong, i, i, o.length * 1000.0 - opt.length, 0.0, nullptr, o.length});
        if (!o.valid) {
            out.push_back({ViolationKind::Invalid, i, i, 0.0, 0.0});
            continue;
        }
        items[i] = make_item(o);
        live.push_back(i);
        slack[i] = area_over_perimeter(o) < grid_limit(magnitude(o)) ? 0.0 : opt.tol;
        double past = outside_amount(o, opt.bin_w, opt.bin_h);
        if (past > slack[i] + rounding(o)) {
            out.push_back({ViolationKind::Outside, i, i, past, 0.0});
        } else if (opt.margin > 0.0) {
            const double gap = edge_distance(o, opt.bin_w, opt.bin_h);
            if (opt.margin - gap > slack[i] + rounding(o)) out.push_back({ViolationKind::NearEdge, i, i, opt.margin - gap, gap});
        }
    }
    for (Violation& v : out)
        if (v.kind == ViolationKind::Overloaded) {
            v.amount = load - opt.max_load;
            v.value = load;
        }

    const double reach = std::max(opt.distance, 0.0);
    auto circle_slack = [&](const Outline& o) {
        return o.circle && !o.pipe ? opt.circle_rel_tol * (o.radius + reach / 2.0) : 0.0;
    };
    std::vector<BBox> boxes;
    for (std::size_t i : live) boxes.push_back(outlines[i].box);
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    // The same box list on both sides yields each pair twice; keep i < j.
    sweep_two(boxes, boxes, reach, [&](std::size_t x, std::size_t y) {
        if (x < y && (!opt.judge || opt.judge(live[x], live[y]))) pairs.push_back({live[x], live[y]});
        return true;
    });
    std::sort(pairs.begin(), pairs.end());

    std::size_t done = 0;
    for (auto [i, j] : pairs) {
        if (++done % 16 == 0) check_cancel();
        const double tol = std::min(slack[i], slack[j]) + std::max(rounding(outlines[i]), rounding(outlines[j])) +
                           circle_slack(outlines[i]) + circle_slack(outlines[j]);
        const double allowed = tol + std::max(0.0, -opt.distance);
        PairMeasure pm = measure(items[i], items[j], reach, allowed);
        if (pm.depth > allowed) {
            out.push_back({ViolationKind::Overlap, i, j, pm.depth, pm.clearance});
            continue;
        }
        double clear = pm.depth > 0.0 ? 0.0 : pm.clearance;
        if (clear < opt.distance - tol) out.push_back({ViolationKind::TooClose, i, j, opt.distance - clear, clear});
    }
    if (opt.gravity) {
        const std::vector<RestState> states = rest_states(outlines, opt);
        for (std::size_t i : live)
            if (!states[i].rests) out.push_back({ViolationKind::Floating, i, i, 0.0, 0.0, states[i].why});
    }
    std::sort(out.begin(), out.end(), [](const Violation& a, const Violation& b) {
        if (a.first != b.first) return a.first < b.first;
        if (a.second != b.second) return a.second < b.second;
        return static_cast<int>(a.kind) < static_cast<int>(b.kind);
    });
    return out;
}

}  // namespace quarvo
