// The engine's offset of an outline: the written offset (every edge moved by
// the distance, consecutive moved edges meeting at their lines'
// intersection), mended where a near-twin vertex would lose distance.
//
// An edge a hair long (a vertex given twice, 1e-12 to 1e-9 of the outline
// apart) has a direction that need not turn with its neighbours; its moved
// line then cuts the corner, and the written offset comes closer to the
// outline than the distance, or runs nearly back along a neighbour's, and
// their meeting point flies off (an outline 1e4 across grew a spike 1.9e6
// long, and NFPs built on it let items overlap). There, and only there, the
// twin is merged into its neighbour and the merged outline is offset by the
// distance plus how far the merged-away point stood out of it, which keeps
// the full distance. Likewise where two moved edges meet at an angle but
// with a cross product under the written 1e-12 (edges a few grid units
// long): the written offset takes the end of the first for their meeting
// point and comes short of the distance by the corner it cuts; there the
// lines' true meeting points are taken. Everywhere else the result is the
// written offset, bit for bit.
#pragma once
#include "quarvo/kernel.hpp"

namespace quarvo {

// offset_convex(poly, dist), or its mended form where that goes wrong.
Contour offset_outline(const Contour& poly, double dist);
// mitred_offset(c, delta), or the same of the outline with its stray hairs
// merged (by delta plus how far a merged point stood out) where it has any:
// a hair that runs back makes a cusp, which the mitred offset cuts in.
Region mitred_outline_offset(const Contour& c, double delta);

// Whether the written offset of `poly` by `dist` goes wrong: around an edge
// shorter than 1e-8 of the outline's extent such a hair does not turn with
// the edges on either side of it (its moved line folds the offset back on
// itself, or cuts the corner), or the offset comes nearer the outline than
// |dist| (by more than rounding) there or where two moved edges at an angle
// meet as if parallel (their cross product under the written 1e-12, as the
// short edges of an outline a few grid units across do at any angle; the
// end of the first then stands for their meeting point and cuts the corner).
// False when there is neither.
bool offset_loses_distance(const Contour& poly, double dist);

}  // namespace quarvo
