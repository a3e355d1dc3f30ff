// Bottom-left placement: an item starts above the bin's top-right corner and
// slides alternately down and left, each time as far as the floor, the wall
// and the placed items allow, less a clearance.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Default clearance of the bottom-left placer (how far short of what blocks it
// an item stops), and the default tolerance of a contact behind the item in
// the free-distance search.
constexpr double kBottomLeftClearance = 0.001;

// Toward the wall or toward the floor (the sweep of the slide).
enum class Direction { Left, Down };

// Shortest move the placer makes.
constexpr double MIN_PROGRESS = 1e-6;

// World contour of an item; a circle as its clockwise kCircleSides-gon,
// inscribed or, with `exact`, circumscribed (see circle_outline).
Contour as_polygon(const Shape& shape, bool exact = false);

class BottomLeftPlacer : public Placer {
public:
    BottomLeftPlacer(double bin_w, double bin_h, double epsilon = kBottomLeftClearance);
    ~BottomLeftPlacer() override;
    BottomLeftPlacer(BottomLeftPlacer&&) noexcept;
    BottomLeftPlacer& operator=(BottomLeftPlacer&&) noexcept;

    // ValueError, with the item unmoved, when the bin size, the clearance or
    // the item's contour is not finite. The item keeps its rotation: the
    // request's angles and site do not apply.
    using Placer::trypack;
    bool trypack(Shape& item, const PlaceRequest& request) override;
    // Moves the item so that its bounding box rests on the bin's top edge,
    // right-aligned with the bin (both edges moved in by inset(item)).
    void set_initial_position(Shape& item) const;
    std::vector<Contour> packed_polys() const;

    double bin_w;
    double bin_h;
    double epsilon;
    // Circles as the 64-gon circumscribed about them, so that no gap falls below the distance.
    bool exact_clearance = false;

    struct Placed;  // cached geometry of one placed item
    struct Fixed;   // a shaped bin's outline, holes and defects for one inset, with the start regions found there

private:
    // In a shaped bin the item starts inside, not above it: at the highest,
    // then rightmost place of its free region (keeping twice the clearance
    // from the outline, the holes and the defects) that overlaps no placed
    // item. False when there is none.
    bool start_in_bin(Shape& item, Fixed& fixed);
    Fixed& fixed_for(double inset);
    // Placed items never move, so their contours and derived data are kept
    // from one call to the next and rebuilt only for an item whose
    // transformation differs from the one they were built from.
    void refresh_placed();
    double free_distance(const Contour& item_poly, Direction dir, double wall, Fixed* fixed) const;
    bool overlaps_placed(const Contour& poly) const;

    std::vector<std::unique_ptr<Placed>> placed_;
    bool placed_exact_ = false;  // the circle contours placed_ holds
    std::vector<std::unique_ptr<Fixed>> fixed_;
};

}  // namespace quarvo
