"""Installing the module the way a Python user does: `pip install .` from a
clean copy of the source tree into a new virtual environment, with no package
index (run inside a private network namespace, so none is reachable either).

One build of the module: `pip install .` builds it in the copy's build-wheel/,
and `pip wheel .` afterwards only packs it again. The tests run in order and
share that one environment; the last one uninstalls.
"""

import base64
import csv
import hashlib
import io
import os
import pathlib
import re
import stat
import subprocess
import sys
import sysconfig
import tempfile
import time
import types
import zipfile

import pytest

from build_support import STEP_TIMEOUT, built_modules, make_venv, pip_environment, run


@pytest.fixture(scope="module")
def env(tree):
    with tempfile.TemporaryDirectory(prefix="qx-pip-") as directory:
        root = pathlib.Path(directory)
        python = make_venv(sys.executable, root / "venv")
        environment = pip_environment()
        run([python, "-m", "pip", "install", "."], cwd=tree, env=environment)
        site = pathlib.Path(run([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"],
                                env=environment).strip())
        yield types.SimpleNamespace(root=root, source=tree, python=python, environment=environment, site=site)


def in_venv(env, code):
    """Runs code in the environment's interpreter, outside the source tree."""
    return run([env.python, "-c", code], cwd=env.root, env=env.environment)


def test_module_imports_from_the_environment_with_its_version(env):
    out = in_venv(env, "import importlib.metadata, brisel_qx_api as qx; print(qx.__file__); "
                       "print(importlib.metadata.version('brisel_qx_api')); print(qx.get_api_version_string())")
    location, distribution_version, api_version = out.split()
    assert pathlib.Path(location) == env.site / "brisel_qx_api.abi3.so"
    assert distribution_version == api_version
    shown = run([env.python, "-m", "pip", "show", "brisel_qx_api"], env=env.environment)
    assert f"Version: {api_version}" in shown.splitlines()


def test_installed_module_is_stripped_and_has_its_stub(env):
    sections = run(["readelf", "--section-headers", "--wide", env.site / "brisel_qx_api.abi3.so"])
    names = set(re.findall(r"\]\s+(\.\S+)", sections))
    assert ".text" in names
    assert not names & {".symtab", ".debug_info", ".debug_line"}
    assert (env.site / "brisel_qx_api-stubs" / "__init__.pyi").is_file()


def test_pip_wheel_packs_the_same_build_as_a_cp310_abi3_wheel(env):
    built = built_modules(env.source)
    assert built
    wheels = env.root / "wheels"
    run([env.python, "-m", "pip", "wheel", "--no-deps", "-w", wheels, "."], cwd=env.source, env=env.environment)
    assert built_modules(env.source) == built, "pip wheel compiled the module again"

    version = in_venv(env, "import brisel_qx_api as qx; print(qx.get_api_version_string())").strip()
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    name = f"brisel_qx_api-{version}-cp310-abi3-{platform}.whl"
    assert [p.name for p in wheels.iterdir()] == [name]

    dist_info = f"brisel_qx_api-{version}.dist-info"
    with zipfile.ZipFile(wheels / name) as wheel:
        files = {info.filename: wheel.read(info) for info in wheel.infolist()}
    assert set(files) == {"brisel_qx_api.abi3.so", "brisel_qx_api-stubs/__init__.pyi",
                          f"{dist_info}/METADATA", f"{dist_info}/WHEEL", f"{dist_info}/RECORD"}
    wheel_fields = files[f"{dist_info}/WHEEL"].decode().splitlines()
    assert "Root-Is-Purelib: false" in wheel_fields
    assert f"Tag: cp310-abi3-{platform}" in wheel_fields
    metadata = files[f"{dist_info}/METADATA"].decode().split("\n\n")[0].splitlines()
    assert {"Name: brisel_qx_api", f"Version: {version}", "Requires-Python: >=3.10"} <= set(metadata)

    record = list(csv.reader(io.StringIO(files[f"{dist_info}/RECORD"].decode())))
    assert sorted(row[0] for row in record) == sorted(files)
    for path, digest, size in record:
        if path == f"{dist_info}/RECORD":
            assert (digest, size) == ("", "")
            continue
        expected = base64.urlsafe_b64encode(hashlib.sha256(files[path]).digest()).rstrip(b"=").decode()
        assert (digest, size) == (f"sha256={expected}", str(len(files[path]))), path


def build_wheel(env, name, **environment):
    wheels = env.root / name
    run([env.python, "-m", "pip", "wheel", "--no-deps", "-w", wheels, "."], cwd=env.source,
        env={**env.environment, **environment})
    (wheel,) = wheels.iterdir()
    return wheel


def test_wheel_is_deflated_and_the_same_bytes_from_every_build(env):
    first = build_wheel(env, "first")
    # Files staged anew with another modification time must not change the wheel.
    stub = env.source / "brisel_qx_api" / "brisel_qx_api-stubs" / "__init__.pyi"
    os.utime(stub, (1_000_000_000, 1_000_000_000))
    second = build_wheel(env, "second")
    assert first.read_bytes() == second.read_bytes()

    with zipfile.ZipFile(first) as wheel:
        infos = wheel.infolist()
    assert {info.compress_type for info in infos} == {zipfile.ZIP_DEFLATED}
    assert {info.external_attr >> 16 for info in infos} == {stat.S_IFREG | 0o644}
    module = next(info for info in infos if info.filename == "brisel_qx_api.abi3.so")
    assert module.compress_size < module.file_size * 0.6
    assert len({info.date_time for info in infos}) == 1

    epoch = 1_700_000_000
    with zipfile.ZipFile(build_wheel(env, "dated", SOURCE_DATE_EPOCH=str(epoch))) as wheel:
        assert {info.date_time for info in wheel.infolist()} == {time.gmtime(epoch)[:6]}


def test_uninstall_leaves_nothing_importable(env):
    run([env.python, "-m", "pip", "uninstall", "-y", "brisel_qx_api"], env=env.environment)
    result = subprocess.run([env.python, "-c", "import brisel_qx_api"], cwd=env.root, env=env.environment,
                            capture_output=True, text=True, timeout=STEP_TIMEOUT)
    assert result.returncode != 0 and "ModuleNotFoundError" in result.stderr
    assert sorted(p.name for p in env.site.iterdir() if p.name.startswith("brisel_qx_api")) == []
