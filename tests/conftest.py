import faulthandler
import gc
import os
import sys

import pytest

import _tavo

# A test that hangs ends the run with every thread's traceback instead of
# holding CI until its time limit. TAVO_TEST_TIMEOUT is in seconds.
HANG_LIMIT = float(os.environ.get("TAVO_TEST_TIMEOUT", "1200"))


@pytest.fixture(scope="session")
def tavo():
    return _tavo


@pytest.fixture
def int_digit_limit():
    """sys.set_int_max_str_digits, the interpreter's limit put back after the test.
    The limit is the whole interpreter's: a test that sets several in turn is
    thread_unsafe."""
    saved = sys.get_int_max_str_digits()
    try:
        yield sys.set_int_max_str_digits
    finally:
        sys.set_int_max_str_digits(saved)


def pytest_addoption(parser):
    parser.addoption("--scale", action="store_true", default=False,
                     help="run the large-input tests (marked scale)")


def pytest_configure(config):
    config.addinivalue_line("markers", "scale: large inputs (10^7 elements, 100 MB strings); run with --scale")
    config.addinivalue_line("markers", "hostile: hostile objects and catalogue calls (run again by tools/sanitize_check.sh "
                            "with the full unwinder)")
    # pytest-run-parallel's mark (tools/freethreaded_check.sh): a test that runs
    # in one thread only, also known without the plugin
    config.addinivalue_line("markers", "thread_unsafe: not run in several threads at once by pytest-run-parallel")
    # The hang report must reach the real standard error, not pytest's capture.
    global _report_fd
    try:
        capture = config.pluginmanager.getplugin("capturemanager")
        _report_fd = capture._global_capturing.err.targetfd_save
    except Exception:  # noqa: BLE001 - no capture, or its internals moved
        _report_fd = 2


_report_fd = 2


def pytest_collection_modifyitems(config, items):
    if config.getoption("--scale"):
        return
    skip = pytest.mark.skip(reason="large input: run with --scale (tools/scale_check.sh)")
    for item in items:
        if "scale" in item.keywords:
            item.add_marker(skip)


@pytest.fixture
def settled_heap():
    """Moves every object alive now out of the collector's reach for the test:
    tests that collect often (gc.collect per call, a threshold of 1) then scan
    only the objects they make, not the whole session's heap."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()


@pytest.fixture(autouse=True)
def _hang_guard():
    faulthandler.dump_traceback_later(HANG_LIMIT, exit=True, file=_report_fd)
    yield
    faulthandler.cancel_dump_traceback_later()
