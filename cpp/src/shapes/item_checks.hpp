// Checks of items shared by every entry point (both placers, the first-fit
// driver, the module functions). Every refusal is a ValueError worded
// "<what>: <name> is <value>, <fault>", where <what> names the item by its
// role and its shape_id.
#pragma once
#include <string>
#include <vector>

#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// How messages name an item: its role ("item 3", "placed item 0") and, when
// the host gave it one, its shape_id.
std::string item_label(const Shape& s, const std::string& role);

// The item's state and geometry are finite and within MAX_COORDINATE, its
// radius, margin and inflation are not negative.
void require_sound_item(const Shape& s, const std::string& role = "item");
// The same for every item of a list (null entries skipped); the one at fault
// is named "<role> <index>". The placers check their placed items on every call.
void require_sound_items(const std::vector<Shape*>& items, const char* role);
// A polygon's rings bound a sound region: each ring simple, no two rings
// meeting, every hole inside the outer contour and outside every other hole.
// Rings with a non-finite or out-of-range coordinate are left to
// require_sound_item.
void require_sound_outline(const Contour& outer, const std::vector<Contour>& holes, const std::string& what);

// A bin's kind beyond its size: its outline and holes sound rings (as a
// polygon's) within [0, width] x [0, height], each defect a sound ring; no
// outline or defects on a strip; a count and a cost, when given, finite and
// not negative. `what` names the bin ("bins[2]").
void require_sound_bin_kind(const Bin& bin, const std::string& what);
// The item is not below the grid (grid_limit at `magnitude`, the bin's larger
// side): a circle's radius, a pipe's wall and a polygon's area over perimeter
// large enough for the engine to keep it apart from its neighbours.
void require_above_grid(const Shape& s, const std::string& role, double magnitude);

// No item object twice in one list (`role` names the list's entries).
void require_distinct(const std::vector<Shape*>& items, const char* role = "item");
// The item is not one of the placed items already.
void require_not_placed(const Shape& item, const std::vector<Shape*>& packed);

}  // namespace quarvo
