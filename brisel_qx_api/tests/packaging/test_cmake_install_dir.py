"""Where `cmake --install` puts the module: below the prefix, where the
interpreter named by QX_PYTHON looks, even when one build tree is configured
again with another interpreter; a directory the user chose stays.
Configuring only: the module need not be built to know where it goes."""

import json
import pathlib
import re
import sys

from build_support import SOURCE, make_venv, run

PLATLIB = "import json, sys, sysconfig; print(json.dumps([sys.prefix, sysconfig.get_path('platlib')]))"


def test_install_dir_follows_the_interpreter_unless_chosen(tmp_path):
    venv = make_venv(sys.executable, tmp_path / "venv")
    build = tmp_path / "build"

    def configure(*options):
        run(["cmake", "-S", SOURCE, "-B", build, "-DBUILD_TESTING=OFF", *options])
        cache = (build / "CMakeCache.txt").read_text(encoding="utf-8")
        return re.search(r"^QX_PYTHON_INSTALL_DIR:\w+=(.*)$", cache, re.MULTILINE).group(1)

    def lands(python, prefix, install_dir):
        """Whether the module installed with that prefix is where python looks."""
        sys_prefix, platlib = json.loads(run([python, "-c", PLATLIB]))
        return pathlib.Path(prefix or sys_prefix, install_dir) == pathlib.Path(platlib)

    # Debian's interpreter keeps local installs below /usr/local, the default prefix.
    assert lands("/usr/bin/python3", "/usr/local", configure("-DQX_PYTHON=/usr/bin/python3"))
    assert lands(venv, None, configure(f"-DQX_PYTHON={venv}"))
    assert lands("/usr/bin/python3", "/usr/local", configure("-DQX_PYTHON=/usr/bin/python3"))

    chosen = str(tmp_path / "elsewhere")
    assert configure(f"-DQX_PYTHON_INSTALL_DIR={chosen}") == chosen
    assert configure(f"-DQX_PYTHON={venv}") == chosen
    assert configure() == chosen
