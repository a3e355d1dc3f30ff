// The process-wide cache of local no-fit polygons, keyed by the two items'
// interned geometry signatures, rotations and inflations (exact values).
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

struct Signature {
    bool circle = false;
    double radius = 0.0;
    bool pipe = false;  // a circle with a bore of radius `bore` (0: solid)
    double bore = 0.0;
    Contour outer;
    std::vector<Contour> holes;
};
// Interns the item's geometry once (stored in Shape::sig_id) and returns its id.
int geometry_signature(Shape& s);
const Signature& signature_of(int id);

// The cache is bounded: each new entry may evict the least recently used ones.
// Eviction only costs time: an evicted NFP is built again, equal to the first.
constexpr std::size_t kDefaultNfpCacheLimit = std::size_t{256} << 20;

struct NfpCacheInfo {
    std::size_t entries = 0;
    std::size_t bytes = 0;  // points of the stored contours plus bookkeeping
    std::size_t limit = 0;
    unsigned long long hits = 0, misses = 0;  // lookups since the process started
};
NfpCacheInfo nfp_cache_info();
// Number of local NFPs held by the process-wide cache.
std::size_t nfp_cache_size();
// Bound in bytes; entries beyond it are evicted at once.
void set_nfp_cache_limit(std::size_t bytes);
void clear_nfp_cache();

// The cache's lookup, for the placers.

// Local NFP of (a, b): in a's frame, a's translation taken as zero; the
// outer contour first, then its holes. Served from the cache; the stored
// region is shared and never modified. `exact`: circles as circumscribed
// 64-gons (a key of its own where a circle takes part). Pairs with a
// non-convex outline are a ValueError unless `nonconvex`, and then get the
// Minkowski NFP.
std::shared_ptr<const Region> local_nfp(Shape& a, Shape& b, bool exact = false, bool nonconvex = false);

}  // namespace quarvo
