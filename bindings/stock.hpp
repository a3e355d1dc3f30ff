// Bin records of the host (Quarvo.geometry.Bin) as the engine's bins: size,
// limits, count, cost, outline, holes and defects.
#pragma once
#include <nanobind/nanobind.h>

#include <string>

#include "quarvo/shapes.hpp"

namespace qb {

namespace nb = nanobind;

// A bin record's fields into an engine Bin; a record without the newer fields
// (count, cost, outer, holes, defects) is the rectangle of its size. A height
// of None is a strip. `what` names the record in messages ("bin", "bins[1]").
quarvo::Bin to_bin(nb::handle bin, const std::string& what);
// The checks of a record the engine makes at packing time, at once (for the
// constructor and the setters); values of the wrong kind altogether are left to packing time.
void check_bin_record(nb::handle bin, const std::string& what);
// The records of `bins=`: a non-empty sequence of bin records.
std::vector<nb::object> bin_records(nb::handle bins);

}  // namespace qb
