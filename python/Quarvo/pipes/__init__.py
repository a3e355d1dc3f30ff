"""Steel pipe sizes as pipe people name them, and the carriers they travel in.

``catalogue()`` lists every size of the bundled tables (ASME B36.10M welded
and seamless steel pipe, API 5CT casing and tubing); ``lookup(size,
schedule)`` finds one entry and ``standard(size, schedule, **pipe_kw)``
makes a ``Quarvo.Pipe`` of it:

    standard("NPS 12", "STD")              # or "DN 300", "nps12", "Sch 40", "SCH40", 40
    standard("casing 9-5/8", "47")         # nominal weight in lb/ft
    standard("tubing 2-7/8", "6.5")        # non-upset, upset or integral-joint weight
    standard("casing 9-5/8", wall=11.99)   # or by wall thickness in mm

``carrier(name, **overrides)`` gives the bin of a named container or trailer,
``carriers()`` lists them.
"""
from Quarvo.pipes.transport import Carrier, carrier, carriers, lookup_carrier  # noqa: F401
from Quarvo.geometry import Support  # noqa: F401
from Quarvo.pipes.sizes import (  # noqa: F401
    API,
    ASME,
    KG_PER_M_PER_LB_PER_FT,
    MASS_BASES,
    PLAIN_END_FACTOR,
    Entry,
    _resolve_size,
    catalogue,
    lookup,
    nominal_mass,
    plain_end_mass,
    standard,
)

__all__ = ["API", "ASME", "KG_PER_M_PER_LB_PER_FT", "MASS_BASES", "PLAIN_END_FACTOR", "Carrier", "Entry", "Support",
           "carrier", "carriers", "catalogue", "lookup", "lookup_carrier", "nominal_mass", "plain_end_mass", "standard"]
