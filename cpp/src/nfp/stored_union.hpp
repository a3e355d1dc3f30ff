// The incremental mode's union: the union of the NFPs of one moving kind
// (signature, rotation, inflation) against the items of one bin, kept from
// one call to the next.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "nfp/union_paths.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// While the bin's items only grow, each call unites the stored union with the
// NFPs of the items placed since. Positions may differ from a fresh union by
// the grid.
class StoredUnion {
public:
    // Appends the world NFP paths of placed item j against the mover.
    using PathOf = std::function<void(std::size_t j, ClipperLib::Paths& out)>;
    // Boundary contours of the union of the NFPs of every item of `packed`.
    // `stop` is called between steps and may throw; the store is then empty
    // and the next call starts afresh.
    const std::vector<Contour>& update(const std::vector<Shape*>& packed, const PathOf& path_of,
                                       const std::function<void()>& stop);

private:
    std::vector<Shape*> basis_;  // the placed items whose NFPs it holds, in order
    ClipperLib::Paths paths_;
    std::vector<Contour> merged_;  // its contours as last sampled
    bool has_merged_ = false;
};

}  // namespace quarvo
