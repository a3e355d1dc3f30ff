"""The plan a packing run makes of its stock: which bins it uses, what they
cost, how full they are, and how far from the cheapest conceivable plan.

    ff = FirstFit(parts, bins=[Bin(3000, 1500, cost=90), Bin(2000, 1000, count=3, cost=45)], global_distance=8)
    bins, unplaced = ff.do_pack()
    plan = plan_summary(ff, (bins, unplaced))
    print(plan.text())          # per bin its kind, cost, fill and leftover; per kind the bins used; totals
    plan.total_cost, plan.lower_bound

``lower_bound`` is what usable area at least the items' area would cost,
bought at the cheapest cost per usable area first (and so on while a kind's
count runs out), or where every kind has a payload, what payload at least
the items' mass would cost, whichever is more: no plan can cost less. Areas are of material: an item's
outline less its holes, a bin's outline less its holes and defects.
"""
import math
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Tuple

from Quarvo._quarvo import stock as _stock
from Quarvo.first_fit_algorithm import used_length

__all__ = ["BinUse", "PlanSummary", "cost_lower_bound", "material_area", "plan_summary"]


material_area = _stock.material_area


def _cheapest_cover(need: float, kinds: List[Tuple[float, float, Optional[int]]]) -> float:
    """The cost of ``need`` bought from (cost per unit, units per bin, count)
    cheapest per unit first, bins taken in part."""
    total = 0.0
    for per_unit, units, count in sorted(kinds, key=lambda k: k[0]):
        if need <= 0:
            break
        take = min(need, math.inf if count is None else count * units)
        total += take * per_unit
        need -= take
    return total


def cost_lower_bound(items: Sequence[Any], bins: Sequence[Any]) -> float:
    """The least any plan can cost: usable area at least the items' material
    area, bought from the kinds ``bins`` cheapest per usable area first, each
    up to its ``count`` (bins taken in part); where every kind has a
    ``max_load``, payload at least the items' mass bought the same way, and
    the larger of the two. With too little stock for the items, the cost of
    all of it. Strips (no height) are left out."""
    areas, payloads = [], []
    for b in bins:
        if b.height is None:
            continue
        _, usable, cost = _stock.bin_areas(b)
        if usable > 0:
            areas.append((cost / usable, usable, b.count))
        payloads.append(None if b.max_load is None else (cost / b.max_load, b.max_load, b.count))
    by_area = _cheapest_cover(sum(material_area(it) for it in items), areas)
    if not payloads or None in payloads:
        return by_area
    mass = sum(getattr(it, "mass", 0.0) or 0.0 for it in items)
    return max(by_area, _cheapest_cover(mass, [p for p in payloads if p is not None]))


@dataclass
class BinUse:
    """One bin of a plan. ``kind`` is its index in the run's ``bins`` (0 with
    a single ``bin``); ``fill`` the material area of its items over its usable
    area; ``used_length`` the top of its items (largest y) and
    ``leftover_length`` what is left above it (its height less that)."""

    index: int
    kind: int
    cost: float
    items: int
    fill: float
    used_length: float
    leftover_length: float


@dataclass
class PlanSummary:
    bins: List[BinUse]
    # bins used per kind (index in the run's bins), in the order of the kinds
    per_kind: Dict[int, int]
    total_cost: float
    lower_bound: float
    unplaced: int
    kinds: List[Any] = field(default_factory=list)

    @property
    def gap(self) -> Optional[float]:
        """How far the total cost lies above the lower bound, relative to it
        (None when the bound is 0)."""
        return (self.total_cost - self.lower_bound) / self.lower_bound if self.lower_bound > 0 else None

    def text(self) -> str:
        """The plan as lines to print: a row per bin, bins per kind, totals."""
        lines = ["bin  kind  items  cost          fill    used length  leftover"]
        for b in self.bins:
            lines.append(f"{b.index:<4} {b.kind:<5} {b.items:<6} {b.cost:<13.6g} {b.fill:6.1%}  "
                         f"{b.used_length:<12.6g} {b.leftover_length:.6g}")
        for k, n in self.per_kind.items():
            name = _kind_name(self.kinds[k]) if k < len(self.kinds) else f"kind {k}"
            lines.append(f"kind {k} ({name}): {n} bin{'s' if n != 1 else ''}")
        gap = "" if self.gap is None else f", {self.gap:.1%} above it"
        lines.append(f"total cost {self.total_cost:.6g}; lower bound {self.lower_bound:.6g}{gap}; "
                     f"{self.unplaced} unplaced")
        return "\n".join(lines)


def _kind_name(b) -> str:
    size = f"{b.width:g} x {'open' if b.height is None else format(b.height, 'g')}"
    if getattr(b, "outer", None) is not None:
        size += ", outline"
    if getattr(b, "defects", None):
        size += f", {len(b.defects)} defects"
    return size


def plan_summary(ff: Any, layout: Tuple[Sequence[Sequence[Any]], Sequence[Any]]) -> PlanSummary:
    """The plan of ``layout`` (the ``(bins, unplaced)`` that ``ff.do_pack()``
    returned last), read from ``ff.bin_types`` and ``ff.bin_costs``."""
    bins, unplaced = layout
    kinds = list(ff.bins) if ff.bins is not None else [ff.bin]
    types, costs = list(ff.bin_types), list(ff.bin_costs)
    if len(types) != len(bins):
        raise ValueError(f"the layout has {len(bins)} bins, the run's last do_pack {len(types)}: "
                         "give the layout that do_pack returned last")
    rows = []
    per_kind = {k: 0 for k in range(len(kinds))}
    for i, (items, kind, cost) in enumerate(zip(bins, types, costs)):
        b = kinds[kind]
        usable = _stock.bin_areas(b)[1] if b.height is not None else b.width * used_length(items)
        top = used_length(items)
        height = b.height if b.height is not None else top
        rows.append(BinUse(i, kind, cost, len(items),
                           sum(material_area(it) for it in items) / usable if usable > 0 else 0.0, top, height - top))
        per_kind[kind] += 1
    per_kind = {k: n for k, n in per_kind.items() if n}
    everything = [it for items in bins for it in items] + list(unplaced)
    return PlanSummary(rows, per_kind, sum(costs), cost_lower_bound(everything, kinds), len(unplaced), kinds)
