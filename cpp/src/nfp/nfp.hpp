// The parts of the no-fit polygons that only the engine uses: the box rule
// that anchors them, the outlines and reference points NFPs are built from,
// the convexity dispatch and the NFP of one hole.
#pragma once
#include "quarvo/nfp.hpp"

namespace quarvo {

// The exact box rule: the outer NFP of A (zero translation) and B, anchored at
// B's top-right vertex, has its box's minimum corner at
// (A.minx - B.maxx + ref.x, A.miny - B.maxy + ref.y), ref = top_right(B). An NFP
// whose box minimum is off that corner by more than 1e-11 x (1 + the largest
// coordinate magnitude of A and B) is moved onto it; any other is kept as it is.
Contour anchor_outer_nfp(Contour nfp, const Contour& A, const Contour& B);
// The move the rule asks of an NFP with box `nfp_box`: zero when none.
Pt box_rule_shift(const BBox& nfp_box, const Contour& A, const Contour& B);

// The outer NFP of A (stationary, zero translation) and B as A ⊕ (-B), moved
// so that its points are positions of B's reference point `ref` at which B
// touches A; its interior holds the overlapping positions, its holes the
// positions where B lies in a cavity of A (a thin hole where B in truth
// overlaps A is dropped: false_cavities.hpp). Anchored by the box rule when
// `box_rule`. Counted in minkowski_stats().
Region nfp_minkowski(const Contour& A, const Contour& B, Pt ref, bool box_rule);

// True for circles and for polygons whose stored outline is convex and turns
// once: the shapes whose NFPs edge merging builds exactly.
bool convex_outline(const Shape& s);
// The non-convex refusal of the NFP strategy, for a polygon that is not.
void require_convex_outline(const Shape& s);

// The outline the NFPs use: a polygon's rotated (and grown) contour, a
// circle's kCircleSides-gon about its centre (circumscribed with `exact`), at
// zero translation.
Contour item_contour(const Shape& s, bool exact = false);
// The point of the item whose positions NFPs hold: a polygon's top-right
// vertex, a circle's centre.
Pt item_reference(const Shape& s);

// Whether a hole of a container and item b need the inner-fit region (a
// non-convex hole or item) rather than the hole NFP and its 17 samples.
bool hole_needs_inner_fit(const Contour& hole, const Shape& b);
// The NFP of one world hole and b: the positions of b's reference point inside it.
Contour hole_nfp(const Contour& hole, const Shape& b);

}  // namespace quarvo
