// Items at rest: whether the contacts that touch an item can hold it up
// without friction. The one rule that the layout checker judges by and the
// placers place by, on true outlines given as plain geometry (no inflation,
// circles as circles), so that a place the placers take is one the checker
// passes, however each of them gathers the neighbours.
//
// A round item rests when the upward direction lies in the cone of its
// contact normals (each pointing from the contact towards its centre); a
// single contact right below its centre holds it only on a flat or hollow
// support (the floor, a straight edge, the wall of the bore it lies in). A
// polygon rests when it touches the floor, or when its supporting contacts
// below its centroid lie on both sides of the centroid's vertical.
#pragma once
#include <cstddef>
#include <vector>

#include "quarvo/constants.hpp"
#include "quarvo/kernel.hpp"

namespace quarvo {

// One closed curve of an outline: a circle, or a contour (closed or not, any winding).
struct RestLoop {
    bool round = false;
    Pt center{};
    double radius = 0.0;
    Contour ring;
};

struct RestBody {
    RestLoop outer;
    // Holes of a polygon and bores of a pipe alike: their walls hold what lies in them.
    std::vector<RestLoop> holes;
    // How far its spacers reach: half the clear distance plus its own
    // inflation and margin (taken as 0 when negative).
    double spacing = 0.0;

    // Filled by finish():
    bool usable = false;  // finite, with an outer loop of some extent
    BBox box{0, 0, 0, 0};  // of the outer loop
    Pt centroid{};  // of the material (holes taken out)
    Pt inner{};     // a point well inside the material, to tell which hole holds the item
    // A round item may be drawn as the 64-gon circumscribed about it: its
    // contacts may lie that much farther, (radius + spacing)(1 / cos(pi/64) - 1).
    double excess = 0.0;

    void finish();
};

// Where a contact comes from besides the neighbours.
enum : long { kRestFloor = -1, kRestLeftWall = -2, kRestRightWall = -3 };

struct RestContact {
    long other;  // index in the neighbour list, or kRestFloor / kRestLeftWall / kRestRightWall
    Pt at;       // the point of contact
    Pt normal;   // unit, the way the support pushes: from the contact towards the item
    bool cradle; // flat or hollow: holds a single contact right below the centre
};

enum class RestReason {
    Rests,
    NoContact,         // touches nothing
    NoneBelow,         // round: no contact below its centre
    Balanced,          // round: balanced on one point right below its centre (a disc on one disc)
    OneContact,        // round: one support, beside its centre
    OneSide,           // round: supports on one side only
    PolygonNoneBelow,  // no supporting contact below its centroid
    PolygonOneSide,    // supporting contacts below its centroid on one side only
};
const char* rest_reason_text(RestReason r);

struct RestVerdict {
    RestReason reason = RestReason::NoContact;
    std::vector<RestContact> contacts;
    bool rests() const { return reason == RestReason::Rests; }
};

// The bin as gravity sees it: the floor at y = 0, walls at x = 0 and x = width.
struct RestFrame {
    double width;
    double tol = kRestTol;
    // The bin's edge margin: items stand that far off the floor and the walls.
    double margin = 0.0;
};

// How far beyond its box an item's contacts may reach: its spacing and excess.
double rest_reach(const RestBody& b);
// Whether two items' boxes come close enough for a contact.
bool may_touch(const RestBody& a, const RestBody& b, double tol);
// The index of the hole of `host` that holds `item`, or -1.
long hole_holding(const RestBody& item, const RestBody& host);

// The verdict on `item` among `near` (every other item that may touch it; the
// item itself and items lying in its holes are passed over: they are its load).
// Contact: a gap of at most the two spacings plus `tol` (plus a round item's
// excess); the floor and a wall count as touched where the item's gap to
// them is at most its own gap there (its spacing or the edge margin,
// whichever is larger) plus `tol`.
RestVerdict judge_rest(const RestBody& item, const std::vector<const RestBody*>& near, const RestFrame& frame);

}  // namespace quarvo
