#include "quarvo/geometry.hpp"

#include <cmath>

#include "quarvo/errors.hpp"

namespace quarvo {

double Shape::area() const { throw NotImplementedError(); }
BBox Shape::bounding_box() const { throw NotImplementedError(); }
Pt Shape::reference_point_local() const { throw NotImplementedError(); }
Contour Shape::world_contour() const { throw NotImplementedError(); }
std::unique_ptr<Shape> Shape::clone_geometry() const { throw NotImplementedError(); }

void Shape::copy_state_to(Shape& to) const {
    to.tx_ = tx_;
    to.ty_ = ty_;
    to.rotation_ = rotation_;
    to.infl_ = infl_;
    to.inflation = inflation;
    to.margin = margin;
    to.bin_id = bin_id;
    to.weight = weight;
    to.sig_id = sig_id;
    to.cache_area_ = cache_area_;
    to.dirty_ = true;
}

Polygon::Polygon(Stored, const Polygon& from) : Shape(Kind::Polygon), outer_(from.outer_), holes_(from.holes_) {
    convex_ = from.convex_;
}

std::unique_ptr<Shape> Polygon::clone_geometry() const {
    std::unique_ptr<Polygon> p(new Polygon(Stored{}, *this));
    copy_state_to(*p);
    return p;
}

std::unique_ptr<Shape> Circle::clone_geometry() const {
    auto c = std::make_unique<Circle>(radius);
    copy_state_to(*c);
    return c;
}

Polygon::Polygon(const Contour& outer, const std::vector<Contour>& holes) : Shape(Kind::Polygon) {
    outer_ = ensure_winding(outer, true);
    holes_.reserve(holes.size());
    for (const Contour& h : holes) holes_.push_back(ensure_winding(h, false));
}

Contour Polygon::inflated_outer() const {
    if (std::fabs(infl_) < 1e-12) return outer_;
    return offset_convex(outer_, infl_);
}

const Contour& Polygon::rotated_shape() const {
    if (!dirty_ && has_rot_) return cache_rotated_;
    const double c = std::cos(rotation_), s = std::sin(rotation_);
    Contour pts = std::fabs(infl_) < 1e-12 ? outer_ : offset_convex(outer_, infl_);
    for (Pt& p : pts) {
        const double x = p.x, y = p.y;
        p = {x * c - y * s, x * s + y * c};
    }
    cache_rotated_ = std::move(pts);
    has_rot_ = true;
    ++rot_gen_;
    return cache_rotated_;
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
    out.reserve(holes_.size());
    for (const Contour& h : holes_) {
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
    if (convex_ < 0) convex_ = is_convex(outer_) ? 1 : 0;
    return convex_ == 1;
}

double Circle::area() const {
    if (!cache_area_) cache_area_ = 3.141592653589793 * radius * radius;
    return *cache_area_;
}

BBox Circle::bounding_box() const {
    CircleGeom g = transformed();
    return {g.center.x - g.radius, g.center.y - g.radius, g.center.x + g.radius, g.center.y + g.radius};
}

Contour Circle::world_contour() const {
    CircleGeom g = transformed();
    return circle_to_polygon(g.center, g.radius, 64);
}

}  // namespace quarvo
