#include "quarvo/shapes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "core/validate.hpp"
#include "geometry/clipper_bridge.hpp"
#include "geometry/mitred_offset.hpp"
#include "geometry/outline_offset.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "shapes/item_checks.hpp"

namespace quarvo {

double Shape::area() const { throw NotImplementedError(); }
BBox Shape::bounding_box() const { throw NotImplementedError(); }
Pt Shape::reference_point_local() const { throw NotImplementedError(); }
Contour Shape::world_contour() const { throw NotImplementedError(); }
std::unique_ptr<Shape> Shape::clone_geometry() const { throw NotImplementedError(); }

Pt Shape::turned_anchor() const {
    const Pt a = anchor();
    if (a.x == 0.0 && a.y == 0.0) return a;
    const double ax = mirrored_ ? -a.x : a.x, c = std::cos(rotation_), s = std::sin(rotation_);
    return {ax * c - a.y * s, ax * s + a.y * c};
}

namespace {
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

Pt Shape::origin() const {
    if (anchor().x == 0.0 && anchor().y == 0.0) return {tx_, ty_};
    const SetOrigin& s = set_origin_;
    if (same_bits(s.tx, tx_) && same_bits(s.ty, ty_) && same_bits(s.rotation, rotation_) && s.mirrored == mirrored_)
        return s.origin;
    const Pt a = turned_anchor();
    return {tx_ - a.x, ty_ - a.y};
}

void Shape::set_origin(double x, double y) {
    if (anchor().x == 0.0 && anchor().y == 0.0) return set_position(x, y);
    const Pt a = turned_anchor();
    set_position(x + a.x, y + a.y);
    set_origin_ = {{x, y}, tx_, ty_, rotation_, mirrored_};
}

void Shape::set_mirrored(bool on) {
    if (on == mirrored_) return;
    mirrored_ = on;
    dirty_ = true;
}

void Shape::copy_state_to(Shape& to) const {
    to.tx_ = tx_;
    to.ty_ = ty_;
    to.rotation_ = rotation_;
    to.infl_ = infl_;
    to.inflation = inflation;
    to.margin = margin;
    to.bin_id = bin_id;
    to.weight = weight;
    to.mass = mass;
    to.name = name;
    to.sig_id = sig_id;
    to.sig_id_mirrored = sig_id_mirrored;
    to.mirrored_ = mirrored_;
    to.set_origin_ = set_origin_;
    to.cache_area_ = cache_area_;
    to.dirty_ = true;
}

Polygon::Polygon(Stored, const Polygon& from)
    : Shape(Kind::Polygon),
      outer_(from.outer_),
      holes_(from.holes_),
      anchor_(from.anchor_),
      given_outer_(from.given_outer_),
      given_holes_(from.given_holes_) {
    convex_ = from.convex_;
    turns_once_ = from.turns_once_;
    mitred_ = from.mitred_;
    memo_ = from.memo_;
    has_memo_ = from.has_memo_;
    memo_rot_ = from.memo_rot_;
    memo_infl_ = from.memo_infl_;
    memo_mirrored_ = from.memo_mirrored_;
    mirror_outer_ = from.mirror_outer_;
    mirror_holes_ = from.mirror_holes_;
    has_mirror_ = from.has_mirror_;
    mirror_symmetric_ = from.mirror_symmetric_;
}

std::unique_ptr<Shape> Polygon::clone_geometry() const {
    std::unique_ptr<Polygon> p(new Polygon(Stored{}, *this));
    copy_state_to(*p);
    return p;
}

Circle::Circle(double radius, std::string name) : Shape(Kind::Circle), radius(radius) {
    this->name = std::move(name);
    require_not_negative(radius, item_label(*this, "circle"), "radius");
}

std::unique_ptr<Shape> Circle::clone_geometry() const {
    auto c = std::make_unique<Circle>(0.0);
    c->radius = radius;
    copy_state_to(*c);
    return c;
}

namespace {

// The shortest text that reads back as v: a pipe's sizes are typed by people.
std::string shortest(double v) {
    char buf[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

// Finite, within MAX_COORDINATE and above zero.
void require_positive(double v, const std::string& what, const char* name) {
    if (!std::isfinite(v)) throw ValueError(what + ": " + name + " is " + shortest(v) + ", not a finite number");
    require_value(v, what, name);
    if (!(v > 0.0)) throw ValueError(what + ": " + name + " is " + shortest(v) + ", not positive");
}

}  // namespace

Pipe::Pipe(double od, double wall, std::optional<double> length, double density, std::string name)
    : Circle(Kind::Pipe, od / 2.0), od_(od), wall_(wall), length_(length), density_(density), bore_(0.0) {
    this->name = std::move(name);
    const std::string what = item_label(*this, "pipe");
    require_positive(od, what, "od");
    require_positive(wall, what, "wall");
    if (length) require_positive(*length, what, "length");
    require_positive(density, what, "density");
    bore_ = std::max(0.0, od / 2.0 - wall);
    const double inner = 2.0 * bore_;
    // kg per piece: kg/m3 x mm2 x 1e-6 (m2 per mm2) x m; per metre without a length
    mass = density * (kPi / 4.0) * (od * od - inner * inner) * 1e-6 * length.value_or(1.0);
    weight = mass;
}

Contour Pipe::world_bore(double shrink) const {
    Contour c = circle_to_polygon({tx_, ty_}, bore_ - shrink, kCircleSides);
    std::reverse(c.begin(), c.end());
    return c;
}

void Pipe::set_mass(double kg, MassBasis basis) {
    require_not_negative(kg, item_label(*this, "pipe"), "mass");
    require_value(kg, item_label(*this, "pipe"), "mass");
    mass = kg;
    weight = kg;
    mass_basis_ = basis;
}

std::unique_ptr<Shape> Pipe::clone_geometry() const {
    auto p = std::make_unique<Pipe>(od_, wall_, length_, density_);
    copy_state_to(*p);
    p->coupling_od = coupling_od;
    p->mass_basis_ = mass_basis_;
    return p;
}

namespace {

// The anchor of an outline far from its own origin (its box's centre farther
// than Polygon::kFarFromOrigin, or than Polygon::kFarRatio times its size,
// where the products of its coordinates swamp its area): that centre rounded
// to a multiple of the power of two at most its size, so that the outline
// less it is exact on a far axis (its points lie within a factor of two of
// the anchor there); 0 for a nearer outline, and wherever a coordinate is
// unusable (left to the checks of items).
Pt far_anchor(const Contour& outer, const std::vector<Contour>& holes) {
    auto usable = [](const Contour& c) {
        for (const Pt& p : c)
            if (!(std::fabs(p.x) <= MAX_COORDINATE && std::fabs(p.y) <= MAX_COORDINATE)) return false;
        return true;
    };
    if (outer.empty() || !usable(outer)) return {0.0, 0.0};
    for (const Contour& h : holes)
        if (!usable(h)) return {0.0, 0.0};
    const BBox b = polygon_bbox(outer);
    const Pt mid{b.minx / 2.0 + b.maxx / 2.0, b.miny / 2.0 + b.maxy / 2.0};
    const double size = std::max(b.maxx - b.minx, b.maxy - b.miny), off = std::max(std::fabs(mid.x), std::fabs(mid.y));
    if (!(size > 0.0) || !(off > Polygon::kFarFromOrigin || off > Polygon::kFarRatio * size)) return {0.0, 0.0};
    const int e = std::ilogb(size);
    auto axis = [e](double m) { return std::ldexp(std::nearbyint(std::ldexp(m, -e)), e); };
    return {axis(mid.x), axis(mid.y)};
}

Contour moved_by(const Contour& c, Pt d) {
    Contour out;
    out.reserve(c.size());
    for (const Pt& p : c) out.push_back({p.x - d.x, p.y - d.y});
    return out;
}

// `ring` closed and wound as ensure_winding winds `judge` (the same ring
// carried to its origin, whose area tells the winding reliably).
Contour wound_as(const Contour& ring, const Contour& judge, bool clockwise) {
    Contour closed = ring, j = judge;
    if (closed.size() < 2) return closed;
    if (closed.front() != closed.back()) closed.push_back(closed.front());
    if (j.front() != j.back()) j.push_back(j.front());
    if ((polygon_area(j) < 0) != clockwise) std::reverse(closed.begin(), closed.end());
    return closed;
}

}  // namespace

Polygon::Polygon(const Contour& outer, const std::vector<Contour>& holes, std::string name) : Shape(Kind::Polygon) {
    this->name = std::move(name);
    anchor_ = far_anchor(outer, holes);
    if (!anchored()) {
        require_sound_outline(outer, holes, item_label(*this, "polygon"));
        outer_ = ensure_winding(outer, true);
        holes_.reserve(holes.size());
        for (const Contour& h : holes) holes_.push_back(ensure_winding(h, false));
        return;
    }
    const Contour q = moved_by(outer, anchor_);
    std::vector<Contour> qh;
    qh.reserve(holes.size());
    for (const Contour& h : holes) qh.push_back(moved_by(h, anchor_));
    require_sound_outline(q, qh, item_label(*this, "polygon"));
    outer_ = ensure_winding(q, true);
    given_outer_ = wound_as(outer, q, true);
    for (std::size_t k = 0; k < holes.size(); ++k) {
        holes_.push_back(ensure_winding(qh[k], false));
        given_holes_.push_back(wound_as(holes[k], qh[k], false));
    }
    // the given outline's origin at (0, 0)
    tx_ = anchor_.x;
    ty_ = anchor_.y;
}

namespace {

// x -> -x, then turned round: a mirror image keeps its winding.
Contour mirror_ring(const Contour& ring) {
    Contour out;
    out.reserve(ring.size());
    for (auto it = ring.rbegin(); it != ring.rend(); ++it) out.push_back({-it->x, it->y});
    return out;
}

// Whether b is a moved sideways by dx, as closed rings of equal length
// starting anywhere, within tol on every coordinate.
bool same_ring_moved(const Contour& a, const Contour& b, double dx, double tol) {
    if (a.size() != b.size() || a.size() < 2) return false;
    const std::size_t n = a.size() - 1;  // both closed
    for (std::size_t start = 0; start < n; ++start) {
        bool same = true;
        for (std::size_t i = 0; i < n && same; ++i) {
            const Pt p = a[i], q = b[(start + i) % n];
            same = std::fabs(p.x + dx - q.x) <= tol && std::fabs(p.y - q.y) <= tol;
        }
        if (same) return true;
    }
    return false;
}

}  // namespace

void Polygon::build_mirror() const {
    if (has_mirror_) return;
    mirror_outer_ = mirror_ring(outer_);
    mirror_holes_.clear();
    mirror_holes_.reserve(holes_.size());
    for (const Contour& h : holes_) mirror_holes_.push_back(mirror_ring(h));
    has_mirror_ = true;
}

const Contour& Polygon::local_outer() const {
    if (!mirrored_) return outer_;
    build_mirror();
    return mirror_outer_;
}

const std::vector<Contour>& Polygon::local_holes() const {
    if (!mirrored_) return holes_;
    build_mirror();
    return mirror_holes_;
}

bool Polygon::mirror_symmetric() const {
    if (mirror_symmetric_ >= 0) return mirror_symmetric_ == 1;
    build_mirror();
    const BBox b = polygon_bbox(outer_);
    // the mirror image spans [-maxx, -minx]: moved by minx + maxx it lies over the outline
    const double dx = b.minx + b.maxx;
    const double tol = 1e-12 * (std::fabs(b.minx) + std::fabs(b.maxx) + std::fabs(b.miny) + std::fabs(b.maxy) + 1.0);
    bool same = same_ring_moved(mirror_outer_, outer_, dx, tol) && holes_.size() == mirror_holes_.size();
    // holes may come in another order in the mirror image
    std::vector<bool> used(holes_.size(), false);
    for (std::size_t i = 0; same && i < holes_.size(); ++i) {
        bool found = false;
        for (std::size_t j = 0; j < holes_.size() && !found; ++j)
            if (!used[j] && same_ring_moved(mirror_holes_[i], holes_[j], dx, tol)) used[j] = found = true;
        same = found;
    }
    mirror_symmetric_ = same ? 1 : 0;
    return same;
}

Contour Polygon::inflated_outer() const {
    const Contour& outer = local_outer();
    if (std::fabs(infl_) < 1e-12) return outer;
    if (mitred_ && !(outer_convex() && outer_turns_once())) {
        Region grown = mitred_outline_offset(outer, infl_);
        if (!grown.empty()) return grown.front();
    }
    return offset_outline(outer, infl_);
}

Contour Polygon::build_rotated() const {
    const double c = std::cos(rotation_), s = std::sin(rotation_);
    Contour pts = inflated_outer();
    for (Pt& p : pts) {
        const double x = p.x, y = p.y;
        p = {x * c - y * s, x * s + y * c};
    }
    return pts;
}

void Polygon::set_mitred_outline(bool on) {
    if (on == mitred_) return;
    mitred_ = on;
    has_memo_ = false;
    dirty_ = true;
}

const Contour& Polygon::rotated_shape() const {
    if (!dirty_ && has_rot_) return cache_rotated_;
    cache_rotated_ = build_rotated();
    has_rot_ = true;
    ++rot_gen_;
    return cache_rotated_;
}

const Contour& Polygon::rotated_contour() const {
    if (has_memo_ && same_bits(memo_rot_, rotation_) && same_bits(memo_infl_, infl_) && memo_mirrored_ == mirrored_)
        return memo_;
    memo_ = build_rotated();
    memo_rot_ = rotation_;
    memo_infl_ = infl_;
    memo_mirrored_ = mirrored_;
    has_memo_ = true;
    return memo_;
}

const Contour& Polygon::transformed() const {
    if (!dirty_ && has_tr_) return cache_transformed_;
    const Contour& rot = rotated_shape();
    cache_transformed_.resize(rot.size());
    for (std::size_t i = 0; i < rot.size(); ++i) cache_transformed_[i] = {rot[i].x + tx_, rot[i].y + ty_};
    has_tr_ = true;
    ++tr_gen_;
    dirty_ = false;
    return cache_transformed_;
}

std::vector<Contour> Polygon::transformed_holes() const {
    const double c = std::cos(rotation_), s = std::sin(rotation_);
    std::vector<Contour> out;
    const std::vector<Contour>& holes = local_holes();
    out.reserve(holes.size());
    for (const Contour& h : holes) {
        Contour w;
        w.reserve(h.size());
        for (const Pt& p : h) w.push_back({(p.x * c - p.y * s) + tx_, (p.x * s + p.y * c) + ty_});
        out.push_back(std::move(w));
    }
    return out;
}

double Polygon::area() const {
    if (!cache_area_) cache_area_ = std::fabs(polygon_area(outer_));
    return *cache_area_;
}

BBox Polygon::bounding_box() const { return polygon_bbox(transformed()); }

Pt Polygon::reference_point_local() const { return top_right(rotated_shape()); }

bool Polygon::outer_convex() const {
    if (convex_ < 0) convex_ = is_convex(outer_) && !hides_reflex_corner(outer_) ? 1 : 0;
    return convex_ == 1;
}

bool Polygon::outer_turns_once() const {
    if (turns_once_ < 0) turns_once_ = turns_once(outer_) ? 1 : 0;
    return turns_once_ == 1;
}

double Circle::area() const {
    if (!cache_area_) cache_area_ = kPi * radius * radius;
    return *cache_area_;
}

BBox Circle::bounding_box() const {
    CircleGeom g = transformed();
    return {g.center.x - g.radius, g.center.y - g.radius, g.center.x + g.radius, g.center.y + g.radius};
}

Contour Circle::world_contour() const {
    CircleGeom g = transformed();
    return circle_to_polygon(g.center, g.radius, kCircleSides);
}

Contour bin_outline(const Bin& bin) {
    if (bin.shape && !bin.shape->outer.empty()) return bin.shape->outer;
    return {{0.0, 0.0}, {0.0, bin.height}, {bin.width, bin.height}, {bin.width, 0.0}, {0.0, 0.0}};
}

double bin_area(const Bin& bin) {
    if (!bin.shape) return bin.width * bin.height;
    auto area_of = [](Contour c) {
        if (!c.empty() && c.front() != c.back()) c.push_back(c.front());
        return std::fabs(polygon_area(c));
    };
    double area = area_of(bin_outline(bin));
    for (const Contour& h : bin.shape->holes) area -= area_of(h);
    return area;
}

double usable_area(const Bin& bin) {
    if (!bin.shape || bin.shape->defects.empty()) return bin_area(bin);
    // Defects may overlap each other and stand out of the outline: only what
    // they take of the material counts.
    ClipperLib::Clipper c;
    c.AddPath(to_path(bin_outline(bin)), ClipperLib::ptSubject, true);
    // (one winding for all, so that a hole and a defect over it do not cancel out)
    auto cut = [&c](const Contour& ring) {
        ClipperLib::Path p = to_path(ring);
        if (!ClipperLib::Orientation(p)) ClipperLib::ReversePath(p);
        c.AddPath(p, ClipperLib::ptClip, true);
    };
    for (const Contour& h : bin.shape->holes) cut(h);
    for (const Contour& d : bin.shape->defects) cut(d);
    ClipperLib::Paths left;
    c.Execute(ClipperLib::ctDifference, left, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    double area = 0.0;
    for (const ClipperLib::Path& p : left) area += ClipperLib::Area(p);
    return std::fabs(area) / (1e6 * 1e6);
}

double bin_cost(const Bin& bin) { return bin.cost ? *bin.cost : bin_area(bin); }

double material_area(const Shape& s) {
    if (s.is_pipe()) {
        const Pipe& p = pipe_cast(s);
        return kPi * (p.radius * p.radius - p.bore() * p.bore());
    }
    if (s.is_polygon()) {
        double area = s.area();
        for (const Contour& h : polygon_cast(s).holes()) area -= std::fabs(polygon_area(h));
        return area;
    }
    return s.area();
}

}  // namespace quarvo
