"""The carriers pipes travel in: containers and trailers by name, as bins."""
from dataclasses import dataclass, replace
from typing import Optional

from Quarvo.pipes.sizes import _check_number



@dataclass(frozen=True)
class Carrier:
    """A named carrier: cross-section ``width`` x ``height`` and ``length`` in mm, ``max_load`` in kg."""

    name: str
    width: float
    height: float
    length: Optional[float]
    max_load: Optional[float]
    source: str


# Pipes are loaded lengthwise through the door of a container, so the door opening, not the
# inside, is the cross-section they can fill.
_CARRIERS = (
    Carrier("20ft", 2343.0, 2280.0, 5898.0, 28200.0,
            "ISO 668 1CC general-purpose container: door opening 2,343 x 2,280 mm, inside length "
            "5,898 mm, payload about 28,200 kg (30,480 kg gross less its tare)"),
    Carrier("40ft", 2343.0, 2280.0, 12032.0, 26700.0,
            "ISO 668 1AA general-purpose container: door opening 2,343 x 2,280 mm, inside length "
            "12,032 mm, payload about 26,700 kg (30,480 kg gross less a tare of about 3,750 kg)"),
    Carrier("40ft-hc", 2343.0, 2585.0, 12032.0, 26500.0,
            "ISO 668 1AAA high-cube container: door opening 2,343 x 2,585 mm, inside length 12,032 mm, "
            "payload about 26,500 kg (assumed: 30,480 kg gross less a tare of about 3,950 kg)"),
    Carrier("trailer-13.6", 2480.0, 2700.0, 13600.0, 24000.0,
            "European curtain-sider semi-trailer: loading space 13,600 x 2,480 x 2,700 mm, payload "
            "24,000 kg (a 40 t road train under Directive 96/53/EC less tractor and trailer)"),
)

_OVERRIDABLE = ("width", "height", "length", "max_load")


def carriers():
    """The named carriers, as ``Carrier`` records."""
    return list(_CARRIERS)


def lookup_carrier(name, **overrides):
    """The ``Carrier`` record of ``name`` with ``overrides`` (width, height, length, max_load) applied.

    ``length`` and ``max_load`` may be overridden with None to drop that limit.
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
        _check_number(value, f"carrier {key!r}: {field}")
    return replace(found[0], **{k: (None if v is None else float(v)) for k, v in overrides.items()})


def carrier(name, **overrides):
    """The ``Quarvo.Bin`` of a named carrier: see ``carriers()``; ``overrides`` as in ``lookup_carrier``."""
    c = lookup_carrier(name, **overrides)
    from Quarvo.geometry import Bin

    return Bin(c.width, c.height, max_load=c.max_load, length=c.length)
