"""The pipe size catalogue and the carriers: the tables checked against the standards' own
relations, the spellings a planner types, and the refusals that name the nearest entries."""
import csv
import math
from decimal import ROUND_HALF_EVEN, ROUND_HALF_UP, Decimal
from fractions import Fraction
from importlib import resources

import pytest
from hypothesis import given, strategies as st

import Quarvo
from Quarvo import pipes
from Quarvo.pipes import sizes
from Quarvo.pipes import API, ASME

CATALOGUE = pipes.catalogue()
LB_FT_PER_KG_M = 1 / 1.488164  # 1 lb/ft = 1.488164 kg/m


def raw_rows(name):
    text = resources.files("Quarvo.pipes").joinpath("data", name).read_text(encoding="utf-8")
    return list(csv.DictReader(line for line in text.splitlines() if not line.startswith("#")))


def by_size(standard):
    sizes = {}
    for e in CATALOGUE:
        if e.standard == standard:
            sizes.setdefault(e.size, []).append(e)
    return sizes


def nps_value(size):
    return Fraction(sum(Fraction(p) for p in size.split()[1].split("-")))


ASME_SIZES = by_size(ASME)
API_SIZES = by_size(API)


# ---------------------------------------------------------------- the tables


def test_every_nps_from_1_8_to_48_is_listed_with_its_dn():
    expected = ["1/8", "1/4", "3/8", "1/2", "3/4", "1", "1-1/4", "1-1/2", "2", "2-1/2", "3", "3-1/2", "4",
                "5", "6", "8"] + [str(n) for n in range(10, 50, 2)]
    assert list(ASME_SIZES) == ["NPS " + s for s in expected]
    small_dn = [6, 8, 10, 15, 20, 25, 32, 40, 50, 65, 80, 90]
    for size, entries in ASME_SIZES.items():
        dn = small_dn.pop(0) if small_dn else int(25 * nps_value(size))
        assert {e.dn for e in entries} == {dn}, size


@pytest.mark.parametrize("entry", CATALOGUE, ids=lambda e: f"{e.size} {e.schedule}")
def test_mass_is_the_steel_ring_per_metre(entry):
    ring = 7850.0 * math.pi / 4 * (entry.od ** 2 - (entry.od - 2 * entry.wall) ** 2) * 1e-6
    # The standards' factor 0.0246615 is 7850 x pi / 1e6 to 1e-7 relative; the mass is printed to 0.01.
    assert abs(entry.mass - ring) <= 0.005 + 1e-6 * ring
    # a pipe of the entry weighs its plain-end mass, by the metre and by the piece
    assert Quarvo.Pipe(entry.od, entry.wall, length=1.0).mass == pytest.approx(entry.mass, abs=0.005 + 1e-6 * entry.mass)
    assert pipes.standard(entry.size, entry.schedule, length=12.0).mass == pytest.approx(12 * entry.mass, abs=0.07)
    assert 0 < entry.wall < entry.od / 2


def test_metric_values_are_the_inch_values_converted():
    # Both columns are typed from their own table: a slip in either shows here.
    for r in raw_rows(sizes.ASME_FILE):
        wall = (Decimal(r["wall_in"]) * Decimal("25.4")).quantize(Decimal("0.01"), ROUND_HALF_UP)
        if (r["nps"], r["weight_class"]) != ("1-1/2", "XXS"):  # printed 10.15, not 10.16
            assert Decimal(r["wall_mm"]) == wall, r
        od = Decimal(r["od_in"]) * Decimal("25.4")
        # Up to NPS 16 to 0.1 mm, from NPS 18 to whole mm.
        assert abs(Decimal(r["od_mm"]) - od) <= (Decimal("0.05") if od < 450 else Decimal("0.5")), r
    for r in raw_rows(sizes.API_FILE):
        for inch, mm in (("od_in", "od_mm"), ("wall_in", "wall_mm")):
            exact = Decimal(r[inch]) * Decimal("25.4")
            assert Decimal(r[mm]) == exact.quantize(Decimal("0.01"), ROUND_HALF_EVEN), r


@pytest.mark.parametrize("size", ASME_SIZES)
def test_asme_walls_by_schedule_and_class(size):
    entries, nps = ASME_SIZES[size], nps_value(size)
    numbered = sorted((int(e.schedule), e.wall) for e in entries if e.schedule.isdigit())
    walls = [w for _, w in numbered]
    assert walls == sorted(set(walls)), numbered
    wall = {e.schedule: e.wall for e in entries}
    assert wall["STD"] < wall["XS"] < wall.get("XXS", math.inf)
    assert wall["STD"] == (wall["40"] if nps <= 10 else 9.53)
    assert wall["XS"] == (wall["80"] if nps <= 8 else 12.70)
    if "XXS" in wall and nps <= 6:
        assert abs(wall["XXS"] - 2 * wall["XS"]) <= 0.02  # double extra strong: twice the wall


@pytest.mark.parametrize("size", API_SIZES)
def test_api_nominal_weights_match_their_walls(size):
    # A nominal weight is the plain-end weight plus a little for the coupling or upset.
    rows = sorted((float(e.schedule), e.joint, e.wall, e.mass) for e in API_SIZES[size])
    for weight, joint, wall, mass in rows:
        assert 0.99 <= weight / (mass * LB_FT_PER_KG_M) <= 1.08, (weight, joint, wall)
    for joint in {j for _, j, _, _ in rows}:
        walls = [w for _, j, w, _ in rows if j == joint]
        assert walls == sorted(set(walls)), joint
    weights = [round(w, 2) for w, _, _, _ in rows]
    same = [(w, wall) for w, _, wall, _ in rows if weights.count(round(w, 2)) > 1]
    assert len({wall for _, wall in same}) == len({w for w, _ in same}), "one weight, two walls"


@pytest.mark.parametrize("size, schedule, od, wall, mass", [
    ("NPS 1/2", "40", 21.3, 2.77, 1.27),
    ("NPS 1", "40", 33.4, 3.38, 2.50),
    ("NPS 2", "40", 60.3, 3.91, 5.44),
    ("NPS 4", "80", 114.3, 8.56, 22.32),
    ("NPS 6", "40", 168.3, 7.11, 28.26),
    ("NPS 8", "40", 219.1, 8.18, 42.55),
    ("NPS 12", "STD", 323.8, 9.53, None),
    ("NPS 12", "40", 323.8, 10.31, None),
    ("NPS 24", "XS", 610, 12.70, None),
    ("casing 9-5/8", "47", 244.48, 11.99, None),
    ("casing 13-3/8", "68", 339.72, 12.19, None),
    ("casing 7", "29", 177.80, 10.36, None),
    ("casing 20", "94", 508.00, 11.13, None),
    ("tubing 2-7/8", "6.5", 73.02, 5.51, None),
    ("tubing 2-3/8", "4.7", 60.32, 4.83, None),
    ("tubing 3-1/2", "9.3", 88.90, 6.45, None),
])
def test_sampled_entries(size, schedule, od, wall, mass):
    # Masses only where the printed value is known by heart.
    e = pipes.lookup(size, schedule)
    assert (e.od, e.wall, e.mass if mass else None) == (od, wall, mass)


# ---------------------------------------------------------------- spellings


# Forms beyond the ones every entry is drawn under below.
@pytest.mark.parametrize("size, schedule, expected", [
    ("  Nps   12 ", "sch. 160", ("NPS 12", "160")),
    ("NPS 8", 40.0, ("NPS 8", "40")),
    ("NPS 1.5", "080", ("NPS 1-1/2", "80")),
    ("casing 9.625", "47 lb/ft", ("casing 9-5/8", "47.00")),
    ("tubing 2.875", 6.4, ("tubing 2-7/8", "6.40")),
    ("tubing 1.05", "1.2", ("tubing 1.050", "1.20")),
    ("tubing 2-1/16", "3.24", ("tubing 2.063", "3.24")),
    ("casing 18-5/8", None, ("casing 18-5/8", "87.50")),
])
def test_spellings_that_resolve(size, schedule, expected):
    e = pipes.lookup(size, schedule)
    assert (e.size, e.schedule) == expected


REFUSED = [
    # unknown sizes: the neighbours are named
    (("NPS 13", "STD"), {}, ValueError, ["NPS 13 is not in ASME B36.10M", "nearest: NPS 12, NPS 14"]),
    (("NPS 50", "STD"), {}, ValueError, ["nearest: NPS 48"]),
    (("DN 275", "STD"), {}, ValueError, ["DN 275 is not in ASME B36.10M", "nearest: DN 250, DN 300"]),
    (("casing 9-1/2", "47"), {}, ValueError, ["API 5CT", "nearest: casing 8-5/8, casing 9-5/8"]),
    (("tubing 5", "18"), {}, ValueError, ["nearest: tubing 4-1/2", "casing 5 is listed"]),
    (("foo",), {}, ValueError, ["'foo' is not understood", "'NPS 12'"]),
    (("NPS twelve", "40"), {}, ValueError, ["'twelve' is not a size"]),
    (("DN 1/2", "40"), {}, ValueError, ["DN takes a whole number"]),
    # unknown schedules and weights: the neighbours or the listed ones are named
    (("NPS 12", "50"), {}, ValueError, ["NPS 12 has no schedule 50", "nearest: 40 (10.31 mm), 60 (14.27 mm)"]),
    (("NPS 1/8", "XXS"), {}, ValueError, ["NPS 1/8 has no XXS", "10, 30, STD, 40, XS, 80"]),
    (("NPS 12", 40.5), {}, ValueError, ["no schedule 40.5"]),
    (("NPS 12", "40S"), {}, ValueError, ["40S", "stainless", "ASME B36.19M"]),
    (("NPS 12", "XH"), {}, ValueError, ["'XH' is not understood", "STD, XS, XXS"]),
    (("casing 9-5/8", "48"), {}, ValueError, ["no nominal weight 48 lb/ft", "nearest: 47.00 (11.99 mm), 53.50"]),
    (("casing 9-5/8", "STD"), {}, ValueError, ["nominal weight in lb/ft", "'STD'"]),
    (("casing 9-5/8", "-3"), {}, ValueError, ["positive"]),
    # missing or contradicting choices
    (("NPS 12",), {}, ValueError, ["NPS 12 needs a schedule", "10, 20, 30, STD, 40, XS, 60"]),
    (("NPS 48",), {}, ValueError, ["STD, XS"]),
    (("tubing 2-7/8",), {}, ValueError, ["needs a nominal weight", "6.40, 6.50"]),
    (("NPS 12",), {"wall": 10.0}, ValueError, ["no wall 10 mm", "nearest: 9.53 (STD), 10.31 (40)"]),
    (("NPS 12", "STD"), {"wall": 10.31}, ValueError, ["9.53 mm wall, not 10.31 mm"]),
    (("NPS 12",), {"wall": -1}, ValueError, ["wall", "-1"]),
    # wrong types
    ((12, "40"), {}, TypeError, ["size", "12"]),
    (("NPS 12", ["40"]), {}, TypeError, ["schedule"]),
    (("NPS 12",), {"wall": "9.53"}, TypeError, ["wall"]),
]


@pytest.mark.parametrize("args, kw, exc, fragments", REFUSED, ids=lambda v: str(v)[:40])
def test_refused_spellings_name_the_nearest(args, kw, exc, fragments):
    with pytest.raises(exc) as info:
        pipes.lookup(*args, **kw)
    message = str(info.value)
    assert "\n" not in message
    for fragment in fragments:
        assert fragment in message


def spellings(entry):
    """Ways a planner may write an entry's size and schedule."""
    kind, label = entry.size.split(" ", 1)
    sizes = [entry.size, entry.size.upper(), kind.lower() + label, f" {kind}  {label.replace('-', ' ')} "]
    if entry.dn is not None:
        sizes += [f"DN {entry.dn}", f"dn{entry.dn}"]
    if entry.standard == ASME:
        s = entry.schedule
        schedules = [s, s.lower(), f"Sch {s}", f"SCH{s}"] + ([int(s)] if s.isdigit() else [])
    else:
        w = float(entry.schedule)
        schedules = [w, f"{w:g}", f"{w:g}#", f"{w:g} lb/ft"]
    return sizes, schedules


@given(st.data())
def test_every_entry_resolves_under_every_spelling(data):
    entry = data.draw(st.sampled_from(CATALOGUE))
    sizes, schedules = spellings(entry)
    found = pipes.lookup(data.draw(st.sampled_from(sizes)), data.draw(st.sampled_from(schedules)))
    assert (found.size, found.od, found.wall) == (entry.size, entry.od, entry.wall)
    assert pipes.lookup(entry.size, wall=entry.wall).wall == entry.wall
    assert pipes.lookup(entry.size, entry.schedule, wall=entry.wall) == entry


def test_standard_builds_the_pipe_of_the_entry():
    p = pipes.standard("DN 300", "STD", length=12.0, shape_id="a")
    assert isinstance(p, Quarvo.Pipe) and isinstance(p, Quarvo.Circle)
    assert (p.od, p.wall, p.length, p.shape_id, p.radius) == (323.8, 9.53, 12.0, "a", 161.9)
    q = pipes.standard("casing 9-5/8", wall=11.99)
    assert (q.od, q.wall, q.length, q.mass) == (244.48, 11.99, None, pytest.approx(q.weight))


# ---------------------------------------------------------------- carriers


def test_carriers_as_documented():
    table = {c.name: (c.width, c.height, c.length, c.max_load) for c in pipes.carriers()}
    assert table == {
        "20ft": (2343, 2280, 5898, 28200),
        "40ft": (2343, 2280, 12032, 26700),
        "40ft-hc": (2343, 2585, 12032, 26500),
        "trailer-13.6": (2480, 2700, 13600, 24000),
    }
    assert all(c.source for c in pipes.carriers())


def test_carrier_overrides_and_bin():
    c = pipes.lookup_carrier(" 40FT-HC ", max_load=20000, length=None)
    assert (c.name, c.width, c.max_load, c.length) == ("40ft-hc", 2343, 20000, None)
    b = pipes.carrier("trailer-13.6", width=2400)
    assert isinstance(b, Quarvo.Bin)
    assert (b.width, b.height, b.max_load, b.length) == (2400, 2700, 24000, 13600)
    assert repr(pipes.carrier("20ft", length=None)) == "Bin(width=2343.0, height=2280.0, max_load=28200.0)"


@pytest.mark.parametrize("name, kw, exc, fragment", [
    ("53ft", {}, ValueError, "known: 20ft, 40ft, 40ft-hc, trailer-13.6"),
    (20, {}, TypeError, "carrier name"),
    ("20ft", {"weight": 1}, TypeError, "'weight' cannot be overridden"),
    ("20ft", {"width": 0}, ValueError, "width must be a positive"),
    ("20ft", {"length": math.inf}, ValueError, "length must be a positive"),
    ("20ft", {"height": None}, TypeError, "height must be a number"),
])
def test_carrier_refusals(name, kw, exc, fragment):
    with pytest.raises(exc, match=fragment.replace(".", r"\.")):
        pipes.lookup_carrier(name, **kw)
