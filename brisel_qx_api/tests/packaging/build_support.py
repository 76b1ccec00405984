"""What the packaging tests share: clean copies of the source tree."""

import pathlib
import shutil
import subprocess

SOURCE = pathlib.Path(__file__).resolve().parents[3]
STEP_TIMEOUT = 600


def run(command, **kwargs):
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            timeout=STEP_TIMEOUT, **kwargs)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def tracked_files():
    listed = run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=SOURCE)
    return [relative for relative in filter(None, listed.split("\0")) if (SOURCE / relative).is_file()]


def copy_clean_tree(destination):
    """The files git has or would take, without build directories or other output."""
    for relative in tracked_files():
        target = destination / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(SOURCE / relative, target)
