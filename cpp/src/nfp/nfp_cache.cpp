#include "nfp/nfp_cache.hpp"

#include <atomic>
#include <deque>
#include <list>
#include <mutex>
#include <unordered_map>

#include "core/hash_key.hpp"
#include "nfp/nfp.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

bool same_contour(const Contour& a, const Contour& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same_key(a[i].x, b[i].x) || !same_key(a[i].y, b[i].y)) return false;
    return true;
}

bool same_signature(const Signature& a, const Signature& b) {
    if (a.circle != b.circle || a.pipe != b.pipe) return false;
    if (a.pipe) return same_key(a.radius, b.radius) && same_key(a.bore, b.bore);
    if (a.circle) return same_key(a.radius, b.radius);
    if (!same_contour(a.outer, b.outer) || a.holes.size() != b.holes.size()) return false;
    for (std::size_t i = 0; i < a.holes.size(); ++i)
        if (!same_contour(a.holes[i], b.holes[i])) return false;
    return true;
}

std::size_t hash_signature(const Signature& s) {
    std::size_t h = s.pipe ? 3 : s.circle ? 1 : 2;
    if (s.pipe) { hash_double(h, s.radius); hash_double(h, s.bore); return h; }
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
    bool exact;  // circles circumscribed; false where no circle takes part
    bool operator==(const NfpKey& o) const {
        return sa == o.sa && sb == o.sb && same_key(ra, o.ra) && same_key(ia, o.ia) && same_key(rb, o.rb) &&
               same_key(ib, o.ib) && exact == o.exact;
    }
};
struct NfpKeyHash {
    std::size_t operator()(const NfpKey& k) const {
        std::size_t h = static_cast<std::size_t>(k.sa) * 1000003u + static_cast<std::size_t>(k.sb);
        hash_double(h, k.ra);
        hash_double(h, k.ia);
        hash_double(h, k.rb);
        hash_double(h, k.ib);
        return h ^ static_cast<std::size_t>(k.exact);
    }
};
// Split into shards by key hash, each with its own lock and its own share of
// the memory bound, so that rotations evaluated side by side rarely wait for
// each other. Each shard evicts its least recently used entries.
struct NfpCache {
    static constexpr std::size_t kShards = 64;
    struct Entry {
        NfpKey key;
        std::shared_ptr<const Region> nfp;
        std::size_t bytes;
    };
    struct Shard {
        std::mutex mu;
        std::list<Entry> lru;  // most recently used first
        std::unordered_map<NfpKey, std::list<Entry>::iterator, NfpKeyHash> map;
        std::size_t bytes = 0;
    };
    Shard shards[kShards];
    std::atomic<std::size_t> limit{kDefaultNfpCacheLimit};
    std::atomic<unsigned long long> hits{0}, misses{0};
    Shard& shard(const NfpKey& k) { return shards[(NfpKeyHash{}(k) >> 7) % kShards]; }

    // Drops the least recently used entries of the shard until it is within its
    // share of the bound; the entry just used is kept whatever its size.
    void trim(Shard& sh) {
        const std::size_t share = limit.load(std::memory_order_relaxed) / kShards;
        while (sh.bytes > share && sh.lru.size() > 1) {
            const Entry& victim = sh.lru.back();
            sh.bytes -= victim.bytes;
            sh.map.erase(victim.key);
            sh.lru.pop_back();
        }
    }
};
NfpCache& cache() {
    static NfpCache* c = new NfpCache();
    return *c;
}

// Memory held by one entry: its points plus the list node, the map node and
// the shared contour's control block.
std::size_t entry_bytes(const Region& nfp) {
    constexpr std::size_t kOverhead = sizeof(NfpCache::Entry) + 2 * sizeof(void*) +  // list node
                                      sizeof(NfpKey) + 4 * sizeof(void*) +            // map node and bucket
                                      sizeof(Region) + 32;                            // shared block
    std::size_t bytes = kOverhead + nfp.capacity() * sizeof(Contour);
    for (const Contour& c : nfp) bytes += c.capacity() * sizeof(Pt);
    return bytes;
}

}  // namespace

int geometry_signature(Shape& s) {
    // a mirrored polygon is another geometry, with a slot of its own
    int& slot = s.is_polygon() && s.mirrored() ? s.sig_id_mirrored : s.sig_id;
    if (slot >= 0) return slot;
    Signature sig;
    if (s.is_circle()) {
        sig.circle = true;
        sig.radius = circle_cast(s).radius;
        if (s.is_pipe()) {
            sig.pipe = true;
            sig.bore = pipe_cast(s).bore();
        }
    } else if (s.is_polygon()) {
        sig.outer = polygon_cast(s).local_outer();
        sig.holes = polygon_cast(s).local_holes();
    } else {
        throw NotImplementedError();
    }
    std::size_t h = hash_signature(sig);
    SignatureRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    auto range = r.by_hash.equal_range(h);
    for (auto it = range.first; it != range.second; ++it) {
        if (same_signature(r.sigs[static_cast<std::size_t>(it->second)], sig)) {
            slot = it->second;
            return slot;
        }
    }
    r.sigs.push_back(std::move(sig));
    int id = static_cast<int>(r.sigs.size() - 1);
    r.by_hash.emplace(h, id);
    slot = id;
    return id;
}

const Signature& signature_of(int id) {
    SignatureRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    return r.sigs.at(static_cast<std::size_t>(id));
}

NfpCacheInfo nfp_cache_info() {
    NfpCache& c = cache();
    NfpCacheInfo info;
    for (auto& sh : c.shards) {
        std::lock_guard<std::mutex> lock(sh.mu);
        info.entries += sh.map.size();
        info.bytes += sh.bytes;
    }
    info.limit = c.limit.load();
    info.hits = c.hits.load();
    info.misses = c.misses.load();
    return info;
}

std::size_t nfp_cache_size() { return nfp_cache_info().entries; }

void set_nfp_cache_limit(std::size_t bytes) {
    NfpCache& c = cache();
    c.limit.store(bytes);
    for (auto& sh : c.shards) {
        std::lock_guard<std::mutex> lock(sh.mu);
        c.trim(sh);
    }
}

void clear_nfp_cache() {
    NfpCache& c = cache();
    for (auto& sh : c.shards) {
        std::lock_guard<std::mutex> lock(sh.mu);
        sh.map.clear();
        sh.lru.clear();
        sh.bytes = 0;
    }
}

std::shared_ptr<const Region> local_nfp(Shape& a, Shape& b, bool exact, bool nonconvex) {
    if (!nonconvex) {
        require_convex_outline(a);
        require_convex_outline(b);
    }
    if ((!a.is_polygon() && !a.is_circle()) || (!b.is_polygon() && !b.is_circle())) throw NotImplementedError();
    // a pipe's outer circle is always the circumscribed one
    const bool circumscribed = exact || a.is_pipe() || b.is_pipe();
    // Exact angles and inflations: two that agree to six decimals only can
    // still put an outline far from its origin well off the other's NFP.
    NfpKey key{geometry_signature(a), a.rotation(), a.infl(),
               geometry_signature(b), b.rotation(), b.infl(),
               circumscribed && (a.is_circle() || b.is_circle())};
    NfpCache& c = cache();
    NfpCache::Shard& sh = c.shard(key);
    {
        std::lock_guard<std::mutex> lock(sh.mu);
        auto it = sh.map.find(key);
        if (it != sh.map.end()) {
            sh.lru.splice(sh.lru.begin(), sh.lru, it->second);
            c.hits.fetch_add(1, std::memory_order_relaxed);
            return it->second->nfp;
        }
    }
    c.misses.fetch_add(1, std::memory_order_relaxed);
    auto nfp = std::make_shared<const Region>(compute_nfp0_region(a, b, key.exact));
    std::lock_guard<std::mutex> lock(sh.mu);
    auto it = sh.map.find(key);
    if (it != sh.map.end()) return it->second->nfp;  // an entry stored meanwhile by another thread wins
    const std::size_t bytes = entry_bytes(*nfp);
    sh.lru.push_front({key, nfp, bytes});
    sh.map.emplace(key, sh.lru.begin());
    sh.bytes += bytes;
    c.trim(sh);
    return nfp;
}

Contour compute_nfp(Shape& a, Shape& b) {
    std::shared_ptr<const Region> local = local_nfp(a, b);
    const double ax = a.tx(), ay = a.ty();
    Contour out;
    out.reserve(local->front().size());
    for (const Pt& p : local->front()) out.push_back({p.x + ax, p.y + ay});
    return out;
}

}  // namespace quarvo
