"""The sdist holds the sources only, whatever else lies in the tree: what git
tracks in a checkout, and outside one everything but build output, virtual
environments and dist/."""

import re
import subprocess
import sys
import tarfile

import pytest

from build_support import copy_clean_tree, run, tracked_files

# What a working tree gathers besides its sources.
LEFTOVERS = {
    "dist/brisel_qx_api-0.0.1-cp310-abi3-linux_x86_64.whl": b"PK\x05\x06" + bytes(18),
    ".venv/pyvenv.cfg": b"home = /usr/bin\n",
    ".venv/lib/python3.11/site-packages/six.py": b"",
    "qx-env/pyvenv.cfg": b"home = /usr/bin\n",
    "qx-env/bin/python3": b"",
    "build-wheel/cpython-311-00000000/CMakeCache.txt": b"",
    "build/python/brisel_qx_api.abi3.so": b"\x7fELF",
    "build_backend/__pycache__/qx_build_backend.cpython-311.pyc": b"",
}


def build_sdist(source, directory):
    out = run([sys.executable, "-c", "import sys, qx_build_backend; print(qx_build_backend.build_sdist(sys.argv[1]))",
               directory], cwd=source, env={"PATH": "/usr/bin:/bin", "PYTHONPATH": str(source / "build_backend"),
                                            "PYTHONDONTWRITEBYTECODE": "1"})
    name = out.strip()
    assert re.fullmatch(r"brisel_qx_api-\d+\.\d+\.\d+\.tar\.gz", name)
    base = name[: -len(".tar.gz")]
    with tarfile.open(directory / name) as sdist:
        names = [member.name for member in sdist.getmembers()]
    assert all(n.startswith(f"{base}/") for n in names)
    return sorted(n[len(base) + 1:] for n in names)


@pytest.mark.parametrize("checkout", [True, False], ids=["git checkout", "no git"])
def test_sdist_holds_the_sources_and_nothing_left_in_the_tree(tmp_path, checkout):
    source = tmp_path / "source"
    copy_clean_tree(source)
    sources = sorted(tracked_files())
    if checkout:
        subprocess.run(["git", "init", "-q"], cwd=source, check=True, timeout=60)
        subprocess.run(["git", "add", "-A"], cwd=source, check=True, timeout=60)
        (source / "notes.txt").write_text("untracked, not ignored\n")
    for relative, data in LEFTOVERS.items():
        (source / relative).parent.mkdir(parents=True, exist_ok=True)
        (source / relative).write_bytes(data)

    members = build_sdist(source, tmp_path)
    assert {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "build_backend/qx_build_backend.py",
            "brisel_qx_api/brisel_qx_api-stubs/__init__.pyi", "brisel_qx_api/src/lib.cpp"} <= set(members)
    assert members == sorted([*sources, "PKG-INFO"])
