#include "bindings.hpp"

namespace qb {
void bind_placer_bl(nb::module_& m) { (void)m; }
}  // namespace qb
