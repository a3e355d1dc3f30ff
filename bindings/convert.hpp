// Conversions between host values and engine values, with the host's error
// types for values that are not what they should be.
#pragma once
#include <nanobind/nanobind.h>

#include <string>

#include "quarvo/shapes.hpp"

namespace nb = nanobind;

namespace qb {

using quarvo::Contour;
using quarvo::Pt;

double to_double(nb::handle h, const char* what);
// Every entry of a sequence of numbers (`expected` is the TypeError text when
// h is no sequence, `what` names an entry that is no number).
std::vector<double> to_doubles(nb::handle h, const char* expected, const char* what);
// A fast sequence over h; TypeError (`expected`, not <type>) for text, None and non-iterables.
nb::object as_sequence(nb::handle h, const char* expected);
Pt to_point(nb::handle h);
Contour to_contour(nb::handle h);
std::vector<Contour> to_contours(nb::handle h);

nb::object point_to_py(Pt p);
nb::object contour_to_py(const Contour& c);
nb::object contours_to_py(const std::vector<Contour>& cs);
nb::object bbox_to_py(const quarvo::BBox& b);

// Per-item host data: the caller's id object and host copies of the cached
// contours (so that a cached contour is handed out as the same list).
struct PyHost : quarvo::HostData {
    nb::object shape_id;
    nb::object rotated;
    std::uint64_t rotated_gen = ~0ULL;
    nb::object transformed;
    std::uint64_t transformed_gen = ~0ULL;
    // The run packing the item without the GIL, and how it names the item (see busy_items.hpp).
    const void* packed_by = nullptr;
    std::string packing_as;
};
PyHost& host_of(quarvo::Shape& s);
// The host copy of a cached contour, rebuilt only when the engine rebuilt it,
// so that the same cached list is handed out until the next move.
nb::object host_copy(nb::object& slot, std::uint64_t& slot_gen, const Contour& c, std::uint64_t gen);
// The polygon's world contour as that same host list.
nb::object polygon_world(quarvo::Polygon& p);

// How engine messages name an item with this shape_id: its repr, shortened.
std::string shape_label(nb::handle shape_id);

// The engine item behind a host object, or TypeError.
quarvo::Shape* to_shape(nb::handle h, const char* what = "item");

}  // namespace qb
