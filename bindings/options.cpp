#include "options.hpp"

#include <nanobind/stl/string.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

#include "convert.hpp"
#include "core/validate.hpp"
#include "quarvo/errors.hpp"

namespace qb {

namespace q = quarvo;

namespace {

std::string repr_of(nb::handle v) { return nb::cast<std::string>(nb::repr(v)); }

}  // namespace

q::Placement placement_of(nb::handle placement) {
    if (nb::isinstance<nb::str>(placement)) {
        const std::string p = nb::cast<std::string>(placement);
        if (p == "corner") return q::Placement::Corner;
        if (p == "center") return q::Placement::Center;
    }
    throw q::ValueError("placement 仅支持 'corner'/'center'，收到：" + repr_of(placement));
}

q::HoleFill hole_fill_of(nb::handle v) {
    if (nb::isinstance<nb::str>(v)) {
        const std::string s = nb::cast<std::string>(v);
        if (s == "sampled") return q::HoleFill::Sampled;
        if (s == "dense") return q::HoleFill::Dense;
    }
    throw q::ValueError("hole_fill must be 'sampled' or 'dense', got " + repr_of(v));
}

const char* hole_fill_name(q::HoleFill f) { return f == q::HoleFill::Dense ? "dense" : "sampled"; }

bool flag_value(nb::handle v, const char* name) {
    if (!PyBool_Check(v.ptr()))
        throw q::TypeError(std::string(name) + " must be True or False, not " + Py_TYPE(v.ptr())->tp_name);
    return v.ptr() == Py_True;
}

int thread_count(nb::handle threads) {
    if (threads.is_none()) return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (!PyLong_Check(threads.ptr()))
        throw q::TypeError(std::string("threads must be an integer or None, not ") + Py_TYPE(threads.ptr())->tp_name);
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(threads.ptr(), &overflow);
    if (overflow > 0) n = 1024;
    if (overflow < 0) n = std::numeric_limits<long long>::min();
    q::require_threads(n);
    return static_cast<int>(std::min<long long>(n, 1024));
}

void read_time_limit(nb::handle v, q::SearchOptions& out) {
    if (v.is_none()) return;
    out.time_limit = to_double(v, "time_limit");
    if (!(out.time_limit >= 0.0 && out.time_limit <= 1e12))
        throw q::ValueError("time_limit must be a number of seconds of at least 0, not " + repr_of(v));
}

void read_iterations(nb::handle v, q::SearchOptions& out) {
    if (v.is_none()) return;
    if (!PyLong_Check(v.ptr()) || PyBool_Check(v.ptr())) throw q::TypeError("iterations must be an int, not " + repr_of(v));
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (overflow > 0) n = std::numeric_limits<long long>::max();
    if (overflow < 0 || n < 0) throw q::ValueError("iterations must be at least 0, not " + repr_of(v));
    out.iterations = n;
}

void read_seed(nb::handle v, q::SearchOptions& out) {
    if (!PyLong_Check(v.ptr()) || PyBool_Check(v.ptr())) throw q::TypeError("seed must be an int, not " + repr_of(v));
    // Any int: its low 64 bits seed the search.
    out.seed = PyLong_AsUnsignedLongLongMask(v.ptr());
    if (PyErr_Occurred()) throw nb::python_error();
}

double margin_value(nb::handle v) {
    const double m = to_double(v, "margin");
    q::require_margin(m);
    return m;
}

double metres_value(nb::handle v, const char* name) {
    const double m = to_double(v, name);
    q::require_distance(m, name);
    return m;
}

std::size_t option_named(const char* name) {
    for (std::size_t i = 0; i < kOptionCount; ++i)
        if (std::strcmp(kOptionFields[i].name, name) == 0) return i;
    throw std::logic_error(std::string("no option ") + name);
}

OptionValues check_options(unsigned owner, const nb::handle* given) {
    OptionValues values;
    for (std::size_t k = 0, n = option_count(owner); k < n; ++k) {
        const std::size_t i = option_index(owner, k);
        values[i] = kOptionFields[i].check(given[k]);
    }
    return values;
}

EngineOptions engine_options(const OptionValues& values, unsigned owner) {
    EngineOptions out;
    for (std::size_t i = 0; i < kOptionCount; ++i)
        if (kOptionFields[i].owners & owner) kOptionFields[i].apply(values[i], owner, out);
    return out;
}

nb::dict option_keywords(const OptionValues& values, unsigned owner) {
    nb::dict kw;
    for (std::size_t i = 0; i < kOptionCount; ++i)
        if ((kOptionFields[i].owners & owner) && values[i].is_valid()) kw[kOptionFields[i].name] = values[i];
    return kw;
}

}  // namespace qb
