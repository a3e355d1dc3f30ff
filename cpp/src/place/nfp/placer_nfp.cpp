#include "quarvo/placer_nfp.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "core/hash_key.hpp"
#include "core/thread_runner.hpp"
#include "core/validate.hpp"
#include "nfp/nfp.hpp"
#include "nfp/nfp_cache.hpp"
#include "nfp/stored_union.hpp"
#include "place/nfp/candidate_search.hpp"
#include "place/nfp/disc_search.hpp"
#include "place/nfp/free_space.hpp"
#include "place/nfp/hole_candidates.hpp"
#include "place/nfp/hole_rooms.hpp"
#include "place/nfp/nfp_depth.hpp"
#include "place/nfp/refusals.hpp"
#include "place/nfp/shaped_bin.hpp"
#include "place/nfp/room_gate.hpp"
#include "place/nfp/windowed_search.hpp"
#include "place/rest_filter.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "shapes/item_checks.hpp"

namespace quarvo {

namespace {

struct KindKey {
    int sig;
    double rot, infl;
    bool operator==(const KindKey& o) const { return sig == o.sig && same_key(rot, o.rot) && same_key(infl, o.infl); }
};
struct KindKeyHash {
    std::size_t operator()(const KindKey& k) const {
        std::size_t h = static_cast<std::size_t>(k.sig);
        hash_double(h, k.rot);
        hash_double(h, k.infl);
        return h;
    }
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

struct RotationResult {
    bool found = false;
    Pt pos{};
    double score = kInf;
    std::vector<Candidate> passed;  // with a site choice: every candidate that passed
    bool in_hole = false;           // a dense hole's place, which beats every place outside
    // Whether this result beats `o`: a dense hole's place first, then the lower score.
    bool beats(const RotationResult& o) const {
        return found && (!o.found || (in_hole != o.in_hole ? in_hole : score < o.score));
    }
    double refused_from = kInf;     // found nothing, and no circle from this radius up has a place
};

// A shaped bin's free part for one moving kind and how many placed items it
// left out (a bin's items only grow, so that number tells whether it holds).
struct FreePart {
    std::size_t basis = static_cast<std::size_t>(-1);
    std::vector<Contour> contours;
};

// One rotation of the moving item and what its evaluation needs.
struct RotationJob {
    Shape* mover = nullptr;  // the item itself, or a private copy at this rotation
    bool can_fit = false;
    // Local NFP of each placed item against the mover; looked up on first use
    // where they were not all looked up in advance.
    mutable std::vector<std::shared_ptr<const Region>> locals;
    StoredUnion* stored = nullptr;
    bool exact = false;      // circles circumscribed
    bool nonconvex = false;  // Minkowski NFPs for non-convex pairs
    // Or the windows of the free space of a probe held by the mover, and its offset.
    const FreeWindows* windows = nullptr;
    Probe probe;
    const CircleIndex* circles = nullptr;
    // With stable placement: the best place must be one where the mover rests.
    const RestFilter* rest = nullptr;
    // In a shaped bin: the bin's rooms for the mover's inset and the mover's
    // fixed free region there.
    const BinRooms* bin_rooms = nullptr;
    std::shared_ptr<const Region> fixed;
    FreePart* free = nullptr;  // its free part as last sampled
    // Which places in rooms the mover may take (couplings, the caller's admission).
    const RoomGate* gate = nullptr;

    const Region& local(const std::vector<Shape*>& packed, std::size_t j) const {
        if (locals.size() != packed.size()) locals.resize(packed.size());
        if (!locals[j]) locals[j] = local_nfp(*packed[j], *mover, exact, nonconvex);
        return *locals[j];
    }
    void lookup_all(const std::vector<Shape*>& packed, const Stop& stop) {
        locals.resize(packed.size());
        for (std::size_t j = 0; j < packed.size(); ++j) {
            if (j % 256 == 255) stop();
            locals[j] = local_nfp(*packed[j], *mover, exact, nonconvex);
        }
    }
};

// The bin's search for one rotation over the probe windows.
RotationResult search_windows(const NfpPlacer& pl, const RotationJob& job, const std::function<void()>& stop_fn,
                              const BestFilter* best_filter) {
    const std::vector<Shape*>& packed = pl.packed;
    const WindowedBin bin{packed,    pl.bin_w, pl.bin_h,    pl.options().placement, *job.windows,
                          job.probe, stop_fn,  job.circles, best_filter};
    const SearchResult r = windowed_search(
        bin, *job.mover, [&](std::size_t j) -> const Contour& { return job.local(packed, j).front(); });
    RotationResult res{r.found, r.pos, r.score, {}};
    if (!r.found && job.circles) res.refused_from = refused_from(bin, *job.mover);
    return res;
}

// The boundary of the union of every placed item's NFP against the mover:
// the stored union extended, or a fresh one in `fresh`.
const std::vector<Contour>& bin_boundary(const NfpPlacer& pl, const RotationJob& job, const Stop& stop,
                                         const std::function<void()>& stop_fn, std::vector<Contour>& fresh) {
    const std::vector<Shape*>& packed = pl.packed;
    auto path_of = [&](std::size_t j, ClipperLib::Paths& out) {
        add_world_paths(job.local(packed, j), packed[j]->tx(), packed[j]->ty(), out);
    };
    if (job.stored) return job.stored->update(packed, path_of, stop_fn);
    ClipperLib::Paths paths;
    paths.reserve(packed.size());
    for (std::size_t j = 0; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        path_of(j, paths);
    }
    stop();
    fresh = unite_paths(paths, UnionInput::Trusted);
    stop();
    return fresh;
}

// The part of a shaped bin's fixed free region for the mover that the NFPs
// of the placed items leave, kept three grid units clear of both: the
// contours the bin's candidates are sampled on.
const std::vector<Contour>& shaped_free_part(const NfpPlacer& pl, const RotationJob& job, const Stop& stop,
                                             const std::function<void()>& stop_fn, std::vector<Contour>& out) {
    const std::vector<Shape*>& packed = pl.packed;
    auto path_of = [&](std::size_t j, ClipperLib::Paths& paths) {
        add_world_paths(job.local(packed, j), packed[j]->tx(), packed[j]->ty(), paths);
    };
    if (job.free && job.free->basis == packed.size()) return job.free->contours;
    ClipperLib::Paths taken;
    if (job.stored) {
        // the union's contours turned round: its inside is then negative, as the NFPs' is
        for (const Contour& c : job.stored->update(packed, path_of, stop_fn)) {
            taken.push_back(world_path(c, 0.0, 0.0));
            std::reverse(taken.back().begin(), taken.back().end());
        }
    } else {
        taken.reserve(packed.size());
        for (std::size_t j = 0; j < packed.size(); ++j) {
            if (j % 256 == 255) stop();
            path_of(j, taken);
        }
    }
    stop();
    out = free_part(*job.fixed, taken, 3.0);
    stop();
    if (!job.free) return out;
    job.free->contours = std::move(out);
    job.free->basis = packed.size();
    return job.free->contours;
}

// The best place (or, with a site choice, every place) of one rotation: in
// the holes of placed containers and on the boundary of the union.
RotationResult evaluate_rotation(const NfpPlacer& pl, const RotationJob& job, const std::vector<HoleRoom>& rooms,
                                 const Stop& stop, int site) {
    const std::function<void()> stop_fn = [&stop] { stop(); };
    Shape& mover = *job.mover;
    const NfpOptions& options = pl.options();
    const bool gated = job.gate && job.gate->applies(mover);
    const bool exact_rooms = options.exact_clearance || mover.is_pipe();
    // the gate is asked last, of places that would be taken but for it
    const BestFilter taken = [&](Pt t) {
        return (!job.rest || job.rest->rests(mover, t)) &&
               (!gated || job.gate->lets_at(mover, t, rooms, exact_rooms, stop_fn));
    };
    const BestFilter* best_filter = job.rest || gated ? &taken : nullptr;
    if (job.windows) return search_windows(pl, job, stop_fn, best_filter);
    const std::vector<Shape*>& packed = pl.packed;
    HoleCandidates holes = hole_candidates(
        packed, mover, rooms, {options.hole_fill == HoleFill::Dense, job.nonconvex, job.exact},
        [&](std::size_t j) -> const Region& { return job.local(packed, j); }, stop_fn);
    const bool any_hole = !holes.empty();
    const std::vector<HoleRegion> regions = holes.regions();
    const RoomFilter filter{packed, rooms, holes.room_of_hole(), mover,
                            [&](std::size_t j) -> const Region& { return job.local(packed, j); }, stop_fn,
                            exact_rooms, holes.fitted_from()};
    const HoleFilter hole_filter = std::cref(filter);
    RotationResult res;
    std::vector<Candidate>* passed = site > 0 ? &res.passed : nullptr;
    static const std::vector<Contour> none;
    static const std::vector<HoleRegion> no_regions;
    // Dense holes are filled first: a place in a hole costs the bin no room,
    // so the best one beats every place outside, and the bin is searched only
    // when no hole takes the item (or every site is wanted).
    const bool holes_first = options.hole_fill == HoleFill::Dense;
    if (holes_first && any_hole) {
        PositionSearch q{mover, pl.bin_w, pl.bin_h, none, holes.nfps};
        q.placement = options.placement;
        q.inset = pl.inset(mover);
        q.hole_filter = &hole_filter;
        q.hole_regions = &regions;
        q.passed = passed;
        q.best_filter = best_filter;
        q.support_points = options.stable;
        const SearchResult r = search_best_position(q);
        res.found = r.found;
        res.pos = r.pos;
        res.score = r.score;
        res.in_hole = r.found;
        if (passed)
            for (Candidate& c : *passed) c.in_hole = true;
        if (r.found && !passed) return res;
    }

    std::vector<Contour> fresh;
    const std::vector<Contour>& merged =
        job.fixed ? shaped_free_part(pl, job, stop, stop_fn, fresh) : bin_boundary(pl, job, stop, stop_fn, fresh);
    // A place in a shaped bin is taken only once the item is seen to lie in
    // the outline, clear of the holes and defects, on the polygons themselves.
    const Contour outline = job.fixed ? item_contour(mover, true) : Contour{};
    const double slack = engine_tolerance(std::max(pl.bin_w, pl.bin_h));
    const BestFilter in_bin = [&](Pt t) {
        if (job.rest && !job.rest->rests(mover, t)) return false;
        Contour world = outline;
        for (Pt& p : world) p = {p.x + t.x, p.y + t.y};
        return clear_of_bin(*job.bin_rooms, world, slack, stop_fn);
    };
    PositionSearch q{mover, pl.bin_w, pl.bin_h, merged, holes_first ? none : holes.nfps};
    q.placement = options.placement;
    q.inset = pl.inset(mover);
    q.hole_filter = any_hole && !holes_first ? &hole_filter : nullptr;
    q.hole_regions = holes_first ? &no_regions : &regions;
    q.passed = passed;
    q.best_filter = job.fixed ? &in_bin : best_filter;
    q.support_points = options.stable;
    const SearchResult r = search_best_position(q);
    if (!res.in_hole) {
        res.found = r.found;
        res.pos = r.pos;
        res.score = r.score;
    }
    return res;
}

// The site `site` of the candidates of every rotation (see PlaceRequest::site):
// its rotation index and translation; false when there is none.
// With `at_rest`, a candidate is taken only where the item rests at that rotation.
bool choose_site(const std::vector<RotationResult>& results, int site, double spacing, std::size_t& rot, Pt& pos,
                 const std::function<bool(std::size_t rot, Pt pos)>& at_rest) {
    struct Ranked {
        bool in_hole;
        double score;
        std::size_t rot;
        Pt pos;
    };
    std::vector<Ranked> all;
    for (std::size_t i = 0; i < results.size(); ++i)
        for (const Candidate& c : results[i].passed) all.push_back({c.in_hole, c.score, i, c.pos});
    std::stable_sort(all.begin(), all.end(), [](const Ranked& a, const Ranked& b) {
        if (a.in_hole != b.in_hole) return a.in_hole;
        return a.score < b.score || (a.score == b.score && a.rot < b.rot);
    });
    std::vector<Pt> taken;
    for (const Ranked& r : all) {
        bool apart = true;
        for (const Pt& q : taken)
            if (std::hypot(r.pos.x - q.x, r.pos.y - q.y) < spacing) { apart = false; break; }
        if (!apart) continue;
        if (at_rest && !at_rest(r.rot, r.pos)) continue;
        taken.push_back(r.pos);
        rot = r.rot;
        pos = r.pos;
        if (taken.size() > static_cast<std::size_t>(site)) break;
    }
    return !taken.empty();
}

// Workers only read the placed items and the mover: fill their lazy caches
// first (the mover's signature on every side it is tried on).
void warm_lazy_caches(const std::vector<Shape*>& packed, Shape& item,
                      const std::vector<NfpPlacer::Orientation>& orientations) {
    for (Shape* o : packed) {
        geometry_signature(*o);
        if (o->is_polygon()) {
            polygon_cast(*o).outer_convex();
            polygon_cast(*o).outer_turns_once();
            polygon_cast(*o).rotated_contour();
        }
    }
    const bool was = item.mirrored();
    for (const NfpPlacer::Orientation& o : orientations) {
        if (o.side >= 0) item.set_mirrored(o.side == 1);
        geometry_signature(item);
    }
    item.set_mirrored(was);
    geometry_signature(item);
    if (item.is_polygon()) {
        polygon_cast(item).outer_convex();
        polygon_cast(item).outer_turns_once();
    }
}

}  // namespace

struct NfpPlacer::StoredUnions {
    std::unordered_map<KindKey, StoredUnion, KindKeyHash> by_kind;
    // Tries per kind: once the bin has seen more than eight kinds, a kind new
    // to it searches the probe windows (in bins without containers) and gets
    // a union of its own from its third try on.
    std::unordered_map<KindKey, int, KindKeyHash> tries;
    FreeSpace free_space;
    Refusals refusals;
    bool rebuilding = false;  // placing again on fresh unions: the place is not checked again
    // In a shaped bin, per kind: its free part as last sampled.
    std::unordered_map<KindKey, FreePart, KindKeyHash> free_by_kind;
};

namespace {

// The rotations of one item offered to a non-empty bin, evaluated in turn or
// side by side; each gets its job (its NFPs, its stored union or its probe
// windows) in rotation order, so that the NFP cache fills as in a sequential run.
class RotationRun {
public:
    RotationRun(const NfpPlacer& pl, NfpPlacer::StoredUnions* stored, Shape& item,
                const std::vector<NfpPlacer::Orientation>& rots, int site, const std::vector<HoleRoom>& rooms,
                const RestFilter* rest, const BinRooms* bin_rooms, const RoomGate* gate)
        : pl_(pl), options_(pl.options()), stored_(stored), item_(item), rots_(rots), site_(site), rooms_(rooms),
          rest_(rest), bin_rooms_(bin_rooms), gate_(gate),
          stop_{&abort_}, stop_fn_([this] { stop_(); }), jobs_(rots.size()),
          containers_(std::any_of(pl.packed.begin(), pl.packed.end(), [](const Shape* o) { return is_container(*o); })),
          pipes_(item.is_pipe() ||
                 std::any_of(pl.packed.begin(), pl.packed.end(), [](const Shape* o) { return o->is_pipe(); })),
          parallel_(options_.threads > 1 && rots.size() > 1) {}

    bool containers() const { return containers_; }
    bool pipes() const { return pipes_; }

    std::vector<RotationResult> evaluate() { return parallel_ ? side_by_side() : in_turn(); }

private:
    void prepare(std::size_t i, Shape& mover, bool lookup) {
        const std::vector<Shape*>& packed = pl_.packed;
        RotationJob& job = jobs_[i];
        job.mover = &mover;
        job.rest = rest_;
        job.gate = gate_;
        job.exact = options_.exact_clearance;
        job.nonconvex = options_.nonconvex;
        job.can_fit = box_can_fit(mover, pl_.bin_w, pl_.bin_h, 1e-6, pl_.inset(mover));
        if (!job.can_fit) return;
        if (bin_rooms_) {
            job.bin_rooms = bin_rooms_;
            job.fixed = shaped_free_region(pl_.shape, pl_.bin_w, pl_.bin_h, pl_.inset(mover), *bin_rooms_, mover,
                                           stop_fn_);
            job.can_fit = !job.fixed->empty();
            if (!job.can_fit) return;
        }
        // The incremental mode needs only the NFPs of items placed since its
        // stored union (and the rest only for hole candidates): look them up lazily.
        if (lookup && (!stored_ || parallel_)) job.lookup_all(packed, stop_);
        if (!stored_) return;
        KindKey key{geometry_signature(mover), mover.rotation(), mover.infl()};
        int& tries = stored_->tries[key];
        // (the probe's own NFPs take every placed outline as convex and circles
        // as inscribed, and the probe's windows span the whole bin)
        const bool windowed = !containers_ && !pipes_ && tries < 2 && stored_->tries.size() > 8 && site_ == 0 &&
                              !options_.exact_clearance && !options_.nonconvex && pl_.margin == 0.0 && !bin_rooms_;
        const Probe probe = windowed ? probe_for(mover, pl_.bin_w, pl_.bin_h) : Probe{};
        if (probe.usable) {
            ++tries;
            job.windows = &stored_->free_space.windows(probe, packed, pl_.bin_w, pl_.bin_h, stop_fn_);
            job.probe = probe;
            job.circles = &stored_->free_space.circle_index(packed);
        } else {
            job.stored = &stored_->by_kind[key];
            if (bin_rooms_) job.free = &stored_->free_by_kind[key];
        }
    }

    std::vector<RotationResult> in_turn() {
        std::vector<RotationResult> results(rots_.size());
        for (std::size_t i = 0; i < rots_.size(); ++i) {
            check_cancel();
            rots_[i].apply(item_);
            prepare(i, item_, true);
            if (jobs_[i].can_fit) results[i] = evaluate_rotation(pl_, jobs_[i], rooms_, stop_, site_);
        }
        return results;
    }

    // Workers may fill the NFP cache side by side only when no two rotations
    // share cache keys; otherwise the NFPs are looked up in rotation order
    // before they start.
    std::vector<RotationResult> side_by_side() {
        const std::vector<Shape*>& packed = pl_.packed;
        const std::size_t n = rots_.size();
        warm_lazy_caches(packed, item_, rots_);
        bool distinct = true;
        for (std::size_t i = 0; i < n && distinct; ++i)
            for (std::size_t k = 0; k < i; ++k)
                if (same_key(rots_[i].rotation, rots_[k].rotation) && rots_[i].side == rots_[k].side) {
                    distinct = false;
                    break;
                }
        for (std::size_t i = 0; i < n; ++i) {
            check_cancel();
            clones_.push_back(item_.clone_geometry());
            rots_[i].apply(*clones_.back());
            prepare(i, *clones_.back(), !distinct);
        }
        rots_[n - 1].apply(item_);
        // Two rotations of one kind would share a stored union: keep them apart.
        std::vector<bool> shared(n, false);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < i; ++k)
                if (jobs_[i].stored && jobs_[i].stored == jobs_[k].stored) shared[i] = true;
        std::vector<RotationResult> results(n);
        run_side_by_side(n, static_cast<std::size_t>(options_.threads), abort_, [&](std::size_t i) {
            if (!jobs_[i].can_fit || shared[i]) return;
            if (jobs_[i].locals.empty() && !packed.empty() && !stored_) jobs_[i].lookup_all(packed, stop_);
            results[i] = evaluate_rotation(pl_, jobs_[i], rooms_, stop_, site_);
        });
        for (std::size_t i = 0; i < n; ++i)
            if (shared[i] && jobs_[i].can_fit) results[i] = evaluate_rotation(pl_, jobs_[i], rooms_, stop_, site_);
        return results;
    }

public:
    // Whether rotation i's mover at translation t lies deeper than the
    // engine's tolerance in the NFP of a placed item (outside its cavities
    // and rooms).
    bool deeper_than_tolerance_at(std::size_t i, Pt t) {
        const Shape& mover = parallel_ ? *jobs_[i].mover : item_;
        const std::vector<Shape*>& packed = pl_.packed;
        return deeper_than_tolerance(
            packed, mover, t, rooms_, [&](std::size_t j) -> const Region& { return jobs_[i].local(packed, j); },
            options_.exact_clearance, stop_fn_);
    }

private:
    const NfpPlacer& pl_;
    const NfpOptions& options_;
    NfpPlacer::StoredUnions* stored_;
    Shape& item_;
    const std::vector<NfpPlacer::Orientation>& rots_;
    const int site_;
    const std::vector<HoleRoom>& rooms_;
    const RestFilter* rest_;
    const BinRooms* bin_rooms_;  // in a shaped bin, for the item's inset
    const RoomGate* gate_;
    std::atomic<bool> abort_{false};
    const Stop stop_;
    const std::function<void()> stop_fn_;
    std::vector<RotationJob> jobs_;
    std::vector<std::unique_ptr<Shape>> clones_;
    const bool containers_;
    const bool pipes_;  // the mover or a placed item is a pipe, whose outline is exact
    const bool parallel_;
};

}  // namespace

struct NfpPlacer::ShapedRooms {
    explicit ShapedRooms(std::shared_ptr<const BinShape> s) : shape(std::move(s)) {}
    // Copies of a placer in other threads ask at once.
    const BinRooms& at(double bin_w, double bin_h, double inset) {
        std::lock_guard<std::mutex> lock(mu);
        for (const auto& [in, rooms] : by_inset)
            if (in == inset) return *rooms;
        Bin bin{bin_w, bin_h};
        bin.shape = shape;
        by_inset.emplace_back(inset, std::make_unique<const BinRooms>(bin_rooms(bin, inset)));
        return *by_inset.back().second;
    }
    const std::shared_ptr<const BinShape> shape;
    std::mutex mu;
    std::vector<std::pair<double, std::unique_ptr<const BinRooms>>> by_inset;
};

NfpPlacer::NfpPlacer(double bin_w, double bin_h, NfpOptions options)
    : bin_w(bin_w), bin_h(bin_h), options_(std::move(options)) {}
NfpPlacer::~NfpPlacer() = default;
NfpPlacer::NfpPlacer(NfpPlacer&&) noexcept = default;
NfpPlacer& NfpPlacer::operator=(NfpPlacer&&) noexcept = default;

void NfpPlacer::set_options(NfpOptions options) { options_ = std::move(options); }

std::unique_ptr<Placer> NfpPlacer::copy() const {
    auto c = std::make_unique<NfpPlacer>(bin_w, bin_h, options_);
    c->packed = packed;
    c->packed_checked = packed_checked;
    c->margin = margin;
    if (stored_) c->stored_ = std::make_unique<StoredUnions>(*stored_);
    if (discs_) c->discs_ = std::make_unique<DiscBin>(*discs_);
    c->shape = shape;
    c->shaped_ = shaped_;
    return c;
}

bool NfpPlacer::refuses(const Shape& item) const {
    if (!item.is_circle()) return false;
    const double r = circle_cast(item).rotated_shape().radius;
    if (discs_ && discs_->refuses(packed, r, packed_checked)) return true;
    return stored_ && stored_->refusals.refuses(packed, r);
}

bool NfpPlacer::trypack_disc(Shape& item, const PlaceRequest& request, bool& placed) {
    // The exact search answers for circles in corner placement; a bin with a
    // polygon, without pipes or with an edge margin is left to the NFPs.
    if (!item.is_circle() || options_.placement != Placement::Corner || margin != 0.0 || shape) return false;
    if (!item.is_pipe() && !(discs_ && discs_->has_pipes()) &&
        std::none_of(packed.begin(), packed.end(), [](const Shape* s) { return s->is_pipe(); }))
        return false;
    if (!discs_) discs_ = std::make_unique<DiscBin>();
    if (!discs_->sync(packed, bin_w, bin_h, packed_checked) || !(item.is_pipe() || discs_->has_pipes())) return false;
    item.set_rotation(0.0);
    const double r = circle_cast(item).rotated_shape().radius;
    // at rest: only centres where the item rests are taken
    std::unique_ptr<RestFilter> rest;
    DiscBin::Accept at_rest;
    if (options_.stable) {
        rest = std::make_unique<RestFilter>(packed, bin_w, margin);
        at_rest = [&](Pt c) { return rest->rests(item, c); };
    }
    // couplings and the caller's admission: a room by its radius, a place by its room and centre
    const bool coupled = RoomGate::coupled(item);
    const RoomGate gate(packed, request.admit);
    const std::function<bool(int, Pt)> admitted = [&](int room, Pt c) {
        const double radius = room < 0 ? 0.0 : discs_->discs()[static_cast<std::size_t>(room)].room;
        return gate.lets(item, room, radius, c);
    };
    DiscBin::Gate rooms_gate;
    if (coupled) rooms_gate.pass = pipe_cast(item).coupling_od / 2.0 + item.infl();
    if (request.admit) rooms_gate.admit = &admitted;
    const bool gated = coupled || request.admit;
    const DiscBin::Found f = discs_->search(r, options_.hole_fill == HoleFill::Dense, request.site,
                                            [] { check_cancel(); }, rest ? &at_rest : nullptr,
                                            gated ? &rooms_gate : nullptr);
    placed = f.found;
    if (!f.found) {
        // (no place at rest, or none the gate lets, is no proof of no room)
        if (!rest && !gated) discs_->refused(r);
        return true;
    }
    last_host = f.room;
    item.set_position(f.pos.x, f.pos.y);
    packed.push_back(&item);
    discs_->placed(item, f);
    return true;
}

std::vector<double> NfpPlacer::rotations_for(const Shape& item, const PlaceRequest& request) const {
    if (item.is_circle()) return {0.0};
    return request.rotations ? *request.rotations : options_.rotations;
}

void NfpPlacer::Orientation::apply(Shape& item) const {
    item.set_rotation(rotation);
    if (side >= 0) item.set_mirrored(side == 1);
}

std::vector<NfpPlacer::Orientation> NfpPlacer::orientations_for(const Shape& item, const PlaceRequest& request) const {
    const std::vector<double> rots = rotations_for(item, request);
    std::vector<Orientation> out;
    if (!options_.mirror || !item.is_polygon()) {
        for (double r : rots) out.push_back({r, -1});
        return out;
    }
    std::vector<int> sides;
    if (request.mirror != 1) sides.push_back(0);
    // a mirror image that is the outline moved sideways finds the same places
    if (request.mirror == 1 || (request.mirror < 0 && !polygon_cast(item).mirror_symmetric())) sides.push_back(1);
    for (int side : sides)
        for (double r : rots) out.push_back({r, side});
    return out;
}

void NfpPlacer::place_at_origin(Shape& item, double inset) {
    if (item.is_circle()) {
        double r = circle_cast(item).rotated_shape().radius;
        if (inset > 0.0) item.set_position(r + inset, r + inset);
        else item.set_position(r, r);
        return;
    }
    BBox b = rotated_bbox(item);
    if (inset > 0.0) item.set_position(inset - b.minx, inset - b.miny);
    else item.set_position(-b.minx, -b.miny);
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
    const double in = inset(item);
    if (in > 0.0)
        return b.minx >= in - eps && b.miny >= in - eps && b.maxx <= (bin_w - in) + eps && b.maxy <= (bin_h - in) + eps;
    return b.minx >= -eps && b.miny >= -eps && b.maxx <= bin_w + eps && b.maxy <= bin_h + eps;
}

bool NfpPlacer::trypack(Shape& item, const PlaceRequest& request) {
    // Garbage in must not reach the union or the search: refuse it before moving anything.
    require_sound_bin(bin_w, bin_h);
    require_margin(margin);
    require_sound_item(item);
    require_above_grid(item, "item", std::max(bin_w, bin_h));
    check_options(options_);
    if (request.rotations) require_rotations(*request.rotations);
    last_host = -1;
    if (!packed_checked) {
        require_not_placed(item, packed);
        // A caller may have moved or grown a placed item since it was placed.
        require_sound_items(packed, "placed item");
    }
    if (options_.nonconvex) {
        // Non-convex outlines grow with mitred corners here, the mover's and
        // those of the items already placed alike.
        for (Shape* o : packed)
            if (o->is_polygon() && !convex_outline(*o)) static_cast<Polygon&>(*o).set_mitred_outline(true);
        if (item.is_polygon() && !convex_outline(item)) static_cast<Polygon&>(item).set_mitred_outline(true);
    } else if (item.is_polygon() && !convex_outline(item)) {
        return false;
    }
    // a shaped bin has no corner to start from: its first item is searched for as well
    return packed.empty() && !shape ? trypack_empty(item, request) : trypack_nonempty(item, request);
}

bool NfpPlacer::trypack_empty(Shape& item, const PlaceRequest& request) {
    for (const Orientation& o : orientations_for(item, request)) {
        o.apply(item);
        if (options_.placement == Placement::Center) place_at_center(item);
        else place_at_origin(item, inset(item));
        // at rest, the middle of the floor
        if (options_.stable && options_.placement == Placement::Center)
            item.translate(0.0, inset(item) - item.bounding_box().miny);
        // (a sharp corner grown by its mitre may keep the true outline off the floor)
        if (fits(item) && (!options_.stable || RestFilter({}, bin_w, margin).rests(item, {item.tx(), item.ty()})) &&
            (!request.admit || (*request.admit)(nullptr, {item.tx(), item.ty()}))) {
            packed.push_back(&item);
            return true;
        }
    }
    return false;
}

bool NfpPlacer::trypack_nonempty(Shape& item, const PlaceRequest& request) {
    if (!item.is_polygon() && !item.is_circle()) throw NotImplementedError();
    bool placed = false;
    if (trypack_disc(item, request, placed)) return placed;
    // Hole rooms do not depend on the moving item: build them once.
    const std::vector<HoleRoom> rooms = hole_rooms(packed, options_.hole_fill == HoleFill::Dense, options_.nonconvex);
    // NFPs of non-convex outlines run to hundreds of vertices: once the mover
    // or a placed item has one, the union is kept per moving kind and extended.
    // (a shaped bin keeps its free parts with them)
    const bool keep_unions =
        options_.incremental || shape ||
        (options_.nonconvex && (!convex_outline(item) || std::any_of(packed.begin(), packed.end(), [](const Shape* o) {
                                    return !convex_outline(*o);
                                })));
    if (keep_unions && !stored_) stored_ = std::make_unique<StoredUnions>();
    const std::vector<Orientation> rots = orientations_for(item, request);
    std::unique_ptr<RestFilter> rest;
    if (options_.stable) rest = std::make_unique<RestFilter>(packed, bin_w, margin);
    if (shape && (!shaped_ || shaped_->shape != shape)) shaped_ = std::make_shared<ShapedRooms>(shape);
    const BinRooms* bin_rooms = shape ? &shaped_->at(bin_w, bin_h, inset(item)) : nullptr;
    const RoomGate gate(packed, request.admit);
    const bool gated = gate.applies(item);
    RotationRun run(*this, keep_unions ? stored_.get() : nullptr, item, rots, request.site, rooms, rest.get(),
                    bin_rooms, gated ? &gate : nullptr);
    if (refuses(item)) return false;
    // Circles in bins of many kinds, as the probe windows take them.
    const bool many_circles = stored_ && item.is_circle() && stored_->tries.size() > 8 && !run.containers() &&
                              !run.pipes() && request.site == 0 && !options_.exact_clearance && !options_.nonconvex &&
                              margin == 0.0 && !shape;
    const double radius = item.is_circle() ? circle_cast(item).rotated_shape().radius : 0.0;
    const std::vector<RotationResult> results = run.evaluate();

    // Best score first (a dense hole's place before any other); on equal scores the earlier rotation.
    const std::size_t n = rots.size();
    std::size_t best = n;
    for (std::size_t i = 0; i < n; ++i)
        if (best == n ? results[i].found : results[i].beats(results[best])) best = i;
    if (best == n) {
        if (many_circles && !gated && results[0].refused_from < radius)
            stored_->refusals.refused(packed, results[0].refused_from);
        return false;
    }
    Pt best_pos = results[best].pos;
    Orientation best_rot = rots[best];
    std::size_t chosen = best;
    if (request.site > 0) {
        const BBox b = rotated_bbox(item);
        std::size_t r = 0;
        std::function<bool(std::size_t, Pt)> at_rest;
        const bool exact_rooms = options_.exact_clearance || item.is_pipe();
        if (rest || gated)
            at_rest = [&](std::size_t k, Pt t) {
                rots[k].apply(item);
                return (!rest || rest->rests(item, t)) &&
                       (!gated || gate.lets_at(item, t, rooms, exact_rooms, [] { check_cancel(); }));
            };
        // the sites of a shaped bin are judged as its best place is
        if (bin_rooms)
            at_rest = [&, slack = engine_tolerance(std::max(bin_w, bin_h))](std::size_t k, Pt t) {
                rots[k].apply(item);
                if (rest && !rest->rests(item, t)) return false;
                Contour world = item_contour(item, true);
                for (Pt& p : world) p = {p.x + t.x, p.y + t.y};
                return clear_of_bin(*bin_rooms, world, slack, [] { check_cancel(); });
            };
        if (choose_site(results, request.site, std::min(b.maxx - b.minx, b.maxy - b.miny) / 2.0, r, best_pos, at_rest)) {
            best_rot = rots[r];
            chosen = r;
        }
    }
    best_rot.apply(item);
    // The stored unions (kept by the incremental mode, and for non-convex
    // outlines) round to the grid again at every update and can drift from
    // the NFPs: a place they carried deeper than the tolerance into one sends
    // the bin's stored unions back to a fresh union of every NFP.
    if (keep_unions && stored_ && !stored_->rebuilding && run.deeper_than_tolerance_at(chosen, best_pos)) {
        stored_->by_kind.clear();
        stored_->free_by_kind.clear();
        stored_->rebuilding = true;
        struct Done {
            bool& b;
            ~Done() { b = false; }
        } done{stored_->rebuilding};
        return trypack_nonempty(item, request);
    }
    item.set_position(best_pos.x, best_pos.y);
    if (request.admit) {
        const HoleRoom* room = RoomGate::room_at(item, best_pos, rooms, options_.exact_clearance || item.is_pipe(),
                                                 [] { check_cancel(); });
        last_host = room ? static_cast<long>(room->container) : -1;
    }
    packed.push_back(&item);
    return true;
}

}  // namespace quarvo
