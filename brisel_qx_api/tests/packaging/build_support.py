"""What the packaging tests share: clean copies of the source tree, an
environment in which pip cannot reach a package index, and the interpreters
found on this machine."""

import os
import pathlib
import shutil
import subprocess

SOURCE = pathlib.Path(__file__).resolve().parents[3]
STEP_TIMEOUT = 600
# What sudo and a fresh login give on Debian: no pyenv or other interpreter
# ahead of Debian's python3.
SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def run(command, **kwargs):
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            timeout=STEP_TIMEOUT, **kwargs)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def fails(command, **kwargs):
    """The failing command's output, both streams."""
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            timeout=STEP_TIMEOUT, **kwargs)
    assert result.returncode != 0, f"{command} succeeded:\n{result.stdout}\n{result.stderr}"
    return result.stdout + result.stderr


def tracked_files():
    listed = run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=SOURCE)
    return [relative for relative in filter(None, listed.split("\0")) if (SOURCE / relative).is_file()]


def copy_clean_tree(destination):
    """The files git has or would take, without build directories or other output."""
    for relative in tracked_files():
        target = destination / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(SOURCE / relative, target)


def pip_environment(**extra):
    """The caller's environment without its pip and Python settings, and pip offline."""
    environment = {k: v for k, v in os.environ.items() if not k.startswith(("PIP_", "PYTHON"))}
    environment.pop("VIRTUAL_ENV", None)
    environment.pop("SOURCE_DATE_EPOCH", None)
    environment.update(PIP_NO_INDEX="1", PIP_CONFIG_FILE=os.devnull, PIP_NO_CACHE_DIR="1",
                       PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONNOUSERSITE="1", PYTHONDONTWRITEBYTECODE="1")
    environment.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "4")
    environment.update(extra)
    return environment


def find_python(version):
    """A CPython of that version (e.g. "3.10") with venv here, or None: Debian
    has one version only, pyenv may have others."""
    pyenv = pathlib.Path(os.environ.get("PYENV_ROOT", pathlib.Path.home() / ".pyenv"))
    for candidate in [f"/usr/bin/python{version}", *sorted(pyenv.glob(f"versions/{version}.*/bin/python{version}"))]:
        if os.access(candidate, os.X_OK):
            probe = subprocess.run(
                [candidate, "-c", "import sys, venv, ensurepip; print('%d.%d' % sys.version_info[:2])"],
                capture_output=True, text=True, timeout=60)
            if probe.returncode == 0 and probe.stdout.strip() == version:
                return str(candidate)
    return None


def make_venv(python, directory):
    run([python, "-m", "venv", directory], env=pip_environment())
    return pathlib.Path(directory) / "bin" / "python"


def built_modules(tree):
    """The module in each kept build directory of the tree, by its modification time."""
    return {path: path.stat().st_mtime_ns for path in sorted(tree.glob("build-wheel/*/python/brisel_qx_api.abi3.so"))}
