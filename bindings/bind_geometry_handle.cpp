// Quarvo.geometry_handle: the geometry kernel.
#include <nanobind/nanobind.h>

#include "bindings.hpp"
#include "convert.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/kernel.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {
// One fixed tuple of the caller's entries: the index found must refer to the
// same entries that were read (an iterator is consumed by the first pass).
nb::object snapshot(nb::handle seq) {
    PyObject* o = seq.ptr();
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None) to_contour(seq);  // raises TypeError
    PyObject* t = PySequence_Tuple(o);
    if (!t) throw nb::python_error();
    return nb::steal(t);
}
}  // namespace

void bind_geometry_handle(nb::module_& m) {
    m.attr("EXTREMA_TOL") = q::EXTREMA_TOL;
    m.def("vadd", [](nb::handle a, nb::handle b) { return point_to_py(q::vadd(to_point(a), to_point(b))); }, "a"_a, "b"_a);
    m.def("vsub", [](nb::handle a, nb::handle b) { return point_to_py(q::vsub(to_point(a), to_point(b))); }, "a"_a, "b"_a);
    m.def("cross", [](nb::handle a, nb::handle b) { return q::cross(to_point(a), to_point(b)); }, "a"_a, "b"_a);
    m.def("polygon_area", [](nb::handle pts) { return q::polygon_area(to_contour(pts)); }, "pts"_a);
    m.def("ensure_winding", [](nb::handle pts, nb::handle clockwise) {
        int cw = PyObject_IsTrue(clockwise.ptr());
        if (cw < 0) throw nb::python_error();
        return contour_to_py(q::ensure_winding(to_contour(pts), cw == 1));
    }, "pts"_a, "clockwise"_a);
    m.def("polygon_bbox", [](nb::handle pts) { return bbox_to_py(q::polygon_bbox(to_contour(pts))); }, "pts"_a);
    m.def("polygon_centroid", [](nb::handle pts) { return point_to_py(q::polygon_centroid(to_contour(pts))); }, "pts"_a);
    m.def("is_convex", [](nb::handle poly) { return q::is_convex(to_contour(poly)); }, "poly"_a);
    m.def("circle_to_polygon", [](nb::handle center, nb::handle radius, long long n) {
        return contour_to_py(q::circle_to_polygon(to_point(center), to_double(radius, "radius"), n));
    }, "center"_a, "radius"_a, "n"_a = 64);
    m.def("top_right", [](nb::handle pts) {
        nb::object t = snapshot(pts);
        return nb::borrow(PyTuple_GET_ITEM(t.ptr(), static_cast<Py_ssize_t>(q::top_right_index(to_contour(t)))));
    }, "pts"_a);
    m.def("bottom_left", [](nb::handle pts) {
        nb::object t = snapshot(pts);
        return nb::borrow(PyTuple_GET_ITEM(t.ptr(), static_cast<Py_ssize_t>(q::bottom_left_index(to_contour(t)))));
    }, "pts"_a);
    m.def("_line_intersection", [](nb::handle p1, nb::handle p2, nb::handle p3, nb::handle p4) -> nb::object {
        q::Pt a = to_point(p1), b = to_point(p2), c = to_point(p3), d = to_point(p4);
        double det = (a.x - b.x) * (c.y - d.y) - (a.y - b.y) * (c.x - d.x);
        if (std::fabs(det) < 1e-12) return nb::borrow(p2);  // parallel: the second point itself
        return point_to_py(q::line_intersection(a, b, c, d));
    }, "p1"_a, "p2"_a, "p3"_a, "p4"_a);
    m.def("offset_convex", [](nb::handle poly, nb::handle dist) {
        return contour_to_py(q::offset_convex(to_contour(poly), to_double(dist, "dist_")));
    }, "poly"_a, "dist_"_a);
    m.def("segments_intersect", [](nb::handle a, nb::handle b, nb::handle c, nb::handle d) {
        return q::segments_intersect(to_point(a), to_point(b), to_point(c), to_point(d));
    }, "a"_a, "b"_a, "c"_a, "d"_a);
    m.def("sat_intersects", [](nb::handle a, nb::handle b) { return q::sat_intersects(to_contour(a), to_contour(b)); }, "a"_a, "b"_a);
    m.def("point_in_polygon", [](nb::handle pt, nb::handle poly) { return q::point_in_polygon(to_point(pt), to_contour(poly)); }, "pt"_a, "poly"_a);
    m.def("point_in_convex_polygon", [](nb::handle pt, nb::handle poly) {
        return q::point_in_convex_polygon(to_point(pt), to_contour(poly));
    }, "pt"_a, "poly"_a);
    m.def("_hypot", [](double x, double y) { return q::hypot_cr(x, y); }, "x"_a, "y"_a);
    m.def("_round6", [](double v) { return q::round6(v); }, "v"_a);
}

}  // namespace qb
