"""Quarvo: two-dimensional packing of circles and polygons into rectangular bins."""
from Quarvo.geometry import Bin, Circle, Polygon, Shape

__version__ = "0.1.1"
__all__ = ["Shape", "Polygon", "Circle", "Bin", "__version__"]
