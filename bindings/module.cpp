// The one compiled extension of the package; each submodule backs one module
// of Quarvo.
#include <nanobind/nanobind.h>

#include <chrono>
#include <cmath>

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

namespace {
using Clock = std::chrono::steady_clock;
// A deadline of the calling thread (a job of a batch): when it passes, the
// computation stops as on Ctrl-C, with TimeoutError. Threads other than the
// main one see no signals, so a batch on Dask needs this to stop a job.
thread_local bool t_has_deadline = false;
thread_local Clock::time_point t_deadline;
}  // namespace

// Ctrl-C (and the calling thread's deadline) reach a running computation
// through this hook, called without the GIL.
bool python_cancel_hook() {
    if (t_has_deadline && Clock::now() >= t_deadline) {
        nb::gil_scoped_acquire gil;
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TimeoutError, "the run passed its deadline");
        return true;
    }
    nb::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
}

// Sets (seconds from now) or clears (None) the calling thread's deadline.
void set_deadline(nb::handle seconds) {
    if (seconds.is_none()) {
        t_has_deadline = false;
        return;
    }
    double s = nb::cast<double>(seconds);
    if (!(s >= 0.0) || !std::isfinite(s)) throw nb::value_error("deadline: seconds must be a finite number >= 0");
    t_has_deadline = true;
    t_deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace qb

namespace nb = nanobind;

NB_MODULE(_quarvo, m) {
    qb::register_errors();
    quarvo::set_cancel_hook(&qb::python_cancel_hook);
    m.def("_set_deadline", &qb::set_deadline, nb::arg("seconds").none(),
          "Stop any computation of the calling thread after this many seconds (TimeoutError), or never (None).");
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
