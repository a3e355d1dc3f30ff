// No-fit polygons, as the placer_nfp module exposes them: the convex NFP by
// edge merging and its anchoring, the NFP of any pair of items, the NFPs of a
// container's holes and the inner-fit region of a hole.
//
// The NFP of a stationary A and a moving B holds the positions of B's
// reference point (a polygon's top-right vertex, a circle's centre) at which
// B touches A; its interior holds the overlapping ones.
#pragma once
#include <vector>

#include "quarvo/kernel.hpp"
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

// Local NFP of (a, b): a at zero translation, b at its rotation and inflation.
// A circle takes part as its circle_outline (`exact`: the circumscribed one).
Contour compute_nfp0(const Shape& a, const Shape& b, bool exact = false);
// The local NFP as a region (outer contour first, then its holes): the convex
// NFP where both outlines are convex, the Minkowski NFP otherwise.
Region compute_nfp0_region(const Shape& a, const Shape& b, bool exact = false);
// World NFP, served from the process-wide cache (nfp_cache.hpp): the local
// NFP's outer contour moved by a's translation.
Contour compute_nfp(Shape& a, Shape& b);
// One NFP per hole of a placed container, in world coordinates: the positions
// of b's reference point inside the hole.
std::vector<Contour> compute_hole_nfps(const Shape& a, const Shape& b);
// The holes of an item in world coordinates, closed and counter-clockwise: a
// polygon's holes, a pipe's bore as the inscribed kCircleSides-gon.
std::vector<Contour> world_holes(const Shape& s);
// Whether the item has a hole another item may go into.
bool is_container(const Shape& s);

// The positions of the item's reference point that keep it, at its rotation
// and inflation, wholly inside `hole` (a closed contour of any shape): the
// contours of its inner-fit region.
Region hole_inner_fit(const Contour& hole, const Shape& item);

// Non-convex NFPs built and their thread CPU seconds since the process started.
struct MinkowskiStats {
    unsigned long long nfps = 0;
    double seconds = 0.0;
};
MinkowskiStats minkowski_stats();

// The parts of the no-fit polygons that only the engine uses: the box rule
// that anchors them, the outlines and reference points NFPs are built from,
// the convexity dispatch and the NFP of one hole.

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
