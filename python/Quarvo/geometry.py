"""Shape model: the packable items (Polygon, Circle, Pipe) and the bin record."""
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

from Quarvo._quarvo import geometry as _g
from Quarvo._quarvo import stock as _stock
from Quarvo.geometry_handle import (  # noqa: F401  (names this module passes on)
    Point,
    ensure_winding,
    offset_convex,
    polygon_area,
    polygon_bbox,
    top_right,
)

Shape = _g.Shape
Polygon = _g.Polygon
Circle = _g.Circle
Pipe = _g.Pipe

for _cls in (Shape, Polygon, Circle, Pipe):
    _cls.__module__ = __name__


@dataclass(frozen=True)
class Support:
    """A point a bin's load bears on: ``name`` (as messages name it), ``at``
    metres from the front of the bin's length, at most ``max_load`` kg of the
    load on it (a semi-trailer's kingpin and axle group)."""

    name: str
    at: float
    max_load: float


@dataclass(repr=False)
class Bin:
    """Size of every bin of a packing run; values are stored unchanged.

    A height of None makes a strip: one bin of that width whose height is
    open (``FirstFit`` then returns one bin; its used length is
    ``Quarvo.first_fit_algorithm.used_length``).

    ``margin`` is the edge margin: every item's outline keeps at least that
    much from the bin's edges (a strip's sides and floor), whatever the
    distance between items. The gap at an edge is the larger of the margin
    and the item's own spacing (half the distance plus its ``inflation`` and
    ``margin``), so the default 0 leaves half the distance, as without it.

    ``max_load`` (kg, keyword only): ``FirstFit`` puts no more of the items'
    ``mass`` into one bin. ``length`` (mm, keyword only): no pipe longer than
    this (a pipe's length is in m) goes into the bin. None: no limit.

    A kind of bin among several (``FirstFit(items, bins=[...])``), keyword
    only: ``count`` is how many such bins there are (None: any number) and
    ``cost`` what one costs (None: its area, ``self.area``, so that fewer and
    smaller bins win).

    A bin of any outline (a remnant, a hide), keyword only, in the bin's own
    frame, every point within [0, width] x [0, height]: ``outer`` the
    outline (None: the rectangle), ``holes`` its cut-outs, ``defects`` areas
    of its material no item may overlap (they may cross the outline and each
    other), each a list of ``(x, y)``. Items lie inside the outline, outside
    its holes and clear of its defects, keeping ``margin`` from all of them as
    from a rectangle's edges; their places are in the same frame.
    ``Bin.polygon`` builds one from contours in any frame and keeps the shift
    in ``origin`` (a place (x, y) in the bin is (x + origin[0], y + origin[1])
    where the contours were given).

    ``supports`` (keyword only): none, or two ``Support`` records the load
    bears on; ``FirstFit(..., rows=True)`` keeps each within its limit.
    """

    width: float
    height: Optional[float]
    # keyword only: Bin(width, height) keeps its two positional fields
    margin: float = field(default=0.0, kw_only=True)
    max_load: Optional[float] = field(default=None, kw_only=True)
    length: Optional[float] = field(default=None, kw_only=True)
    supports: tuple = field(default=(), kw_only=True)
    count: Optional[int] = field(default=None, kw_only=True)
    cost: Optional[float] = field(default=None, kw_only=True)
    outer: Optional[List[Tuple[float, float]]] = field(default=None, kw_only=True)
    holes: List[List[Tuple[float, float]]] = field(default_factory=list, kw_only=True)
    defects: List[List[Tuple[float, float]]] = field(default_factory=list, kw_only=True)
    origin: Tuple[float, float] = field(default=(0.0, 0.0), kw_only=True)

    @classmethod
    def polygon(cls, outer, holes=(), defects=(), *, margin=0.0, max_load=None, length=None, count=None,
                cost=None) -> "Bin":
        """A bin whose outline is ``outer`` (a list of ``(x, y)``, any winding)
        with cut-outs ``holes`` and flaws ``defects``, given in any frame: the
        contours are moved so that the outline's box has its lower-left corner
        at the origin (the shift kept in ``origin``), and the bin's width and
        height are that box's."""
        def points(ring, what):
            try:
                return [(float(x), float(y)) for x, y in ring]
            except (TypeError, ValueError):
                raise TypeError(f"{what} must be a sequence of (x, y) pairs of numbers") from None

        ring = points(outer, "outer")
        if not ring:
            raise ValueError("outer has no points")
        x0, y0 = min(x for x, _ in ring), min(y for _, y in ring)
        x1, y1 = max(x for x, _ in ring), max(y for _, y in ring)

        def moved(r, what):
            return [(x - x0, y - y0) for x, y in points(r, what)]

        return cls(x1 - x0, y1 - y0, margin=margin, max_load=max_load, length=length, count=count, cost=cost,
                   outer=moved(ring, "outer"), holes=[moved(h, "a hole") for h in holes],
                   defects=[moved(d, "a defect") for d in defects], origin=(x0, y0))

    @property
    def area(self) -> float:
        """The outline's area less its holes' (width x height for a rectangle)."""
        return _stock.bin_areas(self)[0]

    @property
    def usable_area(self) -> float:
        """The area less the defects: what items can use."""
        return _stock.bin_areas(self)[1]

    @property
    def unit_cost(self) -> float:
        """What one such bin costs: ``cost``, or its area when that is None."""
        return _stock.bin_areas(self)[2]

    def __repr__(self):
        # the printed form names the new fields only when they are set
        fields = [f"width={self.width!r}", f"height={self.height!r}"]
        if self.margin != 0.0:
            fields.append(f"margin={self.margin!r}")
        fields += [f"{name}={value!r}" for name, value in (("max_load", self.max_load), ("length", self.length),
                                                            ("count", self.count), ("cost", self.cost))
                   if value is not None]
        if self.outer is not None:
            fields.append(f"outer=<{len(self.outer)} points>")
        fields += [f"{name}=<{len(rings)} contours>" for name, rings in (("holes", self.holes),
                                                                          ("defects", self.defects)) if rings]
        if tuple(self.origin) != (0.0, 0.0):
            fields.append(f"origin={tuple(self.origin)!r}")
        if self.supports:
            fields.append(f"supports={self.supports!r}")
        return f"Bin({', '.join(fields)})"
