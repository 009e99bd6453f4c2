import pytest

import _tavo


@pytest.fixture(scope="session")
def tavo():
    return _tavo


def pytest_addoption(parser):
    parser.addoption("--scale", action="store_true", default=False,
                     help="run the large-input tests (marked scale)")


def pytest_configure(config):
    config.addinivalue_line("markers", "scale: large inputs (10^7 elements, 100 MB strings); run with --scale")


def pytest_collection_modifyitems(config, items):
    if config.getoption("--scale"):
        return
    skip = pytest.mark.skip(reason="large input: run with --scale (tools/scale_check.sh)")
    for item in items:
        if "scale" in item.keywords:
            item.add_marker(skip)
