"""The side view of a bin with rows, drawn under its section: each piece
along the deck at its height in the section, the load's centre of gravity
and the load on each support."""
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

# The side view's height as a share of the section's, and the gap above it.
SIDE_SHARE = 0.45
SIDE_GAP = 0.12
_COG = "#c00000"
_SUPPORT = "#303030"
_TEXT_SIZE = 7
_UNKNOWN = {"face": "#d0d0d0", "edge": "#606060"}  # a kind the section's legend does not name


@dataclass
class Piece:
    """A piece as the side view shows it: from/to in metres from the front, its lowest and highest
    point in the section (job units), its kind (the picture's colour) and whether it lies in a bore."""

    start: float
    end: float
    low: float
    high: float
    kind: object
    nested: bool = False


@dataclass
class Support:
    """A point the load bears on: its name, where it lies (m), the load on it and its limit (kg)."""

    name: str
    at: float
    load: float
    limit: float


@dataclass
class SideView:
    """What the side view of one bin shows."""

    length: float  # m
    pieces: List[Piece] = field(default_factory=list)
    cog: Optional[Tuple[float, float]] = None  # (along in m, height in job units)
    supports: List[Support] = field(default_factory=list)


def draw_side(ax, side, height, looks, mass_text):
    """Draw ``side`` into ``ax``: the deck ``side.length`` m long, the section ``height`` high;
    ``looks`` gives a kind's face and edge colours, ``mass_text`` writes a mass."""
    from matplotlib.patches import Rectangle

    ax.set_xlim(0.0, side.length)
    ax.set_ylim(0.0, height)
    ax.tick_params(labelsize=_TEXT_SIZE, length=2)
    ax.set_xlabel("m from the front", fontsize=_TEXT_SIZE, labelpad=1)
    # hosts first, the pieces in their bores over them
    for p in sorted(side.pieces, key=lambda p: p.nested):
        look = looks.get(p.kind, _UNKNOWN)
        ax.add_patch(Rectangle((p.start, p.low), p.end - p.start, p.high - p.low, facecolor=look["face"],
                               edgecolor=look["edge"], linewidth=0.5, alpha=0.55 if p.nested else 0.8))
    for s in side.supports:
        over = s.load > s.limit * (1 + 1e-9)
        ax.axvline(s.at, color=_COG if over else _SUPPORT, linewidth=0.8, linestyle=(0, (4, 3)))
        ax.plot([s.at], [0.0], marker="^", markersize=7, color=_COG if over else _SUPPORT, clip_on=False)
        ax.text(s.at, height * 0.97, f"{s.name}\n{mass_text(s.load)} of {mass_text(s.limit)}",
                fontsize=_TEXT_SIZE, ha="center", va="top", color=_COG if over else _SUPPORT,
                bbox=dict(facecolor="white", edgecolor="none", alpha=0.75, pad=1.0))
    if side.cog is not None:
        along, y = side.cog
        ax.plot([along], [y], marker="X", markersize=8, color=_COG)
        ax.text(along, y, "  centre of gravity", fontsize=_TEXT_SIZE, color=_COG, va="center")
