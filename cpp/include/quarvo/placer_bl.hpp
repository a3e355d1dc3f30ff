// Bottom-left placement: an item starts above the bin's top-right corner and
// slides alternately down and left, each time as far as the floor, the wall
// and the placed items allow, less a clearance.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "quarvo/shapes.hpp"
#include "quarvo/placer.hpp"

namespace quarvo {

// Tolerance of a contact behind the item in the free-distance search, and the
// default clearance of the placer.
constexpr double EPS = 0.001;
// Shortest move the placer makes.
constexpr double MIN_PROGRESS = 1e-6;

enum class Direction { Left, Down };

// World contour of an item; a circle as its clockwise 64-gon (see circle_outline).
Contour as_polygon(const Shape& shape, bool exact = false);

// Sweep polygon of a closed clockwise contour as entries of the contour: a
// vertex of `pts`, or the point of the wall or floor level with a vertex.
struct SweepEntry {
    enum Kind { Vertex, Wall } kind;
    std::size_t index;
};
std::vector<SweepEntry> to_wall_poly_entries(const Contour& pts, Direction dir);
// The region between the item and the wall ("left"), or the item together with
// everything below it down to the floor ("down"). Contours of fewer than three
// vertices come back unchanged.
Contour to_wall_poly(const Contour& pts, Direction dir);

// Distance from v to the segment a-b measured along -x (horizontal) or -y
// (vertical); +inf when the segment does not span v.
double horizontal_distance(Pt v, Pt a, Pt b);
double vertical_distance(Pt v, Pt a, Pt b);

// How far the item may travel toward the wall (left) or the floor (down)
// before it meets one of the placed contours or the wall.
double available_space(const Contour& item_poly, const std::vector<Contour>& packed_polys, Direction dir);

// Whether two closed contours share a point (touching included). Correct for
// non-convex and self-intersecting contours.
bool polys_intersect(const Contour& a, const Contour& b);

class BottomLeftPlacer : public Placer {
public:
    BottomLeftPlacer(double bin_w, double bin_h, double epsilon = EPS);
    ~BottomLeftPlacer() override;
    BottomLeftPlacer(BottomLeftPlacer&&) noexcept;
    BottomLeftPlacer& operator=(BottomLeftPlacer&&) noexcept;

    // ValueError, with the item unmoved, when the bin size, the clearance or
    // the item's contour is not finite.
    bool trypack(Shape& item) override;
    // Moves the item so that its bounding box rests on the bin's top edge,
    // right-aligned with the bin.
    void set_initial_position(Shape& item) const;
    std::vector<Contour> packed_polys() const;

    double bin_w;
    double bin_h;
    double epsilon;
    // Circles as the 64-gon circumscribed about them, so that no gap falls below the distance.
    bool exact_clearance = false;

    struct Placed;  // cached geometry of one placed item

private:
    // Placed items never move, so their contours and derived data are kept
    // from one call to the next and rebuilt only for an item whose
    // transformation differs from the one they were built from.
    void refresh_placed();
    double free_distance(const Contour& item_poly, Direction dir) const;
    bool overlaps_placed(const Contour& poly) const;

    std::vector<std::unique_ptr<Placed>> placed_;
    bool placed_exact_ = false;  // the circle contours placed_ holds
};

}  // namespace quarvo
