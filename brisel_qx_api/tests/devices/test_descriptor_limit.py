"""A scan in a process that has almost no file descriptors left fails
cleanly or finds what it can; it never takes the process down."""

import json
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
FREE_COUNTS = range(0, 9)
SERIAL = 4242
NO_DAEMON = 'error Unknown error type DeviceDiscoveryError("Failed to create MDNS Service Daemon")'


@pytest.fixture(scope="module")
def outcomes():
    # Runs before any test's watchdog is armed; the timeout bounds it.
    # A namespace of its own, nested in this one, so that the scans find
    # only the one device advertised there.
    swept = subprocess.run(
        ["unshare", "--net", "sh", "-c", 'ip link set lo up && ip link set lo multicast on && exec "$@"', "sh",
         sys.executable, os.path.join(HERE, "few_descriptors.py"), "sweep",
         str(FREE_COUNTS[0]), str(FREE_COUNTS[-1]), str(SERIAL)],
        capture_output=True, text=True, timeout=280)
    assert swept.returncode == 0, swept.stderr
    results = [json.loads(line) for line in swept.stdout.splitlines()]
    assert [result["free"] for result in results] == list(FREE_COUNTS)
    return results


def printed_lines(result):
    return result["stdout"].splitlines() or [""]


def test_every_child_ends_normally_with_an_error_or_a_list(outcomes):
    for result in outcomes:
        assert result["returncode"] == 0, result
        *printed, last = printed_lines(result)
        assert last == NO_DAEMON or last.startswith("list"), result
        # A device that cannot be connected for want of a descriptor is
        # reported as any other connection failure.
        assert all(line.startswith("Failed to connect to device ") for line in printed), result


def test_too_few_descriptors_give_the_daemon_error_and_enough_give_the_device(outcomes):
    lists = [printed_lines(result)[-1].startswith("list") for result in outcomes]
    assert not lists[0], outcomes[0]
    # Once there are enough for the daemon, more never make it fail.
    assert lists == sorted(lists), outcomes
    assert outcomes[-1]["stdout"] == f"list {SERIAL}\n", outcomes[-1]
