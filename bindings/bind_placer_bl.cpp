// Quarvo.placer_bl: bottom-left placement.
#include <nanobind/nanobind.h>

#include <string>

#include "bindings.hpp"
#include "busy_items.hpp"
#include "convert.hpp"
#include "placers.hpp"
#include "quarvo/errors.hpp"
#include "place/bl/sweep.hpp"
#include "quarvo/placer_bl.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

// Every value other than "left" means down.
q::Direction to_direction(nb::handle d) {
    PyObject* o = d.ptr();
    if (PyUnicode_CheckExact(o)) return PyUnicode_CompareWithASCIIString(o, "left") == 0 ? q::Direction::Left : q::Direction::Down;
    nb::str left("left");
    int r = PyObject_RichCompareBool(o, left.ptr(), Py_EQ);
    if (r < 0) throw nb::python_error();
    return r ? q::Direction::Left : q::Direction::Down;
}

// The two points of a segment, unpacked as `(a, b) = seg` unpacks them.
void to_segment(nb::handle seg, q::Pt& a, q::Pt& b) {
    PyObject* o = seg.ptr();
    nb::object s = nb::steal(PySequence_Fast(o, "cannot unpack segment"));
    if (!s.is_valid()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            throw q::TypeError(std::string("cannot unpack non-iterable ") + Py_TYPE(o)->tp_name + " object");
        }
        throw nb::python_error();
    }
    Py_ssize_t n = PySequence_Fast_GET_SIZE(s.ptr());
    if (n > 2) throw q::ValueError("too many values to unpack (expected 2)");
    if (n < 2) throw q::ValueError("not enough values to unpack (expected 2, got " + std::to_string(n) + ")");
    a = to_point(PySequence_Fast_GET_ITEM(s.ptr(), 0));
    b = to_point(PySequence_Fast_GET_ITEM(s.ptr(), 1));
}

nb::object as_polygon_py(nb::handle shape, bool exact = false) {
    q::Shape* s = to_shape(shape, "shape");
    if (s->is_polygon()) return polygon_world(static_cast<q::Polygon&>(*s));
    if (s->is_circle()) return contour_to_py(q::as_polygon(*s, exact));
    return shape.attr("transformed")();
}

nb::object to_wall_poly_py(nb::handle pts, nb::handle direction) {
    // Read once: the contour may be a one-shot iterable.
    q::Contour c = to_contour(pts);
    nb::object seq = nb::steal(PySequence_Fast(pts.ptr(), "a contour must be a sequence of points"));
    if (!seq.is_valid()) throw nb::python_error();
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.ptr())) != c.size()) {
        seq = nb::steal(PyList_New(0));
        for (const q::Pt& p : c) PyList_Append(seq.ptr(), point_to_py(p).ptr());
    }
    q::Direction dir = to_direction(direction);
    std::vector<q::SweepEntry> e = q::to_wall_poly_entries(c, dir);
    // The contour's own point objects are passed through; a wall point keeps
    // the coordinate object of the vertex it is level with.
    nb::list out;
    for (const q::SweepEntry& s : e) {
        nb::handle p = PySequence_Fast_GET_ITEM(seq.ptr(), static_cast<Py_ssize_t>(s.index));
        if (s.kind == q::SweepEntry::Vertex) {
            out.append(p);
            continue;
        }
        nb::object coord = nb::steal(PySequence_GetItem(p.ptr(), dir == q::Direction::Left ? 1 : 0));
        if (!coord.is_valid()) throw nb::python_error();
        nb::object zero = nb::float_(0.0);
        out.append(dir == q::Direction::Left ? nb::make_tuple(zero, coord) : nb::make_tuple(coord, zero));
    }
    return out;
}

// The placer as the host sees it: the engine plus the host list of the
// caller's own item objects, which also keeps those items alive.
struct PyBL {
    q::BottomLeftPlacer eng;
    nb::list packed;
    nb::object bin_w, bin_h, epsilon;  // stored as given
    bool busy = false;  // a trypack is running (without the GIL)
};

// The slide runs without the GIL, as NfpPlacer's search does.
bool bl_trypack(PyBL& s, nb::handle item) {
    q::Shape* it = to_shape(item);
    // A second call on this placer from another thread would change its item list under it.
    if (s.busy) throw std::runtime_error("this placer is already packing in another thread");
    sync_packed(s.packed, s.eng.packed);
    // Our own references keep the placed items alive meanwhile, whatever
    // another thread does to the `packed` list.
    nb::object hold = nb::steal(PySequence_Tuple(s.packed.ptr()));
    if (!hold.is_valid()) throw nb::python_error();
    BusyItems items;
    items.add(*it, "item");
    for (std::size_t k = 0; k < s.eng.packed.size(); ++k) items.add(*s.eng.packed[k], "placed item " + std::to_string(k));
    bool ok;
    {
        s.busy = true;
        struct Clear {
            bool& b;
            ~Clear() { b = false; }
        } clear{s.busy};
        nb::gil_scoped_release release;
        ok = s.eng.trypack(*it);
    }
    if (ok) s.packed.append(item);
    return ok;
}

int pybl_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (!nb::inst_ready(self)) return 0;
    PyBL* w = nb::inst_ptr<PyBL>(self);
    Py_VISIT(w->packed.ptr());
    Py_VISIT(w->bin_w.ptr());
    Py_VISIT(w->bin_h.ptr());
    Py_VISIT(w->epsilon.ptr());
    return 0;
}

int pybl_clear(PyObject* self) {
    PyBL* w = nb::inst_ptr<PyBL>(self);
    w->eng.packed.clear();
    w->packed = nb::list();
    w->bin_w = nb::float_(w->eng.bin_w);
    w->bin_h = nb::float_(w->eng.bin_h);
    w->epsilon = nb::float_(w->eng.epsilon);
    return 0;
}

PyType_Slot pybl_slots[] = {
    {Py_tp_traverse, reinterpret_cast<void*>(pybl_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(pybl_clear)},
    {0, nullptr},
};

}  // namespace

void bind_placer_bl(nb::module_& m) {
    m.attr("EPS") = q::kBottomLeftClearance;
    m.attr("MIN_PROGRESS") = q::MIN_PROGRESS;

    m.def("_as_polygon", &as_polygon_py, "shape"_a, "exact"_a = false,
          "World contour of an item; a circle as its clockwise 64-gon, inscribed or (exact) circumscribed.");
    m.def("_to_wall_poly", &to_wall_poly_py, "pts"_a, "direction"_a.none(),
          "Sweep polygon of a closed clockwise contour toward the wall (\"left\") or the floor (any other direction).");
    m.def("_horizontal_distance", [](nb::handle v, nb::handle seg) {
        q::Pt a, b;
        q::Pt p = to_point(v);
        to_segment(seg, a, b);
        return q::horizontal_distance(p, a, b);
    }, "v"_a, "seg"_a, "Distance from v to the segment along -x; inf when the segment does not span v.");
    m.def("_vertical_distance", [](nb::handle v, nb::handle seg) {
        q::Pt a, b;
        q::Pt p = to_point(v);
        to_segment(seg, a, b);
        return q::vertical_distance(p, a, b);
    }, "v"_a, "seg"_a, "Distance from v to the segment along -y; inf when the segment does not span v.");
    m.def("_available_space", [](nb::handle item_poly, nb::handle packed_polys, nb::handle direction) {
        q::Contour item = to_contour(item_poly);
        if (packed_polys.is_none()) throw q::TypeError("'NoneType' object is not iterable");
        std::vector<q::Contour> packed = to_contours(packed_polys);
        return q::available_space(item, packed, to_direction(direction));
    }, "item_poly"_a, "packed_polys"_a, "direction"_a.none(),
          "Free distance of the item toward the wall (\"left\") or the floor among the placed contours.");
    m.def("polys_intersect", [](nb::handle a, nb::handle b) {
        return q::polys_intersect(to_contour(a), to_contour(b));
    }, "a"_a, "b"_a, "Whether two closed contours share a point, touching included; any contours.");

    nb::class_<PyBL>(m, "BottomLeftPlacer", nb::type_slots(pybl_slots),
                     "One bin filled by sliding each item down and left from above the bin's top-right corner.")
        .def("__init__", [](PyBL* self, nb::handle bin_w, nb::handle bin_h, nb::handle epsilon, bool exact_clearance,
                            nb::handle margin) {
            const double w = to_double(bin_w, "bin_w"), h = to_double(bin_h, "bin_h");
            const double e = to_double(epsilon, "epsilon");
            const double m = margin_value(margin);
            new (self) PyBL{q::BottomLeftPlacer(w, h, e), nb::list(), nb::borrow(bin_w), nb::borrow(bin_h),
                            nb::borrow(epsilon)};
            self->eng.exact_clearance = exact_clearance;
            self->eng.margin = m;
        }, "bin_w"_a, "bin_h"_a, "epsilon"_a = q::kBottomLeftClearance, "exact_clearance"_a = false, "margin"_a = 0.0)
        .def_prop_rw("exact_clearance", [](PyBL& s) { return s.eng.exact_clearance; },
                     [](PyBL& s, bool v) { s.eng.exact_clearance = v; })
        .def_prop_rw("margin", [](PyBL& s) { return s.eng.margin; },
                     [](PyBL& s, nb::handle v) { s.eng.margin = margin_value(v); },
                     "The bin's edge margin: every item's outline keeps at least this much from the bin's edges.")
        .def_prop_rw("bin_w", [](PyBL& s) { return s.bin_w; }, [](PyBL& s, nb::handle v) {
            s.eng.bin_w = to_double(v, "bin_w");
            s.bin_w = nb::borrow(v);
        })
        .def_prop_rw("bin_h", [](PyBL& s) { return s.bin_h; }, [](PyBL& s, nb::handle v) {
            s.eng.bin_h = to_double(v, "bin_h");
            s.bin_h = nb::borrow(v);
        })
        .def_prop_rw("epsilon", [](PyBL& s) { return s.epsilon; }, [](PyBL& s, nb::handle v) {
            s.eng.epsilon = to_double(v, "epsilon");
            s.epsilon = nb::borrow(v);
        })
        .def_prop_rw("packed", [](PyBL& s) { return s.packed; }, [](PyBL& s, nb::handle v) {
            if (!PyList_Check(v.ptr()))
                throw q::TypeError(std::string("packed must be a list, not ") + Py_TYPE(v.ptr())->tp_name);
            s.packed = nb::borrow<nb::list>(v);
        })
        .def("trypack", &bl_trypack, "item"_a, "Place the item in this bin if it fits; True after appending it to packed.")
        .def("_set_initial_position", [](PyBL& s, nb::handle item) { s.eng.set_initial_position(*to_shape(item)); },
             "item"_a)
        .def("_packed_polys", [](PyBL& s) {
            sync_packed(s.packed, s.eng.packed);
            nb::list out;
            // A snapshot: a host-side transformed() could change the list.
            nb::tuple items = nb::steal<nb::tuple>(PyList_AsTuple(s.packed.ptr()));
            for (nb::handle it : items) out.append(as_polygon_py(it, s.eng.exact_clearance));
            return out;
        });
}

}  // namespace qb
