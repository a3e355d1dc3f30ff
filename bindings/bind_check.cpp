// Quarvo.check: the layout checker's geometry, on the items' true outlines.
#include <nanobind/nanobind.h>

#include <vector>

#include "bindings.hpp"
#include "convert.hpp"
#include "quarvo/check.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

const char* kind_name(q::ViolationKind k) {
    switch (k) {
        case q::ViolationKind::Invalid: return "invalid";
        case q::ViolationKind::Outside: return "outside";
        case q::ViolationKind::Overlap: return "overlap";
        case q::ViolationKind::TooClose: return "too_close";
        case q::ViolationKind::NearEdge: return "near_edge";
        case q::ViolationKind::Floating: return "floating";
        case q::ViolationKind::Overloaded: return "overloaded";
        case q::ViolationKind::TooLong: return "too_long";
    }
    return "invalid";
}

// Outlines are copied while the GIL is held, so the check itself reads no
// host object.
std::vector<q::Outline> outlines_of(nb::handle items) {
    PyObject* o = items.ptr();
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None)
        throw q::TypeError("items must be a sequence of items");
    nb::object seq = nb::steal(PySequence_Fast(o, "items must be a sequence of items"));
    if (!seq.is_valid()) throw nb::python_error();
    std::vector<q::Outline> out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i) {
        nb::object item = nb::borrow(PySequence_Fast_GET_ITEM(seq.ptr(), i));
        out.push_back(q::true_outline(*to_shape(item)));
    }
    return out;
}

q::CheckOptions options_of(nb::handle bin_w, nb::handle bin_h, nb::handle distance, nb::handle contact_tol) {
    q::CheckOptions opt;
    opt.bin_w = to_double(bin_w, "bin_w");
    opt.bin_h = to_double(bin_h, "bin_h");
    opt.distance = to_double(distance, "distance");
    opt.contact_tol = to_double(contact_tol, "contact_tol");
    return opt;
}

q::Outline checked_outline(nb::handle item, const char* what) {
    q::Outline o = q::true_outline(*to_shape(item, what));
    if (!o.valid) throw q::ValueError(std::string(what) + " has no usable outline (non-finite or out-of-range values)");
    return o;
}

}  // namespace

void bind_check(nb::module_& m) {
    m.attr("CIRCLE_REL_TOL") = q::inscribed_polygon_rel_tol();
    m.attr("GRID_TOLERANCE") = q::GRID_TOLERANCE;
    m.attr("ROUNDING_TOLERANCE") = q::ROUNDING_TOLERANCE;
    m.attr("REST_TOL") = q::kRestTol;
    m.def("check_items", [](nb::handle items, nb::handle bin_w, nb::handle bin_h, nb::handle distance, nb::handle tol,
                            nb::handle circle_rel_tol, nb::handle margin, bool gravity, nb::handle contact_tol,
                            nb::handle max_load, nb::handle length) {
        std::vector<q::Outline> outlines = outlines_of(items);
        q::CheckOptions opt = options_of(bin_w, bin_h, distance, contact_tol);
        opt.tol = to_double(tol, "tol");
        opt.circle_rel_tol = to_double(circle_rel_tol, "circle_rel_tol");
        opt.margin = to_double(margin, "margin");
        opt.gravity = gravity;
        if (!max_load.is_none()) opt.max_load = to_double(max_load, "max_load");
        if (!length.is_none()) opt.length = to_double(length, "length");
        std::vector<q::Violation> found;
        {
            nb::gil_scoped_release release;
            found = q::check_outlines(outlines, opt);
        }
        nb::list out;
        for (const q::Violation& v : found)
            out.append(nb::make_tuple(kind_name(v.kind), v.first, v.second, v.amount, v.clearance,
                                      v.why ? nb::object(nb::str(v.why)) : nb::object(nb::none()), v.value));
        return out;
    }, "items"_a, "bin_w"_a, "bin_h"_a, "distance"_a = 0.0, "tol"_a = q::GRID_TOLERANCE, "circle_rel_tol"_a = 0.0, "margin"_a = 0.0,
       "gravity"_a = false, "contact_tol"_a = q::kRestTol, "max_load"_a.none() = nb::none(), "length"_a.none() = nb::none(),
       "Violations among one bin's items: (kind, i, j, amount, clearance, why, value) tuples; max_load (kg) and\n"
       "length (mm) None for no limit.");
    m.def("grid_limit", [](nb::handle magnitude) { return q::grid_limit(to_double(magnitude, "magnitude")); },
          "magnitude"_a = 0.0,
          "The least area over perimeter of an item the engine keeps apart where coordinates reach `magnitude`.");
    m.def("area_over_perimeter", [](nb::handle item) {
        return q::area_over_perimeter(checked_outline(item, "item"));
    }, "item"_a, "The area of the item's true material over the length of its curves (holes and a bore included).");

    m.def("rest_states", [](nb::handle items, nb::handle bin_w, nb::handle distance, nb::handle contact_tol,
                            nb::handle margin) {
        std::vector<q::Outline> outlines = outlines_of(items);
        q::CheckOptions opt = options_of(bin_w, nb::float_(0.0), distance, contact_tol);
        opt.margin = to_double(margin, "margin");
        std::vector<q::RestState> states;
        {
            nb::gil_scoped_release release;
            states = q::rest_states(outlines, opt);
        }
        nb::list out;
        for (const q::RestState& st : states) {
            nb::list supports;
            for (std::size_t j : st.supports) supports.append(j);
            out.append(nb::make_tuple(st.rests, st.why ? nb::object(nb::str(st.why)) : nb::object(nb::none()),
                                      supports));
        }
        return out;
    }, "items"_a, "bin_w"_a, "distance"_a = 0.0, "contact_tol"_a = q::kRestTol, "margin"_a = 0.0,
       "Per item of one bin: (rests, why, supports), supports being the indices of the items holding it up.");

    m.def("measure_pair", [](nb::handle a, nb::handle b) {
        q::Outline oa = checked_outline(a, "a"), ob = checked_outline(b, "b");
        q::PairMeasure pm;
        {
            nb::gil_scoped_release release;
            pm = q::measure_pair(oa, ob);
        }
        return nb::make_tuple(pm.clearance, pm.depth);
    }, "a"_a, "b"_a, "(clearance, depth) of two items' true outlines.");

    m.def("outside_amount", [](nb::handle item, nb::handle bin_w, nb::handle bin_h) {
        q::Outline o = checked_outline(item, "item");
        return q::outside_amount(o, to_double(bin_w, "bin_w"), to_double(bin_h, "bin_h"));
    }, "item"_a, "bin_w"_a, "bin_h"_a, "How far the item's true outline reaches past the bin.");
}

}  // namespace qb
