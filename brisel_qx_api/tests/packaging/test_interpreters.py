"""Building from source on each CPython the wheel serves, each with a build
directory of its own, and pip refusing older ones from the metadata alone.
Interpreters besides Debian's come from pyenv when it has them."""

import sys
import tomllib

import pytest

from build_support import SOURCE, built_modules, fails, find_python, make_venv, pip_environment, run

sys.path.insert(0, str(SOURCE / "build_backend"))
import qx_build_backend  # noqa: E402 - the backend is no installed module: pip too finds it by a path (backend-path)

VERSIONS = ("import importlib.metadata, brisel_qx_api as qx; "
            "print(importlib.metadata.version('brisel_qx_api'), qx.get_api_version_string())")

PROJECT_TABLES = [
    # The tree's own.
    (SOURCE / "pyproject.toml").read_text(encoding="utf-8"),
    # Comments, both kinds of string, escapes, and the same keys in other tables.
    """[build-system]
name = "not this"
[project]  # the metadata
name = "brisel_qx_api"  # trailing
description = 'C:\\literal "quoted"'
readme = "R\\u00e9ad\\tme.md"
requires-python = ">=3.10"
dynamic = ["version"]
[[tool.x.items]]
description = "not this either"
""",
]


@pytest.mark.parametrize("text", PROJECT_TABLES, ids=["pyproject.toml", "tricky"])
def test_project_strings_read_without_tomllib_are_what_tomllib_reads(text):
    expected = {key: value for key, value in tomllib.loads(text)["project"].items() if isinstance(value, str)}
    assert qx_build_backend._project_strings(text) == expected


def test_project_strings_refuse_a_needed_field_they_cannot_read():
    with pytest.raises(RuntimeError, match="description"):
        qx_build_backend._project_strings('[project]\nname = "x"\nrequires-python = ">=3.10"\n'
                                          'description = """spread\nover lines"""\n')


@pytest.fixture(scope="module")
def python310(tree, tmp_path_factory):
    """A fresh 3.10 environment with the module installed by `pip install .`."""
    base = find_python("3.10")
    if base is None:
        pytest.skip("no CPython 3.10 found (/usr/bin/python3.10 or pyenv)")
    python = make_venv(base, tmp_path_factory.mktemp("venv310") / "venv")
    run([python, "-m", "pip", "install", "."], cwd=tree, env=pip_environment())
    return python


def test_pip_install_builds_on_python_3_10(tree, python310):
    distribution, api = run([python310, "-c", VERSIONS], cwd="/", env=pip_environment()).split()
    assert distribution == api
    assert [path.parts[-3] for path in built_modules(tree)
            if path.parts[-3].startswith("cpython-310-")], "no build directory of its own"


def test_switching_interpreters_rebuilds_nothing(tree, python310, tmp_path):
    python311 = make_venv(sys.executable, tmp_path / "venv")

    def wheel(python):
        run([python, "-m", "pip", "wheel", "--no-deps", "-w", tmp_path / "wheels", "."], cwd=tree,
            env=pip_environment())

    wheel(python311)
    built = built_modules(tree)
    assert len(built) >= 2
    for python in (python310, python311, python310):
        wheel(python)
    assert built_modules(tree) == built


def test_pip_refuses_python_3_9_before_building(tree, tmp_path):
    base = find_python("3.9")
    if base is None:
        pytest.skip("no CPython 3.9 found (pyenv)")
    python = make_venv(base, tmp_path / "venv")
    built = built_modules(tree)
    out = fails([python, "-m", "pip", "install", "."], cwd=tree, env=pip_environment())
    assert "requires a different Python: 3.9." in out
    assert built_modules(tree) == built
    assert not list(tree.glob("build-wheel/cpython-39-*"))
