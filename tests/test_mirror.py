"""Mirrored parts: ``mirror=True`` lets the NFP placers (and the driver and its
search) place each polygon mirrored about its local y axis, then rotated; the
layout records it in ``item.mirrored``.

World outlines are recomputed here from the stored contour (x -> -x, rotate,
move) and compared with the engine's; soundness is judged by
tests/geometry_check.py."""
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_check as gc
from Quarvo import Bin, Circle, FirstFit, NfpPlacer, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout

# four 10 x 10 cells; its mirror image is a Z
S = [(0, 0), (20, 0), (20, 10), (30, 10), (30, 20), (10, 20), (10, 10), (0, 10)]
L = [(0, 0), (16, 0), (16, 4), (4, 4), (4, 10), (0, 10)]
FLAG = [(0, 0), (3, 0), (3, 8), (12, 11), (3, 14), (0, 14)]


def square(s, x=0.0, y=0.0):
    return Polygon([(x, y), (x + s, y), (x + s, y + s), (x, y + s)])


def mirror_image(item, ring=None):
    """The item's world outline (or a ring of it) from its stored contour: x -> -x, rotated, moved."""
    assert item.mirrored
    world = gc.pose_of(item)
    return [world(p) for p in (item.outer if ring is None else ring)]


def same_points(a, b, tol=1e-9):
    a, b = gc.distinct(a), gc.distinct(b)
    return len(a) == len(b) and all(min(math.dist(p, q) for q in b) <= tol for p in a)


def z_room(mirror, **kw):
    """A 31 x 21 bin whose corner squares leave room for a Z, and an S offered to it."""
    p = NfpPlacer(31, 21, rotations=[0.0], nonconvex=True, mirror=mirror, **kw)
    a, b = square(10), square(10)
    b.set_position(21, 11)
    p.packed.extend([a, b])
    s = Polygon(S, shape_id="S")
    return p, s, p.trypack(s)


def test_the_z_room_takes_the_s_only_mirrored():
    _, s, ok = z_room(False)
    assert not ok and not s.mirrored
    p, s, ok = z_room(True)
    assert ok and s.mirrored
    assert same_points(s.transformed(), mirror_image(s))
    assert check_layout(p, 31, 21).ok
    # the checker sees the mirror image: unmirrored, the S would overlap both squares
    s.mirrored = False
    s.translate(-30, 0)
    assert check_layout(p, 31, 21).count("overlap") == 2


def test_mirrored_world_geometry_and_winding():
    p = Polygon(L, holes=[[(1, 1), (2, 1), (2, 2), (1, 2)]])
    p.rotation, p.mirrored = 0.7, True
    p.set_position(5, -3)
    assert same_points(p.transformed(), mirror_image(p))
    assert gc.signed_area(gc.distinct(p.transformed())) < 0  # clockwise
    (hole,) = p.transformed_holes()
    assert gc.signed_area(gc.distinct(hole)) > 0  # counter-clockwise
    assert same_points(hole, mirror_image(p, [(1, 1), (2, 1), (2, 2), (1, 2)]))
    assert p.outer[1] == (0.0, 10.0) or (16.0, 0.0) in p.outer  # the stored contour stays as given
    assert p.area() == pytest.approx(16 * 4 + 4 * 6)


@pytest.mark.parametrize("value", [1, 0, "yes", None])
def test_mirrored_takes_true_or_false_only(value):
    with pytest.raises(TypeError, match="mirrored"):
        Polygon(L).mirrored = value


@pytest.mark.parametrize("value", [1, "true", None])
def test_mirror_option_takes_true_or_false_only(value):
    with pytest.raises(TypeError, match="mirror"):
        FirstFit([], Bin(10, 10), mirror=value)
    with pytest.raises(TypeError, match="mirror"):
        NfpPlacer(10, 10, mirror=value)


def asymmetric(draw):
    shape = draw(st.sampled_from([S, L, FLAG]))
    k = draw(st.floats(0.4, 1.2))
    return Polygon([(x * k, y * k) for x, y in shape])


@st.composite
def frame(draw):
    """A container: an L-shaped plate with a rectangular hole, room for small parts."""
    w, h, t = draw(st.floats(24, 34)), draw(st.floats(18, 26)), draw(st.floats(2, 4))
    outer = [(0, 0), (w, 0), (w, h), (w / 2, h), (w / 2, h + 8), (0, h + 8)]
    return Polygon(outer, holes=[[(t, t), (w - t, t), (w - t, h - t), (t, h - t)]])


part = st.composite(lambda draw: asymmetric(draw))()
mixed = st.one_of(part, part, st.floats(2, 6).map(Circle), frame())


@settings(max_examples=25, deadline=None)
@given(items=st.lists(mixed, min_size=3, max_size=12), distance=st.sampled_from([0.0, 1.5]),
       rotations=st.sampled_from([None, [0.0], [0.0, math.pi / 2], [0.3, 2.0]]), margin=st.sampled_from([0.0, 4.0]),
       strip=st.booleans(), hole_fill=st.sampled_from(["sampled", "dense"]))
def test_random_mirrored_layouts_are_sound_and_recorded(items, distance, rotations, margin, strip, hole_fill):
    b = Bin(90.0, None if strip else 70.0, margin=margin)
    bins, unplaced = FirstFit(items, b, distance, rotations=rotations, nonconvex=True, mirror=True,
                              hole_fill=hole_fill, threads=1).do_pack()
    report = check_layout((bins, unplaced), b, distance=distance, circle_rel_tol=CIRCLE_REL_TOL)
    assert report.ok, report.summary()
    for placed in bins:
        outlines = [gc.Outline(it) for it in placed]
        for it, o in zip(placed, outlines):
            if isinstance(it, Circle):
                assert not it.mirrored
            elif it.mirrored:
                assert same_points(it.transformed(), mirror_image(it))
            assert gc.edge_gap(o, 90.0, None if strip else 70.0) >= max(margin, distance / 2) - 1e-6
        # the distance kept between the true outlines, mirrored ones included
        for i, a in enumerate(outlines):
            for b in outlines[i + 1:]:
                # a circle packs as the 64-gon inscribed in it grown by half the distance
                short = 1e-6 + CIRCLE_REL_TOL * sum(o.r + distance / 2 for o in (a, b) if o.is_circle)
                assert gc.clear_gap(a, b) >= distance - short, (a.item, b.item)


def layout_of(items):
    return [(it.shape_id, it.tx, it.ty, it.rotation, it.mirrored) for it in items]


def parts():
    return [Polygon(shape, shape_id=f"{name}{i}") for i in range(4) for name, shape in (("S", S), ("L", L))]


def test_mirror_off_is_the_layout_without_the_keyword():
    a, b = parts(), parts()
    bins_a, _ = FirstFit(a, Bin(80, 60), 1.0, nonconvex=True).do_pack()
    bins_b, _ = FirstFit(b, Bin(80, 60), 1.0, nonconvex=True, mirror=False).do_pack()
    assert [layout_of(x) for x in bins_a] == [layout_of(x) for x in bins_b]
    assert not any(it.mirrored for it in a)


def test_search_with_mirror_repeats_itself_and_stays_sound():
    runs = []
    for _ in range(2):
        items = parts()
        bins, unplaced = FirstFit(items, Bin(70, 50), 1.0, nonconvex=True, mirror=True, iterations=60, seed=4,
                                  threads=2).do_pack()
        assert check_layout((bins, unplaced), Bin(70, 50), distance=1.0).ok
        runs.append([layout_of(b) for b in bins])
    assert runs[0] == runs[1]
    assert any(m for b in runs[0] for *_, m in b)


def test_symmetric_parts_are_never_mirrored():
    items = [square(5 + i) for i in range(6)] + [Polygon([(0, 0), (8, 0), (6, 3), (2, 3)]) for _ in range(4)]
    bins, _ = FirstFit(items, Bin(40, 30), 1.0, mirror=True).do_pack()
    assert not any(it.mirrored for b in bins for it in b)


@pytest.mark.parametrize("incremental", [False, True])
def test_threads_give_the_sequential_mirrored_layout(incremental):
    runs = []
    for threads in (1, 2):
        items = [Polygon([(x * (0.5 + 0.1 * (i % 7)), y * (0.5 + 0.1 * (i % 7))) for x, y in (S if i % 2 else L)],
                         shape_id=i) for i in range(16)]
        bins, _ = FirstFit(items, Bin(80, 60, margin=3), 1.0, nonconvex=True, mirror=True, threads=threads,
                           incremental=incremental).do_pack()
        runs.append([layout_of(b) for b in bins])
    assert runs[0] == runs[1]
    assert any(m for b in runs[0] for *_, m in b)
