#include "convert.hpp"

#include <string>

#include "busy_items.hpp"
#include "quarvo/errors.hpp"

namespace qb {

namespace {
std::string tname(nb::handle h) { return std::string(Py_TYPE(h.ptr())->tp_name); }
}  // namespace

double to_double(nb::handle h, const char* what) {
    PyObject* o = h.ptr();
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None)
        throw quarvo::TypeError(std::string(what) + " must be a number, not " + tname(h));
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            throw quarvo::TypeError(std::string(what) + " must be a number, not " + tname(h));
        }
        throw nb::python_error();
    }
    return v;
}

namespace {
// Both coordinates are held before either is converted: a coordinate's
// __float__ is caller code and may shrink the list they came from.
Pt pair_to_point(PyObject* seq) {
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
    if (n != 2) throw quarvo::ValueError("a point must have exactly 2 coordinates, got " + std::to_string(n));
    nb::object x = nb::borrow(PySequence_Fast_GET_ITEM(seq, 0));
    nb::object y = nb::borrow(PySequence_Fast_GET_ITEM(seq, 1));
    return {to_double(x, "point coordinate"), to_double(y, "point coordinate")};
}
}  // namespace

Pt to_point(nb::handle h) {
    PyObject* o = h.ptr();
    if ((PyTuple_CheckExact(o) || PyList_CheckExact(o))) return pair_to_point(o);
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None || !PySequence_Check(o))
        throw quarvo::TypeError("a point must be a pair of numbers, not " + tname(h));
    nb::object seq = nb::steal(PySequence_Fast(o, "a point must be a pair of numbers"));
    if (!seq.is_valid()) throw nb::python_error();
    return pair_to_point(seq.ptr());
}

std::vector<double> to_doubles(nb::handle h, const char* expected, const char* what) {
    nb::object seq = nb::steal(PySequence_Fast(h.ptr(), expected));
    if (!seq.is_valid()) throw nb::python_error();
    std::vector<double> out;
    // As for contours: converting may run caller code that changes the list.
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i) {
        nb::object item = nb::borrow(PySequence_Fast_GET_ITEM(seq.ptr(), i));
        out.push_back(to_double(item, what));
    }
    return out;
}

nb::object as_sequence(nb::handle h, const char* expected) {
    PyObject* o = h.ptr();
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None)
        throw quarvo::TypeError(std::string(expected) + ", not " + tname(h));
    nb::object seq = nb::steal(PySequence_Fast(o, expected));
    if (!seq.is_valid()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            throw quarvo::TypeError(std::string(expected) + ", not " + tname(h));
        }
        throw nb::python_error();
    }
    return seq;
}

Contour to_contour(nb::handle h) {
    nb::object seq = as_sequence(h, "a contour must be a sequence of points");
    Contour c;
    c.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.ptr())));
    // Size and entry are read afresh each step and the entry is held while it
    // is converted: converting runs caller code that may change the list.
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i) {
        nb::object item = nb::borrow(PySequence_Fast_GET_ITEM(seq.ptr(), i));
        c.push_back(to_point(item));
    }
    return c;
}

std::vector<Contour> to_contours(nb::handle h) {
    std::vector<Contour> out;
    if (h.is_none()) return out;
    nb::object seq = as_sequence(h, "expected a sequence of contours");
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i) {
        nb::object item = nb::borrow(PySequence_Fast_GET_ITEM(seq.ptr(), i));
        out.push_back(to_contour(item));
    }
    return out;
}

nb::object point_to_py(Pt p) {
    PyObject* t = PyTuple_New(2);
    if (!t) throw nb::python_error();
    PyTuple_SET_ITEM(t, 0, PyFloat_FromDouble(p.x));
    PyTuple_SET_ITEM(t, 1, PyFloat_FromDouble(p.y));
    return nb::steal(t);
}

nb::object contour_to_py(const Contour& c) {
    PyObject* l = PyList_New(static_cast<Py_ssize_t>(c.size()));
    if (!l) throw nb::python_error();
    nb::object list = nb::steal(l);
    for (std::size_t i = 0; i < c.size(); ++i) PyList_SET_ITEM(l, static_cast<Py_ssize_t>(i), point_to_py(c[i]).release().ptr());
    return list;
}

nb::object contours_to_py(const std::vector<Contour>& cs) {
    nb::list out;
    for (const Contour& c : cs) out.append(contour_to_py(c));
    return out;
}

nb::object bbox_to_py(const quarvo::BBox& b) { return nb::make_tuple(b.minx, b.miny, b.maxx, b.maxy); }

PyHost& host_of(quarvo::Shape& s) {
    if (!s.host) s.host = std::make_unique<PyHost>();
    return static_cast<PyHost&>(*s.host);
}

nb::object host_copy(nb::object& slot, std::uint64_t& slot_gen, const Contour& c, std::uint64_t gen) {
    if (!slot.is_valid() || slot_gen != gen) {
        slot = contour_to_py(c);
        slot_gen = gen;
    }
    return slot;
}

nb::object polygon_world(quarvo::Polygon& p) {
    const Contour& c = p.transformed();
    PyHost& h = host_of(p);
    return host_copy(h.transformed, h.transformed_gen, c, p.transformed_gen());
}

std::string shape_label(nb::handle shape_id) {
    PyObject* r = PyObject_Repr(shape_id.ptr());
    if (!r) {
        PyErr_Clear();
        return "<unprintable>";
    }
    nb::object rep = nb::steal(r);
    Py_ssize_t n = 0;
    const char* text = PyUnicode_AsUTF8AndSize(r, &n);
    if (!text) {
        PyErr_Clear();
        return "<unprintable>";
    }
    std::string out(text, static_cast<std::size_t>(n));
    if (out.size() > 60) out = out.substr(0, 57) + "...";
    return out;
}

quarvo::Shape* to_shape(nb::handle h, const char* what) {
    quarvo::Shape* s = nullptr;
    if (!nb::try_cast<quarvo::Shape*>(h, s) || s == nullptr)
        throw quarvo::TypeError(std::string(what) + " must be a Shape (Polygon or Circle), not " + tname(h));
    require_idle(*s);
    return s;
}

}  // namespace qb
