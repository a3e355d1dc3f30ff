// Layout checking: verifies a finished layout on the items' true outlines,
// independently of how the placers reasoned about it.
//
// An item's true outline is its stored geometry (mirrored when the item is)
// rotated and translated with no inflation; a circle stays an exact circle, a
// pipe an exact ring. A container's holes (a pipe's bore) are empty
// space. Distances are exact point/segment/circle distances; "inside" is an
// even-odd ray test. Nothing here uses no-fit polygons or the placers'
// intersection tests.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "quarvo/constants.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

struct Outline {
    bool circle = false;
    Pt center{};                 // circle only
    double radius = 0.0;         // circle only
    // A pipe: the radius of its bore (0: none). A pipe's walls are judged
    // without the circles' tolerance.
    double bore = 0.0;
    bool pipe = false;
    std::vector<Contour> rings;  // polygon only: the outer contour, then the holes
    BBox box{0.0, 0.0, 0.0, 0.0};
    // False for outlines that cannot be judged: non-finite numbers, a negative
    // radius, an empty outer contour, or an item without geometry.
    bool valid = true;
    // The item's own inflation and margin: spacers of its own, beside half the
    // distance, that its contacts may stand off by.
    double extra = 0.0;
    // What the item weighs against a bin's max_load (kg) and, for a pipe with
    // a length, that length against the bin's (m; 0: none).
    double mass = 0.0;
    double length = 0.0;
};

Outline circle_outline(Pt center, double radius);
// A pipe's ring: the disc of `radius` less the open disc of `bore` (0: none).
Outline ring_outline(Pt center, double radius, double bore);
Outline polygon_outline(const Contour& outer, const std::vector<Contour>& holes = {});
// The outline of an item with its inflation ignored, whatever `infl` holds,
// and its own inflation and margin as `extra`.
Outline true_outline(const Shape& s);

// How two outlines relate. When their interiors are disjoint, `depth` is 0 and
// `clearance` is the distance between them (0 when they touch). When the
// interiors overlap, `depth` > 0 says how far one outline reaches into the
// other: the greatest distance from a point of one outline lying inside the
// other to that other's outline, or, when larger, the radius of a disc that
// both cover around a deep interior point of either (coincident outlines reach
// into each other nowhere, yet overlap wholly). `clearance` is then -depth.
struct PairMeasure {
    double clearance;
    double depth;
};
PairMeasure measure_pair(const Outline& a, const Outline& b);

// How far the outline reaches past [0, bin_w] x [0, bin_h]; 0 when inside.
double outside_amount(const Outline& o, double bin_w, double bin_h);
// The least distance from the outline to the edges of [0, bin_w] x [0, bin_h]
// (negative when it reaches past one).
double edge_distance(const Outline& o, double bin_w, double bin_h);

// The area of the outline's material over the length of all its curves (a
// disc's radius / 2, a ring's wall / 2): a lower bound of the radius of the
// largest disc inside it. Below the grid tolerance an item could lie wholly
// within that tolerance of another's outline.
double area_over_perimeter(const Outline& o);

enum class ViolationKind { Invalid, Outside, Overlap, TooClose, NearEdge, Floating, Overloaded, TooLong };

struct Violation {
    ViolationKind kind;
    std::size_t first;   // index of the item in the checked list
    std::size_t second;  // the other item of a pair; equal to `first` otherwise
    // Invalid: 0. Outside: how far past the bin. Overlap: the depth.
    // TooClose: how much the clear distance falls short of the distance.
    // NearEdge: how much the distance to the bin's edges falls short of the margin.
    double amount;
    // Pairs: the clear distance (-depth for overlaps). NearEdge: the distance
    // to the nearest edge. Otherwise 0.
    double clearance;
    // Floating: why the item does not rest ("no contact", ...); null otherwise.
    const char* why = nullptr;
    // Overloaded: the bin's load (kg). TooLong: the pipe's length (m).
    double value = 0.0;
};

// The gap between a circle and the inscribed kCircleSides-gon that both
// placers take for it without exact clearance, relative to the radius: the
// circle_rel_tol that allows for it.
double inscribed_polygon_rel_tol();

struct CheckOptions {
    double bin_w = 0.0;
    double bin_h = 0.0;
    double distance = 0.0;  // required clear distance; a negative value allows that much overlap
    // Absolute slack on every judgement; by default the engine's tolerance.
    // The rounding of doubles is allowed on top: ROUNDING_TOLERANCE times
    // the magnitude of the outlines' coordinates. An item below the grid,
    // whose area_over_perimeter is under grid_limit where it lies, gets no
    // slack but the rounding: the tolerance would let it lie wholly in another.
    double tol = GRID_TOLERANCE;
    // Extra slack for pairs with circles, relative to each circle's radius
    // grown by half the distance: layouts made with circles seen as inscribed
    // polygons can leave true circles that much closer.
    double circle_rel_tol = 0.0;
    // The bin's edge margin: an outline inside the bin but closer than this
    // to an edge is NearEdge. 0: no margin.
    double margin = 0.0;
    // The bin's payload (kg): a bin whose items' masses add up to more is
    // Overloaded, reported at the item that takes the sum past it. And its
    // length (mm): a pipe longer (its length in m) is TooLong. Infinite: no limit.
    double max_load = kInf;
    double length = kInf;
    // Also report every item that is not at rest (Floating): a round item
    // rests when the upward direction lies in the cone of its contact normals
    // (floor, walls, other items, the wall of the hole it lies in), a single
    // contact right below its centre only on a flat or hollow support; a
    // polygon when it touches the floor or has supporting contacts below its
    // centroid on both sides of its vertical. Two items touch when their gap
    // is at most their spacings (half the distance plus their own inflation
    // and margin each) plus contact_tol, plus (radius + spacing)(1/cos(pi/64)
    // - 1) for each circle; the floor and a wall when the gap there is at
    // most the item's own gap to them (its spacing or the margin, whichever
    // is larger) plus contact_tol.
    bool gravity = false;
    double contact_tol = kRestTol;
    // When set, only the pairs (i < j) it accepts are judged: for a caller
    // that knows the others sound (the compression phase, for pairs that
    // have not moved against each other since it checked them).
    std::function<bool(std::size_t, std::size_t)> judge{};
};

// Every violation among the items of one bin, ordered by (first, second,
// kind). ValueError for non-finite options or negative tolerances.
std::vector<Violation> check_outlines(const std::vector<Outline>& items, const CheckOptions& opt);

// How one item of a bin stands, under the rule of CheckOptions::gravity.
struct RestState {
    bool rests = false;
    const char* why = nullptr;  // when it does not rest
    // The items that hold it up: those touching it at a contact that pushes upward.
    std::vector<std::size_t> supports;
};
// Per item of one bin (an invalid item neither rests nor supports).
// ValueError as check_outlines.
std::vector<RestState> rest_states(const std::vector<Outline>& items, const CheckOptions& opt);

}  // namespace quarvo
