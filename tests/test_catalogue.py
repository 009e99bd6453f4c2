"""Every call of the catalogue, once, with the outcome it must have."""
import sys

import pytest

from call_catalogue import CASES
from hostile_kit import panic_type


def run_case(case):
    if case.needs_panic and panic_type() is None:
        pytest.skip("no built function ends in an internal failure yet")
    # Some calls report an unprintable object through the unraisable hook;
    # pytest's own hook cannot show objects whose repr raises.
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda unraisable: None
    try:
        outcome = case.outcome()
    except NotImplementedError:
        if case.needs_body:
            pytest.skip(f"{case.func} is not built yet")
        raise
    finally:
        sys.unraisablehook = old_hook
    case.check(outcome)
    return outcome


@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_case(case):
    run_case(case)
