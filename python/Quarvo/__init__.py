"""Quarvo: two-dimensional packing of circles and polygons into rectangular bins.

Build items (``Polygon``, ``Circle``, ``Pipe``), a ``Bin``, and pack them with
``FirstFit(items, bin, global_distance).do_pack()``; ``plot_layout`` draws the
result. The engine is C++; every name here is a thin front of it.

``Pipe`` is reached from the root as well (``Quarvo.Pipe``) but is not one of
the names ``__all__`` lists: that list is the package's fixed surface.
"""
from Quarvo.geometry import Bin, Circle, Pipe, Polygon, Shape  # noqa: F401  (Pipe: an attribute beside __all__)
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.placer_nfp import NfpPlacer
from Quarvo.placer_bl import BottomLeftPlacer
from Quarvo.visualize import plot_layout

__version__ = "0.1.1"
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
