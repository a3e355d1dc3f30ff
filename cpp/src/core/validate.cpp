#include "core/validate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

[[noreturn]] void refuse(const std::string& what, const std::string& name, double v, const char* fault) {
    throw ValueError(what + ": " + name + " is " + format_number(v) + ", " + fault);
}

}  // namespace

std::string format_number(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

void require_value(double v, const std::string& what, const std::string& name) {
    if (!std::isfinite(v)) refuse(what, name, v, "not a finite number");
    if (std::fabs(v) > MAX_COORDINATE)
        throw ValueError(what + ": " + name + " is " + format_number(v) + ", beyond the supported magnitude " +
                         format_number(MAX_COORDINATE));
}

void require_not_negative(double v, const std::string& what, const char* name) {
    if (v < 0.0) refuse(what, name, v, "negative");
}

void require_sound_bin(double width, double height) {
    require_value(width, "bin", "width");
    require_value(height, "bin", "height");
}

void require_usable_bin(double width, double height) {
    require_sound_bin(width, height);
    if (!(width > 0.0)) refuse("bin", "width", width, "not positive");
    if (!(height > 0.0)) refuse("bin", "height", height, "not positive");
    // the thinnest item the engine keeps apart is twice the limit across
    const double least = 2.0 * grid_limit(std::max(width, height));
    for (auto [v, name] : {std::pair<double, const char*>{width, "width"}, {height, "height"}})
        if (v < least)
            throw ValueError("bin: " + std::string(name) + " is " + format_number(v) +
                             ", below the grid: the engine keeps items apart to " +
                             format_number(grid_limit(std::max(width, height))) +
                             ", and no item it takes fits in less than twice that, " + format_number(least));
}

void require_margin(double margin) {
    require_value(margin, "bin", "margin");
    require_not_negative(margin, "bin", "margin");
}

void require_rotations(const std::vector<double>& rotations) {
    // An item placed at a rotation beyond the range could not be checked again.
    for (std::size_t i = 0; i < rotations.size(); ++i) require_value(rotations[i], "rotations", "entry " + std::to_string(i));
}

void require_distance(double distance, const char* name) {
    require_value(distance, "options", name);
    require_not_negative(distance, "options", name);
}

void require_finite_option(double v, const char* name) {
    if (!std::isfinite(v)) refuse("options", name, v, "not a finite number");
}

void require_limits(double max_load, double length) {
    for (auto [v, name] : {std::pair<double, const char*>{max_load, "max_load"}, {length, "length"}})
        if (!(v > 0.0)) refuse("bin", name, v, "not a positive number");
}

void require_threads(long long threads) {
    if (threads < 1) throw ValueError("options: threads is " + std::to_string(threads) + ", not at least 1");
}

}  // namespace quarvo
