// Quarvo.stock's engine side: bin records converted and measured.
#include "stock.hpp"

#include <cmath>

#include "bindings.hpp"
#include "check/check_stock.hpp"
#include "convert.hpp"
#include "core/validate.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "shapes/item_checks.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

// A field of the record, or None when the record has none.
nb::object field_of(nb::handle bin, const char* name) {
    nb::object v = nb::steal(PyObject_GetAttrString(bin.ptr(), name));
    if (!v.is_valid()) {
        PyErr_Clear();
        return nb::none();
    }
    return v;
}

double limit_of(nb::handle bin, const char* name, const std::string& what) {
    nb::object v = field_of(bin, name);
    return v.is_none() ? q::kInf : to_double(v, (what + "." + name).c_str());
}

}  // namespace

q::Bin to_bin(nb::handle bin, const std::string& what) {
    nb::object height = nb::getattr(bin, "height");
    q::Bin out{to_double(nb::getattr(bin, "width"), (what + ".width").c_str()),
               height.is_none() ? q::kInf : to_double(height, (what + ".height").c_str())};
    nb::object margin = field_of(bin, "margin");
    out.margin = margin.is_none() ? 0.0 : to_double(margin, (what + ".margin").c_str());
    out.max_load = limit_of(bin, "max_load", what);
    out.length = limit_of(bin, "length", what);
    nb::object count = field_of(bin, "count");
    if (!count.is_none()) {
        if (!PyLong_Check(count.ptr()) || PyBool_Check(count.ptr()))
            throw q::TypeError(what + ".count must be a whole number of bins or None, not " +
                               std::string(Py_TYPE(count.ptr())->tp_name));
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(count.ptr(), &overflow);
        if (overflow != 0) throw q::ValueError(what + ".count is beyond any number of bins the engine counts");
        out.count = n;
    }
    nb::object cost = field_of(bin, "cost");
    if (!cost.is_none()) out.cost = to_double(cost, (what + ".cost").c_str());
    nb::object outer = field_of(bin, "outer"), holes = field_of(bin, "holes"), defects = field_of(bin, "defects");
    auto shape = std::make_shared<q::BinShape>();
    // the engine's rings are closed
    auto closed = [](Contour c) {
        if (!c.empty() && c.front() != c.back()) c.push_back(c.front());
        return c;
    };
    if (!outer.is_none()) {
        shape->outer = closed(to_contour(outer));
        if (shape->outer.empty()) throw q::ValueError(what + ": the outline has no points (None: the rectangle)");
    }
    for (Contour& h : to_contours(holes)) shape->holes.push_back(closed(std::move(h)));
    for (Contour& d : to_contours(defects)) shape->defects.push_back(closed(std::move(d)));
    if (!outer.is_none() || !shape->holes.empty() || !shape->defects.empty()) out.shape = std::move(shape);
    return out;
}

void check_bin_record(nb::handle bin, const std::string& what) {
    q::Bin b{0.0, 0.0};
    try {
        b = to_bin(bin, what);
    } catch (const q::TypeError&) {
        return;  // named at packing time
    } catch (const nb::python_error&) {
        PyErr_Clear();
        return;
    }
    q::require_usable_bin(b.width, b.height == q::kInf ? b.width : b.height);
    q::require_limits(b.max_load, b.length);
    q::require_margin(b.margin);
    q::require_sound_bin_kind(b, what);
}

std::vector<nb::object> bin_records(nb::handle bins) {
    nb::object seq = as_sequence(bins, "bins must be a sequence of Bin records");
    std::vector<nb::object> out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i)
        out.push_back(nb::borrow(PySequence_Fast_GET_ITEM(seq.ptr(), i)));
    if (out.empty()) throw q::ValueError("bins is empty: give at least one Bin");
    return out;
}

void bind_stock(nb::module_& m) {
    m.def("bin_areas", [](nb::handle bin) {
        const q::Bin b = to_bin(bin, "bin");
        q::require_sound_bin_kind(b, "bin");
        return nb::make_tuple(q::bin_area(b), q::usable_area(b), q::bin_cost(b));
    }, "bin"_a,
          "(area, usable_area, cost) of a bin record: its outline's area less its holes', that less the\n"
          "defects, and its cost (its area unless it gives one). A strip's are infinite.");
    m.def("material_area", [](nb::handle item) { return q::material_area(*to_shape(item)); }, "item"_a,
          "An item's material: its outline's area less its holes' (a pipe's ring).");
    m.def("check_stock", [](nb::handle items, nb::handle bin, nb::handle margin, nb::handle tol) {
        const q::Bin b = to_bin(bin, "bin");
        nb::list out;
        if (!b.shape) return out;
        nb::object seq = as_sequence(items, "items must be a sequence of items");
        std::vector<q::Outline> outlines;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i)
            outlines.push_back(q::true_outline(*to_shape(nb::borrow(PySequence_Fast_GET_ITEM(seq.ptr(), i)))));
        const double m_ = to_double(margin, "margin"), t_ = to_double(tol, "tol");
        std::vector<q::StockFault> found;
        {
            nb::gil_scoped_release release;
            found = q::check_stock(outlines, *b.shape, b.width, b.height, m_, t_);
        }
        static const char* const names[] = {"outside", "on_defect", "near_edge", "near_defect"};
        for (const q::StockFault& f : found)
            out.append(nb::make_tuple(names[f.kind], f.item, f.amount, f.clearance, f.ring));
        return out;
    }, "items"_a, "bin"_a, "margin"_a, "tol"_a,
          "The faults of one bin's items against the bin's outline, holes and defects, on their true\n"
          "outlines: (kind, item, amount, clearance, ring) with kind outside (out of the outline or into a\n"
          "hole; ring 0 the outline, k a hole k - 1), on_defect, near_edge or near_defect (nearer than the\n"
          "margin; ring: the defect's index for defects).");
}

}  // namespace qb
