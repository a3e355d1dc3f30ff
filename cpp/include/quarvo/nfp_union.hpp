// The union of no-fit polygons on the 1e-6 grid (Clipper, negative fill rule),
// and the store that keeps one union per moving kind and extends it.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "quarvo/clipper_util.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Whether paths are counted for tangles before the union. NFPs the placer
// builds from sound items are trusted; anything a caller hands in is checked.
enum class UnionInput { Checked, Trusted };

// Boundary contours of the union of the paths' interiors (negative fill rule,
// poly tree walked in pre-order), each closed and with at least 4 entries.
// With `tree_out`, the poly tree itself is kept there as well. Checked input
// whose edges cross each other too often for a union in reasonable time is a
// ValueError.
std::vector<Contour> unite_paths(const ClipperLib::Paths& paths, UnionInput input,
                                 ClipperLib::PolyTree* tree_out = nullptr);

// The same for contours given in coordinates.
std::vector<Contour> merge_nfps(const std::vector<Contour>& nfps);

// The part of `region` (closed contours filled by non-zero winding) that no path of
// `obstacles` covers (negative fill rule, as for the union), shrunk by
// `shrink` grid units so that its boundary keeps clear of the region's and
// the obstacles' boundaries whatever the rounding to the grid: its boundary
// contours, closed.
std::vector<Contour> free_part(const std::vector<Contour>& region, const ClipperLib::Paths& obstacles, double shrink);

// A local contour moved by (ax, ay) and snapped to the grid.
ClipperLib::Path world_path(const Contour& local, double ax, double ay);
// Every contour of a local region so moved, appended to `out`.
void add_world_paths(const std::vector<Contour>& local, double ax, double ay, ClipperLib::Paths& out);

// Thread CPU seconds spent inside Clipper's union since the process started
// (for benchmarks).
double union_seconds();

// The union of the NFPs of one moving kind (signature, rotation, inflation)
// against the items of one bin, kept from one call to the next: while the
// bin's items only grow, each call unites the stored union with the NFPs of
// the items placed since. Positions may differ from a fresh union by the grid.
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
