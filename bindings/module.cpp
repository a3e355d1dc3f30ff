// The one compiled extension of the package; each submodule backs one module
// of Quarvo.
#include <nanobind/nanobind.h>

#include "bindings.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

namespace qb {

void register_errors() {
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const quarvo::TypeError& e) {
            PyErr_SetString(PyExc_TypeError, e.what());
        } catch (const quarvo::ValueError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const quarvo::NotImplementedError&) {
            PyErr_SetNone(PyExc_NotImplementedError);
        } catch (const quarvo::IndexError& e) {
            PyErr_SetString(PyExc_IndexError, e.what());
        } catch (const quarvo::ZeroDivisionError& e) {
            PyErr_SetString(PyExc_ZeroDivisionError, e.what());
        } catch (const quarvo::OverflowError& e) {
            PyErr_SetString(PyExc_OverflowError, e.what());
        } catch (const quarvo::Interrupted&) {
            if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        }
    });
}

// Ctrl-C reaches a running computation through this hook, called without the GIL.
bool python_cancel_hook() {
    nb::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
}

}  // namespace qb

namespace nb = nanobind;

NB_MODULE(_quarvo, m) {
    qb::register_errors();
    quarvo::set_cancel_hook(&qb::python_cancel_hook);
    nb::module_ gh = m.def_submodule("geometry_handle", "Geometry kernel");
    qb::bind_geometry_handle(gh);
    nb::module_ g = m.def_submodule("geometry", "Shape model");
    qb::bind_geometry(g);
    nb::module_ bl = m.def_submodule("placer_bl", "Bottom-left placement");
    qb::bind_placer_bl(bl);
    nb::module_ nfp = m.def_submodule("placer_nfp", "NFP placement");
    qb::bind_placer_nfp(nfp);
    nb::module_ ff = m.def_submodule("first_fit_algorithm", "First-fit driver");
    qb::bind_first_fit(ff);
    nb::module_ chk = m.def_submodule("check", "Layout checker");
    qb::bind_check(chk);
    nb::module_ st = m.def_submodule("stock", "Kinds of bin: areas and costs");
    qb::bind_stock(st);
}
