// The union of no-fit polygons on Clipper's paths, and the free part of a
// region that NFPs leave, as the placers build them.
#pragma once
#include <polyclipping/clipper.hpp>

#include <vector>

#include "nfp/nfp_union.hpp"

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

// Every contour of the tree, reversed, so that the negative fill rule keeps the
// region filled when these paths are united again.
void reversed_paths(const ClipperLib::PolyNode& node, ClipperLib::Paths& out);

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

}  // namespace quarvo
