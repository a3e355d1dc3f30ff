// Host-side wrappers of the engine placers: the engine keeps raw item
// pointers, the wrapper keeps the caller's objects alive in its `packed` list.
#pragma once
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <limits>
#include <string>
#include <thread>

#include "convert.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/validate.hpp"

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
    nb::object rotations;  // the caller's list itself
    nb::object placement;
    nb::list packed;
    bool busy = false;  // a trypack is running (without the GIL)

    void sync();
    bool run(nb::handle item, bool (quarvo::NfpPlacer::*step)(quarvo::Shape&));
};

nb::object signature_to_py(int id);

// The hole_fill keyword: "sampled" or "dense"; anything else is a ValueError naming it.
inline quarvo::HoleFill hole_fill_of(nb::handle v) {
    if (nb::isinstance<nb::str>(v)) {
        const std::string s = nb::cast<std::string>(v);
        if (s == "sampled") return quarvo::HoleFill::Sampled;
        if (s == "dense") return quarvo::HoleFill::Dense;
    }
    throw quarvo::ValueError("hole_fill must be 'sampled' or 'dense', got " + nb::cast<std::string>(nb::repr(v)));
}
inline const char* hole_fill_name(quarvo::HoleFill f) { return f == quarvo::HoleFill::Dense ? "dense" : "sampled"; }
// A True/False option; anything else is a TypeError naming it.
inline bool flag_value(nb::handle v, const char* name) {
    if (!PyBool_Check(v.ptr()))
        throw quarvo::TypeError(std::string(name) + " must be True or False, not " + Py_TYPE(v.ptr())->tp_name);
    return v.ptr() == Py_True;
}

// Worker threads for rotations: None means one per core; at least 1.
inline int thread_count(nb::handle threads) {
    if (threads.is_none()) return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (!PyLong_Check(threads.ptr()))
        throw quarvo::TypeError(std::string("threads must be an integer or None, not ") + Py_TYPE(threads.ptr())->tp_name);
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(threads.ptr(), &overflow);
    if (overflow > 0) n = 1024;
    if (overflow < 0) n = std::numeric_limits<long long>::min();
    quarvo::require_threads(n);
    return static_cast<int>(std::min<long long>(n, 1024));
}

// The placement named by the caller: "corner" or "center", nothing else.
inline quarvo::Placement placement_of(nb::handle placement) {
    if (nb::isinstance<nb::str>(placement)) {
        const std::string p = nb::cast<std::string>(placement);
        if (p == "corner") return quarvo::Placement::Corner;
        if (p == "center") return quarvo::Placement::Center;
    }
    throw quarvo::ValueError("placement 仅支持 'corner'/'center'，收到：" + nb::cast<std::string>(nb::repr(placement)));
}

}  // namespace qb
