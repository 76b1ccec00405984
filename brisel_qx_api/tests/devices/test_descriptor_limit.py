"""A scan in a process that has almost no file descriptors left fails
cleanly or finds what it can; it never takes the process down."""

import pytest

import child_sweep

FREE_COUNTS = range(0, 9)
SERIAL = 4242
NO_DAEMON = 'error Unknown error type DeviceDiscoveryError("Failed to create MDNS Service Daemon")'


@pytest.fixture(scope="module")
def outcomes():
    # Runs before any test's watchdog is armed; the timeout bounds it.
    results = child_sweep.run_sweep("few_descriptors.py", FREE_COUNTS, SERIAL, timeout=280)
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
