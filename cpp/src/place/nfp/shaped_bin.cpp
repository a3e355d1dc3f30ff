#include "place/nfp/shaped_bin.hpp"

#include <list>
#include <mutex>
#include <unordered_map>

#include "core/hash_key.hpp"
#include "nfp/nfp.hpp"
#include "nfp/nfp_cache.hpp"

namespace quarvo {

namespace {

struct RegionKey {
    const BinShape* shape;
    double bin_w, bin_h, inset;
    int sig;
    double rot, infl;
    bool operator==(const RegionKey& o) const {
        return shape == o.shape && same_key(bin_w, o.bin_w) && same_key(bin_h, o.bin_h) && same_key(inset, o.inset) &&
               sig == o.sig && same_key(rot, o.rot) && same_key(infl, o.infl);
    }
};
struct RegionKeyHash {
    std::size_t operator()(const RegionKey& k) const {
        std::size_t h = std::hash<const void*>{}(k.shape) * 1000003u + static_cast<std::size_t>(k.sig);
        for (double v : {k.bin_w, k.bin_h, k.inset, k.rot, k.infl}) hash_double(h, v);
        return h;
    }
};

// Least recently used regions go first. An entry keeps its shape alive, so
// that no other shape can take its address while it is held.
struct RegionCache {
    static constexpr std::size_t kLimit = 2048;
    struct Entry {
        RegionKey key;
        std::shared_ptr<const BinShape> shape;
        std::shared_ptr<const Region> region;
    };
    std::mutex mu;
    std::list<Entry> lru;
    std::unordered_map<RegionKey, std::list<Entry>::iterator, RegionKeyHash> map;
};
RegionCache& cache() {
    static RegionCache* c = new RegionCache();  // lives until the process ends
    return *c;
}

}  // namespace

std::shared_ptr<const Region> shaped_free_region(const std::shared_ptr<const BinShape>& shape, double bin_w,
                                                 double bin_h, double inset, const BinRooms& rooms, Shape& mover,
                                                 const std::function<void()>& stop) {
    const RegionKey key{shape.get(), bin_w, bin_h, inset, geometry_signature(mover), mover.rotation(), mover.infl()};
    RegionCache& c = cache();
    {
        std::lock_guard<std::mutex> lock(c.mu);
        auto it = c.map.find(key);
        if (it != c.map.end()) {
            c.lru.splice(c.lru.begin(), c.lru, it->second);
            return it->second->region;
        }
    }
    auto region = std::make_shared<const Region>(
        fixed_free_region(rooms, item_contour(mover, true), item_reference(mover), stop));
    std::lock_guard<std::mutex> lock(c.mu);
    auto it = c.map.find(key);
    if (it != c.map.end()) return it->second->region;
    c.lru.push_front({key, shape, region});
    c.map.emplace(key, c.lru.begin());
    while (c.lru.size() > RegionCache::kLimit) {
        c.map.erase(c.lru.back().key);
        c.lru.pop_back();
    }
    return region;
}

std::size_t shaped_region_cache_size() {
    RegionCache& c = cache();
    std::lock_guard<std::mutex> lock(c.mu);
    return c.map.size();
}

}  // namespace quarvo
