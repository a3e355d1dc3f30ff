// Input checks shared by every entry point (both placers, the first-fit
// driver, the module functions): items, bins, rotations, distances and
// options. Every refusal is a ValueError worded "<what>: <name> is <value>,
// <fault>", where <what> names the item by its role and its shape_id.
#pragma once
#include <string>
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

class Shape;
struct NfpOptions;

// Largest coordinate magnitude the placers accept: the polygon union works on
// a 1e-6 integer grid that must fit in 62 bits.
constexpr double MAX_COORDINATE = 1e12;

// A number as messages show it: the shortest text that reads back as the same
// double ("%.17g").
std::string format_number(double v);

// How messages name an item: its role ("item 3", "placed item 0") and, when
// the host gave it one, its shape_id.
std::string item_label(const Shape& s, const std::string& role);

// The item's state and geometry are finite and within MAX_COORDINATE, its
// radius, margin and inflation are not negative.
void require_sound_item(const Shape& s, const std::string& role = "item");
// The same for every item of a list (null entries skipped); the one at fault
// is named "<role> <index>". The placers check their placed items on every call.
void require_sound_items(const std::vector<Shape*>& items, const char* role);
// A polygon's rings bound a sound region (see rings.hpp). Rings with a
// non-finite or out-of-range coordinate are left to require_sound_item.
void require_sound_outline(const Contour& outer, const std::vector<Contour>& holes, const std::string& what);
// A size, margin, inflation or distance that may not be negative.
void require_not_negative(double v, const std::string& what, const char* name);

// A bin side is finite and within MAX_COORDINATE (a placer's bin).
void require_sound_bin(double width, double height);
// The same, and both sides positive (the driver's bin).
void require_usable_bin(double width, double height);
void require_rotations(const std::vector<double>& rotations);
// Finite, within MAX_COORDINATE and not negative.
void require_distance(double distance, const char* name);
// A finite option of a placer, e.g. its clearance.
void require_finite_option(double v, const char* name);
void require_threads(long long threads);
// The rotations and the thread count of the NFP options.
void require_nfp_options(const NfpOptions& options);

// No item object twice in one list (`role` names the list's entries).
void require_distinct(const std::vector<Shape*>& items, const char* role = "item");
// The item is not one of the placed items already.
void require_not_placed(const Shape& item, const std::vector<Shape*>& packed);

}  // namespace quarvo
