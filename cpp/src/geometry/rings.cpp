#include "geometry/rings.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "core/validate.hpp"
#include "geometry/exact_sum.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"

namespace quarvo {

namespace {

bool lex_less(Pt a, Pt b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

struct Edge {
    Pt a, b;            // a before b in (x, y) order
    std::size_t ring;   // index of the ring
    std::size_t index;  // index of the edge in its ring
    bool forward;       // a is the edge's start in ring order
};

struct Ring {
    Contour pts;  // distinct consecutive points, not closed
    int orientation = 0;  // +1 counter-clockwise, -1 clockwise
};

}  // namespace

int orient_exact(Pt a, Pt b, Pt c) {
    const double l = (b.x - a.x) * (c.y - a.y), r = (b.y - a.y) * (c.x - a.x);
    const double det = l - r;
    const double bound = 3.3306690738754716e-16 * (std::fabs(l) + std::fabs(r));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    if (l == 0.0 && r == 0.0 && det == 0.0 && a.x == b.x && a.y == b.y) return 0;
    // det = bx*cy - bx*ay - ax*cy - by*cx + by*ax + ay*cx, each product split exactly.
    const double f[6][2] = {{b.x, c.y}, {-b.x, a.y}, {-a.x, c.y}, {-b.y, c.x}, {b.y, a.x}, {a.y, c.x}};
    double t[12];
    for (int i = 0; i < 6; ++i) {
        const double p = f[i][0] * f[i][1];
        t[2 * i] = p;
        t[2 * i + 1] = std::fma(f[i][0], f[i][1], -p);
    }
    return sign_of_sum(t, 12);
}

namespace {

class Sweep {
public:
    explicit Sweep(std::vector<Ring>& rings) : rings_(rings) {
        for (std::size_t r = 0; r < rings.size(); ++r) {
            const Contour& p = rings[r].pts;
            for (std::size_t i = 0; i < p.size(); ++i) {
                Pt s = p[i], e = p[(i + 1) % p.size()];
                bool fwd = lex_less(s, e);
                edges_.push_back({fwd ? s : e, fwd ? e : s, r, i, fwd});
            }
        }
    }

    RingFault run();

private:
    // Whether s lies below t, for edges that do not cross, both spanning the
    // sweep position (the later-starting one starts there).
    struct Below {
        using is_transparent = void;
        const std::vector<Edge>* e;
        bool operator()(std::size_t s, std::size_t t) const {
            const Edge &p = (*e)[s], &q = (*e)[t];
            if (p.a == q.a) return orient_exact(p.a, p.b, q.b) > 0;
            if (lex_less(p.a, q.a)) return orient_exact(p.a, p.b, q.a) > 0;
            return orient_exact(q.a, q.b, p.a) < 0;
        }
        bool operator()(std::size_t s, Pt v) const { return orient_exact((*e)[s].a, (*e)[s].b, v) > 0; }
        bool operator()(Pt v, std::size_t s) const { return orient_exact((*e)[s].a, (*e)[s].b, v) < 0; }
    };

    bool adjacent(const Edge& s, const Edge& t) const {
        if (s.ring != t.ring) return false;
        const std::size_t m = rings_[s.ring].pts.size();
        return (s.index + 1) % m == t.index || (t.index + 1) % m == s.index;
    }
    // Whether two edges share a point they must not share, with that point.
    bool meet_badly(const Edge& s, const Edge& t, Pt& where) const;
    RingFault fault(const Edge& s, const Edge& t, Pt where) const {
        RingFault f;
        f.where = where;
        if (s.ring == t.ring) {
            f.kind = RingFault::SelfCrossing;
            f.ring = s.ring;
        } else {
            f.kind = RingFault::RingsMeet;
            f.ring = std::min(s.ring, t.ring);
            f.other = std::max(s.ring, t.ring);
        }
        return f;
    }
    // Which ring immediately encloses the first vertex of a ring, from the
    // edge right below it (none: the ring lies outside every other).
    void classify(std::size_t ring, Pt v, const std::set<std::size_t, Below>& status);

    std::vector<Ring>& rings_;
    std::vector<Edge> edges_;

public:
    std::vector<long> parent;  // enclosing ring per ring, -1 for none
};

bool Sweep::meet_badly(const Edge& s, const Edge& t, Pt& where) const {
    const int o1 = orient_exact(s.a, s.b, t.a), o2 = orient_exact(s.a, s.b, t.b);
    if (o1 * o2 > 0) return false;
    const int o3 = orient_exact(t.a, t.b, s.a), o4 = orient_exact(t.a, t.b, s.b);
    if (o3 * o4 > 0) return false;
    if (o1 == 0 && o2 == 0) {
        // Collinear: they share the stretch between the later start and the earlier end.
        const Pt lo = lex_less(s.a, t.a) ? t.a : s.a, hi = lex_less(s.b, t.b) ? s.b : t.b;
        if (lex_less(hi, lo)) return false;
        where = lo;
        // Adjacent edges share their common vertex and nothing more.
        return !(adjacent(s, t) && lo == hi);
    }
    if (adjacent(s, t)) return false;  // not collinear: they share only their common vertex
    where = o1 == 0 ? t.a : o2 == 0 ? t.b : o3 == 0 ? s.a : o4 == 0 ? s.b : s.a;
    return true;
}

void Sweep::classify(std::size_t ring, Pt v, const std::set<std::size_t, Below>& status) {
    auto it = status.lower_bound(v);
    if (it == status.begin()) {
        parent[ring] = -1;
        return;
    }
    const Edge& e = edges_[*std::prev(it)];
    // The ring of the edge below has its inside above that edge when its
    // orientation and the edge's direction agree (left of a rightward edge is up).
    const bool inside_above = (e.forward ? 1 : -1) * rings_[e.ring].orientation > 0;
    parent[ring] = inside_above ? static_cast<long>(e.ring) : parent[e.ring];
}

RingFault Sweep::run() {
    parent.assign(rings_.size(), -2);
    struct Event {
        Pt p;
        std::size_t edge;
        bool start;
    };
    std::vector<Event> events;
    events.reserve(2 * edges_.size());
    for (std::size_t i = 0; i < edges_.size(); ++i) {
        events.push_back({edges_[i].a, i, true});
        events.push_back({edges_[i].b, i, false});
    }
    std::sort(events.begin(), events.end(), [](const Event& x, const Event& y) { return lex_less(x.p, y.p); });
    std::set<std::size_t, Below> status(Below{&edges_});
    std::vector<std::size_t> starting, meeting;
    Pt w;
    for (std::size_t k = 0; k < events.size();) {
        if ((k & 1023) == 0) check_cancel();
        const Pt p = events[k].p;
        starting.clear();
        std::size_t j = k;
        for (; j < events.size() && events[j].p == p; ++j)
            if (events[j].start) starting.push_back(events[j].edge);
        // Every edge through p: the active ones containing it (a run of the
        // status), and those starting here. Only two adjacent edges may meet.
        auto lo = status.lower_bound(p), hi = status.upper_bound(p);
        meeting.assign(lo, hi);
        meeting.insert(meeting.end(), starting.begin(), starting.end());
        if (meeting.size() > 2) {
            // Three edges through one point: name a pair that may not meet.
            std::size_t a = 0, b = 1;
            for (std::size_t i = 0; i < meeting.size(); ++i)
                for (std::size_t k = i + 1; k < meeting.size(); ++k)
                    if (!adjacent(edges_[meeting[i]], edges_[meeting[k]]) &&
                        ((a == 0 && b == 1) || edges_[meeting[i]].ring != edges_[meeting[k]].ring)) {
                        a = i;
                        b = k;
                    }
            return fault(edges_[meeting[a]], edges_[meeting[b]], p);
        }
        if (meeting.size() == 2 && meet_badly(edges_[meeting[0]], edges_[meeting[1]], w))
            return fault(edges_[meeting[0]], edges_[meeting[1]], w);
        // The active edges through p all end here: remove them, then the
        // edges around the gap become neighbours.
        if (lo != hi) {
            auto above = status.erase(lo, hi);
            if (above != status.begin() && above != status.end()) {
                const std::size_t s = *std::prev(above), t = *above;
                if (meet_badly(edges_[s], edges_[t], w)) return fault(edges_[s], edges_[t], w);
            }
        }
        for (std::size_t e : starting) {
            const std::size_t r = edges_[e].ring;
            if (parent[r] == -2) classify(r, p, status);
        }
        for (std::size_t e : starting) {
            auto it = status.insert(e).first;
            if (it != status.begin() && meet_badly(edges_[*std::prev(it)], edges_[e], w))
                return fault(edges_[*std::prev(it)], edges_[e], w);
            auto nx = std::next(it);
            if (nx != status.end() && meet_badly(edges_[e], edges_[*nx], w)) return fault(edges_[e], edges_[*nx], w);
        }
        k = j;
    }
    return {};
}

// A ring whose turns all have one sign (straight on allowed, turning back
// not) and that turns once around is convex, and so simple.
bool convex_once(const Contour& p) {
    const std::size_t n = p.size();
    int sign = 0;
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Pt a = p[(i + n - 1) % n], b = p[i], c = p[(i + 1) % n];
        const int o = orient_exact(a, b, c);
        const Pt u = vsub(b, a), v = vsub(c, b);
        if (o == 0) {
            if ((u.x > 0) != (v.x > 0) || (u.x < 0) != (v.x < 0) || (u.y > 0) != (v.y > 0) || (u.y < 0) != (v.y < 0))
                return false;  // turning back along the same line
            continue;
        }
        if (sign != 0 && o != sign) return false;
        sign = o;
        total += std::atan2(cross(u, v), u.x * v.x + u.y * v.y);
    }
    return std::fabs(total) < 3 * kPi;
}

double closed_area(Contour ring) {
    ring.push_back(ring.front());
    return polygon_area(ring);
}

}  // namespace

RingFault find_ring_fault(const Contour& outer, const std::vector<Contour>& holes) {
    std::vector<Ring> rings(holes.size() + 1);
    for (std::size_t r = 0; r < rings.size(); ++r) {
        const Contour& src = r == 0 ? outer : holes[r - 1];
        Contour& p = rings[r].pts;
        for (const Pt& q : src)
            if (p.empty() || q != p.back()) p.push_back(q);
        while (p.size() > 1 && p.back() == p.front()) p.pop_back();
        RingFault f;
        f.ring = r;
        // Fewer than three distinct points.
        Contour sorted = p;
        std::sort(sorted.begin(), sorted.end(), lex_less);
        if (std::unique(sorted.begin(), sorted.end()) - sorted.begin() < 3) {
            f.kind = RingFault::TooFewPoints;
            return f;
        }
        // All points on one line (p[1] differs from p[0]).
        bool flat = true;
        for (std::size_t i = 2; flat && i < p.size(); ++i) flat = orient_exact(p[0], p[1], p[i]) == 0;
        if (flat) {
            f.kind = RingFault::ZeroArea;
            return f;
        }
    }
    if (holes.empty() && convex_once(rings[0].pts)) {
        RingFault f;
        if (closed_area(rings[0].pts) == 0.0) f.kind = RingFault::ZeroArea;
        return f;
    }
    Sweep sweep(rings);
    // Orientation from the lowest-leftmost vertex, where the ring turns convexly.
    for (Ring& r : rings) {
        const std::size_t n = r.pts.size();
        std::size_t m = 0;
        for (std::size_t i = 1; i < n; ++i)
            if (lex_less(r.pts[i], r.pts[m])) m = i;
        r.orientation = orient_exact(r.pts[(m + n - 1) % n], r.pts[m], r.pts[(m + 1) % n]);
    }
    RingFault f = sweep.run();
    if (f.kind != RingFault::None) return f;
    for (std::size_t r = 0; r < rings.size(); ++r) {
        if (closed_area(rings[r].pts) == 0.0) {
            f.kind = RingFault::ZeroArea;
            f.ring = r;
            return f;
        }
        const long par = sweep.parent[r];
        if (r == 0 && par != -1) {
            f.kind = RingFault::HoleOutside;  // a hole encloses the outer contour
            f.ring = static_cast<std::size_t>(par);
            return f;
        }
        if (r > 0 && par != 0) {
            f.kind = par > 0 ? RingFault::HoleInHole : RingFault::HoleOutside;
            f.ring = r;
            f.other = par > 0 ? static_cast<std::size_t>(par) : 0;
            return f;
        }
    }
    return f;
}

std::string describe(const RingFault& f) {
    auto name = [](std::size_t r) { return r == 0 ? std::string("the outer contour") : "hole " + std::to_string(r - 1); };
    auto at = [&f] { return " near (" + format_number(f.where.x) + ", " + format_number(f.where.y) + ")"; };
    switch (f.kind) {
        case RingFault::None: return "no fault";
        case RingFault::TooFewPoints: return name(f.ring) + " has fewer than three distinct points";
        case RingFault::ZeroArea: return name(f.ring) + " has zero area";
        case RingFault::SelfCrossing: return name(f.ring) + " crosses or touches itself" + at();
        case RingFault::RingsMeet: return name(f.other) + " crosses or touches " + name(f.ring) + at();
        case RingFault::HoleOutside: return name(f.ring) + " lies outside the outer contour";
        case RingFault::HoleInHole: return name(f.ring) + " lies inside " + name(f.other);
    }
    return "no fault";
}

}  // namespace quarvo
