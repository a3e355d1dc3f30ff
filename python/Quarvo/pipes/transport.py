"""The carriers pipes travel in: containers and trailers by name, as bins."""
from dataclasses import dataclass, replace
from typing import Optional, Tuple

from Quarvo.geometry import Support
from Quarvo.pipes.sizes import _check_number


@dataclass(frozen=True)
class Carrier:
    """A named carrier: cross-section ``width`` x ``height`` and ``length`` in mm, ``max_load`` in kg.

    ``supports``: what its load bears on (a semi-trailer's kingpin and axle
    group: ``Support(name, at, max_load)``, metres from the front of the
    loading space and kg of the load), with ``supports_source``.
    ``cog_tolerance``: how far the load's centre of gravity may lie from the
    middle of the length, as a share of the length, where the carrier's code
    gives one (``cog_source``)."""

    name: str
    width: float
    height: float
    length: Optional[float]
    max_load: Optional[float]
    source: str
    supports: Tuple[Support, ...] = ()
    supports_source: str = ""
    cog_tolerance: Optional[float] = None
    cog_source: str = ""


# A container's cargo: the CTU Code's limit on where its centre of gravity lies along.
_CTU_COG = ("IMO/ILO/UNECE Code of Practice for Packing of Cargo Transport Units (CTU Code, 2014), Annex 7, "
            "3.1.4: the centre of gravity of the cargo within +-5 % of the length from the middle in general "
            "(up to +-10 % under special circumstances)")


# Pipes are loaded lengthwise through the door of a container, so the door opening, not the
# inside, is the cross-section they can fill.
_CARRIERS = (
    Carrier("20ft", 2343.0, 2280.0, 5898.0, 28200.0,
            "ISO 668 1CC general-purpose container: door opening 2,343 x 2,280 mm, inside length "
            "5,898 mm, payload about 28,200 kg (30,480 kg gross less its tare)",
            cog_tolerance=0.05, cog_source=_CTU_COG),
    Carrier("40ft", 2343.0, 2280.0, 12032.0, 26700.0,
            "ISO 668 1AA general-purpose container: door opening 2,343 x 2,280 mm, inside length "
            "12,032 mm, payload about 26,700 kg (30,480 kg gross less a tare of about 3,750 kg)",
            cog_tolerance=0.05, cog_source=_CTU_COG),
    Carrier("40ft-hc", 2343.0, 2585.0, 12032.0, 26500.0,
            "ISO 668 1AAA high-cube container: door opening 2,343 x 2,585 mm, inside length 12,032 mm, "
            "payload about 26,500 kg (assumed: 30,480 kg gross less a tare of about 3,950 kg)",
            cog_tolerance=0.05, cog_source=_CTU_COG),
    Carrier("trailer-13.6", 2480.0, 2700.0, 13600.0, 24000.0,
            "European curtain-sider semi-trailer: loading space 13,600 x 2,480 x 2,700 mm, payload "
            "24,000 kg (a 40 t road train under Directive 96/53/EC less tractor and trailer)",
            supports=(Support("kingpin", 1.6, 9000.0), Support("axle group", 9.35, 18500.0)),
            supports_source="kingpin 1.6 m behind the front of the loading space: Directive 96/53/EC, Annex I "
            "1.6, puts it at most 12.00 m before the rear of a semi-trailer, whose 13.6 m loading space it "
            "heads; axle group (three axles, 1.31 m apart) centred 9.35 m from the front: assumed, a typical "
            "tri-axle curtain-sider (give your trailer's in the job's bin). Permitted loads of the payload: "
            "axle group 18,500 kg, the 24,000 kg of a tri-axle with axles more than 1.3 m and at most 1.4 m "
            "apart (Annex I 3.1) less an assumed 5,500 kg of the trailer's own tare on it; kingpin 9,000 kg, "
            "assumed for a two-axle tractor whose driving axle carries at most 11,500 kg (Annex I 3.3) with "
            "its own and the trailer's tare"),
)

_OVERRIDABLE = ("width", "height", "length", "max_load", "supports")


def carriers():
    """The named carriers, as ``Carrier`` records."""
    return list(_CARRIERS)


def lookup_carrier(name, **overrides):
    """The ``Carrier`` record of ``name`` with ``overrides`` (width, height, length, max_load) applied.

    ``length`` and ``max_load`` may be overridden with None to drop that limit;
    ``supports`` with a tuple of ``Support`` records (or () for none).
    """
    if not isinstance(name, str):
        raise TypeError(f"carrier name must be a text such as '20ft', got {name!r} ({type(name).__name__})")
    key = " ".join(name.strip().lower().split())
    found = [c for c in _CARRIERS if c.name == key]
    if not found:
        known = ", ".join(c.name for c in _CARRIERS)
        raise ValueError(f"carrier {name!r} is unknown; known: {known}")
    for field, value in overrides.items():
        if field not in _OVERRIDABLE:
            raise TypeError(f"carrier {key!r}: {field!r} cannot be overridden (only {', '.join(_OVERRIDABLE)})")
        if value is None and field in ("length", "max_load"):
            continue
        if field == "supports":
            if not isinstance(value, tuple) or not all(isinstance(x, Support) for x in value):
                raise TypeError(f"carrier {key!r}: supports must be a tuple of Support records")
            continue
        _check_number(value, f"carrier {key!r}: {field}")
    return replace(found[0], **{k: (v if k == "supports" or v is None else float(v)) for k, v in overrides.items()})


def carrier(name, *, supports=False, **overrides):
    """The ``Quarvo.Bin`` of a named carrier: see ``carriers()``; ``overrides`` as in ``lookup_carrier``.

    ``supports=True`` gives the bin the carrier's supports, for ``FirstFit(..., rows=True)``."""
    c = lookup_carrier(name, **overrides)
    from Quarvo.geometry import Bin

    return Bin(c.width, c.height, max_load=c.max_load, length=c.length, supports=c.supports if supports else ())
