// Cyclic garbage collection for wrapped objects that hold Python objects in
// C++ members: the collector must see those references (tp_traverse) and be
// able to break a cycle through them (tp_clear), or such a cycle outlives
// the interpreter. A type T provides gc_visit(T&, visitproc, void*) and
// gc_clear(T&); the instance dictionary of nb::dynamic_attr types is visited here.
#pragma once
#include <nanobind/nanobind.h>

namespace quarvo {
class Shape;
}

namespace qb {

namespace nb = nanobind;

// An item's host data: its shape_id and the host copies of its contours.
int gc_visit(quarvo::Shape& s, visitproc visit, void* arg);
void gc_clear(quarvo::Shape& s);

template <class T>
int gc_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (PyObject** dict = _PyObject_GetDictPtr(self)) Py_VISIT(*dict);
    if (!nb::inst_ready(self)) return 0;
    return gc_visit(*nb::inst_ptr<T>(self), visit, arg);
}

template <class T>
int gc_clear_slot(PyObject* self) {
    if (PyObject** dict = _PyObject_GetDictPtr(self)) Py_CLEAR(*dict);
    if (nb::inst_ready(self)) gc_clear(*nb::inst_ptr<T>(self));
    return 0;
}

template <class T>
PyType_Slot gc_slots[] = {
    {Py_tp_traverse, reinterpret_cast<void*>(gc_traverse<T>)},
    {Py_tp_clear, reinterpret_cast<void*>(gc_clear_slot<T>)},
    {0, nullptr},
};

// Visits an object member (null is skipped).
inline int gc_visit_object(const nb::object& o, visitproc visit, void* arg) {
    Py_VISIT(o.ptr());
    return 0;
}

}  // namespace qb
