import pytest

import brisel_qx_api


@pytest.fixture
def qx():
    return brisel_qx_api


@pytest.fixture
def probe():
    # Test-only extension built from the module's own code; it has its own
    # copies of the classes, so tests that use it take classes from it too.
    return pytest.importorskip("_qx_probe")
