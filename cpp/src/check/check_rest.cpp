// Items at rest, judged on the true outlines of one bin.
#include "check/check_detail.hpp"
#include "geometry/rest.hpp"
#include "quarvo/cancel.hpp"

namespace quarvo {

using namespace check_detail;

namespace {

RestBody body_of(const Outline& o, double distance) {
    RestBody b;
    // spacers of unknown size stand off by nothing
    b.spacing = std::max(distance, 0.0) / 2.0 + (std::isfinite(o.extra) ? o.extra : 0.0);
    if (!o.valid) return b;  // left unusable
    if (o.circle) {
        b.outer.round = true;
        b.outer.center = o.center;
        b.outer.radius = o.radius;
        if (o.bore > 0.0) {  // a pipe's bore: one more hole
            RestLoop bore;
            bore.round = true;
            bore.center = o.center;
            bore.radius = o.bore;
            b.holes.push_back(bore);
        }
    } else {
        b.outer.ring = o.rings.front();
        for (std::size_t k = 1; k < o.rings.size(); ++k) {
            RestLoop h;
            h.ring = o.rings[k];
            b.holes.push_back(std::move(h));
        }
    }
    b.finish();
    return b;
}

}  // namespace

std::vector<RestState> rest_states(const std::vector<Outline>& outlines, const CheckOptions& opt) {
    check_options_of(opt);
    std::vector<RestBody> bodies;
    bodies.reserve(outlines.size());
    for (const Outline& o : outlines) bodies.push_back(body_of(o, opt.distance));

    std::vector<std::size_t> live;
    std::vector<BBox> boxes;
    double reach = 0.0;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (!bodies[i].usable) continue;
        live.push_back(i);
        boxes.push_back(bodies[i].box);
        reach = std::max(reach, rest_reach(bodies[i]));
    }
    std::vector<std::vector<const RestBody*>> near(bodies.size());
    std::vector<std::vector<std::size_t>> near_index(bodies.size());
    sweep_two(boxes, boxes, 2.0 * reach + opt.contact_tol, [&](std::size_t x, std::size_t y) {
        if (x != y) {
            near[live[x]].push_back(&bodies[live[y]]);
            near_index[live[x]].push_back(live[y]);
        }
        return true;
    });

    const RestFrame frame{opt.bin_w, opt.contact_tol, opt.margin};
    std::vector<RestState> out(bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (i % 16 == 15) check_cancel();
        RestState& st = out[i];
        if (!bodies[i].usable) {
            st.why = rest_reason_text(RestReason::NoContact);
            continue;
        }
        const RestVerdict v = judge_rest(bodies[i], near[i], frame);
        st.rests = v.rests();
        if (!st.rests) st.why = rest_reason_text(v.reason);
        for (const RestContact& k : v.contacts) {
            if (k.other < 0 || !(k.normal.y > 0.0)) continue;
            const std::size_t j = near_index[i][static_cast<std::size_t>(k.other)];
            if (std::find(st.supports.begin(), st.supports.end(), j) == st.supports.end()) st.supports.push_back(j);
        }
        std::sort(st.supports.begin(), st.supports.end());
    }
    return out;
}

}  // namespace quarvo
