// The engine's offset of an outline: the written offset (every edge moved by
// the distance, consecutive moved edges meeting at their lines'
// intersection), mended where a near-twin vertex would lose distance.
//
// An edge a hair long (a vertex given twice, 1e-12 to 1e-9 of the outline
// apart) has a direction that need not turn with its neighbours; its moved
// line then cuts the corner, or runs back, and the written offset comes
// closer to the outline than the distance. There, and only there, the twin
// is merged into its neighbour and the merged outline is offset by the
// distance plus how far the merged-away point stood out of it, which keeps
// the full distance. Everywhere else the result is the written offset, bit
// for bit.
#pragma once
#include "quarvo/kernel.hpp"

namespace quarvo {

// offset_convex(poly, dist), or its mended form where that loses distance.
Contour offset_outline(const Contour& poly, double dist);

// Whether the written offset of `poly` by `dist` comes nearer the outline than
// |dist| (by more than rounding) around an edge shorter than 1e-8 of the
// outline's extent. False when there is no such edge.
bool offset_loses_distance(const Contour& poly, double dist);

}  // namespace quarvo
