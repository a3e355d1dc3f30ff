"""Pictures of packed bins to hand on: the plan drawn by matplotlib
(``Quarvo.visualize.plot_layout(..., style="plan")``) or written as SVG in
job units (``write_plan_svg``)."""
from Quarvo.pictures.plan import STYLES, draw_plan, write_plan_svg  # noqa: F401
