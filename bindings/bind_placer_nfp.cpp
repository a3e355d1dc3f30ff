#include "bindings.hpp"

namespace qb {
void bind_placer_nfp(nb::module_& m) { (void)m; }
}  // namespace qb
