#pragma once
#include <nanobind/nanobind.h>

namespace qb {
namespace nb = nanobind;
void register_errors();
void bind_geometry_handle(nb::module_& m);
void bind_geometry(nb::module_& m);
void bind_placer_bl(nb::module_& m);
void bind_placer_nfp(nb::module_& m);
void bind_first_fit(nb::module_& m);
void bind_check(nb::module_& m);
void bind_stock(nb::module_& m);
}  // namespace qb
