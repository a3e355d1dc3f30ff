#include "bindings.hpp"

namespace qb {
void bind_first_fit(nb::module_& m) { (void)m; }
}  // namespace qb
