"""Quarvo: two-dimensional packing of circles and polygons into rectangular bins.

Build items (``Polygon``, ``Circle``), a ``Bin``, and pack them with
``FirstFit(items, bin, global_distance).do_pack()``; ``plot_layout`` draws the
result. The engine is C++; every name here is a thin front of it.
"""
from Quarvo.geometry import Bin, Circle, Polygon, Shape
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
