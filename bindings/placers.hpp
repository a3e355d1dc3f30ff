// Host-side wrappers of the engine placers: the engine keeps raw item
// pointers, the wrapper keeps the caller's objects alive in its `packed` list.
#pragma once
#include <nanobind/nanobind.h>

#include <vector>

#include "convert.hpp"
#include "options.hpp"
#include "quarvo/placer_nfp.hpp"

namespace qb {

// Rebuilds the engine's item list from the host list when a caller changed it.
inline void sync_packed(nb::list& py, std::vector<quarvo::Shape*>& eng) {
    std::size_t n = nb::len(py);
    bool same = n == eng.size();
    for (std::size_t i = 0; same && i < n; ++i) {
        quarvo::Shape* s = nullptr;
        same = nb::try_cast<quarvo::Shape*>(py[i], s) && s == eng[i];
    }
    if (same) return;
    std::vector<quarvo::Shape*> items;
    items.reserve(n);
    for (std::size_t i = 0; i < n; ++i) items.push_back(to_shape(py[i], "packed item"));
    eng = std::move(items);
}

inline nb::list floats_to_list(const std::vector<double>& v) {
    nb::list l;
    for (double d : v) l.append(d);
    return l;
}

struct PyNfpPlacer {
    quarvo::NfpPlacer eng;
    OptionValues options;  // as kOptionFields, kept as checked
    nb::list packed;
    bool busy = false;  // a trypack is running (without the GIL)

    void set_option(std::size_t i, nb::handle v);
    void sync();
    bool run(nb::handle item, bool (quarvo::NfpPlacer::*step)(quarvo::Shape&, const quarvo::PlaceRequest&));
};

inline int gc_visit(PyNfpPlacer& p, visitproc visit, void* arg) {
    for (const nb::object& o : p.options) Py_VISIT(o.ptr());
    Py_VISIT(p.packed.ptr());
    return 0;
}

inline void gc_clear(PyNfpPlacer& p) {
    p.eng.packed.clear();
    p.packed = nb::list();
    for (nb::object& o : p.options) o = nb::none();
}

nb::object signature_to_py(int id);

}  // namespace qb
