"""What the sweeps of scans under a resource limit share (few_descriptors.py,
few_threads.py): the command line of the sweep script, and running a sweep in
a network namespace of its own from a test."""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def main(sweep, scan):
    """`SCRIPT sweep NUMBERS...` or `SCRIPT scan NUMBERS...`."""
    command, *numbers = sys.argv[1:]
    if command == "sweep":
        sweep(*map(int, numbers))
    elif command == "scan":
        scan(*map(int, numbers))
    else:
        sys.exit(f"unknown command {command!r}")


def print_results(results):
    for result in results:
        print(json.dumps(result), flush=True)


def run_sweep(script, counts, serial, timeout):
    """The JSON lines the sweep prints, one per count. It runs in a namespace
    of its own, nested in the test's, so that its scans find only what it
    advertises itself."""
    swept = subprocess.run(
        ["unshare", "--net", "sh", "-c", 'ip link set lo up && ip link set lo multicast on && exec "$@"', "sh",
         sys.executable, os.path.join(HERE, script), "sweep", str(counts[0]), str(counts[-1]), str(serial)],
        capture_output=True, text=True, timeout=timeout)
    assert swept.returncode == 0, swept.stderr
    return [json.loads(line) for line in swept.stdout.splitlines()]
