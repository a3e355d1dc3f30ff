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
