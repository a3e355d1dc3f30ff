#include "quarvo/options.hpp"

#include "core/validate.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

std::vector<double> default_rotations() { return {0.0, kPi / 2, kPi, (3 * kPi) / 2}; }

void check_options(const NfpOptions& options) {
    require_rotations(options.rotations);
    require_threads(options.threads);
}

void check_options(const SearchOptions& options) {
    if (options.time_limit >= 0.0 && !(options.time_limit <= MAX_COORDINATE))
        throw ValueError("time_limit is not a finite number of seconds");
}

void check_options(const RowOptions& options) {
    require_distance(options.end_gap, "end_gap");
    require_distance(options.overhang, "overhang");
}

}  // namespace quarvo
