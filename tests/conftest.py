"""Hypothesis runs derandomised: every run draws the same examples, so a
failure seen once (in CI or here) reproduces. Set HYPOTHESIS_PROFILE=random
to explore fresh examples. Tests marked ``matplotlib`` draw; matplotlib is
optional, so they skip without it."""
import importlib.util
import os

import pytest
from hypothesis import settings

settings.register_profile("derandomized", derandomize=True, print_blob=True)
settings.register_profile("random", derandomize=False, print_blob=True)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "derandomized"))


def pytest_collection_modifyitems(config, items):
    if importlib.util.find_spec("matplotlib") is None:
        skip = pytest.mark.skip(reason="matplotlib is not installed")
        for item in items:
            if "matplotlib" in item.keywords:
                item.add_marker(skip)
