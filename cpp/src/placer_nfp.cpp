#include "quarvo/placer_nfp.hpp"

#include <algorithm>
#include <atomic>
#include <thread>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <deque>
#include <limits>
#include <mutex>
#include <unordered_map>

#include <unistd.h>

#include "quarvo/cancel.hpp"
#include "quarvo/clipper_util.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Edge {
    Pt s, e;
    double angle;
};
}  // namespace

// ---- convex no-fit polygon -------------------------------------------------

double angle_2pi(Pt start, Pt end) {
    double dx = end.x - start.x, dy = end.y - start.y;
    double a = std::atan2(dy, dx);
    if (a < 0) a = a + 2 * kPi;
    return a;
}

RawNfp nfp_convex_only(const Contour& A, const Contour& B) {
    std::vector<Edge> edges;
    edges.reserve(A.size() + B.size());
    for (std::size_t i = 0; i + 1 < A.size(); ++i) edges.push_back({A[i], A[i + 1], angle_2pi(A[i], A[i + 1])});
    for (std::size_t i = 0; i + 1 < B.size(); ++i) edges.push_back({B[i + 1], B[i], angle_2pi(B[i + 1], B[i])});
    for (const Edge& e : edges)
        if (std::isnan(e.angle)) throw ValueError("no-fit polygon of a contour with a NaN or infinite coordinate");
    // Stable, by decreasing angle: equal angles keep A's edges before B's.
    std::stable_sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.angle > b.angle; });
    if (edges.empty()) return {Contour{{0.0, 0.0}}, {0.0, 0.0}};
    RawNfp r;
    r.pts.reserve(edges.size() + 1);
    const Edge& e0 = edges[0];
    r.pts.push_back(e0.s);
    r.pts.push_back(e0.e);
    double ks = extremum_key(e0.s.y), ke = extremum_key(e0.e.y);
    double top_key;
    if (key_greater(ke, e0.e.x, ks, e0.s.x)) { r.top = e0.e; top_key = ke; }
    else { r.top = e0.s; top_key = ks; }
    Pt prev = e0.e;
    for (std::size_t i = 1; i < edges.size(); ++i) {
        const Edge& e = edges[i];
        Pt d = vsub(prev, e.s);
        Pt p = vadd(e.e, d);
        r.pts.push_back(p);
        double k = extremum_key(p.y);
        if (key_greater(k, p.x, top_key, r.top.x)) { r.top = p; top_key = k; }
        prev = p;
    }
    return r;
}

Contour correct_nfp_position(const Contour& raw_nfp, Pt top_nfp, const Contour& A_rot, const Contour& B_rot) {
    Pt touch_sh = top_right(A_rot);
    Pt touch_other = bottom_left(B_rot);
    Pt dtouch = vsub(touch_sh, touch_other);
    Pt top_other = vadd(top_right(B_rot), dtouch);
    Pt dnfp = vsub(top_other, top_nfp);
    Contour out;
    out.reserve(raw_nfp.size());
    for (const Pt& p : raw_nfp) out.push_back(vadd(p, dnfp));
    return out;
}

// ---- signatures -------------------------------------------------------------

namespace {

inline void hash_double(std::size_t& h, double v) {
    if (v == 0.0) v = 0.0;  // -0.0 and 0.0 are equal keys
    unsigned long long bits;
    std::memcpy(&bits, &v, sizeof bits);
    h ^= std::hash<unsigned long long>{}(bits) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
}
inline bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool same_contour(const Contour& a, const Contour& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i].x, b[i].x) || !same(a[i].y, b[i].y)) return false;
    return true;
}

bool same_signature(const Signature& a, const Signature& b) {
    if (a.circle != b.circle) return false;
    if (a.circle) return same(a.radius, b.radius);
    if (!same_contour(a.outer, b.outer) || a.holes.size() != b.holes.size()) return false;
    for (std::size_t i = 0; i < a.holes.size(); ++i)
        if (!same_contour(a.holes[i], b.holes[i])) return false;
    return true;
}

std::size_t hash_signature(const Signature& s) {
    std::size_t h = s.circle ? 1 : 2;
    if (s.circle) { hash_double(h, s.radius); return h; }
    for (const Pt& p : s.outer) { hash_double(h, p.x); hash_double(h, p.y); }
    for (const Contour& c : s.holes) {
        hash_double(h, static_cast<double>(c.size()));
        for (const Pt& p : c) { hash_double(h, p.x); hash_double(h, p.y); }
    }
    return h;
}

struct SignatureRegistry {
    std::mutex mu;
    std::deque<Signature> sigs;  // deque: references stay valid as it grows
    std::unordered_multimap<std::size_t, int> by_hash;
};
SignatureRegistry& registry() {
    static SignatureRegistry* r = new SignatureRegistry();  // lives until the process ends
    return *r;
}

struct NfpKey {
    int sa;
    double ra, ia;
    int sb;
    double rb, ib;
    bool operator==(const NfpKey& o) const {
        return sa == o.sa && sb == o.sb && same(ra, o.ra) && same(ia, o.ia) && same(rb, o.rb) && same(ib, o.ib);
    }
};
struct NfpKeyHash {
    std::size_t operator()(const NfpKey& k) const {
        std::size_t h = static_cast<std::size_t>(k.sa) * 1000003u + static_cast<std::size_t>(k.sb);
        hash_double(h, k.ra);
        hash_double(h, k.ia);
        hash_double(h, k.rb);
        hash_double(h, k.ib);
        return h;
    }
};
// Split into shards by key hash, each with its own lock, so that rotations
// evaluated side by side rarely wait for each other.
struct NfpCache {
    static constexpr std::size_t kShards = 64;
    struct Shard {
        std::mutex mu;
        std::unordered_map<NfpKey, std::shared_ptr<const Contour>, NfpKeyHash> map;
    };
    Shard shards[kShards];
    Shard& shard(const NfpKey& k) { return shards[(NfpKeyHash{}(k) >> 7) % kShards]; }
};
NfpCache& cache() {
    static NfpCache* c = new NfpCache();
    return *c;
}

const Polygon& as_polygon(const Shape& s) { return static_cast<const Polygon&>(s); }
const Circle& as_circle(const Shape& s) { return static_cast<const Circle&>(s); }

void require_item(const Shape& s) {
    if (!s.is_polygon() && !s.is_circle()) throw NotImplementedError();
}

// is_convex, and the outline turns once. is_convex also passes stars, whose
// edge-merged NFPs and offsets are meaningless; a large star's offset would
// cross itself millions of times in the union.
bool convex_outline(const Shape& s) {
    if (!s.is_polygon()) return true;
    const Polygon& p = as_polygon(s);
    return p.outer_convex() && p.outer_turns_once();
}

void convexity_guard(const Shape& s) {
    if (s.is_polygon() && !convex_outline(s))
        throw ValueError("NFP 仅支持凸多边形/圆，收到非凸输入；非凸形状请用 bl 策略（或先实现 MinkowskiSum 非凸 NFP）");
}

}  // namespace

int geometry_signature(Shape& s) {
    if (s.sig_id >= 0) return s.sig_id;
    Signature sig;
    if (s.is_circle()) {
        sig.circle = true;
        sig.radius = as_circle(s).radius;
    } else if (s.is_polygon()) {
        sig.outer = as_polygon(s).outer();
        sig.holes = as_polygon(s).holes();
    } else {
        throw NotImplementedError();
    }
    std::size_t h = hash_signature(sig);
    SignatureRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    auto range = r.by_hash.equal_range(h);
    for (auto it = range.first; it != range.second; ++it) {
        if (same_signature(r.sigs[static_cast<std::size_t>(it->second)], sig)) {
            s.sig_id = it->second;
            return s.sig_id;
        }
    }
    r.sigs.push_back(std::move(sig));
    int id = static_cast<int>(r.sigs.size() - 1);
    r.by_hash.emplace(h, id);
    s.sig_id = id;
    return id;
}

const Signature& signature_of(int id) {
    SignatureRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.sigs.at(static_cast<std::size_t>(id));
}

std::size_t nfp_cache_size() {
    NfpCache& c = cache();
    std::size_t n = 0;
    for (auto& sh : c.shards) {
        std::lock_guard<std::mutex> lock(sh.mu);
        n += sh.map.size();
    }
    return n;
}

// ---- NFP dispatch -------------------------------------------------------------

Contour compute_nfp0(const Shape& a, const Shape& b) {
    require_item(a);
    require_item(b);
    if (a.is_circle() && b.is_circle()) {
        double ra = as_circle(a).radius + a.infl(), rb = as_circle(b).radius + b.infl();
        return circle_to_polygon({0.0, 0.0}, ra + rb, 64);
    }
    if (a.is_polygon() && b.is_polygon()) {
        const Contour& A = as_polygon(a).rotated_contour();
        const Contour& B = as_polygon(b).rotated_contour();
        RawNfp raw = nfp_convex_only(A, B);
        return correct_nfp_position(raw.pts, raw.top, A, B);
    }
    if (a.is_polygon()) {
        double rb = as_circle(b).radius + b.infl();
        return offset_convex(as_polygon(a).rotated_contour(), rb);
    }
    double ra = as_circle(a).radius + a.infl();
    Contour circ = circle_to_polygon({0.0, 0.0}, ra, 64);
    const Contour& B = as_polygon(b).rotated_contour();
    RawNfp raw = nfp_convex_only(circ, B);
    return correct_nfp_position(raw.pts, raw.top, circ, B);
}

std::shared_ptr<const Contour> local_nfp(Shape& a, Shape& b) {
    convexity_guard(a);
    convexity_guard(b);
    require_item(a);
    require_item(b);
    NfpKey key{geometry_signature(a), round6(a.rotation()), round6(a.infl()),
               geometry_signature(b), round6(b.rotation()), round6(b.infl())};
    NfpCache::Shard& sh = cache().shard(key);
    {
        std::lock_guard<std::mutex> lock(sh.mu);
        auto it = sh.map.find(key);
        if (it != sh.map.end()) return it->second;
    }
    auto nfp = std::make_shared<const Contour>(compute_nfp0(a, b));
    std::lock_guard<std::mutex> lock(sh.mu);
    auto ins = sh.map.emplace(key, nfp);  // an entry stored meanwhile by another thread wins
    return ins.first->second;
}

Contour compute_nfp(Shape& a, Shape& b) {
    std::shared_ptr<const Contour> local = local_nfp(a, b);
    const double ax = a.tx(), ay = a.ty();
    Contour out;
    out.reserve(local->size());
    for (const Pt& p : *local) out.push_back({p.x + ax, p.y + ay});
    return out;
}

std::vector<Contour> compute_hole_nfps(const Shape& a, const Shape& b) {
    std::vector<Contour> out;
    if (!a.is_polygon()) return out;
    for (const Contour& hole : as_polygon(a).transformed_holes()) {
        if (b.is_polygon()) {
            const Contour& B = as_polygon(b).rotated_contour();
            RawNfp raw = nfp_convex_only(hole, B);
            out.push_back(correct_nfp_position(raw.pts, raw.top, hole, B));
        } else if (b.is_circle()) {
            out.push_back(offset_convex(hole, as_circle(b).radius + b.infl()));
        }
    }
    return out;
}

// ---- union -------------------------------------------------------------------

namespace {
void collect(const ClipperLib::PolyNode& node, std::vector<Contour>& out) {
    if (!node.Contour.empty()) {
        Contour c;
        c.reserve(node.Contour.size() + 1);
        for (const ClipperLib::IntPoint& p : node.Contour) c.push_back({from_grid(p.X), from_grid(p.Y)});
        if (c.front() != c.back()) c.push_back(c.front());
        if (c.size() >= 4) out.push_back(std::move(c));
    }
    for (const ClipperLib::PolyNode* child : node.Childs) collect(*child, out);
}

std::atomic<long long> g_union_ns{0};

long long thread_cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Clipper's union of closed subject paths under the negative fill rule.
void unite(const ClipperLib::Paths& paths, ClipperLib::PolyTree& tree) {
    long long t0 = thread_cpu_ns();
    ClipperLib::Clipper clipper;
    clipper.AddPaths(paths, ClipperLib::ptSubject, true);
    clipper.Execute(ClipperLib::ctUnion, tree, ClipperLib::pftNegative, ClipperLib::pftNegative);
    g_union_ns.fetch_add(thread_cpu_ns() - t0, std::memory_order_relaxed);
}
}  // namespace

double union_seconds() { return static_cast<double>(g_union_ns.load()) / 1e9; }

static std::vector<Contour> merge_paths(const ClipperLib::Paths& paths) {
    ClipperLib::PolyTree tree;
    unite(paths, tree);
    std::vector<Contour> out;
    collect(tree, out);
    return out;
}

namespace {

// Refuses contours whose edges cross each other so often that the union
// would run for minutes (a random 10,000-point contour crosses itself about
// 10^7 times).
void require_tame_union(const std::vector<Contour>& nfps) {
    constexpr std::size_t kMaxCrossings = 2000000;
    std::vector<const Contour*> all;
    all.reserve(nfps.size());
    for (const Contour& c : nfps) all.push_back(&c);
    if (crosses_more_than(all, kMaxCrossings))
        throw ValueError("the contours cross each other more than " + std::to_string(kMaxCrossings) +
                         " times; their union is refused");
}

}  // namespace

std::vector<Contour> merge_nfps(const std::vector<Contour>& nfps) {
    require_tame_union(nfps);
    ClipperLib::Paths paths;
    paths.reserve(nfps.size());
    for (const Contour& c : nfps) paths.push_back(to_path(c));
    return merge_paths(paths);
}

// ---- candidate search ----------------------------------------------------------

std::vector<Pt> sample_boundary(const Contour& poly, long long steps) {
    std::vector<Pt> out;
    if (poly.size() < 2 || steps <= 0) return out;
    const std::size_t n = poly.size() - 1;
    // A point costs 16 bytes here and about eight times that once a host
    // holds it as a pair of numbers: refuse what physical memory cannot hold
    // rather than have the process killed for it.
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
    const unsigned long long cap =
        pages > 0 && page > 0 ? static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(page) / 128 : 1ULL << 28;
    if (static_cast<unsigned long long>(steps) > cap / n)
        throw ValueError(std::to_string(n) + " edges sampled " + std::to_string(steps) +
                         " times each make more points than memory holds");
    out.reserve(n * static_cast<std::size_t>(steps));
    const double ds = static_cast<double>(steps);
    for (std::size_t i = 0; i < n; ++i) {
        const Pt a = poly[i], b = poly[i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y;
        for (long long k = 0; k < steps; ++k) {
            if ((out.size() & 0xFFFF) == 0) check_cancel();
            double t = static_cast<double>(k) / ds;
            out.push_back({a.x + dx * t, a.y + dy * t});
        }
    }
    return out;
}

std::vector<Pt> sample_hole_interior(const Contour& poly) {
    std::vector<Pt> out;
    out.push_back(polygon_centroid(poly));
    BBox b = polygon_bbox(poly);
    const double w = b.maxx - b.minx, h = b.maxy - b.miny;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) {
            Pt p{b.minx + (w * i) / 5, b.miny + (h * j) / 5};
            if (point_in_convex_polygon(p, poly)) out.push_back(p);
        }
    return out;
}

namespace {

BBox rotated_bbox(const Shape& item) {
    if (item.is_circle()) {
        double r = as_circle(item).rotated_shape().radius;
        return {-r, -r, r, r};
    }
    require_item(item);
    return polygon_bbox(as_polygon(item).rotated_contour());
}

struct Scorer {
    BBox rb;
    Pt ref;
    double bin_w, bin_h, eps;
    bool center;
    double cx, cy;

    // Translation and score of candidate p; false when its box leaves the bin.
    bool score(Pt p, Pt& t, double& s) const {
        t = {p.x - ref.x, p.y - ref.y};
        double minx = rb.minx + t.x, maxx = rb.maxx + t.x;
        double miny = rb.miny + t.y, maxy = rb.maxy + t.y;
        if (minx < -eps || miny < -eps || maxx > bin_w + eps || maxy > bin_h + eps) return false;
        if (center) {
            double icx = (minx + maxx) / 2.0, icy = (miny + maxy) / 2.0;
            double dx = icx - cx, dy = icy - cy;
            s = dx * dx + dy * dy;
        } else {
            s = miny * (bin_w + 1.0) + minx;
        }
        return true;
    }

    // True when no sample of the edge a-b can pass the bin test with a score
    // below `best`: every sample's box leaves the bin, or a lower bound of the
    // score over the edge's box exceeds `best`, in both cases by far more than
    // any rounding of the samples, so skipping the edge never changes the result.
    bool edge_cannot_beat(Pt a, Pt b, double best) const {
        const double lox = std::min(a.x, b.x), hix = std::max(a.x, b.x);
        const double loy = std::min(a.y, b.y), hiy = std::max(a.y, b.y);
        const double mx = std::fabs(rb.minx) + std::fabs(rb.maxx) + std::fabs(ref.x) + std::fabs(lox) + std::fabs(hix) +
                          std::fabs(bin_w) + std::fabs(cx) + 1.0;
        const double my = std::fabs(rb.miny) + std::fabs(rb.maxy) + std::fabs(ref.y) + std::fabs(loy) + std::fabs(hiy) +
                          std::fabs(bin_h) + std::fabs(cy) + 1.0;
        const double sx = 1e-9 * mx, sy = 1e-9 * my;
        if (rb.minx + (hix - ref.x) < -eps - sx || rb.maxx + (lox - ref.x) > bin_w + eps + sx) return true;
        if (rb.miny + (hiy - ref.y) < -eps - sy || rb.maxy + (loy - ref.y) > bin_h + eps + sy) return true;
        if (!(best < std::numeric_limits<double>::infinity())) return false;
        double lb, mag;
        if (center) {
            const double hx = (rb.minx + rb.maxx) / 2.0 - ref.x, hy = (rb.miny + rb.maxy) / 2.0 - ref.y;
            const double x0 = lox + hx - cx, x1 = hix + hx - cx, y0 = loy + hy - cy, y1 = hiy + hy - cy;
            const double gx = x0 > 0 ? x0 : (x1 < 0 ? -x1 : 0.0), gy = y0 > 0 ? y0 : (y1 < 0 ? -y1 : 0.0);
            lb = gx * gx + gy * gy;
            mag = mx * mx + my * my;
        } else {
            const double w1 = bin_w + 1.0;
            if (!(w1 > 0)) return false;
            // a sample that passes has its box's lower-left corner at -eps or beyond
            const double miny = std::max(rb.miny + (loy - ref.y), -eps);
            const double minx = std::max(rb.minx + (lox - ref.x), -eps);
            lb = miny * w1 + minx;
            mag = my * w1 + mx;
        }
        const double slack = 1e-9 * (mag + std::fabs(best));
        return lb - slack > best;
    }
};

}  // namespace

SearchResult search_best_position(const std::vector<Contour>& contours, const std::vector<Contour>& hole_nfps,
                                  const Shape& item, double bin_w, double bin_h, long long steps, double eps,
                                  Placement placement, const HoleFilter* hole_filter) {
    Pt ref = item.is_polygon() ? top_right(as_polygon(item).rotated_contour()) : item.reference_point_local();
    Scorer sc{rotated_bbox(item), ref, bin_w, bin_h, eps,
              placement == Placement::Center, 0.0, 0.0};
    if (sc.center) { sc.cx = bin_w / 2.0; sc.cy = bin_h / 2.0; }
    SearchResult best;
    best.score = kInf;
    Pt t;
    double s;
    unsigned long long seen = 0;  // candidates so far: Ctrl-C is looked at every 65536
    // Boundary samples, generated in candidate order without building the list.
    if (steps > 0) {
        const double ds = static_cast<double>(steps);
        for (const Contour& poly : contours) {
            if (poly.size() < 2) continue;
            const std::size_t n = poly.size() - 1;
            for (std::size_t i = 0; i < n; ++i) {
                const Pt a = poly[i], b = poly[i + 1];
                if (sc.edge_cannot_beat(a, b, best.score)) continue;
                const double dx = b.x - a.x, dy = b.y - a.y;
                for (long long k = 0; k < steps; ++k) {
                    if ((++seen & 0xFFFF) == 0) check_cancel();
                    double tt = static_cast<double>(k) / ds;
                    Pt p{a.x + dx * tt, a.y + dy * tt};
                    if (sc.score(p, t, s) && s < best.score) {
                        best.score = s;
                        best.pos = t;
                        best.found = true;
                    }
                }
            }
        }
    }
    for (std::size_t h = 0; h < hole_nfps.size(); ++h) {
        for (const Pt& p : sample_hole_interior(hole_nfps[h])) {
            if (sc.score(p, t, s) && s < best.score && (!hole_filter || (*hole_filter)(h, p, t))) {
                best.score = s;
                best.pos = t;
                best.found = true;
            }
        }
    }
    return best;
}

// ---- the placer -------------------------------------------------------------

std::vector<double> default_rotations() { return {0.0, kPi / 2, kPi, (3 * kPi) / 2}; }

NfpPlacer::NfpPlacer(double bin_w, double bin_h, std::vector<double> rotations, Placement placement)
    : bin_w(bin_w), bin_h(bin_h), rotations(std::move(rotations)), placement(placement) {}

std::vector<double> NfpPlacer::rotations_for(const Shape& item) const {
    if (item.is_circle()) return {0.0};
    return rotations;
}

void NfpPlacer::place_at_origin(Shape& item) {
    if (item.is_circle()) {
        double r = as_circle(item).rotated_shape().radius;
        item.set_position(r, r);
        return;
    }
    BBox b = rotated_bbox(item);
    item.set_position(-b.minx, -b.miny);
}

void NfpPlacer::place_at_center(Shape& item) const {
    double cx = bin_w / 2.0, cy = bin_h / 2.0;
    if (item.is_circle()) {
        item.set_position(cx, cy);
        return;
    }
    BBox b = rotated_bbox(item);
    item.set_position(cx - (b.minx + b.maxx) / 2.0, cy - (b.miny + b.maxy) / 2.0);
}

bool NfpPlacer::fits(const Shape& item, double eps) const {
    BBox b = item.bounding_box();
    return b.minx >= -eps && b.miny >= -eps && b.maxx <= bin_w + eps && b.maxy <= bin_h + eps;
}

bool NfpPlacer::trypack(Shape& item) {
    // Garbage in must not reach the union or the search: refuse it before moving anything.
    require_sound_bin(bin_w, bin_h);
    require_sound_item(item);
    for (double r : rotations)
        if (!std::isfinite(r) || std::fabs(r) > MAX_COORDINATE) {
            // An item placed at such a rotation would be refused as a placed item later.
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", r);
            throw ValueError(std::string("rotation ") + buf + " is not a finite number of at most 1e12 in magnitude");
        }
    // A caller may have moved or grown a placed item since it was placed.
    for (std::size_t i = 0; i < packed.size(); ++i) require_sound_item(*packed[i], "placed item " + std::to_string(i));
    if (item.is_polygon() && !convex_outline(item)) return false;
    return packed.empty() ? trypack_empty(item) : trypack_nonempty(item);
}

bool NfpPlacer::trypack_empty(Shape& item) {
    for (double rot : rotations_for(item)) {
        item.set_rotation(rot);
        if (placement == Placement::Center) place_at_center(item);
        else place_at_origin(item);
        if (fits(item)) {
            packed.push_back(&item);
            return true;
        }
    }
    return false;
}

namespace {

// A world hole of a placed container, moved inward by the container's
// inflation: the room an item in that hole really has.
struct HoleRoom {
    std::size_t container;  // index in packed
    Contour room;
    bool usable;
};

// Where a rotation may stop: on Ctrl-C (the host answers on the caller's
// thread only) or when a sibling rotation has failed.
struct Stop {
    const std::atomic<bool>* abort = nullptr;
    std::thread::id caller = std::this_thread::get_id();
    void operator()() const {
        if (abort && abort->load(std::memory_order_relaxed)) throw Interrupted();
        if (std::this_thread::get_id() == caller) check_cancel();
    }
};

bool item_inside(const Shape& item, Pt t, const Contour& room, const Stop& stop) {
    if (item.is_circle()) {
        double r = as_circle(item).rotated_shape().radius;
        for (const Pt& v : circle_to_polygon({t.x, t.y}, r, 64))
            if (!point_in_polygon(v, room)) return false;
        return true;
    }
    const Contour& own = as_polygon(item).rotated_contour();
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (i % 256 == 255) stop();  // each test walks the whole room
        if (!point_in_polygon({own[i].x + t.x, own[i].y + t.y}, room)) return false;
    }
    return true;
}

// False only when no translation can put the item's box in the bin, with a
// margin far above rounding so that no candidate that could pass is skipped.
bool box_can_fit(const Shape& item, double bin_w, double bin_h, double eps) {
    BBox b = rotated_bbox(item);
    double slack_x = 1e-12 * (std::fabs(bin_w) + std::fabs(b.minx) + std::fabs(b.maxx) + 1.0);
    double slack_y = 1e-12 * (std::fabs(bin_h) + std::fabs(b.miny) + std::fabs(b.maxy) + 1.0);
    if (b.maxx - b.minx > bin_w + 2 * eps + slack_x) return false;
    if (b.maxy - b.miny > bin_h + 2 * eps + slack_y) return false;
    return true;
}

ClipperLib::Path world_path(const Contour& local, double ax, double ay) {
    ClipperLib::Path path;
    path.reserve(local.size());
    for (const Pt& p : local) path.push_back(ClipperLib::IntPoint(to_grid(p.x + ax), to_grid(p.y + ay)));
    return path;
}

// Every contour of the tree, reversed, so that the negative fill rule keeps the
// region filled when these paths are united again.
void store_tree(const ClipperLib::PolyNode& node, ClipperLib::Paths& out) {
    if (!node.Contour.empty()) out.emplace_back(node.Contour.rbegin(), node.Contour.rend());
    for (const ClipperLib::PolyNode* child : node.Childs) store_tree(*child, out);
}

struct KindKey {
    int sig;
    double rot, infl;
    bool operator==(const KindKey& o) const { return sig == o.sig && same(rot, o.rot) && same(infl, o.infl); }
};
struct KindKeyHash {
    std::size_t operator()(const KindKey& k) const {
        std::size_t h = static_cast<std::size_t>(k.sig);
        hash_double(h, k.rot);
        hash_double(h, k.infl);
        return h;
    }
};

struct RotationResult {
    bool found = false;
    Pt pos{};
    double score = kInf;
};

}  // namespace

// The forbidden region of each moving kind seen in this bin, as united so far.
struct NfpPlacer::Incremental {
    struct Union {
        std::vector<Shape*> basis;  // the placed items whose NFPs it holds, in order
        ClipperLib::Paths paths;
        std::vector<Contour> merged;  // its contours as last sampled
        bool has_merged = false;
    };
    std::unordered_map<KindKey, Union, KindKeyHash> unions;
};

NfpPlacer::~NfpPlacer() = default;
NfpPlacer::NfpPlacer(NfpPlacer&&) noexcept = default;
NfpPlacer& NfpPlacer::operator=(NfpPlacer&&) noexcept = default;

namespace {

struct RotationJob {
    Shape* mover = nullptr;  // the item itself, or a private copy at this rotation
    bool can_fit = false;
    // Local NFP of each placed item against the mover; looked up on first use
    // where they were not all looked up in advance.
    mutable std::vector<std::shared_ptr<const Contour>> locals;
    NfpPlacer::Incremental::Union* stored = nullptr;

    const Contour& local(const std::vector<Shape*>& packed, std::size_t j) const {
        if (locals.size() != packed.size()) locals.resize(packed.size());
        if (!locals[j]) locals[j] = local_nfp(*packed[j], *mover);
        return *locals[j];
    }
};

RotationResult evaluate_rotation(const NfpPlacer& pl, const RotationJob& job, const std::vector<HoleRoom>& rooms,
                                 const Stop& stop) {
    RotationResult res;
    const std::vector<Shape*>& packed = pl.packed;
    Shape& mover = *job.mover;
    ClipperLib::Paths paths;
    std::size_t first_new = 0;
    bool reuse = false;  // nothing placed since the stored union: sample it as it is
    if (job.stored) {
        auto& stored = *job.stored;
        bool prefix = stored.basis.size() <= packed.size() && std::equal(stored.basis.begin(), stored.basis.end(), packed.begin());
        if (prefix) {
            first_new = stored.basis.size();
            reuse = first_new == packed.size() && stored.has_merged;
        }
        if (!reuse) {
            // taken out until the new union is stored; a failure meanwhile starts it afresh
            if (prefix) paths = std::move(stored.paths);
            stored.paths.clear();
            stored.basis.clear();
            stored.merged.clear();
            stored.has_merged = false;
        }
    }
    paths.reserve(paths.size() + packed.size() - first_new);
    std::vector<Contour> hole_nfps;
    std::vector<std::size_t> hole_room;  // hole NFP index -> rooms index
    std::size_t room_index = 0;
    for (std::size_t j = 0; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        const Shape& o = *packed[j];
        if (j >= first_new) paths.push_back(world_path(job.local(packed, j), o.tx(), o.ty()));
        if (o.is_polygon() && as_polygon(o).is_container()) {
            std::vector<Contour> hn = compute_hole_nfps(o, mover);
            for (std::size_t k = 0; k < hn.size(); ++k) {
                hole_nfps.push_back(std::move(hn[k]));
                hole_room.push_back(room_index + k);
            }
            room_index += as_polygon(o).holes().size();
        }
    }
    stop();
    std::vector<Contour> fresh;
    const std::vector<Contour>* merged = &fresh;
    if (reuse) {
        merged = &job.stored->merged;
    } else {
        ClipperLib::PolyTree tree;
        unite(paths, tree);
        collect(tree, fresh);
        stop();
        if (job.stored) {
            store_tree(tree, job.stored->paths);
            job.stored->basis = packed;
            job.stored->merged = fresh;
            job.stored->has_merged = true;
        }
    }

    // A candidate inside a hole NFP is taken only when the item really lies in
    // the hole's room and overlaps no other placed item.
    HoleFilter filter = [&](std::size_t h, Pt p, Pt t) {
        const HoleRoom& room = rooms[hole_room[h]];
        if (!room.usable || !item_inside(mover, t, room.room, stop)) return false;
        for (std::size_t j = 0; j < packed.size(); ++j) {
            if (j == room.container) continue;
            const Contour& local = job.local(packed, j);
            const double ax = packed[j]->tx(), ay = packed[j]->ty();
            // Adding a translation keeps the order of coordinates, so the world
            // box is the local box moved: test it before building the contour.
            BBox lb = polygon_bbox(local);
            if (p.x < lb.minx + ax || p.x > lb.maxx + ax || p.y < lb.miny + ay || p.y > lb.maxy + ay) continue;
            Contour world;
            world.reserve(local.size());
            for (const Pt& q : local) world.push_back({q.x + ax, q.y + ay});
            if (point_in_polygon(p, world)) return false;
        }
        return true;
    };
    SearchResult r = search_best_position(*merged, hole_nfps, mover, pl.bin_w, pl.bin_h, 40, 1e-6, pl.placement,
                                          hole_nfps.empty() ? nullptr : &filter);
    res.found = r.found;
    res.pos = r.pos;
    res.score = r.score;
    return res;
}

}  // namespace

bool NfpPlacer::trypack_nonempty(Shape& item) {
    require_item(item);
    // Hole rooms do not depend on the moving item: build them once.
    std::vector<HoleRoom> rooms;
    for (std::size_t ci = 0; ci < packed.size(); ++ci) {
        const Shape& c = *packed[ci];
        if (!c.is_polygon() || !as_polygon(c).is_container()) continue;
        for (const Contour& hole : as_polygon(c).transformed_holes()) {
            Contour room = offset_convex(hole, c.infl());
            bool usable = room.size() >= 4 && polygon_area(room) > 0;
            rooms.push_back({ci, std::move(room), usable});
        }
    }
    if (incremental && !inc_) inc_ = std::make_unique<Incremental>();

    const std::vector<double> rots = rotations_for(item);
    const std::size_t n = rots.size();
    std::atomic<bool> abort{false};
    const Stop stop{&abort};
    auto lookup_nfps = [&](RotationJob& job) {
        job.locals.resize(packed.size());
        for (std::size_t j = 0; j < packed.size(); ++j) {
            if (j % 256 == 255) stop();
            job.locals[j] = local_nfp(*packed[j], *job.mover);
        }
    };
    std::vector<RotationJob> jobs(n);
    std::vector<std::unique_ptr<Shape>> clones;
    const bool parallel = threads > 1 && n > 1;
    // In a sequential run the NFP cache fills in rotation order. Workers may
    // fill it side by side only when no two rotations share cache keys;
    // otherwise the NFPs are looked up in rotation order before they start.
    auto prepare = [&](std::size_t i, Shape& mover, bool lookup) {
        RotationJob& job = jobs[i];
        job.mover = &mover;
        job.can_fit = box_can_fit(mover, bin_w, bin_h, 1e-6);
        if (!job.can_fit) return;
        // The incremental mode needs only the NFPs of items placed since its
        // stored union (and the rest only for hole candidates): look them up lazily.
        if (lookup && (!inc_ || parallel)) lookup_nfps(job);
        if (inc_) {
            KindKey key{geometry_signature(mover), round6(mover.rotation()), round6(mover.infl())};
            job.stored = &inc_->unions[key];
        }
    };
    std::vector<RotationResult> results(n);
    if (!parallel) {
        for (std::size_t i = 0; i < n; ++i) {
            check_cancel();
            item.set_rotation(rots[i]);
            prepare(i, item, true);
            if (jobs[i].can_fit) results[i] = evaluate_rotation(*this, jobs[i], rooms, stop);
        }
    } else {
        // Workers only read the placed items: fill their lazy caches first.
        for (Shape* o : packed) {
            geometry_signature(*o);
            if (o->is_polygon()) {
                as_polygon(*o).outer_convex();
                as_polygon(*o).outer_turns_once();
                as_polygon(*o).rotated_contour();
            }
        }
        geometry_signature(item);
        if (item.is_polygon()) {
            as_polygon(item).outer_convex();
            as_polygon(item).outer_turns_once();
        }
        std::vector<double> keys;
        for (double r : rots) keys.push_back(round6(r));
        bool distinct = true;
        for (std::size_t i = 0; i < n && distinct; ++i)
            for (std::size_t k = 0; k < i; ++k)
                if (same(keys[i], keys[k])) { distinct = false; break; }
        for (std::size_t i = 0; i < n; ++i) {
            check_cancel();
            clones.push_back(item.clone_geometry());
            clones.back()->set_rotation(rots[i]);
            prepare(i, *clones.back(), !distinct);
        }
        item.set_rotation(rots[n - 1]);
        // Two rotations of one kind would share a stored union: keep them apart.
        std::vector<bool> shared(n, false);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < i; ++k)
                if (jobs[i].stored && jobs[i].stored == jobs[k].stored) shared[i] = true;
        std::atomic<std::size_t> next{0};
        std::vector<std::exception_ptr> errors(n);
        // The first failure (Ctrl-C included) stops the other rotations at
        // their next checkpoint; those stops are not errors of their own.
        std::vector<char> stopped(n, 0);
        auto work = [&]() {
            for (std::size_t i; !abort.load() && (i = next.fetch_add(1)) < n;) {
                if (!jobs[i].can_fit || shared[i]) continue;
                try {
                    if (jobs[i].locals.empty() && !packed.empty() && !inc_) lookup_nfps(jobs[i]);
                    results[i] = evaluate_rotation(*this, jobs[i], rooms, stop);
                } catch (...) {
                    if (abort.exchange(true)) stopped[i] = true;
                    errors[i] = std::current_exception();
                }
            }
        };
        std::size_t hw = std::max(1u, std::thread::hardware_concurrency());
        std::size_t workers = std::min<std::size_t>({static_cast<std::size_t>(threads), hw, n}) - 1;
        std::vector<std::thread> pool;
        for (std::size_t w = 0; w < workers; ++w) pool.emplace_back(work);
        work();
        for (std::thread& t : pool) t.join();
        for (std::size_t i = 0; i < n; ++i)
            if (errors[i] && !stopped[i]) std::rethrow_exception(errors[i]);
        for (std::size_t i = 0; i < n; ++i)
            if (shared[i] && jobs[i].can_fit) results[i] = evaluate_rotation(*this, jobs[i], rooms, stop);
    }

    // Best score first; on equal scores the earlier rotation.
    bool found = false;
    Pt best_pos{};
    double best_rot = item.rotation();
    double best_score = kInf;
    for (std::size_t i = 0; i < n; ++i) {
        if (results[i].found && results[i].score < best_score) {
            found = true;
            best_pos = results[i].pos;
            best_rot = rots[i];
            best_score = results[i].score;
        }
    }
    if (!found) return false;
    item.set_rotation(best_rot);
    item.set_position(best_pos.x, best_pos.y);
    packed.push_back(&item);
    return true;
}

}  // namespace quarvo
