// No-fit polygons: the convex NFP by edge merging, its anchoring, the dispatch
// over circles and polygons, and the NFPs of a container's holes.
//
// The NFP of a stationary A and a moving B holds the positions of B's
// reference point at which B touches A; its interior holds the overlapping ones.
#pragma once
#include <vector>

#include "quarvo/shapes.hpp"

namespace quarvo {

// Angle of the edge vector end - start in [0, 2*pi).
double angle_2pi(Pt start, Pt end);

struct RawNfp {
    Contour pts;
    Pt top;
};
// Edges of A and of reversed B merged by decreasing angle and chained.
RawNfp nfp_convex_only(const Contour& A, const Contour& B);
// Moves a raw NFP so that its vertices are positions of B's top-right vertex
// touching A (A at zero translation).
Contour correct_nfp_position(const Contour& raw_nfp, Pt top_nfp, const Contour& A_rot, const Contour& B_rot);

// The exact box rule: the outer NFP of A (zero translation) and B, anchored at
// B's top-right vertex, has its box's minimum corner at
// (A.minx - B.maxx + ref.x, A.miny - B.maxy + ref.y), ref = top_right(B). An NFP
// whose box minimum is off that corner by more than 1e-11 x (1 + the largest
// coordinate magnitude of A and B) is moved onto it; any other is kept as it is.
Contour anchor_outer_nfp(Contour nfp, const Contour& A, const Contour& B);

// True for circles and for polygons whose stored outline is convex and turns
// once: the shapes whose NFPs edge merging builds exactly.
bool convex_outline(const Shape& s);
// The non-convex refusal of the NFP strategy, for a polygon that is not.
void require_convex_outline(const Shape& s);

// Local NFP of (a, b): a at zero translation, b at its rotation and inflation.
Contour compute_nfp0(const Shape& a, const Shape& b);
// One NFP per hole of a placed container, in world coordinates: the positions
// of b's reference point inside the hole.
std::vector<Contour> compute_hole_nfps(const Shape& a, const Shape& b);

}  // namespace quarvo
