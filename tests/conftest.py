"""Hypothesis runs derandomised: every run draws the same examples, so a
failure seen once (in CI or here) reproduces. Set HYPOTHESIS_PROFILE=random
to explore fresh examples."""
import os

from hypothesis import settings

settings.register_profile("derandomized", derandomize=True, print_blob=True)
settings.register_profile("random", derandomize=False, print_blob=True)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "derandomized"))
