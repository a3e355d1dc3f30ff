"""Quarvo: two-dimensional packing of circles and polygons into rectangular bins.

Build items (``Polygon``, ``Circle``, ``Pipe``), a ``Bin``, and pack them with
``FirstFit(items, bin, global_distance).do_pack()``; ``plot_layout`` draws the
result. The engine is C++; every name here is a thin front of it.

``Pipe`` is reached from the root as well (``Quarvo.Pipe``) but is not one of
the names ``__all__`` lists: that list is the package's fixed surface.

The subpackages by concern are reached from the root too, each loaded when
first used: ``Quarvo.pipes`` (pipe sizes and carriers), ``Quarvo.cad``
(drawings; the extra ``Quarvo[cad]``), ``Quarvo.check`` (the layout
checker), ``Quarvo.job`` (the job format), ``Quarvo.report``,
``Quarvo.batch``, ``Quarvo.cli``; and ``Quarvo.pack_job(job)`` packs a job
document or file as the command line does (``Quarvo.report.packed``).
"""
from Quarvo.geometry import Bin, Circle, Pipe, Polygon, Shape  # noqa: F401  (Pipe: an attribute beside __all__)
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.placer_nfp import NfpPlacer
from Quarvo.placer_bl import BottomLeftPlacer
from Quarvo.visualize import plot_layout

from Quarvo._version import __version__

_SUBPACKAGES = ("pipes", "cad", "check", "job", "report", "batch", "cli", "files", "pictures")


def __getattr__(name):
    # loaded on first use: `import Quarvo` stays light, and Quarvo.cad needs its extra only when used
    import importlib

    if name in _SUBPACKAGES:
        return importlib.import_module(f"Quarvo.{name}")
    if name == "pack_job":  # a job packed as the command line packs it
        return importlib.import_module("Quarvo.report.packed").pack_job
    raise AttributeError(f"module 'Quarvo' has no attribute {name!r}")
__all__ = [
    "Shape",
    "Polygon",
    "Circle",
    "Bin",
    "FirstFit",
    "NfpPlacer",
    "BottomLeftPlacer",
    "plot_layout",
    "__version__",
]
