"""The README's install section, run as written, so that it cannot drift from
what works: each block of commands (the lines between blank lines) in the
order a reader meets them, in a clean copy of the tree, with pip offline.

Every block runs in a private mount namespace with a scratch directory over
/usr/local, where the system-wide ones install, and with a scratch HOME, so
the machine is left as it was; `sudo` is dropped, since the tests run as
root, and PATH is the one sudo gives. A block that uses $VIRTUAL_ENV gets a
fresh, activated virtual environment. After a block that installs, the
module must import, from the interpreter the block installs for, from the
directory it installs to; the README's `pip uninstall` for the same pip must
then leave nothing of it.
"""

import itertools
import json
import os
import re
import shlex
import subprocess
import types

import pytest

from build_support import SOURCE, STEP_TIMEOUT, SYSTEM_PATH, make_venv

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="a private mount namespace needs root")

HEADING = "### Installing the module into a Python environment"
LOCATE = """
import importlib.util, json, os, sys, sysconfig
spec = importlib.util.find_spec("brisel_qx_api")
where = sys.argv[1] if len(sys.argv) > 1 else sysconfig.get_path("platlib")
print(json.dumps({"file": spec and spec.origin, "where": where,
                  "left": sorted(n for n in os.listdir(where) if n.startswith("brisel_qx_api"))
                          if os.path.isdir(where) else []}))
"""


def read_section():
    """The install section's blocks of commands (comments apart), and its prose."""
    lines = (SOURCE / "README.md").read_text(encoding="utf-8").splitlines()
    start = lines.index(HEADING) + 1
    end = next(i for i in range(start, len(lines)) if lines[i].startswith("#"))
    blocks, prose, current = [], [], None
    for line in lines[start:end]:
        if line.startswith("    "):
            if current is None:
                current = types.SimpleNamespace(comment=[], commands=[])
                blocks.append(current)
            text = line[4:]
            (current.comment if text.startswith("#") and not current.commands else current.commands).append(text)
        else:
            current = None
            prose.append(line)
    return blocks, " ".join(prose)


BLOCKS, PROSE = read_section()
# "Then `python3 -c "..."` prints `0.2.1`": the check the README gives.
THEN, PRINTS = re.search(r"Then `python3 (-c \"[^`]+\")`\s+prints `([^`]+)`", PROSE).groups()
PIP_RUN = re.compile(r"^(?:sudo\s+)?(?P<pip>.*?\bpip)\s+(?P<verb>install|uninstall|wheel)\b(?P<rest>.*)$")
UNINSTALLS = {match["pip"]: line for block in BLOCKS for line in block.commands
              if (match := PIP_RUN.match(line)) and match["verb"] == "uninstall"}


def unsudo(line):
    return re.sub(r"(^|&&\s*)sudo\s+", r"\1", line)


def interpreter_of(pip):
    if pip.endswith(" -m pip"):
        return pip[: -len(" -m pip")]
    if pip.endswith("/pip"):
        return pip[: -len("pip")] + "python"
    raise AssertionError(f"which interpreter does {pip!r} install for?")


def option(block, name):
    """The value of -D<name>=... in the block, as written (quotes and all)."""
    match = re.search(rf"-D{name}=(\S+)", "\n".join(block.commands))
    return match and match.group(1)


@pytest.fixture(scope="module")
def bench(tree, tmp_path_factory):
    scratch = tmp_path_factory.mktemp("readme")
    for directory in ("usr-local", "home", "tmp"):
        (scratch / directory).mkdir()
    environment = {"PATH": SYSTEM_PATH, "HOME": str(scratch / "home"), "TMPDIR": str(scratch / "tmp"),
                   "LANG": "C.UTF-8", "PIP_NO_INDEX": "1", "PIP_CONFIG_FILE": os.devnull, "PIP_NO_CACHE_DIR": "1",
                   "PIP_DISABLE_PIP_VERSION_CHECK": "1", "PYTHONDONTWRITEBYTECODE": "1",
                   "CMAKE_BUILD_PARALLEL_LEVEL": "4"}

    def sh(script, environment, stdin=None):
        """Runs bash code in the tree, in a mount namespace with the scratch /usr/local."""
        result = subprocess.run(
            ["unshare", "--mount", "--", "bash", "-c",
             'mount --bind "$1" /usr/local && cd "$2" && exec bash -euo pipefail -c "$3"',
             "_", scratch / "usr-local", tree, script],
            env=environment, input=stdin, capture_output=True, text=True, timeout=STEP_TIMEOUT)
        assert result.returncode == 0, f"{script}\nfailed:\n{result.stdout}\n{result.stderr}"
        return result

    return types.SimpleNamespace(tree=tree, scratch=scratch, environment=environment, sh=sh,
                                 venvs=itertools.count(), uninstalled=set())


def locate(bench, environment, interpreter, where=None):
    """Where the interpreter finds the module (None: nowhere), and what is left
    of it in its site directory or the given one."""
    script = f"{interpreter} -c {shlex.quote(LOCATE)}"
    if where:
        script = f"PYTHONPATH={where} {script} {where}"
    return json.loads(bench.sh(script, environment).stdout)


def check_import(bench, environment, interpreter, where=None):
    """The README's import check, and that the module is where it should be."""
    prefix = f"PYTHONPATH={where} " if where else ""
    assert bench.sh(f"{prefix}{interpreter} {THEN}", environment).stdout.strip() == PRINTS
    found = locate(bench, environment, interpreter, where)
    assert found["file"] and os.path.dirname(found["file"]) == found["where"], found
    return found["where"]


def block_id(block):
    return re.split(r"[.:]\s", (block.comment or block.commands)[0].lstrip("# "))[0]


@pytest.mark.parametrize("block", BLOCKS, ids=[block_id(b) for b in BLOCKS])
def test_readme_block(bench, block):
    environment = dict(bench.environment)
    script = "\n".join(unsudo(line) for line in block.commands)
    verbs = {match["verb"]: match for line in block.commands if (match := PIP_RUN.match(line))}

    if set(verbs) == {"uninstall"}:
        # Run by the blocks that install with the same pip, above.
        assert set(UNINSTALLS) <= bench.uninstalled, "an uninstall command that no install block uses"
        return
    if "$VIRTUAL_ENV" in script:
        venv = bench.scratch / f"venv-{next(bench.venvs)}"
        make_venv("/usr/bin/python3", venv)
        environment.update(VIRTUAL_ENV=str(venv), PATH=f"{venv}/bin:{SYSTEM_PATH}")
    bench.sh(script, environment)

    if "install" in verbs:
        pip = verbs["install"]["pip"]
        interpreter = interpreter_of(pip)
        check_import(bench, environment, interpreter)
        assert pip in UNINSTALLS, f"the README shows no uninstall for {pip}"
        bench.sh(unsudo(UNINSTALLS[pip]), environment, stdin="y\n")
        bench.uninstalled.add(pip)
        found = locate(bench, environment, interpreter)
        assert found["file"] is None and found["left"] == [], found
    elif "wheel" in verbs:
        (directory,) = re.findall(r"-w\s+(\S+)", verbs["wheel"]["rest"])
        (expected,) = re.findall(r"\S+\.whl", " ".join(block.comment))
        assert sorted(os.listdir(bench.tree / directory)) == [expected]
        python = make_venv("/usr/bin/python3", bench.scratch / "wheel-env")
        bench.sh(f"{python} -m pip install {directory}/{expected}", environment)
        check_import(bench, environment, python)
    elif "cmake --install" in script:
        where = check_import(bench, environment, option(block, "QX_PYTHON") or "python3",
                             option(block, "QX_PYTHON_INSTALL_DIR"))
        (build,) = re.findall(r"cmake --install (\S+)", script)
        installed = (bench.tree / build / "install_manifest.txt").read_text().split()
        assert sorted(os.path.relpath(path, where) for path in installed) == [
            "brisel_qx_api-stubs/__init__.pyi", "brisel_qx_api.abi3.so"]


def test_editable_install_is_refused_as_the_readme_says(bench, tmp_path):
    assert "Editable installs (`pip install -e .`) are not supported" in PROSE
    python = make_venv("/usr/bin/python3", tmp_path / "venv")
    result = bench.sh(f"! {python} -m pip install -e . 2>&1", bench.environment)
    assert "missing the 'build_editable' hook" in result.stdout
