"""First-fit driver: packs a list of items into as many bins as needed."""
from Quarvo.geometry import Bin, Shape  # noqa: F401
from Quarvo.placer_bl import BottomLeftPlacer  # noqa: F401
from Quarvo.placer_nfp import NfpPlacer  # noqa: F401
from Quarvo._quarvo import first_fit_algorithm as _f

FirstFit = _f.FirstFit
FirstFit.__module__ = __name__
used_length = _f.used_length
