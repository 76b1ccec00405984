"""Where pip's build of the module goes when the source tree cannot hold it:
a read-only mount of the tree (here a bind mount in a private mount
namespace, so that the machine's mounts stay as they are), and a build
directory chosen with `--config-settings build-dir=...`."""

import os
import shlex
import sys
import zipfile

import pytest

from build_support import fails, make_venv, pip_environment, run

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="a private mount namespace needs root")


@pytest.fixture
def python(tmp_path):
    return make_venv(sys.executable, tmp_path / "venv")


@pytest.fixture
def read_only(tree, python, tmp_path):
    """Runs pip from a fresh environment on a read-only view of the tree."""
    view = tmp_path / "view"
    view.mkdir()
    temporary = tmp_path / "tmp"  # the system's temporary directory, for pip and the backend
    temporary.mkdir()
    environment = pip_environment(TMPDIR=str(temporary))

    def pip(*arguments):
        command = shlex.join([str(python), "-m", "pip", *map(str, arguments)])
        script = (f"mount --bind {shlex.quote(str(tree))} {shlex.quote(str(view))}"
                  f" && mount -o remount,bind,ro {shlex.quote(str(view))}"
                  f" && cd {shlex.quote(str(view))} && ! touch probe 2>/dev/null && {command}")
        return run(["unshare", "--mount", "--", "bash", "-c", script], env=environment)

    pip.temporary = temporary
    return pip


def test_read_only_tree_builds_outside_it_and_keeps_that_build(read_only, tmp_path):
    read_only("wheel", "--no-deps", "-w", tmp_path / "wheels", ".")
    (built,) = read_only.temporary.glob(
        f"brisel_qx_api-build-{os.getuid()}/view-*/cpython-*/python/brisel_qx_api.abi3.so")
    assert (built.parents[3].stat().st_mode & 0o777) == 0o700
    before = built.stat().st_mtime_ns
    read_only("wheel", "--no-deps", "-w", tmp_path / "again", ".")
    assert built.stat().st_mtime_ns == before, "the build outside the tree was not kept"
    (wheel,) = (tmp_path / "wheels").iterdir()
    with zipfile.ZipFile(wheel) as archive:
        assert "brisel_qx_api.abi3.so" in archive.namelist()


def test_build_dir_setting_chooses_the_build_directory(tree, python, read_only, tmp_path):
    chosen = tmp_path / "chosen"
    read_only("wheel", "--no-deps", "-w", tmp_path / "wheels", "--config-settings", f"build-dir={chosen}", ".")
    assert (chosen / "python" / "brisel_qx_api.abi3.so").is_file()
    assert not list(read_only.temporary.glob("brisel_qx_api-build-*"))
    assert len(list((tmp_path / "wheels").iterdir())) == 1

    # A build directory of another tree (here the writable one behind the view)
    # is the user's: refused, not emptied.
    out = fails([python, "-m", "pip", "wheel", "--no-deps", "-w", tmp_path / "other",
                 "--config-settings", f"build-dir={chosen}", "."], cwd=tree, env=pip_environment())
    assert "holds a CMake build of another source tree" in out
    assert (chosen / "python" / "brisel_qx_api.abi3.so").is_file()


def test_unknown_config_setting_is_refused(tree, python, tmp_path):
    out = fails([python, "-m", "pip", "wheel", "--no-deps", "-w", tmp_path / "wheels",
                 "--config-settings", "build_dir=x", "."], cwd=tree, env=pip_environment())
    assert "unknown config setting(s) build_dir; known: build-dir" in out
