#include "quarvo/placer_nfp.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <unordered_map>

#include "hash_key.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/candidate_search.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/hole_candidates.hpp"
#include "quarvo/nfp.hpp"
#include "quarvo/nfp_cache.hpp"
#include "quarvo/nfp_depth.hpp"
#include "quarvo/nfp_union.hpp"
#include "quarvo/region.hpp"

namespace quarvo {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();

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

RotationResult evaluate_rotation(const NfpPlacer& pl, const RotationJob& job, const std::vector<HoleRoom>& rooms,
                                 const Stop& stop) {
    const std::vector<Shape*>& packed = pl.packed;
    Shape& mover = *job.mover;
    const std::function<void()> stop_fn = [&stop] { stop(); };
    auto path_of = [&](std::size_t j, ClipperLib::Paths& out) {
        add_world_paths(job.local(packed, j), packed[j]->tx(), packed[j]->ty(), out);
    };

    if (job.windows) {
        const SearchResult r = windowed_search(
            packed, mover, *job.windows, job.probe,
            [&](std::size_t j) -> const Contour& { return job.local(packed, j).front(); }, pl.bin_w, pl.bin_h,
            pl.options.placement, stop_fn, job.circles);
        RotationResult res{r.found, r.pos, r.score, {}};
        if (!r.found && job.circles)
            res.refused_from = refused_from(packed, mover, *job.windows, job.probe, *job.circles, pl.bin_w, pl.bin_h, stop_fn);
        return res;
    }
    HoleCandidates holes = hole_candidates(
        packed, mover, rooms, {pl.options.hole_fill == HoleFill::Dense, job.nonconvex, job.exact},
        [&](std::size_t j) -> const Region& { return job.local(packed, j); }, stop_fn);
    const bool any_hole = !holes.empty();
    const std::vector<HoleRegion> regions = holes.regions();
    const RoomFilter filter{packed, rooms, holes.room_of_hole(), mover,
                            [&](std::size_t j) -> const Region& { return job.local(packed, j); }, stop_fn,
                            pl.options.exact_clearance, holes.fitted_from()};
    const HoleFilter hole_filter = std::cref(filter);
    RotationResult res;
    std::vector<Candidate>* passed = pl.options.choice > 0 ? &res.passed : nullptr;
    // Dense holes are filled first: a place in a hole costs the bin no room,
    // so the best one beats every place outside, and the bin is searched only
    // when no hole takes the item (or every site is wanted).
    const bool holes_first = pl.options.hole_fill == HoleFill::Dense;
    if (holes_first && any_hole) {
        const SearchResult r = search_best_position({}, holes.nfps, mover, pl.bin_w, pl.bin_h, 40, 1e-6,
                                                    pl.options.placement, &hole_filter, &regions, passed);
        res.found = r.found;
        res.pos = r.pos;
        res.score = r.score;
        res.in_hole = r.found;
        if (passed)
            for (Candidate& c : *passed) c.in_hole = true;
        if (r.found && !passed) return res;
    }

    std::vector<Contour> fresh;
    const std::vector<Contour>* merged = &fresh;
    if (job.stored) {
        merged = &job.stored->update(packed, path_of, stop_fn);
    } else {
        ClipperLib::Paths paths;
        paths.reserve(packed.size());
        for (std::size_t j = 0; j < packed.size(); ++j) {
            if (j % 256 == 255) stop();
            path_of(j, paths);
        }
        stop();
        fresh = unite_paths(paths, UnionInput::Trusted);
        stop();
    }
    static const std::vector<Contour> no_nfps;
    static const std::vector<HoleRegion> no_regions;
    const SearchResult r = search_best_position(
        *merged, holes_first ? no_nfps : holes.nfps, mover, pl.bin_w, pl.bin_h, 40, 1e-6, pl.options.placement,
        any_hole && !holes_first ? &hole_filter : nullptr, holes_first ? &no_regions : &regions, passed);
    if (!res.in_hole) {
        res.found = r.found;
        res.pos = r.pos;
        res.score = r.score;
    }
    return res;
}

// Runs job(i) for i < n on up to `threads` threads, the caller's among them.
// The first failure (Ctrl-C included) stops the other jobs at their next
// checkpoint through `abort`; those stops are not errors of their own. The
// first real failure, in job order, is rethrown.
void run_side_by_side(std::size_t n, int threads, std::atomic<bool>& abort,
                      const std::function<void(std::size_t)>& job) {
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> errors(n);
    std::vector<char> stopped(n, 0);
    auto work = [&]() {
        for (std::size_t i; !abort.load() && (i = next.fetch_add(1)) < n;) {
            try {
                job(i);
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
}

// The site `choice` of the candidates of every rotation (see NfpOptions::choice):
// its rotation index and translation; false when there is none.
bool choose_site(const std::vector<RotationResult>& results, int choice, double spacing, std::size_t& rot, Pt& pos) {
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
        taken.push_back(r.pos);
        rot = r.rot;
        pos = r.pos;
        if (taken.size() > static_cast<std::size_t>(choice)) break;
    }
    return !taken.empty();
}

// Workers only read the placed items and the mover: fill their lazy caches first.
void warm_lazy_caches(const std::vector<Shape*>& packed, Shape& item) {
    for (Shape* o : packed) {
        geometry_signature(*o);
        if (o->is_polygon()) {
            polygon_cast(*o).outer_convex();
            polygon_cast(*o).outer_turns_once();
            polygon_cast(*o).rotated_contour();
        }
    }
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
};

std::vector<double> default_rotations() { return {0.0, kPi / 2, kPi, (3 * kPi) / 2}; }

NfpPlacer::NfpPlacer(double bin_w, double bin_h, NfpOptions options)
    : bin_w(bin_w), bin_h(bin_h), options(std::move(options)) {}
NfpPlacer::~NfpPlacer() = default;
NfpPlacer::NfpPlacer(NfpPlacer&&) noexcept = default;
NfpPlacer& NfpPlacer::operator=(NfpPlacer&&) noexcept = default;

std::unique_ptr<NfpPlacer> NfpPlacer::copy() const {
    auto c = std::make_unique<NfpPlacer>(bin_w, bin_h, options);
    c->packed = packed;
    c->packed_checked = packed_checked;
    if (stored_) c->stored_ = std::make_unique<StoredUnions>(*stored_);
    return c;
}

bool NfpPlacer::refuses(const Shape& item) const {
    return stored_ && item.is_circle() && stored_->refusals.refuses(packed, circle_cast(item).rotated_shape().radius);
}

std::vector<double> NfpPlacer::rotations_for(const Shape& item) const {
    if (item.is_circle()) return {0.0};
    return options.rotations;
}

void NfpPlacer::place_at_origin(Shape& item) {
    if (item.is_circle()) {
        double r = circle_cast(item).rotated_shape().radius;
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
    require_rotations(options.rotations);
    if (!packed_checked) {
        require_not_placed(item, packed);
        // A caller may have moved or grown a placed item since it was placed.
        require_sound_items(packed, "placed item");
    }
    if (options.nonconvex) {
        // Non-convex outlines grow with mitred corners here, the mover's and
        // those of the items already placed alike.
        for (Shape* o : packed)
            if (o->is_polygon() && !convex_outline(*o)) static_cast<Polygon&>(*o).set_mitred_outline(true);
        if (item.is_polygon() && !convex_outline(item)) static_cast<Polygon&>(item).set_mitred_outline(true);
    } else if (item.is_polygon() && !convex_outline(item)) {
        return false;
    }
    return packed.empty() ? trypack_empty(item) : trypack_nonempty(item);
}

bool NfpPlacer::trypack_empty(Shape& item) {
    for (double rot : rotations_for(item)) {
        item.set_rotation(rot);
        if (options.placement == Placement::Center) place_at_center(item);
        else place_at_origin(item);
        if (fits(item)) {
            packed.push_back(&item);
            return true;
        }
    }
    return false;
}

bool NfpPlacer::trypack_nonempty(Shape& item) {
    if (!item.is_polygon() && !item.is_circle()) throw NotImplementedError();
    // Hole rooms do not depend on the moving item: build them once.
    const std::vector<HoleRoom> rooms = hole_rooms(packed, options.hole_fill == HoleFill::Dense, options.nonconvex);
    if (options.incremental && !stored_) stored_ = std::make_unique<StoredUnions>();

    const std::vector<double> rots = rotations_for(item);
    const std::size_t n = rots.size();
    std::atomic<bool> abort{false};
    const Stop stop{&abort};
    std::vector<RotationJob> jobs(n);
    std::vector<std::unique_ptr<Shape>> clones;
    const std::function<void()> stop_fn = [&stop] { stop(); };
    const bool containers = std::any_of(packed.begin(), packed.end(), [](const Shape* o) {
        return o->is_polygon() && polygon_cast(*o).is_container();
    });
    const bool parallel = options.threads > 1 && n > 1;
    if (refuses(item)) return false;
    // Circles in bins of many kinds, as the probe windows take them.
    const bool many_circles = stored_ && item.is_circle() && stored_->tries.size() > 8 && !containers &&
                              options.choice == 0 && !options.exact_clearance && !options.nonconvex;
    const double radius = item.is_circle() ? circle_cast(item).rotated_shape().radius : 0.0;
    // In a sequential run the NFP cache fills in rotation order. Workers may
    // fill it side by side only when no two rotations share cache keys;
    // otherwise the NFPs are looked up in rotation order before they start.
    auto prepare = [&](std::size_t i, Shape& mover, bool lookup) {
        RotationJob& job = jobs[i];
        job.mover = &mover;
        job.exact = options.exact_clearance;
        job.nonconvex = options.nonconvex;
        job.can_fit = box_can_fit(mover, bin_w, bin_h, 1e-6);
        if (!job.can_fit) return;
        // The incremental mode needs only the NFPs of items placed since its
        // stored union (and the rest only for hole candidates): look them up lazily.
        if (lookup && (!stored_ || parallel)) job.lookup_all(packed, stop);
        if (stored_) {
            KindKey key{geometry_signature(mover), mover.rotation(), mover.infl()};
            int& tries = stored_->tries[key];
            // (the probe's own NFPs take every placed outline as convex and circles as inscribed)
            const bool windowed = !containers && tries < 2 && stored_->tries.size() > 8 && options.choice == 0 &&
                                  !options.exact_clearance && !options.nonconvex;
            const Probe probe = windowed ? probe_for(mover, bin_w, bin_h) : Probe{};
            if (probe.usable) {
                ++tries;
                job.windows = &stored_->free_space.windows(probe, packed, bin_w, bin_h, stop_fn);
                job.probe = probe;
                job.circles = &stored_->free_space.circle_index(packed);
            } else {
                job.stored = &stored_->by_kind[key];
            }
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
        warm_lazy_caches(packed, item);
        bool distinct = true;
        for (std::size_t i = 0; i < n && distinct; ++i)
            for (std::size_t k = 0; k < i; ++k)
                if (same_key(rots[i], rots[k])) { distinct = false; break; }
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
        run_side_by_side(n, options.threads, abort, [&](std::size_t i) {
            if (!jobs[i].can_fit || shared[i]) return;
            if (jobs[i].locals.empty() && !packed.empty() && !stored_) jobs[i].lookup_all(packed, stop);
            results[i] = evaluate_rotation(*this, jobs[i], rooms, stop);
        });
        for (std::size_t i = 0; i < n; ++i)
            if (shared[i] && jobs[i].can_fit) results[i] = evaluate_rotation(*this, jobs[i], rooms, stop);
    }

    // Best score first (a dense hole's place before any other); on equal scores the earlier rotation.
    std::size_t best = n;
    for (std::size_t i = 0; i < n; ++i)
        if (best == n ? results[i].found : results[i].beats(results[best])) best = i;
    if (best == n) {
        if (many_circles && results[0].refused_from < radius) stored_->refusals.refused(packed, results[0].refused_from);
        return false;
    }
    Pt best_pos = results[best].pos;
    double best_rot = rots[best];
    std::size_t chosen = best;
    if (options.choice > 0) {
        const BBox b = rotated_bbox(item);
        std::size_t r = 0;
        if (choose_site(results, options.choice, std::min(b.maxx - b.minx, b.maxy - b.miny) / 2.0, r, best_pos)) {
            best_rot = rots[r];
            chosen = r;
        }
    }
    item.set_rotation(best_rot);
    // The stored unions round to the grid again at every update and can drift
    // from the NFPs: a place they carried deeper than the tolerance into one
    // sends the bin's stored unions back to a fresh union of every NFP.
    if (stored_ && !stored_->rebuilding &&
        deeper_than_tolerance(
            packed, parallel ? *jobs[chosen].mover : item, best_pos, rooms,
            [&](std::size_t j) -> const Region& { return jobs[chosen].local(packed, j); }, options.exact_clearance,
            stop_fn)) {
        stored_->by_kind.clear();
        stored_->rebuilding = true;
        struct Done {
            bool& b;
            ~Done() { b = false; }
        } done{stored_->rebuilding};
        return trypack_nonempty(item);
    }
    item.set_position(best_pos.x, best_pos.y);
    packed.push_back(&item);
    return true;
}

}  // namespace quarvo
