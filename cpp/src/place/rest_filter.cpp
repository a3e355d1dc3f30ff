#include "place/rest_filter.hpp"

#include <cmath>

namespace quarvo {

RestBody rest_body(const Shape& item, Pt t) {
    RestBody b;
    b.spacing = item.infl();
    if (item.is_circle()) {
        b.outer.round = true;
        b.outer.center = t;
        b.outer.radius = circle_cast(item).radius;
        if (item.is_pipe() && pipe_cast(item).has_bore()) {  // a pipe's bore: one more hole
            RestLoop bore;
            bore.round = true;
            bore.center = t;
            bore.radius = pipe_cast(item).bore();
            b.holes.push_back(bore);
        }
    } else if (item.is_polygon()) {
        const Polygon& p = polygon_cast(item);
        const double th = item.rotation(), cs = std::cos(th), sn = std::sin(th);
        auto place = [&](const Contour& ring) {
            Contour out;
            out.reserve(ring.size());
            for (Pt q : ring) out.push_back({(q.x * cs - q.y * sn) + t.x, (q.x * sn + q.y * cs) + t.y});
            return out;
        };
        b.outer.ring = place(p.local_outer());  // mirrored when the item is
        for (const Contour& h : p.local_holes()) {
            RestLoop loop;
            loop.ring = place(h);
            b.holes.push_back(std::move(loop));
        }
    } else {
        return b;  // no geometry: unusable, never at rest
    }
    b.finish();
    return b;
}

RestFilter::RestFilter(const std::vector<Shape*>& packed, double bin_w, double margin)
    : bin_w_(bin_w), margin_(margin) {
    placed_.reserve(packed.size());
    for (const Shape* s : packed) placed_.push_back(rest_body(*s, {s->tx(), s->ty()}));
}

bool RestFilter::rests(const Shape& item, Pt t) const {
    const RestBody body = rest_body(item, t);
    if (!body.usable) return false;
    std::vector<const RestBody*> near;
    RestFrame frame{bin_w_};
    frame.margin = margin_;
    for (const RestBody& p : placed_)
        if (p.usable && may_touch(body, p, frame.tol)) near.push_back(&p);
    return judge_rest(body, near, frame).rests();
}

}  // namespace quarvo
