"""Pipe sizes, the catalogue: ASME B36.10M and API 5CT sizes, read from the tables in ``data/``."""
import csv
import math
import re
from dataclasses import dataclass, replace
from decimal import ROUND_HALF_UP, Decimal
from fractions import Fraction
from functools import lru_cache
from importlib import resources
from typing import Optional

ASME = "ASME B36.10M"
API = "API 5CT"

ASME_FILE = "asme_b36_10m.csv"
API_FILE = "api_5ct.csv"
COUPLING_FILE = "api_5ct_couplings.csv"

# Both standards compute the plain-end mass as 0.0246615 x (D - t) x t kg/m (steel of 7850 kg/m3).
PLAIN_END_FACTOR = 0.0246615
# kg/m in one lb/ft (0.45359237 kg per lb, 0.3048 m per ft): API 5CT prints its SI nominal
# masses as the lb/ft ones times this, to 0.01.
KG_PER_M_PER_LB_PER_FT = 0.45359237 / 0.3048
# The bases of a pipe's mass a job or standard() may ask for.
MASS_BASES = ("nominal", "plain_end")

# Listed walls and weights are typed to 0.01: anything closer than this is the same value.
_SAME = 0.005 + 1e-9
# Decimal inches in a size ("tubing 2.063" for 2-1/16) match the listed diameter this closely.
_SAME_INCH = 0.0015

# API joints as the records name them; casing has one (threaded and coupled).
_JOINTS = {"tc": "threaded and coupled", "nu": "non-upset", "eu": "external upset", "ij": "integral joint"}
# The joints made with a coupling (an integral joint has its box on the pipe itself).
_COUPLED = tuple(_JOINTS[k] for k in ("tc", "nu", "eu"))


@dataclass(frozen=True)
class Entry:
    """One size of the catalogue: ``od`` and ``wall`` in mm, ``mass`` the plain-end mass in kg/m.

    ``schedule`` is the designation the entry is looked up by: a schedule number
    or weight class (``"40"``, ``"STD"``) for ASME B36.10M, the nominal weight in
    lb/ft (``"47.00"``) for API 5CT, whose ``joint`` names the connection it
    weighs with. ``dn`` is the metric designation where the standard gives one.

    ``nominal_mass`` is an API entry's nominal weight in kg/m (threads and
    couplings included: the weight it is sold by), None for ASME;
    ``coupling_od`` its coupling's outside diameter in mm where the coupling
    table lists it (``coupled`` says whether the joint has a coupling at all).
    """

    size: str
    schedule: str
    dn: Optional[int]
    od: float
    wall: float
    mass: float
    standard: str
    joint: str = ""
    nominal_mass: Optional[float] = None
    coupling_od: Optional[float] = None

    @property
    def coupled(self):
        """Whether the pipe is joined by a coupling (API threaded and coupled casing and tubing)."""
        return self.joint in _COUPLED

    def weighs(self, mass_basis):
        """(kg/m, basis) of the entry by ``mass_basis`` ("nominal" or "plain_end"): an ASME pipe,
        having no couplings, weighs its plain-end mass either way."""
        if mass_basis not in MASS_BASES:
            raise ValueError(f"mass_basis must be 'nominal' or 'plain_end', got {mass_basis!r}")
        if mass_basis == "nominal" and self.nominal_mass is not None:
            return self.nominal_mass, "nominal"
        return self.mass, "plain_end"


def _hundredths(x):
    return float(Decimal(repr(x)).quantize(Decimal("0.01"), rounding=ROUND_HALF_UP))


def nominal_mass(lb_per_ft):
    """A nominal weight in lb/ft as kg/m, to 0.01 as API 5CT prints it."""
    return _hundredths(float(lb_per_ft) * KG_PER_M_PER_LB_PER_FT)


def plain_end_mass(od, wall):
    """Plain-end mass in kg/m of a steel pipe (mm), rounded to 0.01 as the standards print it."""
    return _hundredths(PLAIN_END_FACTOR * (od - wall) * wall)


# ---------------------------------------------------------------- the tables


def _rows(name):
    text = resources.files("Quarvo.pipes").joinpath("data", name).read_text(encoding="utf-8")
    return list(csv.DictReader(line for line in text.splitlines() if not line.startswith("#")))


def _entry(size, schedule, dn, od, wall, standard, joint=""):
    return Entry(size, schedule, dn, od, wall, plain_end_mass(od, wall), standard, joint)


@lru_cache(maxsize=None)
def _couplings():
    """{(size name, joint): coupling outside diameter in mm} of the coupling table."""
    return {(f"{r['kind']} {r['size']}", r["joint"]): float(r["coupling_od_mm"]) for r in _rows(COUPLING_FILE)}


@lru_cache(maxsize=None)
def _table():
    """Every entry, in the tables' order (size by size, thinnest wall first)."""
    entries = []
    for r in _rows(ASME_FILE):
        od, wall, dn = float(r["od_mm"]), float(r["wall_mm"]), int(r["dn"])
        # A wall with both a weight class and a schedule is found by either.
        for designation in (r["weight_class"], r["schedule"]):
            if designation:
                entries.append(_entry("NPS " + r["nps"], designation, dn, od, wall, ASME))
    for r in _rows(API_FILE):
        od, wall = float(r["od_mm"]), float(r["wall_mm"])
        for column, joint in _JOINTS.items():
            if r[column]:
                size = f"{r['kind']} {r['size']}"
                entries.append(replace(_entry(size, r[column], None, od, wall, API, joint),
                                       nominal_mass=nominal_mass(r[column]),
                                       coupling_od=_couplings().get((size, column))))
    return tuple(entries)


@lru_cache(maxsize=None)
def _sizes():
    """Per kind ("NPS", "casing", "tubing"): (value in inches, size name, dn) in increasing order."""
    sizes = {}
    for e in _table():
        kind, label = e.size.split(" ", 1)
        row = (_label_inches(label), e.size, e.dn)
        if row not in sizes.setdefault(kind, []):
            sizes[kind].append(row)
    return {kind: sorted(rows) for kind, rows in sizes.items()}


def catalogue():
    """Every entry of the bundled tables, as ``Entry`` records."""
    return list(_table())


# ---------------------------------------------------------------- reading sizes

_SIZE = re.compile(r"^(nps|dn|casing|tubing)\s*(.*)$")
_MIXED = re.compile(r"^(\d+)(?:[\s-]+(\d+)/(\d+))?$")   # 12, 1-1/2, 1 1/2
_FRACTION = re.compile(r"^(\d+)/(\d+)$")                 # 1/2
_DECIMAL = re.compile(r"^\d*\.\d+$")                     # 1.5, 2.063
_KINDS = ("NPS", "casing", "tubing")


def _label_inches(label):
    """A size label ("1-1/2", "9-5/8", "2.063") in inches, or None if it is not a number."""
    m = _MIXED.match(label)
    if m:
        whole, num, den = m.groups()
        if num is None:
            return Fraction(int(whole))
        return Fraction(int(whole)) + Fraction(int(num), int(den)) if int(den) else None
    m = _FRACTION.match(label)
    if m:
        return Fraction(int(m.group(1)), int(m.group(2))) if int(m.group(2)) else None
    if _DECIMAL.match(label):
        return Fraction(label)
    return None


def _size_example():
    return "write it as 'NPS 12', 'DN 300', 'casing 9-5/8' or 'tubing 2-7/8'"


def _nearest(rows, key):
    """The rows just below and just above ``key`` (rows sorted by their first field)."""
    below = [r for r in rows if r[0] < key]
    above = [r for r in rows if r[0] > key]
    return ([below[-1]] if below else []) + ([above[0]] if above else [])


def _resolve_size(size):
    """The canonical size name of ``size`` ("NPS 12", "casing 9-5/8"); ValueError names the nearest."""
    if not isinstance(size, str):
        raise TypeError(f"size must be a text such as 'NPS 12', got {size!r} ({type(size).__name__})")
    text = " ".join(size.strip().lower().split())
    m = _SIZE.match(text)
    if not m:
        raise ValueError(f"size {size!r} is not understood; {_size_example()}")
    kind, number = m.groups()
    number = number.strip()
    sizes = _sizes()
    if kind == "dn":
        if not number.isdigit():
            raise ValueError(f"size {size!r}: DN takes a whole number of mm, e.g. 'DN 300'")
        dn = int(number)
        by_dn = sorted((d, name) for _, name, d in sizes["NPS"])
        for d, name in by_dn:
            if d == dn:
                return name
        near = ", ".join(f"DN {d}" for d, _ in _nearest(by_dn, dn))
        raise ValueError(f"DN {dn} is not in {ASME}; nearest: {near}")
    kind = "NPS" if kind == "nps" else kind
    inches = _label_inches(number)
    if inches is None:
        raise ValueError(f"size {size!r}: {number!r} is not a size in inches; {_size_example()}")
    rows = sizes[kind]
    for value, name, _ in rows:
        # A decimal may stand for a fraction ("NPS 1.5", "tubing 2.875"); tubing 2.063 is 2-1/16.
        if value == inches or (kind != "NPS" and abs(value - inches) <= _SAME_INCH):
            return name
    standard = ASME if kind == "NPS" else API
    shown = f"{kind} {number}"
    near = ", ".join(name for _, name, _ in _nearest(rows, inches))
    message = f"{shown} is not in {standard}; nearest: {near}"
    if kind != "NPS":
        other = "tubing" if kind == "casing" else "casing"
        for value, name, _ in sizes[other]:
            if abs(value - inches) <= _SAME_INCH:
                message += f" ({name} is listed)"
    raise ValueError(message)


# ---------------------------------------------------------------- reading schedules

_SCHEDULE_PREFIX = re.compile(r"^(schedule|sched|sch)\.?")
_CLASSES = ("STD", "XS", "XXS")


def _show_number(x):
    return f"{x:g}"


def _check_number(value, what):
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} must be a number, got {value!r} ({type(value).__name__})")
    if not math.isfinite(value) or value <= 0:
        raise ValueError(f"{what} must be a positive finite number, got {value!r}")
    return float(value)


def _entries_of(size):
    return [e for e in _table() if e.size == size]


def _listing(entries):
    """The designations of a size's entries, thinnest wall first."""
    return ", ".join(e.schedule for e in entries)


def _asme_designation(schedule, size, entries):
    """The designation ("40", "STD") that ``schedule`` spells for an ASME size."""
    if isinstance(schedule, bool) or not isinstance(schedule, (str, int, float)):
        raise TypeError(f"schedule must be a text or a number such as 'STD' or 40, got {schedule!r}")
    if isinstance(schedule, float):
        if not (math.isfinite(schedule) and schedule.is_integer()):
            raise ValueError(f"{size} has no schedule {schedule!r} in {ASME}; it lists {_listing(entries)}")
        schedule = int(schedule)
    text = "".join(str(schedule).split()).lower()
    text = _SCHEDULE_PREFIX.sub("", text)
    if re.fullmatch(r"\d+s", text):
        raise ValueError(f"schedule {text.upper()} is a stainless steel schedule of ASME B36.19M, not "
                         f"{ASME}; {size} lists {_listing(entries)}")
    if text.upper() in _CLASSES:
        return text.upper()
    if text.isdigit():
        return str(int(text))
    raise ValueError(f"schedule {schedule!r} is not understood; {ASME} names schedules such as 40 or "
                     f"'Sch 40' and the weight classes STD, XS, XXS")


def _api_weight(schedule, size):
    """The nominal weight in lb/ft that ``schedule`` spells ("47", "47#", "47 lb/ft", 47.0)."""
    if isinstance(schedule, bool) or not isinstance(schedule, (str, int, float)):
        raise TypeError(f"{size}: the nominal weight must be a number of lb/ft such as '47', got {schedule!r}")
    if isinstance(schedule, str):
        text = "".join(schedule.split()).lower()
        text = re.sub(r"(#|lb/ft|lbs/ft|ppf)$", "", text)
        try:
            value = float(text)
        except ValueError:
            raise ValueError(f"{size} takes a nominal weight in lb/ft (e.g. {_api_example(size)}), "
                             f"got {schedule!r}") from None
    else:
        value = float(schedule)
    if not math.isfinite(value) or value <= 0:
        raise ValueError(f"{size}: the nominal weight must be a positive number of lb/ft, got {schedule!r}")
    return value


def _api_example(size):
    return repr(_show_number(float(_entries_of(size)[0].schedule)))


def _by_schedule(size, schedule, entries):
    if entries[0].standard == ASME:
        designation = _asme_designation(schedule, size, entries)
        for e in entries:
            if e.schedule == designation:
                return e
        shown = designation if designation in _CLASSES else f"schedule {designation}"
        if designation in _CLASSES:
            raise ValueError(f"{size} has no {shown} in {ASME}; it lists {_listing(entries)}")
        numbered = sorted((int(e.schedule), e) for e in entries if e.schedule.isdigit())
        near = ", ".join(f"{n} ({e.wall:.2f} mm)" for n, e in _nearest(numbered, int(designation)))
        raise ValueError(f"{size} has no {shown} in {ASME}; nearest: {near}")
    weight = _api_weight(schedule, size)
    for e in entries:
        if abs(float(e.schedule) - weight) <= _SAME:
            return e
    weights = [(float(e.schedule), e) for e in sorted(entries, key=lambda e: float(e.schedule))]
    near = ", ".join(f"{e.schedule} ({e.wall:.2f} mm)" for _, e in _nearest(weights, weight))
    raise ValueError(f"{size} has no nominal weight {_show_number(weight)} lb/ft in {API}; nearest: {near}")


def _by_wall(size, wall, entries):
    for e in entries:
        if abs(e.wall - wall) <= _SAME:
            return e
    walls = sorted({e.wall: e for e in reversed(entries)}.items())
    near = ", ".join(f"{w:.2f} ({e.schedule})" for w, e in _nearest(walls, wall))
    raise ValueError(f"{size} has no wall {_show_number(wall)} mm in {entries[0].standard}; nearest: {near}")


def lookup(size, schedule=None, *, wall=None):
    """The catalogue ``Entry`` of ``size`` by ``schedule`` (or nominal weight) or by ``wall`` in mm.

    Sizes: ``"NPS 12"``, ``"NPS 1-1/2"`` (also ``"NPS 1 1/2"``, ``"NPS 1.5"``),
    ``"DN 300"``, ``"casing 9-5/8"``, ``"tubing 2-7/8"`` (also ``"tubing
    2.875"``); case and spaces do not matter (``"nps12"``). ASME schedules:
    ``40``, ``"40"``, ``"Sch 40"``, ``"SCH40"``, ``"STD"``, ``"XS"``, ``"XXS"``;
    stainless schedules (``"40S"``) belong to ASME B36.19M and are refused.
    API schedules are nominal weights in lb/ft (``"47"``, ``47``, ``"47#"``,
    ``"47 lb/ft"``): non-upset, external-upset and integral-joint weights of
    tubing all count. Without a schedule or wall, a size with one entry gives
    it; otherwise ValueError lists the choices. Given both, they must agree.
    """
    name = _resolve_size(size)
    entries = _entries_of(name)
    if wall is not None:
        wall = _check_number(wall, f"{name}: wall")
    if schedule is None and wall is None:
        walls = {e.wall for e in entries}
        if len(walls) == 1:
            return entries[0]
        what = "a schedule" if entries[0].standard == ASME else "a nominal weight in lb/ft"
        raise ValueError(f"{name} needs {what}; {entries[0].standard} lists {_listing(entries)}")
    if schedule is None:
        return _by_wall(name, wall, entries)
    entry = _by_schedule(name, schedule, entries)
    if wall is not None and abs(entry.wall - wall) > _SAME:
        raise ValueError(f"{name} {entry.schedule} has a {entry.wall:.2f} mm wall, not {_show_number(wall)} mm")
    return entry


def standard(size, schedule=None, *, wall=None, mass_basis=None, coupled=False, **pipe_kw):
    """A ``Quarvo.Pipe`` of a catalogue size (see ``lookup`` for the spellings).

    ``pipe_kw`` go to the pipe: ``length`` (m), ``density`` (kg/m3), ``shape_id``.
    ``mass_basis="nominal"``: an API pipe weighs its nominal weight (as sold,
    threads and couplings included), an ASME pipe its plain-end mass; without
    it the pipe weighs its steel by size and density. ``coupled=True`` gives a
    coupled API pipe its coupling (``Pipe.coupling_od``: from the coupling
    table, or infinite where the table lists none, so that it goes into no bore).
    """
    entry = lookup(size, schedule, wall=wall)
    from Quarvo.geometry import Pipe

    if mass_basis is not None:
        per_m, basis = entry.weighs(mass_basis)
        if basis == "nominal":
            pipe_kw.update(mass_basis="nominal", mass_per_m=per_m)
    if coupled and entry.coupled:
        pipe_kw["coupling_od"] = entry.coupling_od if entry.coupling_od is not None else math.inf
    return Pipe(entry.od, entry.wall, **pipe_kw)
