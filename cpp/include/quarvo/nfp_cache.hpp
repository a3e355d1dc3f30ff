// The process-wide cache of local no-fit polygons, keyed by the two items'
// interned geometry signatures, rotations and inflations (to 6 decimals).
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "quarvo/shapes.hpp"

namespace quarvo {

struct Signature {
    bool circle = false;
    double radius = 0.0;
    Contour outer;
    std::vector<Contour> holes;
};
// Interns the item's geometry once (stored in Shape::sig_id) and returns its id.
int geometry_signature(Shape& s);
const Signature& signature_of(int id);

// Number of local NFPs held by the process-wide cache.
std::size_t nfp_cache_size();

// Local NFP of (a, b): in a's frame, a's translation taken as zero. Served
// from the cache; the stored contour is shared and never modified. `exact`:
// circles as circumscribed 64-gons (a key of its own where a circle takes part).
std::shared_ptr<const Contour> local_nfp(Shape& a, Shape& b, bool exact = false);
// World NFP: the local NFP moved by a's translation.
Contour compute_nfp(Shape& a, Shape& b);

}  // namespace quarvo
