"""One clean copy of the tree is shared by the tests that only need a built
tree, so that its build-wheel/ compiles the module once per interpreter."""

import pathlib
import tempfile

import pytest

from build_support import copy_clean_tree


@pytest.fixture(scope="session")
def tree():
    """A clean copy of the source tree, shared; its build-wheel/ is kept throughout."""
    with tempfile.TemporaryDirectory(prefix="qx-tree-") as directory:
        copy = pathlib.Path(directory) / "source"
        copy_clean_tree(copy)
        yield copy
