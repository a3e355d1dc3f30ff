#include "geometry/convolution.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "quarvo/cancel.hpp"

namespace quarvo {

namespace {

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

__extension__ typedef __int128 Int128;

struct Vec {
    cInt x, y;
};
Int128 cross(Vec a, Vec b) { return static_cast<Int128>(a.x) * b.y - static_cast<Int128>(a.y) * b.x; }
Int128 dot(Vec a, Vec b) { return static_cast<Int128>(a.x) * b.x + static_cast<Int128>(a.y) * b.y; }

// The turn at a vertex, from its incoming to its outgoing edge: +1
// counter-clockwise, -1 clockwise, 0 straight on.
struct Turn {
    Vec in, out;
    int sign;
};

int orientation(const IntPoint& o, const IntPoint& a, const IntPoint& b) {
    const Int128 c = cross({a.X - o.X, a.Y - o.Y}, {b.X - o.X, b.Y - o.Y});
    return (c > 0) - (c < 0);
}

// Whether p, collinear with segment a-b, lies on it.
bool on_segment(const IntPoint& a, const IntPoint& b, const IntPoint& p) {
    return std::min(a.X, b.X) <= p.X && p.X <= std::max(a.X, b.X) && std::min(a.Y, b.Y) <= p.Y &&
           p.Y <= std::max(a.Y, b.Y);
}

bool segments_meet(const IntPoint& a, const IntPoint& b, const IntPoint& c, const IntPoint& d) {
    const int o1 = orientation(a, b, c), o2 = orientation(a, b, d), o3 = orientation(c, d, a),
              o4 = orientation(c, d, b);
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    return (o1 == 0 && on_segment(a, b, c)) || (o2 == 0 && on_segment(a, b, d)) || (o3 == 0 && on_segment(c, d, a)) ||
           (o4 == 0 && on_segment(c, d, b));
}

// Whether the closed path is simple, exactly: no two edges meet but
// neighbours at their common end. The paths sums are built from may touch
// themselves after snapping, where the convolution does not hold.
bool simple(const Path& p) {
    const std::size_t n = p.size();
    if (n < 3 || ClipperLib::Area(p) == 0.0) return false;
    struct Edge {
        std::size_t i;
        cInt y0, y1, x0, x1;
    };
    std::vector<Edge> edges(n);
    for (std::size_t i = 0; i < n; ++i) {
        const IntPoint a = p[i], b = p[(i + 1) % n];
        if (a == b) return false;
        edges[i] = {i, std::min(a.Y, b.Y), std::max(a.Y, b.Y), std::min(a.X, b.X), std::max(a.X, b.X)};
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& u, const Edge& v) { return u.y0 < v.y0; });
    std::vector<const Edge*> active;
    for (std::size_t k = 0; k < n; ++k) {
        if (k % 1024 == 1023) check_cancel();
        const Edge& e = edges[k];
        const IntPoint a = p[e.i], b = p[(e.i + 1) % n];
        for (std::size_t q = 0; q < active.size();) {
            const Edge& o = *active[q];
            if (o.y1 < e.y0) {
                active[q] = active.back();
                active.pop_back();
                continue;
            }
            ++q;
            if (o.x1 < e.x0 || e.x1 < o.x0) continue;
            const IntPoint c = p[o.i], d = p[(o.i + 1) % n];
            const bool o_then_e = (o.i + 1) % n == e.i, e_then_o = (e.i + 1) % n == o.i;
            if (o_then_e || e_then_o) {
                // neighbours share one end: they may not fold back onto each other
                const IntPoint& common = o_then_e ? a : b;
                const IntPoint& far_o = o_then_e ? c : d;
                const IntPoint& far_e = o_then_e ? b : a;
                if (orientation(common, far_o, far_e) == 0 &&
                    (on_segment(common, far_o, far_e) || on_segment(common, far_e, far_o)))
                    return false;
                continue;
            }
            if (segments_meet(a, b, c, d)) return false;
        }
        active.push_back(&e);
    }
    return true;
}

struct Outline {
    Path pts;
    std::vector<Vec> edge;  // edge i runs from point i to point i + 1
    std::vector<Turn> turn;
};

// The outline counter-clockwise with its edges and turns; false when an edge
// is followed by its reverse.
bool outline_of(const Path& p, Outline& o) {
    o.pts = p;
    if (!ClipperLib::Orientation(o.pts)) ClipperLib::ReversePath(o.pts);
    const std::size_t n = o.pts.size();
    o.edge.resize(n);
    o.turn.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const IntPoint s = o.pts[i], e = o.pts[(i + 1) % n];
        o.edge[i] = {e.X - s.X, e.Y - s.Y};
    }
    for (std::size_t i = 0; i < n; ++i) {
        const Vec in = o.edge[(i + n - 1) % n], out = o.edge[i];
        const Int128 c = cross(in, out);
        if (c == 0 && dot(in, out) <= 0) return false;
        o.turn[i] = {in, out, c > 0 ? 1 : (c < 0 ? -1 : 0)};
    }
    return true;
}

// Directions ordered by angle in [0, 2 pi), exactly; parallel ones are equal.
int half_turn(Vec v) { return v.y > 0 || (v.y == 0 && v.x > 0) ? 0 : 1; }
bool angle_less(Vec a, Vec b) {
    const int ha = half_turn(a), hb = half_turn(b);
    return ha != hb ? ha < hb : cross(a, b) > 0;
}

// The edges of one outline sorted by direction, to find those whose direction
// a turn of the other outline passes.
struct ByAngle {
    std::vector<std::pair<Vec, std::size_t>> dirs;

    explicit ByAngle(const std::vector<Vec>& edges) {
        dirs.reserve(edges.size());
        for (std::size_t i = 0; i < edges.size(); ++i) dirs.push_back({edges[i], i});
        std::stable_sort(dirs.begin(), dirs.end(),
                         [](const auto& p, const auto& q) { return angle_less(p.first, q.first); });
    }
    // First position whose direction lies beyond v (strictly, or also at v).
    std::size_t bound(Vec v, bool past_equal) const {
        const auto it = past_equal
            ? std::upper_bound(dirs.begin(), dirs.end(), v, [](Vec x, const auto& p) { return angle_less(x, p.first); })
            : std::lower_bound(dirs.begin(), dirs.end(), v, [](const auto& p, Vec x) { return angle_less(p.first, x); });
        return static_cast<std::size_t>(it - dirs.begin());
    }
    // Calls f(edge) for the directions counter-clockwise from lo to hi (less
    // than half a turn): (lo, hi] with `open_start`, [lo, hi) otherwise.
    template <class F>
    void between(Vec lo, Vec hi, bool open_start, F&& f) const {
        const std::size_t first = bound(lo, open_start), last = bound(hi, open_start);
        if (!angle_less(hi, lo)) {
            for (std::size_t k = first; k < last; ++k) f(dirs[k].second);
        } else {  // across angle 0
            for (std::size_t k = first; k < dirs.size(); ++k) f(dirs[k].second);
            for (std::size_t k = 0; k < last; ++k) f(dirs[k].second);
        }
    }
};

// Ties between parallel edges are broken as if b's directions were turned a
// little further counter-clockwise than a's: an edge of a counts at the end
// of a counter-clockwise turn of b and at the start of a clockwise one, (lo,
// hi] counter-clockwise; an edge of b at a turn of a the other way round, [lo, hi).
// A turn's span counter-clockwise: from its incoming to its outgoing edge, or back.
Vec span_start(const Turn& t) { return t.sign > 0 ? t.in : t.out; }
Vec span_end(const Turn& t) { return t.sign > 0 ? t.out : t.in; }

}  // namespace

bool convolution_cycles(const Path& a, const Path& b, std::size_t max_pieces, Paths& out) {
    Outline A, B;
    if (!simple(a) || !simple(b) || !outline_of(a, A) || !outline_of(b, B)) return false;
    const std::uint64_t n = A.pts.size(), m = B.pts.size();
    // A state (i, j) is the point a_i + b_j; each piece runs from one state to the next.
    auto state = [m](std::uint64_t i, std::uint64_t j) { return i * m + j; };
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces;
    const ByAngle a_dirs(A.edge), b_dirs(B.edge);
    for (std::uint64_t j = 0; j < m; ++j) {
        if (j % 256 == 255) check_cancel();
        const Turn& t = B.turn[j];
        if (t.sign == 0) continue;
        // a's edges along b's turn at vertex j, backwards where b turns clockwise
        a_dirs.between(span_start(t), span_end(t), true, [&](std::size_t i) {
            const std::uint64_t i1 = (i + 1) % n;
            if (t.sign > 0) pieces.push_back({state(i, j), state(i1, j)});
            else pieces.push_back({state(i1, j), state(i, j)});
        });
        if (pieces.size() > max_pieces) return false;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        if (i % 256 == 255) check_cancel();
        const Turn& t = A.turn[i];
        if (t.sign == 0) continue;
        b_dirs.between(span_start(t), span_end(t), false, [&](std::size_t j) {
            const std::uint64_t j1 = (j + 1) % m;
            if (t.sign > 0) pieces.push_back({state(i, j), state(i, j1)});
            else pieces.push_back({state(i, j1), state(i, j)});
        });
        if (pieces.size() > max_pieces) return false;
    }
    // Every state is left as often as it is reached: chain the pieces into closed walks.
    std::sort(pieces.begin(), pieces.end());
    std::vector<std::size_t> cursor(pieces.size());  // at each group's first piece: its next unused piece
    for (std::size_t k = 0; k < pieces.size(); ++k) cursor[k] = k;
    std::vector<char> used(pieces.size(), 0);
    auto next_from = [&](std::uint64_t s) -> std::size_t {
        const auto it = std::lower_bound(pieces.begin(), pieces.end(), std::pair<std::uint64_t, std::uint64_t>{s, 0});
        const std::size_t first = static_cast<std::size_t>(it - pieces.begin());
        if (first == pieces.size() || pieces[first].first != s) return pieces.size();
        std::size_t& k = cursor[first];
        while (k < pieces.size() && pieces[k].first == s && used[k]) ++k;
        return k < pieces.size() && pieces[k].first == s ? k : pieces.size();
    };
    auto point = [&](std::uint64_t s) {
        const IntPoint p = A.pts[s / m], q = B.pts[s % m];
        return IntPoint(p.X + q.X, p.Y + q.Y);
    };
    Paths cycles;
    for (std::size_t k0 = 0; k0 < pieces.size(); ++k0) {
        if (used[k0]) continue;
        check_cancel();
        const std::uint64_t start = pieces[k0].first;
        Path walk{point(start)};
        std::size_t k = k0;
        std::uint64_t at = start;
        while (k < pieces.size()) {
            used[k] = 1;
            at = pieces[k].second;
            k = next_from(at);
            if (k < pieces.size()) walk.push_back(point(at));
        }
        if (at != start) return false;  // unbalanced: not a convolution after all
        if (walk.size() >= 3) cycles.push_back(std::move(walk));
    }
    out = std::move(cycles);
    return true;
}

}  // namespace quarvo
