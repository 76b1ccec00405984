"""PEP 517 build backend: the project's CMake build, packed as a wheel.

Only the hooks pip calls are here. The wheel holds the extension module
(Release, stripped) and its type stub package, exactly as `cmake --install`
lays them out. The backend runs on every Python pip may start it with, so
that on one too old for the module pip itself refuses, from the metadata.
"""

import base64
import csv
import hashlib
import io
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile
from pathlib import Path

try:
    import tomllib
except ImportError:  # Python 3.10: the few [project] strings are read by hand
    tomllib = None

# Hooks run in the root of the source tree.
ROOT = Path.cwd()
# The module is built against the stable ABI of CPython 3.10 (Py_LIMITED_API).
PYTHON_TAG = "cp310"
ABI_TAG = "abi3"
# Wheel entries carry this time unless SOURCE_DATE_EPOCH says otherwise, so
# that the same build always gives the same bytes. Zip cannot go earlier.
ZIP_EPOCH = (1980, 1, 1, 0, 0, 0)
CONFIG_SETTINGS = ("build-dir",)


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    # pip checks Requires-Python from this before anything is compiled.
    _settings(config_settings)
    project = _project()
    dist_info = Path(metadata_directory) / _dist_info(project)
    dist_info.mkdir()
    for name, data in _dist_info_files(project):
        (dist_info / name).write_bytes(data)
    return dist_info.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    build_dir, ours = _build_dir(_settings(config_settings))
    with tempfile.TemporaryDirectory() as staging:
        _cmake_install(build_dir, ours, Path(staging))
        return _write_wheel(Path(wheel_directory), Path(staging), project)


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = f"{project['name']}-{project['version']}"
    path = Path(sdist_directory) / f"{base}.tar.gz"
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for relative in _source_files():
            sdist.add(ROOT / relative, arcname=f"{base}/{relative}", recursive=False)
        _add_bytes(sdist, f"{base}/PKG-INFO", _metadata(project))
    return path.name


def _settings(config_settings):
    settings = dict(config_settings or {})
    unknown = sorted(set(settings) - set(CONFIG_SETTINGS))
    if unknown:
        raise RuntimeError(f"unknown config setting(s) {', '.join(unknown)}; known: {', '.join(CONFIG_SETTINGS)}")
    return settings


# ---- metadata ---------------------------------------------------------------


def _project():
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    project = dict(tomllib.loads(text)["project"]) if tomllib else _project_strings(text)
    project["version"] = _version()
    return project


_TOML_TABLE = re.compile(r"\s*\[\[?\s*([^\]]*?)\s*\]\]?\s*(?:#.*)?")
_TOML_STRING = re.compile(r"""\s*([A-Za-z0-9_-]+)\s*=\s*(?:"((?:[^"\\]|\\.)*)"|'([^']*)')\s*(?:#.*)?""")


def _project_strings(text):
    """The one-line string values of the [project] table, which is all the
    backend reads from it; the fields it needs must be written that way."""
    project, table = {}, None
    for line in text.splitlines():
        header = _TOML_TABLE.fullmatch(line)
        if header:
            table = header.group(1)
            continue
        value = _TOML_STRING.fullmatch(line) if table == "project" else None
        if value:
            key, basic, literal = value.groups()
            # TOML's escapes in basic strings are JSON's, but for \U.
            project[key] = literal if basic is None else json.loads(f'"{basic}"')
    missing = [key for key in ("name", "description", "requires-python") if key not in project]
    if missing:
        raise RuntimeError(f"pyproject.toml: [project] needs {', '.join(missing)} as one-line strings")
    return project


def _version():
    """The version given to project() in CMakeLists.txt, which the module reports too."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"^project\(\s*\S+\s+VERSION\s+([0-9][0-9.]*)", text, re.MULTILINE)
    if not match:
        raise RuntimeError("CMakeLists.txt: no project(... VERSION x.y.z)")
    return match.group(1)


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    body = ""
    if "readme" in project:
        lines.append("Description-Content-Type: text/markdown")
        body = (ROOT / project["readme"]).read_text(encoding="utf-8")
    return ("\n".join(lines) + "\n\n" + body).encode("utf-8")


def _dist_info(project):
    return f"{project['name']}-{project['version']}.dist-info"


def _wheel_tag():
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{PYTHON_TAG}-{ABI_TAG}-{platform}"


def _dist_info_files(project):
    wheel_text = f"Wheel-Version: 1.0\nGenerator: qx_build_backend\nRoot-Is-Purelib: false\nTag: {_wheel_tag()}\n"
    return (("METADATA", _metadata(project)), ("WHEEL", wheel_text.encode("utf-8")))


# ---- build ------------------------------------------------------------------


def _build_dir(settings):
    """Kept between builds, so that `pip wheel .` after `pip install .` rebuilds
    nothing: build-wheel/ in the tree, one directory per interpreter, or one
    outside when the tree cannot be written; `build-dir` chooses it instead.
    Also whether the directory is the backend's own to empty."""
    if "build-dir" in settings:
        return ROOT / Path(settings["build-dir"]).expanduser(), False
    in_tree = ROOT / "build-wheel" / _interpreter_key()
    if _writable(in_tree):
        return in_tree, True
    return _temporary_build_root() / _interpreter_key(), True


def _interpreter_key():
    # Only the headers of the interpreter go into the build.
    include = sysconfig.get_paths()["include"]
    return f"{sys.implementation.cache_tag}-{hashlib.sha256(include.encode()).hexdigest()[:8]}"


def _writable(directory):
    try:
        directory.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryFile(dir=directory):
            return True
    except OSError:
        return False


def _temporary_build_root():
    # The temporary directory is shared with other users: ours alone, or none.
    mine = Path(tempfile.gettempdir()) / f"brisel_qx_api-build-{os.getuid()}"
    try:
        mine.mkdir(mode=0o700, exist_ok=True)
    except OSError as error:
        raise RuntimeError(f"cannot make a build directory ({error}); choose one with "
                           "--config-settings build-dir=DIR") from error
    status = os.lstat(mine)
    if not stat.S_ISDIR(status.st_mode) or status.st_uid != os.getuid() or status.st_mode & 0o077:
        raise RuntimeError(f"{mine} is not a private directory of this user; choose a build "
                           "directory with --config-settings build-dir=DIR")
    source = hashlib.sha256(str(ROOT).encode()).hexdigest()[:12]
    return mine / f"{ROOT.name}-{source}"


def _cmake_install(build_dir, ours, staging):
    cache = build_dir / "CMakeCache.txt"
    if cache.exists() and f"CMAKE_HOME_DIRECTORY:INTERNAL={ROOT}\n" not in cache.read_text(encoding="utf-8"):
        if not ours:
            raise RuntimeError(f"{build_dir} holds a CMake build of another source tree")
        shutil.rmtree(build_dir)  # made for a tree at another place
    _run("cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
         f"-DQX_PYTHON={sys.executable}", "-DQX_PYTHON_INSTALL_DIR=.")
    # CMAKE_BUILD_PARALLEL_LEVEL, when set, chooses the number of jobs.
    jobs = [] if "CMAKE_BUILD_PARALLEL_LEVEL" in os.environ else ["--parallel", str(os.cpu_count() or 1)]
    _run("cmake", "--build", build_dir, "--target", "brisel_qx_api", *jobs)
    _run("cmake", "--install", build_dir, "--prefix", staging, "--strip")


def _run(*command):
    # Progress goes to stderr: pip shows it with -v, and in full on a failure.
    subprocess.run([str(part) for part in command], check=True, stdout=sys.stderr)


# ---- wheel ------------------------------------------------------------------


def _write_wheel(wheel_directory, staging, project):
    name, version = project["name"], project["version"]
    dist_info = _dist_info(project)
    path = wheel_directory / f"{name}-{version}-{_wheel_tag()}.whl"
    entries = [(file.relative_to(staging).as_posix(), file.read_bytes(),
                0o755 if file.stat().st_mode & 0o111 else 0o644)
               for file in sorted(p for p in staging.rglob("*") if p.is_file())]
    entries += [(f"{dist_info}/{file}", data, 0o644) for file, data in _dist_info_files(project)]
    record = io.StringIO()
    rows = csv.writer(record, lineterminator="\n")
    for arcname, data, _ in entries:
        rows.writerow(_record_row(arcname, data))
    rows.writerow((f"{dist_info}/RECORD", "", ""))
    entries.append((f"{dist_info}/RECORD", record.getvalue().encode("utf-8"), 0o644))
    date_time = _zip_date_time()
    with zipfile.ZipFile(path, "w") as wheel:
        for arcname, data, mode in entries:
            info = zipfile.ZipInfo(arcname, date_time)
            info.external_attr = (stat.S_IFREG | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return path.name


def _zip_date_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return ZIP_EPOCH
    return max(ZIP_EPOCH, time.gmtime(int(epoch))[:6])


def _record_row(arcname, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return (arcname, f"sha256={digest}", len(data))


# ---- sdist ------------------------------------------------------------------


def _source_files():
    """What git tracks, else everything but build output, virtual environments and dist/."""
    if (ROOT / ".git").exists() and shutil.which("git"):
        listed = subprocess.run(["git", "ls-files", "-z", "--cached"], cwd=ROOT, capture_output=True)
        if listed.returncode:
            raise RuntimeError(f"git ls-files: {listed.stderr.decode(errors='replace').strip()}")
        return sorted(p for p in listed.stdout.decode("utf-8").split("\0") if p and (ROOT / p).is_file())
    files = []
    for directory, subdirectories, names in os.walk(ROOT):
        top = Path(directory) == ROOT
        subdirectories[:] = [d for d in subdirectories
                             if d not in ("build", "__pycache__", ".git") and not d.startswith("build-")
                             and not (top and d == "dist")
                             and not os.path.exists(os.path.join(directory, d, "pyvenv.cfg"))]
        files += [os.path.relpath(os.path.join(directory, n), ROOT) for n in names if not n.endswith(".pyc")]
    return sorted(f for f in files if f != "PKG-INFO")  # written anew


def _add_bytes(archive, arcname, data):
    info = tarfile.TarInfo(arcname)
    info.size = len(data)
    info.mode = 0o644
    archive.addfile(info, io.BytesIO(data))
