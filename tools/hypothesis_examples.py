"""pytest plugin for runs under emulation: at most TAVO_HYPOTHESIS_EXAMPLES examples per property test.

Load it with `-p hypothesis_examples` and tools/ on PYTHONPATH. Tests that set their own
max_examples keep the smaller of the two counts; the example database is off, so a run
replays nothing from an earlier one.
"""
import os

from hypothesis import settings

EXAMPLES = int(os.environ.get("TAVO_HYPOTHESIS_EXAMPLES", "25"))

settings.register_profile("tavo-reduced", max_examples=EXAMPLES, database=None)
settings.load_profile("tavo-reduced")


def pytest_collection_modifyitems(items):
    for item in items:
        test = getattr(item, "obj", None)
        inner = getattr(getattr(test, "hypothesis", None), "inner_test", None)
        # the settings a test gave itself with @settings(...) sit on the wrapped function
        for f in (test, inner):
            own = getattr(f, "_hypothesis_internal_use_settings", None)
            if own is not None and own.max_examples > EXAMPLES:
                f._hypothesis_internal_use_settings = settings(own, max_examples=EXAMPLES, database=None)
