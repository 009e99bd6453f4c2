import pytest

import _tavo


@pytest.fixture(scope="session")
def tavo():
    return _tavo
