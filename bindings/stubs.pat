# Replacements for the generated stubs (nanobind's pattern files).

# A pipe's mass and radius follow from its size: read-only where another
# item's may be set.
Quarvo._quarvo.geometry.Pipe.mass:
    @property  # type: ignore[misc]
    def mass(self) -> float:
        """kg per piece: density x pi/4 x (od^2 - (od - 2 wall)^2) x length; per metre without a length."""

Quarvo._quarvo.geometry.Pipe.radius:
    @property  # type: ignore[misc]
    def radius(self) -> float:
        """od / 2."""
