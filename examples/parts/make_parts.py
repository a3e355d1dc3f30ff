"""Writes the example parts of the guides: a bracket with a fillet and bolt
holes, a flange with bolt holes, a plate with a slot (DXF, millimetres).

    python examples/parts/make_parts.py     # rewrites bracket.dxf, flange.dxf, plate.dxf beside it
"""
import math
import os

import ezdxf

HERE = os.path.dirname(os.path.abspath(__file__))


def bracket(msp):
    # an L of 240 x 160, 60 wide, its inner corner rounded by a fillet of radius 20
    r = 20.0
    # the fillet turns clockwise round its centre (80, 80): a negative bulge
    pts = [(0, 0, 0), (240, 0, 0), (240, 60, 0), (60 + r, 60, -math.tan(math.radians(90) / 4)), (60, 60 + r, 0),
           (60, 160, 0), (0, 160, 0)]
    msp.add_lwpolyline(pts, format="xyb", close=True, dxfattribs={"layer": "CUT"})
    for x, y in ((30, 30), (200, 30), (30, 130)):
        msp.add_circle((x, y), 8.5, dxfattribs={"layer": "CUT"})


def flange(msp):
    msp.add_circle((0, 0), 110, dxfattribs={"layer": "CUT"})
    msp.add_circle((0, 0), 55, dxfattribs={"layer": "CUT"})
    for k in range(6):
        a = 2 * math.pi * k / 6
        msp.add_circle((82.5 * math.cos(a), 82.5 * math.sin(a)), 9, dxfattribs={"layer": "CUT"})


def plate(msp):
    msp.add_lwpolyline([(0, 0), (300, 0), (300, 180), (0, 180)], close=True, dxfattribs={"layer": "CUT"})
    # a slot of 120 x 24 with round ends: two lines and two half circles (bulge 1)
    msp.add_lwpolyline([(90, 78, 0), (210, 78, 1), (210, 102, 0), (90, 102, 1)], format="xyb", close=True,
                       dxfattribs={"layer": "CUT"})


def main():
    for name, draw in (("bracket", bracket), ("flange", flange), ("plate", plate)):
        doc = ezdxf.new("R2010", units=ezdxf.units.MM)
        doc.layers.add("CUT")
        draw(doc.modelspace())
        doc.saveas(os.path.join(HERE, f"{name}.dxf"))


if __name__ == "__main__":
    main()
