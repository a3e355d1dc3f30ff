"""Holes of placed containers: sound rooms, nesting to any depth, dense hole
filling and the exact clearance around circles."""
import pytest

from Quarvo.check import check_layout
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Polygon


def box(x0, y0, x1, y1, clockwise=True):
    pts = [(x0, y0), (x0, y1), (x1, y1), (x1, y0)]
    if not clockwise:
        pts.reverse()
    return pts + [pts[0]]


def test_a_hole_moved_past_its_width_is_no_room():
    plate = Polygon(box(0, 0, 0.496, 0.268), [box(x0, 0.05, x1, 0.2, clockwise=False)
                                              for x0, x1 in ((0.03, 0.13), (0.18, 0.3), (0.35, 0.46))])
    plate.margin, plate.weight = 1.1779390109525296, 88.9
    layout = FirstFit([plate, Circle(0.7536121952887429)], Bin(169.39, 755.72),
                      rotations=[-2.3265911036504043], placement="center").do_pack()
    assert len(layout[0][0]) == 2 and check_layout(layout, Bin(169.39, 755.72)).ok


def ngon(r, n=64, clockwise=True):
    import math
    pts = [(r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)) for k in range(n)]
    if clockwise:
        pts.reverse()
    return pts + [pts[0]]


def pipe(od, wall, weight):
    """A steel pipe's cross-section: a ring of outside diameter od."""
    p = Polygon(ngon(od / 2), [ngon(od / 2 - wall, clockwise=False)])
    p.weight = weight
    return p


@pytest.mark.parametrize("options", [{}, {"hole_fill": "dense", "exact_clearance": True}])
def test_telescoping_pipes_nest_three_deep(options):
    from Quarvo.check import nesting_depths
    rings = [pipe(355.6, 9.5, 81.3), pipe(323.9, 9.5, 73.9), pipe(273.0, 9.3, 60.3)]
    core = Circle(109.55)
    core.weight = 42.5
    bins, unplaced = FirstFit(rings + [core], Bin(360, 360), 2.0, rotations=[0], **options).do_pack()
    assert not unplaced and len(bins) == 1
    assert nesting_depths(bins[0]) == [0, 1, 2, 3]
    assert check_layout((bins, unplaced), Bin(360, 360), distance=2.0,
                        circle_rel_tol=0 if options else 0.0012).ok
