"""The plan picture's SVG writer where earlier versions had it (``Quarvo.pictures``)."""
from Quarvo.pictures.plan import draw_plan, write_plan_svg  # noqa: F401
