import importlib.util

import pytest


def pytest_collection_modifyitems(config, items):
    """Tests marked ``matplotlib`` draw; matplotlib is optional, so they skip without it."""
    if importlib.util.find_spec("matplotlib") is None:
        skip = pytest.mark.skip(reason="matplotlib is not installed")
        for item in items:
            if "matplotlib" in item.keywords:
                item.add_marker(skip)
