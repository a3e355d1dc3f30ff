// Checks of plain values shared by every entry point: bins, rotations,
// distances and options. Every refusal is a ValueError worded
// "<what>: <name> is <value>, <fault>". The checks of items are in
// item_checks.hpp.
#pragma once
#include <string>
#include <vector>

namespace quarvo {

// Largest coordinate magnitude the placers accept: the polygon union works on
// a 1e-6 integer grid that must fit in 62 bits.
constexpr double MAX_COORDINATE = 1e12;

// A number as messages show it: the shortest text that reads back as the same
// double ("%.17g").
std::string format_number(double v);

// Finite and within MAX_COORDINATE; `what` names the owner, `name` the value.
void require_value(double v, const std::string& what, const std::string& name);
// A size, margin, inflation or distance that may not be negative.
void require_not_negative(double v, const std::string& what, const char* name);

// A bin side is finite and within MAX_COORDINATE (a placer's bin).
void require_sound_bin(double width, double height);
// The same, and both sides positive (the driver's bin).
void require_usable_bin(double width, double height);
// A bin's edge margin: finite, within MAX_COORDINATE and not negative.
void require_margin(double margin);
void require_rotations(const std::vector<double>& rotations);
// Finite, within MAX_COORDINATE and not negative.
void require_distance(double distance, const char* name);
// A finite option of a placer, e.g. its clearance.
void require_finite_option(double v, const char* name);
void require_threads(long long threads);
// A bin's max_load (kg) and length (mm): positive, or +infinity for no limit.
void require_limits(double max_load, double length);

}  // namespace quarvo
